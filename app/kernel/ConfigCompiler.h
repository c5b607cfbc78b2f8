#pragma once

#include "AppSettings.h"
#include "ProviderSource.h"

#include <QString>

namespace veyra {

// Writes the kernel's runtime configuration: local-only listeners, one HTTP provider, an
// automatic lowest-latency group and a selectable group, and direct rules for local networks.
class ConfigCompiler {
public:
    // The public endpoint answering 204 that the provider health check, the automatic group
    // and the latency test all use.
    static QString defaultConnectivityCheckURL();

    static constexpr const char *automaticGroup = "智能优选";
    static constexpr const char *selectableGroup = "维拉网络";
    static constexpr qint64 minimumUpdateInterval = 900;

    // Validates the settings first (their error passes through unchanged), then returns the
    // whole configuration text, ending in one line feed.
    static QString compile(const ProviderSource &source, const AppSettings &settings, const QString &controllerSecret);
    static QString compile(const ProviderSource &source, const AppSettings &settings, const QString &controllerSecret,
        const QString &connectivityCheckURL);

    // One double-quoted YAML scalar on one line: backslash and quote escaped, line feed
    // written as \n, carriage return dropped.
    static QString quoted(const QString &value);
};

} // namespace veyra
