#pragma once

#include "Json.h"

#include <QString>

#include <optional>

namespace veyra {

// What "session-identity.json" holds: the account name only, never a token.
struct SessionIdentityRecord {
    QString account;

    static SessionIdentityRecord fromJson(const json::Json &value);
    json::Json toJson() const;
};

// Remembers which account was signed in, so a restart can show it before the service answers.
class SessionIdentityStore {
public:
    // The trimmed name; nothing when the file is missing, over 4 KiB, unreadable or empty.
    static std::optional<QString> loadAccount();
    // Writes the trimmed name atomically (0600); an empty name is not written.
    static void saveAccount(const QString &account);
    static void clear();
};

} // namespace veyra
