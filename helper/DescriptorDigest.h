#pragma once

#include <optional>
#include <string>

namespace veyra::helper {

// SHA-256 (lower-case hex) of everything readable from an open file descriptor, from offset 0,
// through libcrypto. Nothing when reading fails.
std::optional<std::string> sha256OfDescriptor(int fd);

} // namespace veyra::helper
