#include "SessionIdentityStore.h"

#include "AppPaths.h"

namespace veyra {

SessionIdentityRecord SessionIdentityRecord::fromJson(const json::Json &value)
{
    json::requireObject(value, "session identity");
    return { json::requireString(value, "account") };
}

json::Json SessionIdentityRecord::toJson() const
{
    return json::Json { { "account", json::str(account) } };
}

std::optional<QString> SessionIdentityStore::loadAccount()
{
    try {
        const auto record
            = AppPaths::read<SessionIdentityRecord>(AppPaths::sessionIdentity(), AppPaths::sessionIdentityCap);
        if (!record)
            return std::nullopt;
        const QString account = record->account.trimmed();
        if (account.isEmpty())
            return std::nullopt;
        return account;
    } catch (const std::exception &) {
        // Only a convenience for the provisional account name; a bad file simply means none.
        return std::nullopt;
    }
}

void SessionIdentityStore::saveAccount(const QString &account)
{
    const QString trimmed = account.trimmed();
    if (trimmed.isEmpty())
        return;
    AppPaths::write(SessionIdentityRecord { trimmed }.toJson(), AppPaths::sessionIdentity());
}

void SessionIdentityStore::clear()
{
    AppPaths::removeIfExists(AppPaths::sessionIdentity());
}

} // namespace veyra
