#pragma once

#include <QDBusConnection>
#include <QObject>

namespace veyra {

// Tells when the machine has woken from sleep, as logind announces it on the system bus
// (PrepareForSleep with false). Going to sleep is of no interest: nothing the application
// could do then would finish before the machine stops.
class SleepWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr const char *serviceName = "org.freedesktop.login1";
    static constexpr const char *objectPath = "/org/freedesktop/login1";
    static constexpr const char *interfaceName = "org.freedesktop.login1.Manager";

    // The bus is a seam for tests; the product listens on the system bus.
    explicit SleepWatcher(QDBusConnection bus, QObject *parent = nullptr);

    // False without a bus to listen on: then the machine's wake goes unnoticed.
    bool watching() const { return m_watching; }

signals:
    void resumed();

private slots:
    void prepareForSleep(bool sleeping);

private:
    QDBusConnection m_bus;
    bool m_watching = false;
};

} // namespace veyra
