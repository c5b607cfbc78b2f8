#pragma once

#include "UserDefaults.h"

#include <QString>

#include <optional>

namespace veyra {

// Generic-password items in the Secret Service (libsecret), addressed by the attributes
// "service" and "account". Nothing here ever prompts: a locked collection or item counts as
// "interaction not allowed", which for the session token moves it to a fresh namespace so a
// stale, unreadable item can never wedge sign-in. All calls block on D-Bus; run them off the
// main thread.
class KeychainStore {
public:
    static constexpr const char *sessionAccount = "access-token";
    static constexpr const char *officialLineAccount = "official.subscription";
    static constexpr const char *namespaceKey = "session-keychain-namespace-v082-build91";
    // The official line's service text is fixed; it depends neither on the identifier nor on the
    // session namespace and is never rotated.
    static constexpr const char *fixedService = "(servicePrefix).(namespace)";

    explicit KeychainStore(UserDefaults defaults = {});

    // The item's text; nothing when it is missing, locked or not UTF-8.
    std::optional<QString> load(const QString &account) const;
    // Updates the item or creates it in the default collection.
    void save(const QString &text, const QString &account) const;
    // Removes the item; never fails.
    void remove(const QString &account) const noexcept;

    // The service attribute for an account (the session token's includes the namespace).
    QString service(const QString &account) const;
    // The current session namespace, created (a lower-case UUID) when missing or empty.
    QString sessionNamespace() const;
    void rotateSessionNamespace() const;

private:
    UserDefaults m_defaults;
};

} // namespace veyra
