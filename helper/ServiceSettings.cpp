#include "ServiceSettings.h"

#include "ToolRunner.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <stdexcept>

namespace veyra::helper {

namespace {

using Dictionary = std::map<std::string, std::string>;

std::string lowercased(std::string text)
{
    std::transform(
        text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmedOf(const std::string &text, const char *characters)
{
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

std::vector<std::string> nonEmptyLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty())
            lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// "Key: value" lines split at the first colon, as the application reads them: both sides must
// be non-empty, the key is trimmed of spaces and tabs and lower-cased, the value trimmed of
// spaces and tabs, and a later key replaces an earlier one.
Dictionary dictionary(const std::string &text)
{
    Dictionary map;
    for (const std::string &line : nonEmptyLines(text)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || colon == line.size() - 1)
            continue;
        map[lowercased(trimmedOf(line.substr(0, colon), " \t"))] = trimmedOf(line.substr(colon + 1), " \t");
    }
    return map;
}

bool isEnabled(const Dictionary &map)
{
    auto found = map.find("enabled");
    if (found == map.end())
        found = map.find("auto proxy discovery");
    const std::string value = found == map.end() ? std::string() : lowercased(found->second);
    return value == "yes" || value == "on" || value == "1" || value == "true";
}

// An optional sign and digits only; 0 for anything else.
std::int64_t portOf(const std::string &text)
{
    const std::size_t sign = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() == sign || !std::all_of(text.begin() + sign, text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const char *begin = text.data() + (text[0] == '+' ? 1 : 0);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

EndpointSettings endpointOf(const std::string &text)
{
    const Dictionary map = dictionary(text);
    const auto server = map.find("server");
    const auto port = map.find("port");
    return { isEnabled(map), server == map.end() ? std::string() : trimmed(server->second),
        port == map.end() ? 0 : portOf(port->second) };
}

nlohmann::json endpointJson(const EndpointSettings &endpoint)
{
    return { { "enabled", endpoint.enabled }, { "server", endpoint.server }, { "port", endpoint.port } };
}

EndpointSettings endpointFromJson(const nlohmann::json &json)
{
    return { json.at("enabled").get<bool>(), json.at("server").get<std::string>(), json.at("port").get<std::int64_t>() };
}

} // namespace

bool isLoopbackHost(const std::string &host)
{
    const std::string lower = lowercased(host);
    return lower == "127.0.0.1" || lower == "localhost" || lower == "::1";
}

bool ServiceSettings::pointsAtLoopback() const
{
    return std::any_of(&web, &socks + 1, [](const EndpointSettings &e) { return e.enabled && isLoopbackHost(e.server); });
}

const EndpointSettings *ServiceSettings::endpoint(const std::string &kind) const
{
    if (kind == "webproxy")
        return &web;
    if (kind == "securewebproxy")
        return &secureWeb;
    if (kind == "socksfirewallproxy")
        return &socks;
    return nullptr;
}

nlohmann::json ServiceSettings::toJson() const
{
    return { { "web", endpointJson(web) }, { "secureWeb", endpointJson(secureWeb) }, { "socks", endpointJson(socks) },
        { "bypassDomains", bypassDomains }, { "autoProxyURL", autoProxyURL }, { "autoProxyEnabled", autoProxyEnabled },
        { "autoDiscoveryEnabled", autoDiscoveryEnabled } };
}

ServiceSettings ServiceSettings::fromJson(const nlohmann::json &json)
{
    ServiceSettings settings;
    settings.web = endpointFromJson(json.at("web"));
    settings.secureWeb = endpointFromJson(json.at("secureWeb"));
    settings.socks = endpointFromJson(json.at("socks"));
    settings.bypassDomains = json.at("bypassDomains").get<std::vector<std::string>>();
    settings.autoProxyURL = json.at("autoProxyURL").get<std::string>();
    settings.autoProxyEnabled = json.at("autoProxyEnabled").get<bool>();
    settings.autoDiscoveryEnabled = json.at("autoDiscoveryEnabled").get<bool>();
    return settings;
}

ServiceSettings readServiceSettings(
    const std::string &toolPath, const std::vector<std::string> &toolEnvironment, const std::string &service)
{
    const auto read = [&](const char *verb) {
        const ToolOutcome outcome = runTool(toolPath, { verb, service }, toolEnvironment);
        if (outcome.exitStatus != 0) {
            std::string text = trimmed(repairUtf8(outcome.standardError));
            throw std::runtime_error(text.empty() ? trimmed(repairUtf8(outcome.standardOutput)) : text);
        }
        return repairUtf8(outcome.standardOutput);
    };
    ServiceSettings settings;
    settings.web = endpointOf(read("-getwebproxy"));
    settings.secureWeb = endpointOf(read("-getsecurewebproxy"));
    settings.socks = endpointOf(read("-getsocksfirewallproxy"));
    for (const std::string &line : nonEmptyLines(read("-getproxybypassdomains"))) {
        const std::string lower = lowercased(line);
        if (lower.find("there aren't any") == std::string::npos && lower.find("no bypass") == std::string::npos)
            settings.bypassDomains.push_back(line);
    }
    const Dictionary autoProxy = dictionary(read("-getautoproxyurl"));
    const auto url = autoProxy.find("url");
    settings.autoProxyURL = url == autoProxy.end() ? std::string() : url->second;
    settings.autoProxyEnabled = isEnabled(autoProxy);
    const std::string discovery = lowercased(read("-getproxyautodiscovery"));
    settings.autoDiscoveryEnabled = discovery.find("on") != std::string::npos
        || discovery.find("yes") != std::string::npos || discovery.find("enabled: 1") != std::string::npos;
    return settings;
}

} // namespace veyra::helper
