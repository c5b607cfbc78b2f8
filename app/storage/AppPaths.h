#pragma once

#include "Json.h"

#include <QString>
#include <optional>
#include <utility>

namespace veyra {

// Where the application keeps its files, and the one pair of routines through which every
// small JSON data file is written (atomically, owner-only) and read (size-capped).
class AppPaths {
public:
    static constexpr qint64 settingsCap = 1'048'576;
    static constexpr qint64 proxyBackupCap = 1'048'576;
    static constexpr qint64 pendingOrderCap = 1'048'576;
    static constexpr qint64 trafficUsageCap = 8'192;
    static constexpr qint64 sessionIdentityCap = 4'096;

    static QString appSupport();
    static QString settings();
    static QString sessionIdentity();
    static QString trafficUsage();
    static QString pendingOrder();
    static QString proxyBackup();
    static QString desktopProxyBackup();
    static QString coreDirectory();
    static QString core();
    static QString config();
    static QString providersDirectory();
    static QString logs();

    // Moves every location below another root; tests and sandboxes use it so that nothing
    // touches the real home. An empty path returns to the user's data location.
    static void setRootOverride(const QString &appSupportDirectory);

    // Creates appSupport, Core, Core/providers and Logs (0700 each), stopping at the first failure.
    static void prepare();

    // Pretty, key-sorted JSON written to a 0600 temporary file and renamed over `path`.
    static void write(const json::Json &value, const QString &path);

    // The parsed JSON, or nothing when the file does not exist. Files over `maximumBytes`
    // are refused with AppError before anything is decoded.
    static std::optional<json::Json> read(const QString &path, qint64 maximumBytes);

    template <typename Record> static std::optional<Record> read(const QString &path, qint64 maximumBytes)
    {
        std::optional<json::Json> value = read(path, maximumBytes);
        if (!value)
            return std::nullopt;
        return Record::fromJson(*value);
    }

    static void removeIfExists(const QString &path);

    // Writes bytes to `path` through a 0600 temporary file in the same directory and a rename.
    // Shared by `write`, the log and every other owner-only file.
    static void writeFileAtomically(const QString &path, const QByteArray &bytes);
    // An owner-only, close-on-exec temporary file beside `path`: its descriptor and name.
    static std::pair<int, QByteArray> createTemporaryFile(const QString &path);

    static const char *const oversizeMessage;
};

} // namespace veyra
