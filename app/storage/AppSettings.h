#pragma once

#include "Json.h"

#include <QString>
#include <optional>

namespace veyra {

// The kernel's routing mode; the raw values are also the mode names the kernel understands.
enum class ConnectionMode { rule, global, direct };

QString rawValue(ConnectionMode mode);
std::optional<ConnectionMode> connectionModeFromRaw(const QString &raw);
// "规则", "全局", "直连".
QString displayName(ConnectionMode mode);

// The user's local configuration, stored as "settings.json".
struct AppSettings {
    qint64 mixedPort = 7890;
    qint64 socksPort = 7891;
    qint64 controllerPort = 9090;
    ConnectionMode proxyMode = ConnectionMode::rule;
    QString selectedNode;
    bool autoConnect = false;
    bool startAtLogin = false;
    bool showNotifications = false;
    bool smartSelection = true;
    qint64 uiScalePercent = 100;

    // Lenient: missing keys take their defaults; a present key of the wrong type, or an
    // unknown proxy mode, fails the whole record with SystemError.
    static AppSettings fromJson(const json::Json &value);
    // Always all ten keys.
    json::Json toJson() const;

    // Range checks in their fixed order; throws AppError with the user-facing text.
    void validate() const;

    bool operator==(const AppSettings &) const = default;
};

} // namespace veyra
