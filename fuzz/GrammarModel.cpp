#include "GrammarModel.h"
#include "FuzzModels.h"

#include <algorithm>

namespace veyra::fuzz {

namespace {

enum class LastArgument { onOrOff, port, anything };

struct VerbRule {
    std::string_view verb;
    std::size_t fewestElements;
    std::size_t mostElements;
    LastArgument last;
    const char *refusal;
};

constexpr const char *badState = "代理开关命令格式无效。";
constexpr const char *badEndpoint = "代理地址命令格式无效。";

// Every verb the helper knows, with the element counts of its whole line (path, verb and
// service included) and what its last element must be.
constexpr VerbRule verbs[] = {
    { "-setautoproxystate", 4, 4, LastArgument::onOrOff, badState },
    { "-setproxyautodiscovery", 4, 4, LastArgument::onOrOff, badState },
    { "-setwebproxystate", 4, 4, LastArgument::onOrOff, badState },
    { "-setsecurewebproxystate", 4, 4, LastArgument::onOrOff, badState },
    { "-setsocksfirewallproxystate", 4, 4, LastArgument::onOrOff, badState },
    { "-setwebproxy", 5, 5, LastArgument::port, badEndpoint },
    { "-setsecurewebproxy", 5, 5, LastArgument::port, badEndpoint },
    { "-setsocksfirewallproxy", 5, 5, LastArgument::port, badEndpoint },
    { "-setproxybypassdomains", 4, 132, LastArgument::anything, "代理绕过域名命令格式无效。" },
    { "-setautoproxyurl", 4, 4, LastArgument::anything, "自动代理地址命令格式无效。" },
};

// Every spelling of on and off in any letter case, listed out.
constexpr std::string_view switchWords[]
    = { "on", "On", "oN", "ON", "off", "Off", "oFf", "ofF", "OFf", "OfF", "oFF", "OFF" };

// Decimal digits only (the tool refuses a sign), the value 1 to 65535; leading zeros do not
// change the value.
bool isPortNumber(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const std::string significant = text.substr(std::min(text.find_first_not_of('0'), text.size()));
    return !significant.empty() && (significant.size() < 5 || (significant.size() == 5 && significant <= "65535"));
}

bool isCleanElement(const std::string &element)
{
    if (element.empty() || element.size() > 1024)
        return false;
    for (char c : element)
        if (c == '\0' || c == '\n' || c == '\r')
            return false;
    return true;
}

std::optional<std::string> lineRefusal(const std::vector<std::string> &line)
{
    if (line.size() < 3 || line.size() > 132 || line[0] != "/usr/sbin/networksetup")
        return "后台服务拒绝了未知的系统命令。";
    for (const std::string &element : line)
        if (!isCleanElement(element))
            return "代理命令包含无效字符。";
    for (const VerbRule &rule : verbs) {
        if (line[1] != rule.verb)
            continue;
        if (line.size() < rule.fewestElements || line.size() > rule.mostElements)
            return rule.refusal;
        if (rule.last == LastArgument::onOrOff && std::ranges::count(switchWords, line.back()) == 0)
            return rule.refusal;
        if (rule.last == LastArgument::port && !isPortNumber(line.back()))
            return rule.refusal;
        return std::nullopt;
    }
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
    const std::optional<nlohmann::json> value = jsonOf(bytes);
    if (!value || !value->is_object() || !value->contains("commands") || !(*value)["commands"].is_array())
        return std::nullopt;
    Commands commands;
    for (const nlohmann::json &line : (*value)["commands"]) {
        if (!line.is_array())
            return std::nullopt;
        commands.emplace_back();
        for (const nlohmann::json &element : line) {
            if (!element.is_string())
                return std::nullopt;
            commands.back().push_back(element.get<std::string>());
        }
    }
    return commands;
}

} // namespace veyra::fuzz
