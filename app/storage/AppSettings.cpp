#include "AppSettings.h"

#include "Errors.h"

namespace veyra {

QString rawValue(ConnectionMode mode)
{
    switch (mode) {
    case ConnectionMode::rule:
        return QStringLiteral("rule");
    case ConnectionMode::global:
        return QStringLiteral("global");
    case ConnectionMode::direct:
        return QStringLiteral("direct");
    }
    return QStringLiteral("rule");
}

std::optional<ConnectionMode> connectionModeFromRaw(const QString &raw)
{
    for (ConnectionMode mode : { ConnectionMode::rule, ConnectionMode::global, ConnectionMode::direct }) {
        if (raw == rawValue(mode))
            return mode;
    }
    return std::nullopt;
}

QString displayName(ConnectionMode mode)
{
    switch (mode) {
    case ConnectionMode::rule:
        return QStringLiteral("规则");
    case ConnectionMode::global:
        return QStringLiteral("全局");
    case ConnectionMode::direct:
        return QStringLiteral("直连");
    }
    return QString();
}

AppSettings AppSettings::fromJson(const json::Json &value)
{
    json::requireObject(value, "settings");
    AppSettings settings;
    settings.mixedPort = json::optionalInteger(value, "mixedPort").value_or(settings.mixedPort);
    settings.socksPort = json::optionalInteger(value, "socksPort").value_or(settings.socksPort);
    settings.controllerPort = json::optionalInteger(value, "controllerPort").value_or(settings.controllerPort);
    if (auto raw = json::optionalString(value, "proxyMode")) {
        auto mode = connectionModeFromRaw(*raw);
        if (!mode)
            throw SystemError(QStringLiteral("未知的代理模式“%1”。").arg(*raw));
        settings.proxyMode = *mode;
    }
    settings.selectedNode = json::optionalString(value, "selectedNode").value_or(settings.selectedNode);
    settings.autoConnect = json::optionalBool(value, "autoConnect").value_or(settings.autoConnect);
    settings.startAtLogin = json::optionalBool(value, "startAtLogin").value_or(settings.startAtLogin);
    settings.showNotifications = json::optionalBool(value, "showNotifications").value_or(settings.showNotifications);
    settings.smartSelection = json::optionalBool(value, "smartSelection").value_or(settings.smartSelection);
    settings.uiScalePercent = json::optionalInteger(value, "uiScalePercent").value_or(settings.uiScalePercent);
    return settings;
}

json::Json AppSettings::toJson() const
{
    return json::Json {
        { "mixedPort", mixedPort },
        { "socksPort", socksPort },
        { "controllerPort", controllerPort },
        { "proxyMode", json::str(rawValue(proxyMode)) },
        { "selectedNode", json::str(selectedNode) },
        { "autoConnect", autoConnect },
        { "startAtLogin", startAtLogin },
        { "showNotifications", showNotifications },
        { "smartSelection", smartSelection },
        { "uiScalePercent", uiScalePercent },
    };
}

void AppSettings::validate() const
{
    for (qint64 port : { mixedPort, socksPort, controllerPort }) {
        if (port < 1024 || port > 65535)
            throw AppError(QStringLiteral("网络端口必须在 1024 到 65535 之间。"));
    }
    if (mixedPort == socksPort || mixedPort == controllerPort || socksPort == controllerPort)
        throw AppError(QStringLiteral("三个网络端口不能重复。"));
    if (uiScalePercent < 90 || uiScalePercent > 140)
        throw AppError(QStringLiteral("界面缩放必须在 90% 到 140% 之间。"));
}

} // namespace veyra
