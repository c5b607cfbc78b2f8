#include "InstallationIdentity.h"

namespace veyra {

bool InstallationIdentity::consumeCurrentInstallation(const UserDefaults &defaults)
{
    auto settings = defaults.open();
    if (settings->value(QLatin1String(initializedKey)).toBool())
        return false;
    const QString fingerprint = settings->value(QLatin1String(legacyFingerprintKey)).toString();
    settings->setValue(QLatin1String(initializedKey), true);
    settings->sync();
    return fingerprint.isEmpty();
}

} // namespace veyra
