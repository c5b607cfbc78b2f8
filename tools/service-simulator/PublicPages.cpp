#include "ServiceState.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <qrencode.h>

namespace sim {

namespace {

QByteArray escapeHtml(const std::string &text)
{
    return QString::fromStdString(text).toHtmlEscaped().toUtf8();
}

QByteArray page(const QByteArray &title, const QByteArray &content)
{
    return "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" + title
        + "</title></head><body><h1>" + title + "</h1>" + content + "</body></html>\n";
}

} // namespace

// The official line: a provider document of socks5 nodes, with the account's usage in the
// header the kernel reads.
HttpResponse handleSubscription(ServiceState &state, const QByteArray &token)
{
    const Account *owner = nullptr;
    for (const Account &account : state.accounts)
        if (account.subscriptionToken == token.toStdString())
            owner = &account;
    if (!owner || !owner->active)
        return HttpResponse::text(404, "subscription not found\n");
    QByteArray yaml = "proxies:\n";
    for (const Node &node : state.nodes)
        yaml += "  - name: \"" + QByteArray::fromStdString(node.name)
            + "\"\n    type: socks5\n    server: " + QByteArray::fromStdString(node.server)
            + "\n    port: " + QByteArray::number(node.port) + "\n    udp: false\n";
    if (state.nodes.empty())
        yaml += "  []\n";
    qint64 total = 0;
    if (const Json *plan = state.findPlan(owner->planId))
        total = plan->value("trafficBytes", qint64(0));
    const auto [upload, download] = state.usage(*owner);
    QByteArray usage = "upload=" + QByteArray::number(upload) + "; download=" + QByteArray::number(download)
        + "; total=" + QByteArray::number(total);
    if (owner->expiresAt)
        usage += "; expire=" + QByteArray::number(owner->expiresAt->toSecsSinceEpoch());
    HttpResponse response = HttpResponse::text(200, yaml, "text/yaml; charset=utf-8");
    response.addHeader("subscription-userinfo", usage);
    return response;
}

// A stand-in for the payment provider's checkout: one page with a pay button.
HttpResponse handleCheckout(ServiceState &state, const HttpRequest &request, const QByteArray &route)
{
    const bool pay = route.endsWith("/pay");
    const QByteArray encoded = pay ? route.left(route.size() - 4) : route;
    Order *order = state.findOrder(QByteArray::fromPercentEncoding(encoded).toStdString());
    if (!order)
        return HttpResponse::text(404, page("订单不存在", {}), "text/html; charset=utf-8");
    if (pay) {
        if (request.method != "POST")
            return HttpResponse::text(405, page("请使用页面上的按钮支付", {}), "text/html; charset=utf-8");
        if (order->status == "pending")
            state.setStatus(*order, "paid");
    }
    state.settle(*order);
    const Json model = state.orderJson(*order);
    QByteArray content = "<p>订单号：" + escapeHtml(order->orderNo) + "</p><p>商品："
        + escapeHtml(model.value("planName", "")) + "</p><p>金额："
        + QByteArray::number(model.value("amountFen", 0) / 100.0, 'f', 2) + " 元</p><p>状态：<b id=\"status\">"
        + escapeHtml(order->status) + "</b></p>";
    if (order->status == "pending")
        content += "<form method=\"post\" action=\"/checkout/" + encoded
            + "/pay\"><button id=\"pay\">确认支付</button></form>";
    return HttpResponse::text(200, page("收银台", content), "text/html; charset=utf-8");
}

QString requestHost(const HttpRequest &request)
{
    QByteArray host = request.header("Host").trimmed().toLower();
    if (host.startsWith('[')) // an IPv6 literal keeps its colons
        return QString::fromLatin1(host.left(host.indexOf(']') + 1));
    const qsizetype colon = host.lastIndexOf(':');
    return QString::fromLatin1(colon < 0 ? host : host.left(colon));
}

// Web sites to browse through the proxy: real pages and downloads of a chosen size, so a
// test or a benchmark can tell bytes that arrived from bytes that were only promised.
HttpResponse handleSite(const QString &host, const HttpRequest &request)
{
    static constexpr qint64 largestDownload = 64LL * 1024 * 1024;
    const QByteArray path = request.path();
    const QByteArray html = "text/html; charset=utf-8";
    if (request.method != "GET")
        return HttpResponse::text(405, page("Method not allowed", {}), html);
    if (path == "/") {
        const QByteArray name = host.toHtmlEscaped().toUtf8();
        return HttpResponse::text(200,
            page(name, "<p>Welcome to " + name + ".</p><p><a href=\"/bytes/1048576\">1 MiB download</a></p>"), html);
    }
    if (path.startsWith("/bytes/")) {
        bool numeric = false;
        const qint64 size = path.mid(7).toLongLong(&numeric);
        if (!numeric || size < 0 || size > largestDownload)
            return HttpResponse::text(400, "size must be 0 to 67108864 bytes\n");
        // A repeating pattern that is not all one byte, so a truncated or shifted copy shows.
        static const QByteArray pattern = [] {
            QByteArray bytes(4093, Qt::Uninitialized);
            for (qsizetype i = 0; i < bytes.size(); ++i)
                bytes[i] = char((i * 31 + 7) & 0xFF);
            return bytes;
        }();
        QByteArray body;
        body.reserve(size);
        while (body.size() < size)
            body.append(pattern.left(size - body.size()));
        return HttpResponse::text(200, body, "application/octet-stream");
    }
    return HttpResponse::text(404, page("Not found", {}), html);
}

QByteArray qrCodePng(const QByteArray &text)
{
    QRcode *code = QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M);
    QImage image(220, 220, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (code) {
        QPainter painter(&image);
        const double module = 220.0 / code->width;
        for (int y = 0; y < code->width; ++y)
            for (int x = 0; x < code->width; ++x)
                if (code->data[y * code->width + x] & 1)
                    painter.fillRect(QRectF(x * module, y * module, module, module), Qt::black);
        QRcode_free(code);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace sim
