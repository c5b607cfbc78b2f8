#include "ServiceState.h"

#include <QRegularExpression>

namespace sim {

namespace {

HttpResponse reply(int status, const Json &body)
{
    return HttpResponse::json(status, QByteArray::fromStdString(body.dump()));
}

HttpResponse failure(int status, const char *code, const char *message)
{
    return reply(status, { { "ok", false }, { "code", code }, { "message", message } });
}

// Wraps a model the way the service is configured to answer: "mixed" picks a different
// accepted shape per endpoint, the others force one shape everywhere.
HttpResponse envelope(const ServiceState &state, const char *mixedShape, const char *key, const Json &model)
{
    const std::string shape = state.envelope == "mixed" ? mixedShape : state.envelope;
    if (shape == "bare")
        return reply(200, model);
    if (shape == "key")
        return reply(200, { { "ok", true }, { key, model } });
    return reply(200, { { "ok", true }, { "data", model } });
}

std::optional<Json> parseBody(const HttpRequest &request)
{
    try {
        Json body = Json::parse(request.body.toStdString());
        if (body.is_object())
            return body;
    } catch (const Json::exception &) {
    }
    return std::nullopt;
}

// The signed-in account behind the bearer token, or nothing for a missing, unknown or
// revoked token.
Account *authorised(ServiceState &state, const HttpRequest &request)
{
    const QByteArray header = request.header("Authorization");
    if (!header.startsWith("Bearer "))
        return nullptr;
    const auto it = state.tokens.constFind(QString::fromUtf8(header.mid(7)));
    return it == state.tokens.constEnd() ? nullptr : state.findAccount(it.value());
}

HttpResponse unauthorised()
{
    return failure(401, "unauthorized", "登录状态已失效，请重新登录");
}

HttpResponse signIn(ServiceState &state, const HttpRequest &request, bool registering)
{
    const std::optional<Json> body = parseBody(request);
    if (!body || !(*body)["account"].is_string() || !(*body)["password"].is_string())
        return failure(400, "invalid_request", "请求参数错误");
    const std::string account = (*body)["account"];
    const std::string password = (*body)["password"];
    Account *existing = state.findAccount(account);
    if (registering) {
        static const QRegularExpression mobile(QStringLiteral("^1[3-9]\\d{9}$"));
        if (!mobile.match(QString::fromStdString(account)).hasMatch())
            return failure(400, "invalid_account", "账号错误：请输入正确的 11 位手机号");
        if (QString::fromStdString(password).size() < 8)
            return failure(400, "invalid_password", "密码至少 8 位");
        if (existing)
            return failure(409, "account_exists", "该手机号已注册");
        existing = &state.addAccount(account, password);
    } else {
        if (!existing)
            return failure(404, "account_not_found", "账号不存在");
        if (existing->password != password)
            return failure(400, "invalid_credentials", "账号或密码错误");
    }
    const Json result = { { "token", state.issueToken(account) }, { "user", state.accountJson(*existing) } };
    return envelope(state, "data", "data", result);
}

HttpResponse createOrder(ServiceState &state, const HttpRequest &request, const Account &account)
{
    const std::optional<Json> body = parseBody(request);
    if (!body || !(*body)["planId"].is_string() || !(*body)["method"].is_string())
        return failure(400, "invalid_request", "请求参数错误");
    const std::string planId = (*body)["planId"];
    const std::string method = (*body)["method"];
    const Json *plan = state.findPlan(planId);
    if (!plan || !plan->value("enabled", true))
        return failure(404, "plan_not_found", "套餐不存在或已下架");
    if (method != "alipay" && method != "wechat")
        return failure(400, "unsupported_method", "不支持的支付方式");
    const std::string key = request.header("Idempotency-Key").toStdString();
    // A repeated creation with the same key is the same order, not a second charge.
    if (!key.empty())
        for (Order &order : state.orders)
            if (order.account == account.account && order.idempotencyKey == key)
                return envelope(state, "key", "order", state.orderJson(order));
    const Order &order = state.createOrder(account.account, planId, method, key);
    return envelope(state, "key", "order", state.orderJson(order));
}

HttpResponse orderRoute(ServiceState &state, const HttpRequest &request, const Account &account, QByteArray rest)
{
    const bool qrcode = rest.endsWith("/qrcode");
    if (qrcode)
        rest.chop(7);
    if (rest.contains('/'))
        return failure(404, "not_found", "接口不存在");
    Order *order = state.findOrder(QByteArray::fromPercentEncoding(rest).toStdString());
    if (!order || order->account != account.account)
        return failure(404, "order_not_found", "订单不存在");
    if (request.method != "GET")
        return failure(405, "method_not_allowed", "请求方法错误");
    state.settle(*order);
    if (!qrcode)
        return envelope(state, "bare", "order", state.orderJson(*order));
    const Json model = state.orderJson(*order);
    return HttpResponse::text(
        200, qrCodePng(QByteArray::fromStdString(model["codeUrl"].get<std::string>())), "image/png");
}

} // namespace

HttpResponse handleService(ServiceState &state, const HttpRequest &request, const QByteArray &route)
{
    const bool post = request.method == "POST";
    if (route == "auth/login" && post)
        return signIn(state, request, false);
    if (route == "auth/register" && post)
        return signIn(state, request, true);
    if (route == "plans" && request.method == "GET")
        return envelope(state, "key", "plans", state.plans());

    Account *account = authorised(state, request);
    if (!account)
        return unauthorised();
    if (route == "me" && request.method == "GET")
        return envelope(state, "key", "user", state.accountJson(*account));
    if (route == "auth/logout" && post) {
        state.tokens.remove(QString::fromUtf8(request.header("Authorization").mid(7)));
        return reply(200, { { "ok", true } });
    }
    if (route == "orders" && post)
        return createOrder(state, request, *account);
    if (route.startsWith("orders/"))
        return orderRoute(state, request, *account, route.mid(7));
    return failure(404, "not_found", "接口不存在");
}

} // namespace sim
