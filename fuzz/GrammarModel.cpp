#include "GrammarModel.h"
#include "FuzzModels.h"

#include <algorithm>

namespace veyra::fuzz {

namespace {

// Every spelling of on and off in any letter case, listed out.
bool isSwitch(const std::string &text)
{
    constexpr std::string_view words[]
        = { "on", "On", "oN", "ON", "off", "Off", "oFf", "ofF", "OFf", "OfF", "oFF", "OFF" };
    return std::ranges::count(words, text) > 0;
}

// Decimal digits only (the tool refuses a sign), the value 1 to 65535; leading zeros do not
// change the value.
bool isPort(const std::string &text)
{
    const std::string significant = text.substr(std::min(text.find_first_not_of('0'), text.size()));
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && !significant.empty()
        && (significant.size() < 5 || (significant.size() == 5 && significant <= "65535"));
}

bool isAnything(const std::string &)
{
    return true;
}

constexpr const char *badState = "代理开关命令格式无效。";
constexpr const char *badEndpoint = "代理地址命令格式无效。";

// Every verb the helper knows, with the element counts of its whole line (path, verb and
// service included) and what its last element must be.
constexpr struct {
    std::string_view verb;
    std::size_t fewest, most;
    bool (*last)(const std::string &);
    const char *refusal;
} verbs[] = {
    { "-setautoproxystate", 4, 4, isSwitch, badState },
    { "-setproxyautodiscovery", 4, 4, isSwitch, badState },
    { "-setwebproxystate", 4, 4, isSwitch, badState },
    { "-setsecurewebproxystate", 4, 4, isSwitch, badState },
    { "-setsocksfirewallproxystate", 4, 4, isSwitch, badState },
    { "-setwebproxy", 5, 5, isPort, badEndpoint },
    { "-setsecurewebproxy", 5, 5, isPort, badEndpoint },
    { "-setsocksfirewallproxy", 5, 5, isPort, badEndpoint },
    { "-setproxybypassdomains", 4, 132, isAnything, "代理绕过域名命令格式无效。" },
    { "-setautoproxyurl", 4, 4, isAnything, "自动代理地址命令格式无效。" },
};

std::optional<std::string> lineRefusal(const std::vector<std::string> &line)
{
    if (line.size() < 3 || line.size() > 132 || line[0] != "/usr/sbin/networksetup")
        return "后台服务拒绝了未知的系统命令。";
    for (const std::string &element : line)
        if (element.empty() || element.size() > 1024
            || element.find_first_of(std::string("\0\n\r", 3)) != std::string::npos)
            return "代理命令包含无效字符。";
    for (const auto &rule : verbs)
        if (line[1] == rule.verb)
            return line.size() < rule.fewest || line.size() > rule.most || !rule.last(line.back())
                ? std::optional<std::string>(rule.refusal)
                : std::nullopt;
    return "后台服务拒绝了不允许的代理操作。";
}

} // namespace

std::optional<std::string> grammarRefusal(const Commands &commands)
{
    if (commands.empty() || commands.size() > 128)
        return "代理命令数量无效。";
    for (const auto &line : commands)
        if (auto refusal = lineRefusal(line))
            return refusal;
    return std::nullopt;
}

std::optional<Commands> requestModel(std::string_view bytes)
{
    const std::optional<Json> value = jsonOf(bytes);
    const Json *lines = value ? member(&*value, "commands") : nullptr;
    if (!lines || !lines->is_array())
        return std::nullopt;
    Commands commands;
    for (const Json &line : *lines) {
        if (!line.is_array())
            return std::nullopt;
        commands.emplace_back();
        for (const Json &element : line)
            if (element.is_string())
                commands.back().push_back(element.get<std::string>());
            else
                return std::nullopt;
    }
    return commands;
}

} // namespace veyra::fuzz
