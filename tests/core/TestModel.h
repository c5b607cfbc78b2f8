#pragma once

#include "AppCollaborators.h"
#include "AppModel.h"

#include <QString>

namespace veyra::test {

// Where the test world's pieces are.
struct WorldSeams {
    QString kernelResources; // holds "mihomo" and "mihomo.sha256"
    QString checkURL; // the connectivity check, plain http on loopback
    QString helperSocket;
    QString networkSetup; // the stand-in tool for reads
    QString defaultsFile; // user defaults of the keychain's session namespace
    QString notificationConnection; // a name for this model's own bus connection
    std::optional<APIClientOptions> service; // the simulator's address and certificate, when used
};

// Collaborators built with the world's seams. Every name resolves to a public documentation
// address, so the address policy accepts the line the world serves on loopback.
AppCollaborators collaboratorsFor(const WorldSeams &seams);

} // namespace veyra::test
