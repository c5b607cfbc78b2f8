#pragma once

#include <QString>

// The names the interface gives to the platform's own facilities. Sentences that mention the
// system's keyring, its native interfaces or its login take the name from here, so that they
// describe the platform the application runs on and nothing else.
namespace veyra::platformText {

// Where the token and the account's credentials are kept (the Secret Service keyring).
inline QString keyring() { return QStringLiteral("系统密钥环"); }
// The operating system, as in "登录系统后自动启动".
inline QString system() { return QStringLiteral("系统"); }

} // namespace veyra::platformText
