#include "AuthenticationErrorMapper.h"

#include <gtest/gtest.h>

using namespace veyra;

namespace {

const auto login = AuthenticationMode::login;
const auto reg = AuthenticationMode::registration;

// The keyword rules in their order, then the fallbacks for each mode.
const struct {
    const char *name;
    const char *failure;
    AuthenticationMode mode;
    const char *shown;
} messageCases[] = {
    { "credentials, any case and dash", "Invalid-Credentials", reg, "账号或密码错误" },
    { "credentials inside a sentence", "  INVALID CREDENTIALS: try again ", login, "账号或密码错误" },
    { "rule 2 wins over rule 4", "invalid_account_or_password", login, "账号或密码错误" },
    { "account exists", "account_exists", reg, "此账号已注册" },
    { "already registered in Chinese", "该手机号已注册", reg, "此账号已注册" },
    { "wrong password", "wrong password", login, "密码错误" },
    { "unknown account", "phone-not-registered", login, "账号错误" },
    { "locked", "account_locked: 账号已锁定", login, "账号已被停用或锁定" },
    { "rate limited", "HTTP 429 Too Many Requests", login, "尝试次数过多，请稍后再试" },
    { "register-only rule in login mode", "already_registered", login, "登录失败，请稍后重试" },
    { "bare code when registering", "server_error_500", reg, "注册失败，请稍后重试" },
    { "blank when signing in", " \n", login, "登录失败" },
    { "empty when registering", "", reg, "注册失败" },
    { "readable sentence", "服务器维护中，请稍后再试。", login, "服务器维护中，请稍后再试。" },
    { "sentence with a secret", "请求失败 token=abc123 请重试", login, "请求失败 token=*** 请重试" },
};

TEST(AuthenticationErrorMapper, Messages)
{
    for (const auto &c : messageCases)
        EXPECT_EQ(AuthenticationErrorMapper::message(QString::fromUtf8(c.failure), c.mode), QString::fromUtf8(c.shown))
            << c.name;
}

TEST(AuthenticationErrorMapper, InputChecks)
{
    const QString phone = QStringLiteral("账号错误：请输入正确的 11 位手机号");
    // Counts are of perceived characters: a flag emoji is one character, not four code units.
    const struct {
        const char *name;
        QString account, password;
        AuthenticationMode mode;
        std::optional<QString> refusal;
    } cases[] = {
        { "not a mobile prefix", "12800000000", "password1", reg, phone },
        { "ten digits", "1380000000", "password1", reg, phone },
        { "seven-character password", " 13800000000\n", "1234567", reg, QStringLiteral("密码错误：密码至少 8 位") },
        { "registration accepted", "13800000000", "12345678", reg, std::nullopt },
        { "two-character account", "ab", "123456", login, QStringLiteral("账号错误") },
        { "five-character password", "  abc  ", "12345", login, QStringLiteral("密码错误") },
        { "sign-in accepted", "abc", "123456", login, std::nullopt },
        { "flag counts once, enough", "ab🇯🇵", "123456", login, std::nullopt },
        { "flag counts once, too short", "a🇯🇵", "123456", login, QStringLiteral("账号错误") },
        { "combining accent is one character", "abc", QString("1234e\u0301"), login, QStringLiteral("密码错误") },
    };
    for (const auto &c : cases)
        EXPECT_EQ(AuthenticationErrorMapper::validateInput(c.account, c.password, c.mode), c.refusal) << c.name;
}

} // namespace
