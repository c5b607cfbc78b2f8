#pragma once

#include "HttpServer.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <nlohmann/json.hpp>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace sim {

using Json = nlohmann::json;

struct Account {
    std::string account;
    std::string password;
    bool active = false;
    std::string planId;
    bool lifetime = false;
    std::optional<QDateTime> expiresAt;
    int deviceLimit = 3;
    qint64 uploadBytes = 0;
    qint64 downloadBytes = 0;
    std::string subscriptionToken; // path secret of this account's official line
};

struct Order {
    std::string orderNo;
    std::string account;
    std::string planId;
    std::string method;
    std::string status = "pending";
    std::string idempotencyKey;
    QDateTime createdAt;
};

// A canned misbehaviour for one path, consumed `times` times (or for good when negative).
struct Fault {
    std::string path;
    std::optional<int> status; // absent: answer normally, only later by delayMs
    std::string body;
    std::string contentType = "application/json; charset=utf-8";
    std::string location;
    std::string authenticate; // a WWW-Authenticate challenge, as services send with 401
    qint64 size = -1; // pad the body with blanks up to exactly this many bytes
    int delayMs = 0;
    bool closeDelimited = false;
    int times = -1;
};

struct Node {
    std::string name;
    std::string server;
    int port = 0;
};

// Everything the simulated service knows, kept in memory for the life of the process.
struct ServiceState {
    QString publicBase; // "https://host:port", used in the addresses the service hands out
    QString checkoutBase; // where checkout pages live; empty: publicBase
    QStringList siteHosts; // host names answered with the small web site instead of the service
    int autoPaySeconds = -1; // pending orders turn "paid" this long after creation; negative: never
    std::string envelope = "mixed"; // "mixed", "bare", "data" or "key"
    std::vector<Account> accounts;
    QHash<QString, std::string> tokens; // bearer token -> account
    std::vector<Order> orders;
    std::vector<Fault> faults;
    std::vector<Node> nodes;
    // Bytes relayed by the simulator's own nodes (upload, download). The nodes take no
    // credentials, so this traffic counts for every active account.
    std::function<std::pair<qint64, qint64>()> nodeTraffic;
    std::deque<Json> requests; // the most recent requests, for tests to inspect
    std::deque<Json> nodeConnections; // the most recent targets the nodes connected to
    int orderSequence = 0;

    static constexpr size_t keptRequests = 500;

    Account *findAccount(const std::string &name);
    Order *findOrder(const std::string &orderNo);
    const Json *findPlan(const std::string &id) const;
    Json plans() const;

    Account &addAccount(const std::string &name, const std::string &password);
    std::string issueToken(const std::string &account);
    void revokeAccountTokens(const std::string &account);
    Order &createOrder(const std::string &account, const std::string &planId, const std::string &method,
        const std::string &idempotencyKey, std::string orderNo = {});
    // Lets time-based auto-pay catch up before anyone looks at an order.
    void settle(Order &order);
    void setStatus(Order &order, const std::string &status);

    // Usage as the service reports it: what the admin set plus traffic through the nodes.
    std::pair<qint64, qint64> usage(const Account &account) const;
    Json accountJson(const Account &account) const;
    Json orderJson(const Order &order) const;
    QString subscriptionUrl(const Account &account) const;

    void record(const HttpRequest &request);
    std::optional<HttpResponse> takeFault(const QByteArray &path);
};

HttpResponse handle(ServiceState &state, const HttpRequest &request);
HttpResponse handleService(ServiceState &state, const HttpRequest &request, const QByteArray &route);
HttpResponse handleAdmin(ServiceState &state, const HttpRequest &request, const QByteArray &route);
HttpResponse handleSubscription(ServiceState &state, const QByteArray &token);
HttpResponse handleCheckout(ServiceState &state, const HttpRequest &request, const QByteArray &route);
// A plain web site: a page naming the host, and /bytes/N with N bytes of content.
HttpResponse handleSite(const QString &host, const HttpRequest &request);
QString requestHost(const HttpRequest &request);
QByteArray qrCodePng(const QByteArray &text);

} // namespace sim
