#include "SleepWatcher.h"

namespace veyra {

SleepWatcher::SleepWatcher(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    // Naming the service makes the bus deliver only what logind itself sends, not a lookalike
    // signal from any other client.
    m_watching = m_bus.isConnected()
        && m_bus.connect(QString::fromLatin1(serviceName), QString::fromLatin1(objectPath),
            QString::fromLatin1(interfaceName), QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        emit resumed();
}

} // namespace veyra
