#include "ContainmentPolicy.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <utility>

namespace veyra::helper {

namespace {

// The bypass entries the application applies: this machine's names and the link-local ones,
// which can only keep traffic on the machine or its own link.
constexpr std::array<std::string_view, 5> localBypassEntries = { "localhost", "127.0.0.1", "::1", "*.local",
    "169.254/16" };

// "-setwebproxy" → "webproxy", "-setwebproxystate" → "webproxy"; empty for other verbs.
std::string endpointKind(const std::string &verb, bool state)
{
    for (const char *kind : { "webproxy", "securewebproxy", "socksfirewallproxy" }) {
        const std::string expected = std::string("-set") + kind + (state ? "state" : "");
        if (verb == expected)
            return kind;
    }
    return {};
}

bool isOff(const std::string &value)
{
    return value.size() == 3 && (value[0] | 0x20) == 'o' && (value[1] | 0x20) == 'f' && (value[2] | 0x20) == 'f';
}

std::int64_t portNumber(const std::string &text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : -1;
}

std::string describe(const ipc::CommandLine &line)
{
    std::string text;
    for (std::size_t i = 1; i < line.size(); ++i)
        text += (i > 1 ? " " : "") + line[i];
    return text;
}

} // namespace

std::optional<std::string> containmentProblem(const ipc::CommandList &commands, const SettingsRecord::Services &record)
{
    // Proxies an earlier line of this request pointed at this machine, by service and kind.
    std::set<std::pair<std::string, std::string>> pointedHere;
    for (const ipc::CommandLine &line : commands) {
        const std::string &verb = line[1];
        const std::string &service = line[2];
        const auto recorded = record.find(service);
        const ServiceSettings *before = recorded == record.end() ? nullptr : &recorded->second;
        bool allowed = false;
        if (const std::string kind = endpointKind(verb, false); !kind.empty()) {
            const EndpointSettings *saved = before ? before->endpoint(kind) : nullptr;
            allowed = isLoopbackHost(line[3])
                || (saved && !saved->server.empty() && saved->server == line[3] && saved->port == portNumber(line[4]));
            if (isLoopbackHost(line[3]))
                pointedHere.insert({ service, kind });
            else
                pointedHere.erase({ service, kind });
        } else if (const std::string stateKind = endpointKind(verb, true); !stateKind.empty()) {
            allowed = isOff(line[3]) || pointedHere.count({ service, stateKind })
                || (before && before->endpoint(stateKind)->enabled);
        } else if (verb == "-setautoproxystate") {
            allowed = isOff(line[3]) || (before && before->autoProxyEnabled);
        } else if (verb == "-setproxyautodiscovery") {
            allowed = isOff(line[3]) || (before && before->autoDiscoveryEnabled);
        } else if (verb == "-setautoproxyurl") {
            allowed = before && !before->autoProxyURL.empty() && before->autoProxyURL == line[3];
        } else if (verb == "-setproxybypassdomains") {
            std::vector<std::string> domains(line.begin() + 3, line.end());
            if (domains == std::vector<std::string> { "Empty" })
                domains.clear();
            const bool local = !domains.empty() && std::all_of(domains.begin(), domains.end(), [](const std::string &d) {
                return std::find(localBypassEntries.begin(), localBypassEntries.end(), d) != localBypassEntries.end();
            });
            allowed = local || (before ? domains == before->bypassDomains : domains.empty());
        }
        if (!allowed) {
            // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a literal + a temporary string.
            std::string problem = "\"";
            problem += describe(line);
            problem += "\" neither points at this machine nor restores the recorded settings";
            if (!before)
                problem += " (nothing is recorded for this service)";
            return problem;
        }
    }
    return std::nullopt;
}

std::set<std::string> servicesPointedAtLoopback(const ipc::CommandList &commands)
{
    std::set<std::string> services;
    for (const ipc::CommandLine &line : commands)
        if (!endpointKind(line[1], false).empty() && isLoopbackHost(line[3]))
            services.insert(line[2]);
    return services;
}

} // namespace veyra::helper
