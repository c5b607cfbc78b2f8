#pragma once

#include "UserDefaults.h"

namespace veyra {

// Tells the first run of an installation apart from later runs and from upgrades.
class InstallationIdentity {
public:
    static constexpr const char *initializedKey = "installation.initialized.v2";
    // Left by earlier versions; only read, so an upgrade is not mistaken for a first run.
    static constexpr const char *legacyFingerprintKey = "installation.bundle.fingerprint.v1";

    // True exactly once per installation: on the first run without an earlier version's marker.
    static bool consumeCurrentInstallation(const UserDefaults &defaults = {});
};

} // namespace veyra
