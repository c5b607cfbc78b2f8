#include "StandInState.h"

#include "ToolRunner.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
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
    std::stringstream text;
    text << std::ifstream(m_path).rdbuf();
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
    state["failures"].push_back(
        { { "verb", verb }, { "status", status }, { "stderr", standardError }, { "stdout", standardOutput } });
    if (!service.empty())
        state["failures"].back()["service"] = service;
    write(state);
}

std::vector<std::vector<std::string>> StandInState::history() const
{
    return fs::exists(m_path)
        ? read().value("history", nlohmann::json::array()).get<std::vector<std::vector<std::string>>>()
        : std::vector<std::vector<std::string>> {};
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

void writeScript(const fs::path &path, const std::string &body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms(0755));
}

} // namespace veyra::helper::test
