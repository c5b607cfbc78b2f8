#include "ServiceState.h"

#include <QRandomGenerator>

namespace sim {

namespace {

std::string randomHex(int bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < bytes; ++i) {
        const quint32 value = QRandomGenerator::system()->generate();
        text += digits[(value >> 4) & 0xF];
        text += digits[value & 0xF];
    }
    return text;
}

Json headersJson(const HttpRequest &request)
{
    Json list = Json::array();
    for (const auto &[name, value] : request.headers)
        list.push_back(Json::array({ name.toStdString(), value.toStdString() }));
    return list;
}

} // namespace

Account *ServiceState::findAccount(const std::string &name)
{
    for (Account &account : accounts)
        if (account.account == name)
            return &account;
    return nullptr;
}

Order *ServiceState::findOrder(const std::string &orderNo)
{
    for (Order &order : orders)
        if (order.orderNo == orderNo)
            return &order;
    return nullptr;
}

Json ServiceState::plans() const
{
    // Two plans share a sortOrder, one has none and one is switched off, so clients must
    // sort stably and filter.
    static const Json list = Json::parse(R"([
      {"id":"monthly","name":"月度会员","durationDays":30,"priceFen":2500,"trafficBytes":214748364800,
       "deviceLimit":3,"enabled":true,"sortOrder":1,"features":["全部地区线路","200 GB 流量"]},
      {"id":"quarterly","name":"季度会员","durationDays":90,"priceFen":6800,"trafficBytes":644245094400,
       "deviceLimit":3,"sortOrder":2,"features":["全部地区线路","600 GB 流量"]},
      {"id":"yearly","name":"年度会员","durationDays":365,"priceFen":23800,"deviceLimit":5,"sortOrder":2,
       "features":["全部地区线路","不限流量"]},
      {"id":"lifetime","name":"终身会员","lifetime":true,"priceFen":59800,"deviceLimit":5,
       "features":["长期有效"]},
      {"id":"legacy","name":"旧版套餐","durationDays":30,"priceFen":1000,"enabled":false,"sortOrder":0}
    ])");
    return list;
}

const Json *ServiceState::findPlan(const std::string &id) const
{
    static const Json list = plans();
    for (const Json &plan : list)
        if (plan.value("id", std::string()) == id)
            return &plan;
    return nullptr;
}

Account &ServiceState::addAccount(const std::string &name, const std::string &password)
{
    Account account;
    account.account = name;
    account.password = password;
    account.subscriptionToken = randomHex(16);
    accounts.push_back(account);
    return accounts.back();
}

std::string ServiceState::issueToken(const std::string &account)
{
    const std::string token = randomHex(24);
    tokens.insert(QString::fromStdString(token), account);
    return token;
}

void ServiceState::revokeAccountTokens(const std::string &account)
{
    for (auto it = tokens.begin(); it != tokens.end();)
        it = it.value() == account ? tokens.erase(it) : std::next(it);
}

Order &ServiceState::createOrder(const std::string &account, const std::string &planId, const std::string &method,
    const std::string &idempotencyKey, std::string orderNo)
{
    if (orderNo.empty())
        orderNo = "VN" + QDateTime::currentDateTimeUtc().toString("yyyyMMdd").toStdString()
            + QString::number(++orderSequence).rightJustified(6, '0').toStdString();
    Order order;
    order.orderNo = orderNo;
    order.account = account;
    order.planId = planId;
    order.method = method;
    order.idempotencyKey = idempotencyKey;
    order.createdAt = QDateTime::currentDateTimeUtc();
    orders.push_back(order);
    return orders.back();
}

void ServiceState::settle(Order &order)
{
    if (order.status == "pending" && autoPaySeconds >= 0
        && order.createdAt.secsTo(QDateTime::currentDateTimeUtc()) >= autoPaySeconds)
        setStatus(order, "paid");
}

void ServiceState::setStatus(Order &order, const std::string &status)
{
    const bool becomesPaid = status == "paid" && order.status != "paid";
    order.status = status;
    if (!becomesPaid)
        return;
    Account *account = findAccount(order.account);
    const Json *plan = findPlan(order.planId);
    if (!account || !plan)
        return;
    account->active = true;
    account->planId = order.planId;
    account->deviceLimit = plan->value("deviceLimit", 3);
    account->lifetime = plan->value("lifetime", false);
    if (account->lifetime) {
        account->expiresAt.reset();
    } else {
        const QDateTime start = account->expiresAt && *account->expiresAt > QDateTime::currentDateTimeUtc()
            ? *account->expiresAt
            : QDateTime::currentDateTimeUtc();
        account->expiresAt = start.addDays(plan->value("durationDays", 30));
    }
}

QString ServiceState::subscriptionUrl(const Account &account) const
{
    return publicBase + "/sub/" + QString::fromStdString(account.subscriptionToken);
}

