#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace veyra {

// Posts desktop notifications through the session bus's notification server. Sending never
// blocks and never fails towards the caller: the reply is awaited in the background and a
// failure (no server, a refused call, a silent server) only leaves a line in the diagnostic log.
class NotificationService : public QObject {
    Q_OBJECT
public:
    static constexpr const char *serviceName = "org.freedesktop.Notifications";
    static constexpr const char *objectPath = "/org/freedesktop/Notifications";
    static constexpr int replyTimeoutMs = 10'000;

    // The bus is a seam for tests; the product uses the session bus.
    explicit NotificationService(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Posts title and body as a new notification with the default sound when `enabled`.
    void send(const QString &title, const QString &body, bool enabled);

    // Whether notifications can be shown: a notification server answers on the bus within a
    // few seconds. No server or no answer is a plain no; any other bus failure is also logged
    // ("通知授权失败：" + the description).
    QCoro::Task<bool> requestAuthorization();
    static constexpr int authorizationTimeoutMs = 3'000;

signals:
    // The server's answer to one send: its notification id, or the failure that was logged.
    void delivered(uint id);
    void failed(const QString &description);

private:
    QDBusConnection m_bus;
};

} // namespace veyra
