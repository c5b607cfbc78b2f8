#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace veyra::e2e {

using namespace Qt::StringLiterals;

// The system proxy settings of the world the application runs in, read from outside the
// application the way the system's own tools read them: the stand-in networksetup's services,
// or on a desktop the user's whole dconf database and kioslaverc's bytes.
struct SettingsSnapshot {
    // One of the two is given: the stand-in's state file, or the desktop's kioslaverc.
    QString networkState;
    QString kioslaverc;

    bool desktop() const { return networkState.isEmpty(); }
    QByteArray take() const;
    // Whether `after` is `before` as a restore leaves it. On a desktop nothing may differ.
    bool restored(const QByteArray &before, const QByteArray &after) const;
    // Whether every setting a browser reads points at the application's proxy on `port`; each
    // setting read goes to `say`.
    bool pointsAt(int port, const std::function<void(const QString &)> &say) const;
};

} // namespace veyra::e2e
