#pragma once

#include <optional>
#include <string>

namespace veyra::helper {

// The whole content of a (/proc) file, read through a close-on-exec descriptor: the helper runs
// its tool from other threads meanwhile, and a child must never inherit a view into a peer.
// Nothing when it cannot be opened or read; errno then tells why.
std::optional<std::string> readWholeFile(const std::string &path);

} // namespace veyra::helper
