#include "HelperTestSupport.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace veyra::helper::test {

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "veyra-helper-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    fs::permissions(m_path, fs::perms(0755));
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

void copyExecutable(const fs::path &from, const fs::path &to)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms(0755));
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    fs::permissions(path, fs::perms(0644));
}

StandInState::StandInState(const fs::path &directory)
    : m_path(directory / "state.json")
{
    write({ { "services", { serviceRecord("Wi-Fi", "192.168.1.20"), serviceRecord("Ethernet", "10.0.0.5") } },
        { "failures", nlohmann::json::array() }, { "history", nlohmann::json::array() } });
}

nlohmann::json StandInState::serviceRecord(const std::string &name, const std::string &address, bool enabled)
{
    const nlohmann::json off = { { "enabled", false }, { "server", "" }, { "port", 0 } };
    return { { "name", name }, { "enabled", enabled }, { "ipAddress", address }, { "web", off }, { "secureWeb", off },
        { "socks", off }, { "bypassDomains", nlohmann::json::array() }, { "autoProxyURL", "" },
        { "autoProxyEnabled", false }, { "autoDiscoveryEnabled", false } };
}

nlohmann::json StandInState::read() const
{
    std::ifstream in(m_path);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str());
}

void StandInState::write(const nlohmann::json &state) const
{
    writeFile(m_path, state.dump(2));
}

void StandInState::failOn(const std::string &verb, int status, const std::string &standardError,
    const std::string &standardOutput, const std::string &service) const
{
    nlohmann::json state = read();
    nlohmann::json rule
        = { { "verb", verb }, { "status", status }, { "stderr", standardError }, { "stdout", standardOutput } };
    if (!service.empty())
        rule["service"] = service;
    state["failures"].push_back(rule);
    write(state);
}

std::vector<std::vector<std::string>> StandInState::history() const
{
    if (!fs::exists(m_path))
        return {};
    return read().value("history", nlohmann::json::array()).get<std::vector<std::vector<std::string>>>();
}

nlohmann::json StandInState::service(const std::string &name) const
{
    const nlohmann::json state = read();
    for (const auto &service : state["services"])
        if (service["name"] == name)
            return service;
    return nullptr;
}

std::vector<std::string> StandInState::toolEnvironment() const
{
    std::vector<std::string> environment = minimalToolEnvironment();
    environment.push_back("VEYRA_NETWORKSETUP_STATE=" + m_path.string());
    return environment;
}

void StandInState::writeLauncher(const fs::path &launcher) const
{
    writeScript(launcher,
        "VEYRA_NETWORKSETUP_STATE='" + m_path.string() + "' exec '" VEYRA_NETWORKSETUP_EXECUTABLE "' \"$@\"\n");
}

void writeScript(const fs::path &path, const std::string &body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms(0755));
}

TestBundle::TestBundle(const fs::path &root)
    : bundle(root / "Test.app")
    , macos(bundle / "Contents" / "MacOS")
    , mainExecutable(macos / "VeyraNetworkAssistant")
    , helper(macos / "VeyraProxyHelper")
{
    fs::create_directories(macos);
    for (const fs::path &directory : { bundle, bundle / "Contents", macos })
        fs::permissions(directory, fs::perms(0755));
    copyExecutable(VEYRA_TEST_CLIENT, mainExecutable);
    copyExecutable(VEYRA_HELPER_EXECUTABLE, helper);
}

ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, bool unprivileged)
{
    if (unprivileged)
        return runClientAs(nobody, client, socket, requestFile);
    return runTool(client.string(), { socket.string(), requestFile.string() });
}

ToolOutcome runPrivileged(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment, std::chrono::milliseconds timeLimit)
{
    return runTool(program, arguments, environment, 65'536, timeLimit, ToolCapabilities::inherited);
}

ToolOutcome runClientAs(uid_t uid, const fs::path &client, const fs::path &socket, const fs::path &requestFile)
{
    const std::string id = std::to_string(uid);
    return runPrivileged("/usr/bin/setpriv",
        { "--reuid=" + id, "--regid=" + id, "--clear-groups", client.string(), socket.string(), requestFile.string() });
}

std::string requestJson(const std::vector<std::vector<std::string>> &commands)
{
    return ipc::ProxyHelperRequest { commands }.encode();
}

} // namespace veyra::helper::test
