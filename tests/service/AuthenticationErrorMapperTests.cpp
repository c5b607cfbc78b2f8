#include "AuthenticationErrorMapper.h"

#include <gtest/gtest.h>

using namespace veyra;

namespace {
const auto login = AuthenticationMode::login;
const auto reg = AuthenticationMode::registration;
} // namespace

TEST(AuthenticationErrorMapper, KeywordRulesInOrder)
{
    EXPECT_EQ(AuthenticationErrorMapper::message("invalid_credentials", login), "账号或密码错误");
    EXPECT_EQ(AuthenticationErrorMapper::message("Invalid-Credentials", reg), "账号或密码错误");
    EXPECT_EQ(AuthenticationErrorMapper::message("  INVALID CREDENTIALS: try again ", login), "账号或密码错误");
    // Rule 2 wins over rule 4 although both keywords are present.
    EXPECT_EQ(AuthenticationErrorMapper::message("invalid_account_or_password", login), "账号或密码错误");
    EXPECT_EQ(AuthenticationErrorMapper::message("account_exists", reg), "此账号已注册");
    EXPECT_EQ(AuthenticationErrorMapper::message("该手机号已注册", reg), "此账号已注册");
    EXPECT_EQ(AuthenticationErrorMapper::message("wrong password", login), "密码错误");
    EXPECT_EQ(AuthenticationErrorMapper::message("phone-not-registered", login), "账号错误");
    EXPECT_EQ(AuthenticationErrorMapper::message("account_locked: 账号已锁定", login), "账号已被停用或锁定");
    EXPECT_EQ(AuthenticationErrorMapper::message("HTTP 429 Too Many Requests", login), "尝试次数过多，请稍后再试");
}

TEST(AuthenticationErrorMapper, FallbacksByMode)
{
    // The register-only rule does not fire in login mode; the bare code gets the generic text.
    EXPECT_EQ(AuthenticationErrorMapper::message("already_registered", login), "登录失败，请稍后重试");
    EXPECT_EQ(AuthenticationErrorMapper::message("server_error_500", reg), "注册失败，请稍后重试");
    EXPECT_EQ(AuthenticationErrorMapper::message(" \n", login), "登录失败");
    EXPECT_EQ(AuthenticationErrorMapper::message("", reg), "注册失败");
    EXPECT_EQ(AuthenticationErrorMapper::message("服务器维护中，请稍后再试。", login), "服务器维护中，请稍后再试。");
    // A readable sentence is shown, with secrets masked.
    EXPECT_EQ(AuthenticationErrorMapper::message("请求失败 token=abc123 请重试", login), "请求失败 token=*** 请重试");
}

TEST(AuthenticationErrorMapper, InputChecks)
{
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("12800000000", "password1", reg),
        "账号错误：请输入正确的 11 位手机号");
    EXPECT_EQ(
        AuthenticationErrorMapper::validateInput("1380000000", "password1", reg), "账号错误：请输入正确的 11 位手机号");
    EXPECT_EQ(AuthenticationErrorMapper::validateInput(" 13800000000\n", "1234567", reg), "密码错误：密码至少 8 位");
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("13800000000", "12345678", reg), std::nullopt);
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("ab", "123456", login), "账号错误");
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("  abc  ", "12345", login), "密码错误");
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("abc", "123456", login), std::nullopt);
    // Counts are of perceived characters: a flag emoji is one character, not four code units.
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("ab🇯🇵", "123456", login), std::nullopt);
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("a🇯🇵", "123456", login), "账号错误");
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("abc", "12345é", login), std::nullopt);
    EXPECT_EQ(AuthenticationErrorMapper::validateInput("abc", QString("1234e\u0301"), login), "密码错误");
}
