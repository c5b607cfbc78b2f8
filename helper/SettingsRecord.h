#pragma once

#include "ServiceSettings.h"

#include <map>
#include <string>

namespace veyra::helper {

// The helper's own, root-owned record of each network service's settings as they were before
// the helper first pointed it at this machine. It is what a restore may go back to: the
// application's journal lives in the user's folder, where any process of the user can write it,
// so the helper never takes the values to restore from the caller.
class SettingsRecord {
public:
    using Services = std::map<std::string, ServiceSettings>;

    // `file` lives in a folder only root can write; the folder is created (0700) when missing.
    explicit SettingsRecord(std::string file);

    // The recorded services; none when the file is missing or unreadable (said on standard error).
    Services load() const;
    // Replaces the file atomically (a 0600 temporary file, synced, then renamed over it).
    // Throws std::runtime_error when it cannot.
    void save(const Services &services) const;

    const std::string &file() const { return m_file; }

private:
    std::string m_file;
};

} // namespace veyra::helper
