#include "FuzzModels.h"

namespace veyra::fuzz {

namespace {

constexpr std::string_view switchWords[]
    = { "on", "On", "oN", "ON", "off", "Off", "oFf", "ofF", "OFf", "OfF", "oFF", "OFF" };
// Every spelling of on and off in any letter case, listed out.
constexpr auto isSwitch = [](const std::string &text) { return std::ranges::count(switchWords, text) > 0; };
// Decimal digits only (the tool refuses a sign), the value 1 to 65535; leading zeros do not
// change the value.
constexpr auto isPort = [](const std::string &text) {
    const std::string significant = text.substr(std::min(text.find_first_not_of('0'), text.size()));
    return text.find_first_not_of("0123456789") == std::string::npos && !significant.empty()
        && (significant.size() < 5 || (significant.size() == 5 && significant <= "65535"));
};
constexpr auto isAnything = [](const std::string &) { return true; };

constexpr const char *badState = "代理开关命令格式无效。", *badEndpoint = "代理地址命令格式无效。";

// Every verb the helper knows, with the element counts of its whole line (path, verb and
// service included) and what its last element must be.
constexpr struct Verb {
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

} // namespace

std::optional<std::string> grammarRefusal(const Commands &commands)
{
    if (commands.empty() || commands.size() > 128)
        return "代理命令数量无效。";
    for (const auto &line : commands) {
        if (line.size() < 3 || line.size() > 132 || line[0] != "/usr/sbin/networksetup")
            return "后台服务拒绝了未知的系统命令。";
        if (std::ranges::any_of(line, [](const std::string &element) {
                return element.empty() || element.size() > 1024
                    || element.find_first_of({ "\0\n\r", 3 }) != std::string::npos;
            }))
            return "代理命令包含无效字符。";
        const auto rule = std::ranges::find(verbs, line[1], &Verb::verb);
        if (rule == std::end(verbs))
            return "后台服务拒绝了不允许的代理操作。";
        if (line.size() < rule->fewest || line.size() > rule->most || !rule->last(line.back()))
            return rule->refusal;
    }
    return std::nullopt;
}

std::optional<Commands> requestModel(std::string_view bytes)
{
    const std::optional<Json> value = jsonOf(bytes);
    const Json *lines = value ? member(&*value, "commands") : nullptr;
    return lines ? listOf<Commands>(listOf<std::vector<std::string>>(stringOf))(*lines) : std::nullopt;
}

} // namespace veyra::fuzz
