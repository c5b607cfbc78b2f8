#pragma once

#include <QSettings>
#include <QString>

#include <memory>

namespace veyra {

// Where the small user-defaults values live (session namespace, installation marker).
// The product uses QSettings in its native format named after the application identifier;
// tests give a file of their own. Each caller opens its own QSettings, so instances are never
// shared between threads.
class UserDefaults {
public:
    UserDefaults() = default;
    explicit UserDefaults(QString file)
        : m_file(std::move(file))
    {
    }

    std::unique_ptr<QSettings> open() const;
    const QString &file() const { return m_file; }

private:
    QString m_file;
};

} // namespace veyra
