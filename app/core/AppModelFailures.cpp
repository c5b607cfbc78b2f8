// Failures that must reach the user when the window is closed: besides the alert (which waits
// for the window), a notification, and a failure state the tray shows until it is seen.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "Logger.h"

namespace veyra {

void AppModel::reportFailure(const QString &description)
{
    Step step(*this);
    present(description);
    notifyFailure(description);
}

void AppModel::notifyFailure(const QString &description)
{
    sendNotification(Logger::redact(description));
    setConnectionFailed(true);
}

void AppModel::setConnectionFailed(bool value)
{
    publish(m_connectionFailed, value, &AppModel::connectionFailedChanged);
}

ConnectionState AppModel::connectionState() const
{
    if (m_isBusy && m_busySwitchingConnection)
        return ConnectionState::connecting;
    if (m_connectionFailed)
        return ConnectionState::failed;
    return m_isConnected ? ConnectionState::connected : ConnectionState::disconnected;
}

} // namespace veyra
