#pragma once

#include <QString>

namespace veyra {

// SHA-256 of a file as 64 lowercase hex digits, read in chunks of at most `chunkSize` bytes so
// that large executables are never held in memory. Open and read errors throw SystemError.
QString sha256File(const QString &path);

constexpr qint64 digestChunkSize = 1'048'576;

} // namespace veyra
