#include "ProxyHelperService.h"

#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperConstants.h"
#include "veyra/ipc/ProxyHelperErrors.h"

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

ProxyHelperService::ProxyHelperService(std::string toolPath, std::vector<std::string> toolEnvironment)
    : m_toolPath(std::move(toolPath))
    , m_toolEnvironment(std::move(toolEnvironment))
{
}

std::string ProxyHelperService::oversizedReply()
{
    return encodeReply({ false, oversizedText });
}

std::string ProxyHelperService::execute(std::string_view request) const
{
    return encodeReply(outcome(request));
}

ProxyHelperResponse ProxyHelperService::outcome(std::string_view bytes) const
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
    try {
        for (const ipc::CommandLine &line : request.commands)
            runNetworkSetup(std::vector<std::string>(line.begin() + 1, line.end()));
    } catch (const std::exception &error) {
        return { false, error.what() };
    }
    return { true, successText };
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
