#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace veyra::helper {

// Whether the connection was made by the program the peer runs now. The application opens
// every socket close-on-exec, so its own end sits on such a descriptor; a socket connected by
// another program and carried across an exec (or into a forked child that then ran the
// application) cannot be. Finds the peer's end through the kernel's socket diagnostics and
// looks for it among the peer's descriptors. Nothing when all is well; otherwise the reason.
std::optional<std::string> connectionOwnershipProblem(pid_t pid, int connection);

// The inode of the socket at the other end of a connected Unix socket.
std::optional<unsigned long> peerSocketInode(int connection);

} // namespace veyra::helper
