#include "NotificationService.h"

#include "AppInfo.h"
#include "Logger.h"

#include <QCoroDBusPendingCall>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUuid>
#include <QVariantMap>

namespace veyra {

NotificationService::NotificationService(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
}

void NotificationService::send(const QString &title, const QString &body, bool enabled)
{
    if (!enabled)
        return;
    const auto fail = [this](const QString &description) {
        Logger::shared().log(QStringLiteral("发送通知失败：") + description);
        emit failed(description);
    };
    if (!m_bus.isConnected()) {
        fail(m_bus.lastError().isValid() ? m_bus.lastError().message() : QStringLiteral("没有可用的会话总线。"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(serviceName),
        QString::fromLatin1(objectPath), QString::fromLatin1(serviceName), QStringLiteral("Notify"));
    // Replacing id 0 asks the server for a fresh notification; our own identifier rides along
    // as a hint so that a notification can be told apart in the server's logs.
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(AppInfo::identifier));
    hints.insert(QStringLiteral("x-veyra-id"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    call << QString::fromUtf8(AppInfo::displayName) << uint(0) << QString() << title << body << QStringList() << hints
         << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, replyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, fail](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<uint> reply = *done;
        if (reply.isError())
            fail(reply.error().message());
        else
            emit delivered(reply.value());
    });
}

QCoro::Task<bool> NotificationService::requestAuthorization()
{
    if (!m_bus.isConnected()) {
        Logger::shared().log(QStringLiteral("通知授权失败：")
            + (m_bus.lastError().isValid() ? m_bus.lastError().message() : QStringLiteral("没有可用的会话总线。")));
        co_return false;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(serviceName),
        QString::fromLatin1(objectPath), QString::fromLatin1(serviceName), QStringLiteral("GetServerInformation"));
    QDBusPendingCall pending = m_bus.asyncCall(call, authorizationTimeoutMs);
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ErrorMessage)
        co_return true;
    const QString name = reply.errorName();
    const bool absent = name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || name == QLatin1String("org.freedesktop.DBus.Error.Timeout");
    if (!absent)
        Logger::shared().log(QStringLiteral("通知授权失败：") + reply.errorMessage());
    co_return false;
}

} // namespace veyra
