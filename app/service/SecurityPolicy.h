#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace veyra {

struct AppSettings;

// Checks that every externally supplied address passes before use: nothing may point the
// application at this computer, the local network, a look-alike checkout page or a URL with
// embedded credentials. Every failure is an AppError with the text the user sees.
class SecurityPolicy {
public:
    // One address from name resolution: the socket family and the raw address bytes.
    struct ResolvedAddress {
        int family = 0;
        QByteArray bytes;
    };
    // Resolves a host; nothing means resolution failed. The default asks getaddrinfo.
    using Resolver = std::function<std::optional<QList<ResolvedAddress>>(const QString &host)>;
    static Resolver systemResolver();

    static QUrl apiBaseURL();
    static const QStringList &checkoutDomains();

    static bool isLocalHostname(const QString &host);
    static void ensurePublicHost(const QString &host, const Resolver &resolver = systemResolver());
    static QUrl officialLineURL(const QString &text, const Resolver &resolver = systemResolver());
    static QUrl paymentURL(const QString &text, const Resolver &resolver = systemResolver());
    static void validate(const AppSettings &settings);

    static bool isLocalIPv4(const unsigned char bytes[4]);
    static bool isLocalIPv6(const unsigned char bytes[16]);
};

} // namespace veyra
