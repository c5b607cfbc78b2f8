#include "SecurityPolicy.h"

#include "AppInfo.h"
#include "AppSettings.h"
#include "Errors.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>

namespace veyra {

namespace {

const QString localTarget = QStringLiteral("目标地址不能指向本机或局域网。");

std::optional<QUrl> parseHttpsWithoutCredentials(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().toLower() != QLatin1String("https") || url.host().isEmpty())
        return std::nullopt;
    if (!url.userName().isEmpty() || !url.password().isEmpty())
        return std::nullopt;
    // "https://@host" and "https://:@host" carry an empty user-info part: still credentials syntax.
    if (url.authority(QUrl::FullyEncoded).contains(QLatin1Char('@')))
        return std::nullopt;
    return url;
}

} // namespace

SecurityPolicy::Resolver SecurityPolicy::systemResolver()
{
    return [](const QString &host) -> std::optional<QList<ResolvedAddress>> {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo *result = nullptr;
        if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &result) != 0 || !result)
            return std::nullopt;
        QList<ResolvedAddress> addresses;
        for (addrinfo *entry = result; entry; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addr) {
                const auto *v4 = reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
                addresses.append({ AF_INET, QByteArray(reinterpret_cast<const char *>(&v4->sin_addr), 4) });
            } else if (entry->ai_family == AF_INET6 && entry->ai_addr) {
                const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(entry->ai_addr);
                addresses.append({ AF_INET6, QByteArray(reinterpret_cast<const char *>(&v6->sin6_addr), 16) });
            } else {
                addresses.append({ entry->ai_family, QByteArray() });
            }
        }
        ::freeaddrinfo(result);
        return addresses;
    };
}

QUrl SecurityPolicy::apiBaseURL()
{
    static const QUrl url = [] {
        QUrl parsed(
            QStringLiteral("https://%1/api/v1/").arg(QString::fromLatin1(AppInfo::serviceHost)), QUrl::StrictMode);
        if (!parsed.isValid())
            qFatal("service base address does not parse");
        return parsed;
    }();
    return url;
}

const QStringList &SecurityPolicy::checkoutDomains()
{
    static const QStringList domains = [] {
        return QStringList { QString::fromLatin1(AppInfo::serviceDomain), QStringLiteral("mclient.alipay.com"), QStringLiteral("openapi.alipay.com"),
            QStringLiteral("pay.weixin.qq.com"), QStringLiteral("tenpay.com"), QStringLiteral("wx.tenpay.com") };
    }();
    return domains;
}

bool SecurityPolicy::isLocalIPv4(const unsigned char b[4])
{
    return b[0] == 0 || b[0] == 10 || b[0] == 127 || (b[0] == 169 && b[1] == 254)
        || (b[0] == 172 && b[1] >= 16 && b[1] <= 31) || (b[0] == 192 && b[1] == 168);
}

bool SecurityPolicy::isLocalIPv6(const unsigned char b[16])
{
    static const unsigned char loopback[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    static const unsigned char mappedPrefix[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff };
    if (std::memcmp(b, loopback, 16) == 0)
        return true;
    // An IPv4-mapped address reaches the IPv4 host it embeds, so it is judged as that host.
    if (std::memcmp(b, mappedPrefix, 12) == 0)
        return isLocalIPv4(b + 12);
    return b[0] == 0xfc || b[0] == 0xfd || (b[0] == 0xfe && b[1] >= 0x80 && b[1] <= 0xbf) || b[0] == 0xff;
}

bool SecurityPolicy::isLocalHostname(const QString &host)
{
    QString name = host.toLower();
    while (name.startsWith(QLatin1Char('[')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char(']')))
        name.chop(1);
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost"))
        || name.endsWith(QLatin1String(".local")))
        return true;
    const QByteArray bytes = name.toUtf8();
    unsigned char v4[4];
    if (::inet_pton(AF_INET, bytes.constData(), v4) == 1)
        return isLocalIPv4(v4);
    unsigned char v6[16];
    if (::inet_pton(AF_INET6, bytes.constData(), v6) == 1)
        return isLocalIPv6(v6);
    return false;
}

void SecurityPolicy::ensurePublicHost(const QString &host, const Resolver &resolver)
{
    if (isLocalHostname(host))
        throw AppError(localTarget);
    QString name = host;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    // The resolver only knows the ASCII (punycode) form of an internationalised name; a name
    // with no such form cannot be resolved at all.
    else if (!name.contains(QLatin1Char(':'))) {
        name = QString::fromLatin1(QUrl::toAce(name));
        if (name.isEmpty())
            throw AppError(QStringLiteral("无法解析服务器地址。"));
        if (isLocalHostname(name))
            throw AppError(localTarget);
    }
    const auto addresses = resolver(name);
    if (!addresses || addresses->isEmpty())
        throw AppError(QStringLiteral("无法解析服务器地址。"));
    bool sawAddress = false;
    for (const ResolvedAddress &address : *addresses) {
        if (address.family == AF_INET && address.bytes.size() == 4) {
            sawAddress = true;
            if (isLocalIPv4(reinterpret_cast<const unsigned char *>(address.bytes.constData())))
                throw AppError(QStringLiteral("服务器解析到本机或局域网地址，已拒绝访问。"));
        } else if (address.family == AF_INET6 && address.bytes.size() == 16) {
            sawAddress = true;
            if (isLocalIPv6(reinterpret_cast<const unsigned char *>(address.bytes.constData())))
                throw AppError(QStringLiteral("服务器解析到本机或局域网 IPv6 地址，已拒绝访问。"));
        }
    }
    if (!sawAddress)
        throw AppError(QStringLiteral("服务器没有可用的网络地址。"));
}

QUrl SecurityPolicy::officialLineURL(const QString &text, const Resolver &resolver)
{
    const auto url = parseHttpsWithoutCredentials(text);
    if (!url)
        throw AppError(QStringLiteral("官方线路地址无效，必须使用不含账号密码的 HTTPS 地址。"));
    if (isLocalHostname(url->host()))
        throw AppError(QStringLiteral("官方线路地址不能指向本机或局域网主机。"));
    ensurePublicHost(url->host(), resolver);
    return *url;
}

QUrl SecurityPolicy::paymentURL(const QString &text, const Resolver &resolver)
{
    const auto url = parseHttpsWithoutCredentials(text);
    if (!url)
        throw AppError(QStringLiteral("支付服务器返回了无效的 HTTPS 收银台地址。"));
    const QString host = url->host().toLower();
    bool allowed = false;
    for (const QString &domain : checkoutDomains()) {
        if (host == domain || host.endsWith(QLatin1Char('.') + domain)) {
            allowed = true;
            break;
        }
    }
    if (!allowed)
        throw AppError(QStringLiteral("为防止跳转到仿冒页面，已阻止未授权的收银台域名：") + host);
    ensurePublicHost(host, resolver);
    return *url;
}

void SecurityPolicy::validate(const AppSettings &settings)
{
    settings.validate();
}

} // namespace veyra
