#include "Verbs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <map>

namespace {

using nlohmann::json;
using Arguments = std::vector<std::string>;

constexpr int invalidParameters = 4;
constexpr std::size_t keptHistory = 1000;

std::string lower(std::string text)
{
    std::transform(
        text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

json *findService(NetworkState &state, const std::string &name)
{
    for (json &service : state.data()["services"])
        if (service.value("name", "") == name)
            return &service;
    return nullptr;
}

int unknownService(const std::string &name, std::ostream &err)
{
    err << name << " is not a recognized network service.\n** Error: The parameters were not valid.\n";
    return invalidParameters;
}

int badArguments(const std::string &verb, std::ostream &err)
{
    err << "Usage error for " << verb << ".\n** Error: The parameters were not valid.\n";
    return invalidParameters;
}

bool parseSwitch(const std::string &text, bool &value)
{
    const std::string word = lower(text);
    if (word != "on" && word != "off")
        return false;
    value = word == "on";
    return true;
}

bool parsePort(const std::string &text, long long &port)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && port >= 0 && port <= 65535;
}

const char *yesNo(bool value)
{
    return value ? "Yes" : "No";
}

struct Verb {
    std::size_t minimum; // arguments after the verb, service included
    std::size_t maximum;
    bool changes;
    std::function<int(json &service, const Arguments &rest, std::ostream &out, std::ostream &err)> run;
};

// Keys of the state's endpoint objects, by the word networksetup uses in its verbs.
const std::map<std::string, std::string> endpointKeys = {
    { "webproxy", "web" },
    { "securewebproxy", "secureWeb" },
    { "socksfirewallproxy", "socks" },
};

std::map<std::string, Verb> makeVerbs()
{
    std::map<std::string, Verb> verbs;
    verbs["-getinfo"] = { 1, 1, false, [](json &service, const Arguments &, std::ostream &out, std::ostream &) {
                             const std::string address = service.value("ipAddress", "");
                             out << "DHCP Configuration\n";
                             out << "IP address: " << (address.empty() ? "none" : address) << "\n";
                             if (!address.empty())
                                 out << "Subnet mask: 255.255.255.0\nRouter: 192.168.1.1\n";
                             out << "Client ID: \nIPv6: Automatic\nIPv6 IP address: none\nIPv6 Router: none\n";
                             return 0;
                         } };
    for (const auto &[word, key] : endpointKeys) {
        verbs["-get" + word]
            = { 1, 1, false, [key](json &service, const Arguments &, std::ostream &out, std::ostream &) {
                   const json &e = service[key];
                   out << "Enabled: " << yesNo(e.value("enabled", false)) << "\n";
                   out << "Server: " << e.value("server", "") << "\n";
                   out << "Port: " << e.value("port", 0) << "\n";
                   out << "Authenticated Proxy Enabled: 0\n";
                   return 0;
               } };
        // Host and port, optionally followed by "on|off user password" as macOS allows.
        verbs["-set" + word]
            = { 3, 6, true, [key, word](json &service, const Arguments &rest, std::ostream &, std::ostream &err) {
                   long long port = 0;
                   if (!parsePort(rest[2], port) || rest.size() == 4 || rest.size() == 5)
                       return badArguments("-set" + word, err);
                   json &e = service[key];
                   e["server"] = rest[1];
                   e["port"] = port;
                   e["enabled"] = true;
                   return 0;
               } };
        verbs["-set" + word + "state"]
            = { 2, 2, true, [key, word](json &service, const Arguments &rest, std::ostream &, std::ostream &err) {
                   bool on = false;
                   if (!parseSwitch(rest[1], on))
                       return badArguments("-set" + word + "state", err);
                   service[key]["enabled"] = on;
                   return 0;
               } };
    }
    verbs["-getproxybypassdomains"]
        = { 1, 1, false, [](json &service, const Arguments &, std::ostream &out, std::ostream &) {
               const json &domains = service["bypassDomains"];
               if (domains.empty())
                   out << "There aren't any bypass domains set on " << service.value("name", "") << ".\n";
               for (const json &domain : domains)
                   out << domain.get<std::string>() << "\n";
               return 0;
           } };
    verbs["-setproxybypassdomains"]
        = { 2, 1000, true, [](json &service, const Arguments &rest, std::ostream &, std::ostream &) {
               json domains = json::array();
               if (!(rest.size() == 2 && rest[1] == "Empty"))
                   for (std::size_t i = 1; i < rest.size(); ++i)
                       domains.push_back(rest[i]);
               service["bypassDomains"] = domains;
               return 0;
           } };
    verbs["-getautoproxyurl"] = { 1, 1, false, [](json &service, const Arguments &, std::ostream &out, std::ostream &) {
                                     out << "URL: " << service.value("autoProxyURL", "") << "\n";
                                     out << "Enabled: " << yesNo(service.value("autoProxyEnabled", false)) << "\n";
                                     return 0;
                                 } };
    // As on macOS, setting the configuration address also switches it on.
    verbs["-setautoproxyurl"] = { 2, 2, true, [](json &service, const Arguments &rest, std::ostream &, std::ostream &) {
                                     service["autoProxyURL"] = rest[1];
                                     service["autoProxyEnabled"] = true;
                                     return 0;
                                 } };
    verbs["-setautoproxystate"]
        = { 2, 2, true, [](json &service, const Arguments &rest, std::ostream &, std::ostream &err) {
               bool on = false;
               if (!parseSwitch(rest[1], on))
                   return badArguments("-setautoproxystate", err);
               service["autoProxyEnabled"] = on;
               return 0;
           } };
    verbs["-getproxyautodiscovery"]
        = { 1, 1, false, [](json &service, const Arguments &, std::ostream &out, std::ostream &) {
               out << "Auto Proxy Discovery: " << (service.value("autoDiscoveryEnabled", false) ? "On" : "Off") << "\n";
               return 0;
           } };
    verbs["-setproxyautodiscovery"]
        = { 2, 2, true, [](json &service, const Arguments &rest, std::ostream &, std::ostream &err) {
               bool on = false;
               if (!parseSwitch(rest[1], on))
                   return badArguments("-setproxyautodiscovery", err);
               service["autoDiscoveryEnabled"] = on;
               return 0;
           } };
    return verbs;
}

// A test asked for this invocation to fail: print what it chose and exit with its status.
const json *failureRule(NetworkState &state, const Arguments &arguments)
{
    for (const json &rule : state.data()["failures"]) {
        if (rule.value("verb", "") != arguments[0])
            continue;
        if (rule.contains("service") && (arguments.size() < 2 || rule["service"] != arguments[1]))
            continue;
        // Narrows a rule to one value, e.g. turning a proxy on but not off.
        if (rule.contains("lastArgument") && rule["lastArgument"] != arguments.back())
            continue;
        return &rule;
    }
    return nullptr;
}

} // namespace

int runVerb(NetworkState &state, const Arguments &arguments, std::ostream &out, std::ostream &err)
{
    static const std::map<std::string, Verb> verbs = makeVerbs();
    if (arguments.empty()) {
        err << "Usage: networksetup -<verb> [arguments]\n";
        return 1;
    }
    if (const json *rule = failureRule(state, arguments)) {
        out << rule->value("stdout", "");
        err << rule->value("stderr", "");
        return rule->value("status", 1);
    }
    const std::string &verb = arguments[0];
    if (verb == "-listallnetworkservices") {
        out << "An asterisk (*) denotes that a network service is disabled.\n";
        for (const json &service : state.data()["services"])
            out << (service.value("enabled", true) ? "" : "*") << service.value("name", "") << "\n";
        return 0;
    }
    auto found = verbs.find(verb);
    if (found == verbs.end()) {
        err << verb << " is not a recognized command.\n** Error: The parameters were not valid.\n";
        return invalidParameters;
    }
    const Verb &handler = found->second;
    Arguments rest(arguments.begin() + 1, arguments.end());
    if (rest.size() < handler.minimum || rest.size() > handler.maximum)
        return badArguments(verb, err);
    json *service = findService(state, rest[0]);
    if (!service)
        return unknownService(rest[0], err);
    const int status = handler.run(*service, rest, out, err);
    if (status == 0 && handler.changes) {
        // The latest changes only: a machine whose proxy is switched all day must not grow the
        // file without end.
        json &history = state.data()["history"];
        history.push_back(arguments);
        if (history.size() > keptHistory)
            history.erase(history.begin(), history.begin() + static_cast<std::ptrdiff_t>(history.size() - keptHistory));
        state.save();
    }
    return status;
}
