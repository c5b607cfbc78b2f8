#include "veyra/ipc/ProxyCommandValidator.h"

#include "veyra/ipc/ProxyHelperConstants.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>

namespace veyra::ipc::ProxyCommandValidator {

namespace {

constexpr std::array<std::string_view, 5> stateCommands = {
    "-setautoproxystate",
    "-setproxyautodiscovery",
    "-setwebproxystate",
    "-setsecurewebproxystate",
    "-setsocksfirewallproxystate",
};

constexpr std::array<std::string_view, 3> endpointCommands = {
    "-setwebproxy",
    "-setsecurewebproxy",
    "-setsocksfirewallproxy",
};

template <std::size_t N> bool contains(const std::array<std::string_view, N> &set, std::string_view verb)
{
    return std::find(set.begin(), set.end(), verb) != set.end();
}

[[noreturn]] void refuse(const char *message)
{
    throw ProxyHelperValidationError(message);
}

bool isCleanElement(const std::string &element)
{
    if (element.empty() || element.size() > maximumElementBytes)
        return false;
    return element.find_first_of(std::string_view("\0\n\r", 3)) == std::string::npos;
}

std::string lowercased(std::string text)
{
    std::transform(
        text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Base-10 digits only, no overflow, 1 to 65535: the tool itself refuses a sign, so a line the
// grammar lets through must not fail there.
bool isPort(const std::string &text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 1 && value <= 65'535;
}

void validateLine(const CommandLine &line)
{
    if (line.size() < minimumElements || line.size() > maximumElements
        || line.front() != ProxyHelperConstants::networkSetupPath)
        refuse("后台服务拒绝了未知的系统命令。");
    if (!std::all_of(line.begin(), line.end(), isCleanElement))
        refuse("代理命令包含无效字符。");

    const std::string &verb = line[1];
    const std::size_t n = line.size();
    if (contains(stateCommands, verb)) {
        if (n != 4)
            refuse("代理开关命令格式无效。");
        const std::string value = lowercased(line[3]);
        if (value != "on" && value != "off")
            refuse("代理开关命令格式无效。");
    } else if (contains(endpointCommands, verb)) {
        if (n != 5 || !isPort(line[4]))
            refuse("代理地址命令格式无效。");
    } else if (verb == "-setproxybypassdomains") {
        if (n < 4)
            refuse("代理绕过域名命令格式无效。");
    } else if (verb == "-setautoproxyurl") {
        if (n != 4)
            refuse("自动代理地址命令格式无效。");
    } else {
        refuse("后台服务拒绝了不允许的代理操作。");
    }
}

} // namespace

void validate(const CommandList &commands)
{
    if (commands.empty() || commands.size() > maximumCommandLines)
        refuse("代理命令数量无效。");
    for (const CommandLine &line : commands)
        validateLine(line);
}

} // namespace veyra::ipc::ProxyCommandValidator
