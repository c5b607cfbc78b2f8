// The service simulator: plays the service's HTTPS interface for tests and the demo.
//
//   service-simulator --cert server.pem --key server.key --listen 127.0.0.1:0 [--listen ...]
//                     [--public-url https://api.example:8443] [--auto-pay SECONDS]
//                     [--account NUMBER:PASSWORD[:active]] [--nodes ADDRESS] [--node NAME=HOST:PORT]
//                     [--checkout-url https://pay.example] [--site www.example.com ...]
//
// --nodes starts the official line's SOCKS5 nodes on ADDRESS; --node lists nodes run elsewhere.
// --checkout-url hands out checkout pages under another base than --public-url. A request whose
// Host is a --site name gets a small web site (a page and downloads of any size) instead.
// Prints "listening https://ADDRESS:PORT" for every listener, then "ready".
#include "HttpServer.h"
#include "ProxyNodes.h"
#include "ServiceState.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>

#include <cstdio>
#include <memory>

namespace {

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "service-simulator: %s\n", qPrintable(message));
    std::exit(2);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read " + path + ": " + file.errorString());
    return file.readAll();
}

// "127.0.0.1:8443" or "[::1]:8443".
std::pair<QHostAddress, quint16> parseListen(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(':');
    QString host = text.left(colon);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    bool numeric = false;
    const uint port = text.mid(colon + 1).toUInt(&numeric);
    QHostAddress address;
    if (colon < 0 || !numeric || port > 65535 || !address.setAddress(host))
        fail("bad --listen value: " + text);
    return { address, quint16(port) };
}

QString urlOf(const QHostAddress &address, quint16 port)
{
    const QString host
        = address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + address.toString() + ']' : address.toString();
    return "https://" + host + ':' + QString::number(port);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        { "listen", "Address and port to serve on (repeatable; port 0 picks one).", "address:port" },
        { "cert", "PEM certificate of the server.", "file" },
        { "key", "PEM private key of the server.", "file" },
        { "public-url", "Base of the addresses the service hands out.", "url" },
        { "auto-pay", "Pending orders become paid this many seconds after creation.", "seconds" },
        { "account", "Seed account (repeatable).", "number:password[:active]" },
        { "nodes", "Run the official line's SOCKS5 nodes on this address.", "address" },
        { "node", "Proxy node run elsewhere, listed in the official line (repeatable).", "name=host:port" },
        { "checkout-url", "Base of the checkout pages the service hands out (default: the public URL).", "url" },
        { "site", "Host name answered with a small web site (repeatable).", "host" },
    });
    parser.process(app);
    if (!parser.isSet("cert") || !parser.isSet("key") || parser.values("listen").isEmpty())
        fail("--cert, --key and at least one --listen are required");

    const QSslCertificate certificate(readFile(parser.value("cert")), QSsl::Pem);
    QSslKey key(readFile(parser.value("key")), QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(readFile(parser.value("key")), QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        fail("certificate or key could not be read");

    sim::ServiceState state;
    state.autoPaySeconds = parser.isSet("auto-pay") ? parser.value("auto-pay").toInt() : -1;
    for (const QString &seed : parser.values("account")) {
        const QStringList parts = seed.split(':');
        if (parts.size() < 2)
            fail("bad --account value: " + seed);
        sim::Account &account = state.addAccount(parts[0].toStdString(), parts[1].toStdString());
        if (parts.value(2) == "active") {
            account.active = true;
            account.planId = "monthly";
            account.expiresAt = QDateTime::currentDateTimeUtc().addDays(30);
        }
    }
    for (const QString &node : parser.values("node")) {
        const qsizetype equals = node.indexOf('=');
        const qsizetype colon = node.lastIndexOf(':');
        if (equals <= 0 || colon < equals)
            fail("bad --node value: " + node);
        state.nodes.push_back({ node.left(equals).toStdString(), node.mid(equals + 1, colon - equals - 1).toStdString(),
            node.mid(colon + 1).toInt() });
    }

    sim::ProxyNodes proxyNodes;
    if (parser.isSet("nodes")) {
        QHostAddress address;
        QString error;
        if (!address.setAddress(parser.value("nodes")) || !proxyNodes.start(address, &error))
            fail("cannot start the proxy nodes on " + parser.value("nodes") + ": " + error);
        for (const sim::Node &node : proxyNodes.nodes())
            state.nodes.push_back(node);
        proxyNodes.onConnection([&state](const std::string &node, const QString &target, bool succeeded) {
            state.nodeConnections.push_back(
                { { "node", node }, { "target", target.toStdString() }, { "succeeded", succeeded } });
            while (state.nodeConnections.size() > sim::ServiceState::keptRequests)
                state.nodeConnections.pop_front();
        });
        state.nodeTraffic = [&proxyNodes] {
            return std::pair { proxyNodes.uploadedBytes(), proxyNodes.downloadedBytes() };
        };
    }

    std::vector<std::unique_ptr<sim::HttpServer>> servers;
    for (const QString &listen : parser.values("listen")) {
        const auto [address, port] = parseListen(listen);
        auto server = std::make_unique<sim::HttpServer>(
            certificate, key, [&state](const sim::HttpRequest &request) { return sim::handle(state, request); });
        if (!server->listen(address, port))
            fail("cannot listen on " + listen + ": " + server->errorString());
        const QString url = urlOf(address, server->serverPort());
        if (state.publicBase.isEmpty())
            state.publicBase = url;
        std::printf("listening %s\n", qPrintable(url));
        servers.push_back(std::move(server));
    }
    if (parser.isSet("public-url"))
        state.publicBase = parser.value("public-url");
    state.checkoutBase = parser.value("checkout-url");
    for (const QString &site : parser.values("site"))
        state.siteHosts << site.toLower();
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
