#pragma once

#include <QString>

namespace veyra {

// Starting the application at login, through the desktop's autostart folder: one entry
// "<identifier>.desktop" that runs the bundle's executable.
class LoginItemService {
public:
    enum class Status { enabled, requiresApproval, notRegistered, notFound };

    // The folder and the executable are seams for tests; the product uses
    // $XDG_CONFIG_HOME/autostart (default ~/.config/autostart) and its own executable.
    explicit LoginItemService(
        QString autostartDirectory = defaultAutostartDirectory(), QString executable = defaultExecutable());

    // enabled: the entry is there and active; requires approval: there but hidden or switched
    // off by the desktop; not registered: no entry; not found: our executable is gone.
    Status status() const;
    // true registers (unless already enabled); false unregisters an enabled or waiting entry.
    // Throws SystemError with the file system's reason.
    void setEnabled(bool enabled) const;

    QString entryPath() const;
    static QString defaultAutostartDirectory();
    static QString defaultExecutable();

private:
    QString m_directory;
    QString m_executable;
};

} // namespace veyra
