#include "ProxySnapshot.h"

#include "Errors.h"

namespace veyra {

namespace {

bool requireBool(const json::Json &object, const char *key)
{
    const json::Json &value = json::require(object, key);
    if (!value.is_boolean())
        throw SystemError(QStringLiteral("数据字段“%1”类型不正确。").arg(QString::fromUtf8(key)));
    return value.get<bool>();
}

const json::Json &requireArray(const json::Json &object, const char *key)
{
    const json::Json &value = json::require(object, key);
    if (!value.is_array())
        throw SystemError(QStringLiteral("数据字段“%1”类型不正确。").arg(QString::fromUtf8(key)));
    return value;
}

} // namespace

json::Json ProxyEndpointState::toJson() const
{
    return { { "enabled", enabled }, { "server", json::str(server) }, { "port", port } };
}

ProxyEndpointState ProxyEndpointState::fromJson(const json::Json &value)
{
    json::requireObject(value, "endpoint");
    return { requireBool(value, "enabled"), json::requireString(value, "server"), json::requireInteger(value, "port") };
}

json::Json NetworkServiceProxySnapshot::toJson() const
{
    json::Json domains = json::Json::array();
    for (const QString &domain : bypassDomains)
        domains.push_back(json::str(domain));
    return {
        { "service", json::str(service) },
        { "web", web.toJson() },
        { "secureWeb", secureWeb.toJson() },
        { "socks", socks.toJson() },
        { "bypassDomains", domains },
        { "autoProxyURL", json::str(autoProxyURL) },
        { "autoProxyEnabled", autoProxyEnabled },
        { "autoDiscoveryEnabled", autoDiscoveryEnabled },
    };
}

NetworkServiceProxySnapshot NetworkServiceProxySnapshot::fromJson(const json::Json &value)
{
    json::requireObject(value, "service");
    NetworkServiceProxySnapshot snapshot;
    snapshot.service = json::requireString(value, "service");
    snapshot.web = ProxyEndpointState::fromJson(json::require(value, "web"));
    snapshot.secureWeb = ProxyEndpointState::fromJson(json::require(value, "secureWeb"));
    snapshot.socks = ProxyEndpointState::fromJson(json::require(value, "socks"));
    for (const json::Json &domain : requireArray(value, "bypassDomains")) {
        if (!domain.is_string())
            throw SystemError(QStringLiteral("数据字段“bypassDomains”类型不正确。"));
        snapshot.bypassDomains.append(json::qstr(domain.get<std::string>()));
    }
    snapshot.autoProxyURL = json::requireString(value, "autoProxyURL");
    snapshot.autoProxyEnabled = requireBool(value, "autoProxyEnabled");
    snapshot.autoDiscoveryEnabled = requireBool(value, "autoDiscoveryEnabled");
    return snapshot;
}

json::Json ProxySnapshot::toJson() const
{
    json::Json list = json::Json::array();
    for (const NetworkServiceProxySnapshot &service : services)
        list.push_back(service.toJson());
    return { { "appliedPort", appliedPort }, { "services", list } };
}

ProxySnapshot ProxySnapshot::fromJson(const json::Json &value)
{
    json::requireObject(value, "snapshot");
    ProxySnapshot snapshot;
    snapshot.appliedPort = json::requireInteger(value, "appliedPort");
    for (const json::Json &service : requireArray(value, "services"))
        snapshot.services.push_back(NetworkServiceProxySnapshot::fromJson(service));
    return snapshot;
}

} // namespace veyra