std::pair<qint64, qint64> ServiceState::usage(const Account &account) const
{
    std::pair<qint64, qint64> total { account.uploadBytes, account.downloadBytes };
    if (account.active && nodeTraffic) {
        const auto [up, down] = nodeTraffic();
        total.first += up;
        total.second += down;
    }
    return total;
}

Json ServiceState::accountJson(const Account &account) const
{
    const auto [upload, download] = usage(account);
    Json user = { { "account", account.account } };
    if (!account.planId.empty() || account.active) {
        Json membership = { { "active", account.active }, { "deviceLimit", account.deviceLimit },
            // Traffic as upload and download parts, the way the service's accounting reports it.
            { "uploadBytes", upload }, { "downloadBytes", download } };
        if (!account.planId.empty())
            membership["planId"] = account.planId;
        if (account.lifetime)
            membership["lifetime"] = true;
        if (account.expiresAt)
            membership["expiresAt"] = account.expiresAt->toString(Qt::ISODate).toStdString();
        user["membership"] = membership;
    }
    if (account.active) {
        user["subscriptionUrl"] = subscriptionUrl(account).toStdString();
        user["subscriptionUrlToken"] = account.subscriptionToken;
    }
    return user;
}

Json ServiceState::orderJson(const Order &order) const
{
    const Json *plan = findPlan(order.planId);
    const QByteArray encoded = QByteArray::fromStdString(order.orderNo).toPercentEncoding();
    const QString page
        = (checkoutBase.isEmpty() ? publicBase : checkoutBase) + "/checkout/" + QString::fromLatin1(encoded);
    Json value = { { "orderNo", order.orderNo }, { "method", order.method }, { "status", order.status },
        { "paymentUrl", page.toStdString() }, { "codeUrl", (page + "?scan=1").toStdString() } };
    if (plan) {
        value["planName"] = plan->value("name", std::string());
        value["amountFen"] = plan->value("priceFen", 0);
    }
    return value;
}

void ServiceState::record(const HttpRequest &request)
{
    Json entry = { { "method", request.method.toStdString() }, { "target", request.target.toStdString() },
        { "headers", headersJson(request) }, { "bodySize", request.body.size() },
        { "body", request.body.left(64 * 1024).toStdString() },
        { "localAddress", request.localAddress.toString().toStdString() }, { "localPort", request.localPort } };
    requests.push_back(std::move(entry));
    while (requests.size() > keptRequests)
        requests.pop_front();
}

std::optional<HttpResponse> ServiceState::takeFault(const QByteArray &path)
{
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->path != path.toStdString())
            continue;
        const Fault fault = *it;
        if (it->times > 0 && --it->times == 0)
            faults.erase(it);
        HttpResponse response;
        response.delayMs = fault.delayMs;
        if (!fault.status) {
            response.status = -1; // marker: answer normally after the delay
            return response;
        }
        response.status = *fault.status;
        response.closeDelimited = fault.closeDelimited;
        response.body = QByteArray::fromStdString(fault.body);
        if (fault.size >= 0 && response.body.size() < fault.size)
            response.body.append(QByteArray(fault.size - response.body.size(), ' '));
        if (!fault.contentType.empty())
            response.addHeader("Content-Type", QByteArray::fromStdString(fault.contentType));
        if (!fault.location.empty())
            response.addHeader("Location", QByteArray::fromStdString(fault.location));
        if (!fault.authenticate.empty())
            response.addHeader("WWW-Authenticate", QByteArray::fromStdString(fault.authenticate));
        return response;
    }
    return std::nullopt;
}

HttpResponse handle(ServiceState &state, const HttpRequest &request)
{
    const QByteArray path = request.path();
    const QString host = requestHost(request);
    if (!host.isEmpty() && state.siteHosts.contains(host)) {
        state.record(request);
        return handleSite(host, request);
    }
    if (path.startsWith("/admin/"))
        return handleAdmin(state, request, path.mid(7));

    state.record(request);
    int delayMs = 0;
    if (std::optional<HttpResponse> fault = state.takeFault(path)) {
        if (fault->status >= 0)
            return *fault;
        delayMs = fault->delayMs;
    }

    HttpResponse response;
    if (path.startsWith("/api/v1/"))
        response = handleService(state, request, path.mid(8));
    else if (path.startsWith("/sub/"))
        response = handleSubscription(state, path.mid(5));
    else if (path == "/generate_204")
        response = HttpResponse::text(204, {});
    else if (path.startsWith("/checkout/"))
        response = handleCheckout(state, request, path.mid(10));
    else
        response = HttpResponse::json(404, R"({"code":"not_found","message":"接口不存在"})");
    response.delayMs = delayMs;
    return response;
}

} // namespace sim
