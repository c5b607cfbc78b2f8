#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace veyra {

// Puts a verified copy of the shipped kernel at AppPaths::core(). Blocking file work: the
// manager runs it whole on its serial executor so two installations never overlap.
class CoreInstaller {
public:
    // Returns normally when the installed kernel matches the shipped checksum, copying it
    // first when it is missing or differs. The only write to the installed path is the rename
    // of a staging copy whose digest was just checked, so a failure never leaves an
    // unverified executable there.
    static void ensure(const QStringList &resourceDirectories);

    // The expected digest from a checksum file: its first whitespace-delimited token,
    // lower-cased, if that is exactly 64 hex digits.
    static std::optional<QString> expectedDigest(const QByteArray &checksumFile);

    // The first directory holding `name`, each file looked up on its own.
    static std::optional<QString> locate(const QStringList &resourceDirectories, const QString &name);
};

} // namespace veyra
