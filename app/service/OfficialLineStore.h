#pragma once

#include "DeviceIdentifier.h"
#include "KeychainStore.h"
#include "Models.h"
#include "ProviderSource.h"
#include "SecurityPolicy.h"
#include "SerialExecutor.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

namespace veyra {

// Owns the official line: the subscription address the service hands to an active member.
// It is validated before it is stored, lives only in the secret store and is validated again
// before the kernel is pointed at it. Secret-store calls and name resolution run on the
// store's own executor, one operation at a time.
class OfficialLineStore {
public:
    static constexpr int updateInterval = 3600;
    static constexpr const char *providerID = "veyra_official";

    explicit OfficialLineStore(KeychainStore keychain = KeychainStore(),
        SecurityPolicy::Resolver resolver = SecurityPolicy::systemResolver(),
        QString deviceID = DeviceIdentifier::current());

    // Stores a validated line (true) or, for an empty or missing one, deletes it (false). A line
    // that fails validation throws and leaves the stored line and `available` as they were.
    QCoro::Task<bool> synchronize(std::optional<QString> url);

    // The stored line, validated again; throws when there is none.
    QCoro::Task<QUrl> activeLine();

    // The kernel's provider description for the stored line.
    QCoro::Task<ProviderSource> activeSource();
    ProviderSource sourceFor(const QUrl &line) const;

    bool available() const { return m_available; }

    // The line an account carries: the full address when the service sends one, otherwise its
    // token form (which may be absent too).
    static std::optional<QString> lineOf(const AccountUser &user);

private:
    KeychainStore m_keychain;
    SecurityPolicy::Resolver m_resolver;
    QString m_deviceID;
    bool m_available = false;
    SerialExecutor m_executor;
};

} // namespace veyra
