#include "UserDefaults.h"

#include "AppInfo.h"

namespace veyra {

std::unique_ptr<QSettings> UserDefaults::open() const
{
    if (!m_file.isEmpty())
        return std::make_unique<QSettings>(m_file, QSettings::IniFormat);
    const QString identifier = QString::fromLatin1(AppInfo::identifier);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, identifier, identifier);
}

} // namespace veyra
