#pragma once

#include <QString>
#include <optional>

namespace veyra {

// Which form the authentication view shows and which endpoint sign-in calls.
// (`register` is a reserved word in C++, hence `registration`.)
enum class AuthenticationMode { login, registration };

// Turns whatever a failed sign-in produced into one short message for the authentication
// view, and checks the typed input before anything is sent.
class AuthenticationErrorMapper {
public:
    static QString message(const QString &failureText, AuthenticationMode mode);

    // The first failed input check for the mode, or nothing when the input may be sent.
    // The account is trimmed first; the password is checked as typed.
    static std::optional<QString> validateInput(
        const QString &account, const QString &password, AuthenticationMode mode);

    // Number of user-perceived characters (grapheme clusters).
    static qsizetype perceivedLength(const QString &text);
};

} // namespace veyra
