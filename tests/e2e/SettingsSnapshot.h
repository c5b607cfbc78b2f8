#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace veyra::e2e {

// The system proxy settings of the world the application runs in, read from outside the
// application the way the system's own tools read them: the stand-in networksetup's services,
// or on a desktop the user's whole dconf database and kioslaverc's bytes.
class SettingsSnapshot {
public:
    // One of the two is given: the stand-in's state file, or the desktop's kioslaverc.
    SettingsSnapshot(QString networkState, QString kioslaverc);

    bool desktop() const { return m_networkState.isEmpty(); }
    QByteArray take() const;
    // Whether `after` is `before` as a restore leaves it. On a desktop nothing may differ.
    bool restored(const QByteArray &before, const QByteArray &after) const;
    // Whether every setting a browser reads points at the application's proxy on `port`; each
    // setting read goes to `say`.
    bool pointsAt(int port, const std::function<void(const QString &)> &say) const;

private:
    QString m_networkState;
    QString m_kioslaverc;
};

// Whether the services' settings `after` are those of `before` as a restore leaves them:
// equal, except that an endpoint that was off and named no server may name one now (the tool
// cannot clear a server, so switching the endpoint off is all a restore can do for it).
bool restoredAsBefore(const QByteArray &before, const QByteArray &after);

} // namespace veyra::e2e
