#include "DelayProbe.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

namespace standin {

void probeDelay(const veyra::proxy::Upstream &via, const QString &url, int timeoutMs, QObject *context,
    std::function<void(std::optional<int>)> done)
{
    using Kind = veyra::proxy::Upstream::Kind;
    if (via.kind == Kind::reject) {
        QTimer::singleShot(0, context, [done] { done(std::nullopt); });
        return;
    }
    // One manager per probe: the proxy is a property of the manager, and each probe needs a
    // fresh connection so that the time includes the tunnel set-up like real traffic does.
    auto *network = new QNetworkAccessManager(context);
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    if (via.kind == Kind::socks5)
        proxy = QNetworkProxy(QNetworkProxy::Socks5Proxy, via.host, via.port, via.username, via.password);
    else if (via.kind == Kind::http)
        proxy = QNetworkProxy(QNetworkProxy::HttpProxy, via.host, via.port, via.username, via.password);
    network->setProxy(proxy);
    network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    QNetworkRequest request { QUrl(url) };
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QNetworkReply *reply = network->head(request);
    auto finished = std::make_shared<bool>(false);
    auto complete = [network, reply, clock, done, finished]() {
        if (*finished)
            return;
        *finished = true;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const qint64 elapsed = clock->elapsed();
        reply->abort();
        network->deleteLater();
        if (status >= 100 && status < 400)
            done(static_cast<int>(std::max<qint64>(1, elapsed)));
        else
            done(std::nullopt);
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, network, complete);
    QObject::connect(reply, &QNetworkReply::finished, network, complete);
}

} // namespace standin
