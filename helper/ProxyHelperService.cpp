#include "ProxyHelperService.h"

#include "ContainmentPolicy.h"

#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperConstants.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <cstdio>
#include <mutex>

namespace veyra::helper {

using ipc::ProxyHelperResponse;

namespace {

// The settings the tool changes exist once per system, whatever the number of services or
// connections, so the lock that keeps one request's lines together is one per process.
std::mutex &systemSettingsLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

std::string encodeReply(const ProxyHelperResponse &response)
{
    try {
        return response.encode();
    } catch (...) {
        return std::string(ProxyHelperResponse::fallbackBytes);
    }
}

ProxyHelperService::ProxyHelperService(
    std::string toolPath, std::string recordFile, std::vector<std::string> toolEnvironment)
    : m_toolPath(std::move(toolPath))
    , m_record(std::move(recordFile))
    , m_toolEnvironment(std::move(toolEnvironment))
{
}

std::string ProxyHelperService::oversizedReply()
{
    return encodeReply({ false, oversizedText });
}

std::string ProxyHelperService::execute(std::string_view request, const std::string &peer) const
{
    return encodeReply(outcome(request, peer));
}

ProxyHelperResponse ProxyHelperService::outcome(std::string_view bytes, const std::string &peer) const
{
    if (bytes.size() > ipc::ProxyHelperConstants::maximumRequestBytes)
        return { false, oversizedText };
    ipc::ProxyHelperRequest request;
    try {
        request = ipc::ProxyHelperRequest::decode(bytes);
        ipc::ProxyCommandValidator::validate(request.commands);
    } catch (const std::exception &error) {
        return { false, error.what() };
    }
    std::lock_guard serialized(systemSettingsLock());
    SettingsRecord::Services record = m_record.load();
    if (auto problem = containmentProblem(request.commands, record)) {
        std::fprintf(stderr, "VeyraProxyHelper: refused the request of %s: %s\n",
            peer.empty() ? "an unnamed peer" : peer.c_str(), problem->c_str());
        return { false, std::string(containmentText) };
    }
    try {
        recordServicesPointedHere(request.commands, record);
        for (const ipc::CommandLine &line : request.commands)
            runNetworkSetup(std::vector<std::string>(line.begin() + 1, line.end()));
    } catch (const std::exception &error) {
        return { false, error.what() };
    }
    return { true, successText };
}

// A service's settings are recorded when they are its own, that is when none of its proxies
// points here yet; settings that already point here (left by a run that never restored them)
// keep the record taken before. So a restore can always go back to what the machine had, and
// only to that.
void ProxyHelperService::recordServicesPointedHere(
    const ipc::CommandList &commands, SettingsRecord::Services &record) const
{
    bool changed = false;
    for (const std::string &service : servicesPointedAtLoopback(commands)) {
        ServiceSettings now = readServiceSettings(m_toolPath, m_toolEnvironment, service);
        if (record.count(service) && now.pointsAtLoopback())
            continue;
        record[service] = std::move(now);
        changed = true;
    }
    if (changed)
        m_record.save(record);
}

void ProxyHelperService::runNetworkSetup(const std::vector<std::string> &arguments) const
{
    ToolOutcome result = runTool(m_toolPath, arguments, m_toolEnvironment);
    if (result.exitStatus == 0)
        return;
    std::string text = trimmed(repairUtf8(result.standardError));
    if (text.empty())
        text = trimmed(repairUtf8(result.standardOutput));
    if (text.empty())
        text = genericFailureText;
    throw ipc::ProxyHelperValidationError(text);
}

} // namespace veyra::helper
