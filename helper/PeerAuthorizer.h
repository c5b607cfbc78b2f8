#pragma once

#include "DesignatedRequirement.h"

namespace veyra::helper {

// Decides, before a single byte is read, whether the process on the other end of an
// accepted connection may use the helper.
class PeerAuthorizer {
public:
    virtual ~PeerAuthorizer() = default;
    virtual bool authorize(int connection) = 0;
};

// Accepts a peer whose effective uid is not 0 and whose running executable is the pinned
// main executable (same device, inode and SHA-256). The peer's pid is only trusted while the
// same process provably still holds it: through a pidfd taken from the socket where the
// kernel offers one, otherwise by comparing the process start time before and after reading
// /proc, so a peer that exits and has its pid reused by another program is not mistaken for it.
class RequirementPeerAuthorizer : public PeerAuthorizer {
public:
    explicit RequirementPeerAuthorizer(DesignatedRequirement requirement);
    bool authorize(int connection) override;

private:
    bool executableMatches(pid_t pid) const;

    DesignatedRequirement m_requirement;
};

} // namespace veyra::helper
