#include "ServiceState.h"

namespace sim {

namespace {

HttpResponse ok(const Json &extra = Json::object())
{
    Json body = extra;
    body["ok"] = true;
    return HttpResponse::json(200, QByteArray::fromStdString(body.dump()));
}

HttpResponse bad(const std::string &why)
{
    return HttpResponse::json(400, QByteArray::fromStdString(Json { { "ok", false }, { "message", why } }.dump()));
}

void applyMembership(Account &account, const Json &body)
{
    if (body.contains("active"))
        account.active = body["active"].get<bool>();
    if (body.contains("planId"))
        account.planId = body["planId"].get<std::string>();
    if (body.contains("lifetime"))
        account.lifetime = body["lifetime"].get<bool>();
    if (body.contains("uploadBytes"))
        account.uploadBytes = body["uploadBytes"].get<qint64>();
    if (body.contains("downloadBytes"))
        account.downloadBytes = body["downloadBytes"].get<qint64>();
    if (body.contains("expiresAt"))
        account.expiresAt
            = QDateTime::fromString(QString::fromStdString(body["expiresAt"].get<std::string>()), Qt::ISODate);
    if (account.active && account.planId.empty())
        account.planId = "monthly";
    if (account.active && !account.lifetime && !account.expiresAt)
        account.expiresAt = QDateTime::currentDateTimeUtc().addDays(30);
}

HttpResponse route(ServiceState &state, const HttpRequest &request, const QByteArray &name, const Json &body)
{
    if (name == "requests") {
        if (request.method == "GET")
            return HttpResponse::json(200, QByteArray::fromStdString(Json(state.requests).dump()));
        state.requests.clear();
        return ok();
    }
    if (name == "node-connections")
        return HttpResponse::json(200, QByteArray::fromStdString(Json(state.nodeConnections).dump()));
    if (name == "state") {
        Json accounts = Json::array();
        for (const Account &account : state.accounts)
            accounts.push_back(state.accountJson(account));
        Json orders = Json::array();
        for (const Order &order : state.orders)
            orders.push_back(state.orderJson(order));
        return ok({ { "accounts", accounts }, { "orders", orders }, { "tokens", state.tokens.size() } });
    }
    if (name == "accounts") {
        const std::string account = body.at("account");
        Account *existing = state.findAccount(account);
        if (!existing)
            existing = &state.addAccount(account, body.value("password", std::string("password123")));
        else if (body.contains("password"))
            existing->password = body["password"];
        applyMembership(*existing, body);
        Json reply = { { "user", state.accountJson(*existing) } };
        if (body.value("issueToken", false))
            reply["token"] = state.issueToken(account);
        return ok(reply);
    }
    if (name == "membership") {
        Account *account = state.findAccount(body.at("account"));
        if (!account)
            return bad("unknown account");
        applyMembership(*account, body);
        return ok({ { "user", state.accountJson(*account) } });
    }
    if (name == "orders") {
        if (!state.findAccount(body.at("account")))
            return bad("unknown account");
        const Order &order = state.createOrder(body.at("account"), body.value("planId", std::string("monthly")),
            body.value("method", std::string("wechat")), body.value("idempotencyKey", std::string()),
            body.value("orderNo", std::string()));
        return ok({ { "order", state.orderJson(order) } });
    }
    if (name == "order-status") {
        Order *order = state.findOrder(body.at("orderNo"));
        if (!order)
            return bad("unknown order");
        state.setStatus(*order, body.at("status"));
        return ok({ { "order", state.orderJson(*order) } });
    }
    if (name == "revoke") {
        if (body.contains("token"))
            state.tokens.remove(QString::fromStdString(body["token"].get<std::string>()));
        if (body.contains("account"))
            state.revokeAccountTokens(body["account"]);
        return ok();
    }
    if (name == "faults") {
        Fault fault;
        fault.path = body.at("path");
        if (body.contains("status"))
            fault.status = body["status"].get<int>();
        fault.body = body.value("body", std::string());
        fault.contentType = body.value("contentType", fault.contentType);
        fault.location = body.value("location", std::string());
        fault.authenticate = body.value("authenticate", std::string());
        fault.size = body.value("size", qint64(-1));
        fault.delayMs = body.value("delayMs", 0);
        fault.closeDelimited = body.value("closeDelimited", false);
        fault.times = body.value("times", -1);
        state.faults.push_back(fault);
        return ok();
    }
    if (name == "faults/clear") {
        state.faults.clear();
        return ok();
    }
    if (name == "envelope") {
        const std::string shape = body.at("shape");
        if (shape != "mixed" && shape != "bare" && shape != "data" && shape != "key")
            return bad("unknown shape");
        state.envelope = shape;
        return ok();
    }
    if (name == "auto-pay") {
        state.autoPaySeconds = body.at("seconds").get<int>();
        return ok();
    }
    return HttpResponse::json(404, R"({"ok":false,"message":"unknown admin route"})");
}

} // namespace

// Test and demo controls. Bodies are JSON objects; a malformed one is a 400, never a crash.
HttpResponse handleAdmin(ServiceState &state, const HttpRequest &request, const QByteArray &name)
{
    Json body = Json::object();
    if (!request.body.isEmpty()) {
        try {
            body = Json::parse(request.body.toStdString());
        } catch (const Json::exception &error) {
            return bad(error.what());
        }
        if (!body.is_object())
            return bad("body must be an object");
    }
    try {
        return route(state, request, name, body);
    } catch (const Json::exception &error) {
        return bad(error.what());
    }
}

} // namespace sim
