#include "AuthenticationErrorMapper.h"

#include "Logger.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <initializer_list>

namespace veyra {

namespace {

struct Rule {
    std::optional<AuthenticationMode> onlyIn;
    std::initializer_list<const char *> keywords;
    const char *message;
};

const std::array<Rule, 6> &rules()
{
    static const std::array<Rule, 6> table { {
        { AuthenticationMode::registration, { "account_exists", "already_registered", "已注册", "已存在" },
            "此账号已注册" },
        { std::nullopt,
            { "invalid_account_or_password", "invalid_credentials", "bad_credentials", "unauthorized", "账号或密码",
                "用户名或密码" },
            "账号或密码错误" },
        { std::nullopt,
            { "invalid_password", "wrong_password", "incorrect_password", "password_incorrect", "password_mismatch",
                "密码错误", "密码不正确" },
            "密码错误" },
        { std::nullopt,
            { "invalid_account", "account_not_found", "account_not_exists", "unknown_account", "user_not_found",
                "phone_not_registered", "账号错误", "账号不存在", "用户不存在", "手机号未注册" },
            "账号错误" },
        { std::nullopt, { "account_disabled", "account_locked", "user_disabled", "账号已停用", "账号已锁定" },
            "账号已被停用或锁定" },
        { std::nullopt, { "too_many_attempts", "rate_limit", "too_many_requests", "尝试次数过多" },
            "尝试次数过多，请稍后再试" },
    } };
    return table;
}

} // namespace

QString AuthenticationErrorMapper::message(const QString &failureText, AuthenticationMode mode)
{
    const QString display = Logger::redact(failureText).trimmed();
    QString match = display.toLower();
    match.replace(QLatin1Char('-'), QLatin1Char('_')).replace(QLatin1Char(' '), QLatin1Char('_'));

    for (const Rule &rule : rules()) {
        if (rule.onlyIn && *rule.onlyIn != mode)
            continue;
        for (const char *keyword : rule.keywords) {
            if (match.contains(QString::fromUtf8(keyword)))
                return QString::fromUtf8(rule.message);
        }
    }

    const bool login = mode == AuthenticationMode::login;
    static const QRegularExpression bareCode(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (bareCode.match(display).hasMatch())
        return login ? QStringLiteral("登录失败，请稍后重试") : QStringLiteral("注册失败，请稍后重试");
    if (display.isEmpty())
        return login ? QStringLiteral("登录失败") : QStringLiteral("注册失败");
    return display;
}

qsizetype AuthenticationErrorMapper::perceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

std::optional<QString> AuthenticationErrorMapper::validateInput(
    const QString &account, const QString &password, AuthenticationMode mode)
{
    const QString trimmed = account.trimmed();
    if (mode == AuthenticationMode::registration) {
        static const QRegularExpression mobile(QStringLiteral("^1[3-9]\\d{9}$"));
        // \d would also accept other scripts' digits; a mobile number is ASCII only.
        bool ascii = std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.unicode() < 128; });
        if (!ascii || !mobile.match(trimmed).hasMatch())
            return QStringLiteral("账号错误：请输入正确的 11 位手机号");
        if (perceivedLength(password) < 8)
            return QStringLiteral("密码错误：密码至少 8 位");
        return std::nullopt;
    }
    if (perceivedLength(trimmed) < 3)
        return QStringLiteral("账号错误");
    if (perceivedLength(password) < 6)
        return QStringLiteral("密码错误");
    return std::nullopt;
}

} // namespace veyra
