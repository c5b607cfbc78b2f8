#pragma once

#include "DesignatedRequirement.h"

#include "DescriptorDigest.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

namespace veyra::helper {

// Decides, before a single byte is read, whether the process on the other end of an
// accepted connection may use the helper.
class PeerAuthorizer {
public:
    virtual ~PeerAuthorizer() = default;
    virtual bool authorize(int connection) = 0;
    // Asked again once the request has been read, immediately before anything runs: a peer
    // may have been taken over in between.
    virtual bool stillAuthorized(int connection) = 0;
};

// Accepts a peer whose effective uid is not 0, whose running executable is the pinned main
// executable (same path, device, inode and SHA-256), that nobody traces, that runs no code but from
// root-protected files and that started without dynamic-loader variables. A refusal is written
// to standard error (the journal) with the peer's pid, uid and the reason. The peer's pid is only trusted while the
// same process provably still holds it: through a pidfd taken from the socket where the
// kernel offers one, otherwise by comparing the process start time before and after reading
// /proc, so a peer that exits and has its pid reused by another program is not mistaken for it.
class RequirementPeerAuthorizer : public PeerAuthorizer {
public:
    using Digest = std::function<std::optional<std::string>(int fd)>;

    // The executable's content is hashed with `digest` only when its identity differs from the
    // one last found to hold the pinned content (at first the pinned identity itself): a root-
    // owned protected file cannot change without that identity changing.
    explicit RequirementPeerAuthorizer(DesignatedRequirement requirement, Digest digest = sha256OfDescriptor);
    bool authorize(int connection) override;
    bool stillAuthorized(int connection) override { return authorize(connection); }

private:
    std::optional<std::string> executableProblem(pid_t pid) const;
    bool alreadyVerified(const FileIdentity &identity) const;
    // The reason to refuse this peer, or nothing.
    std::optional<std::string> refusal(int connection, pid_t &pid, uid_t &uid) const;

    DesignatedRequirement m_requirement;
    Digest m_digest;
    mutable std::mutex m_verifiedLock;
    mutable FileIdentity m_verified;
};

} // namespace veyra::helper
