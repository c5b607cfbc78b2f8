#pragma once

#include "SettingsRecord.h"
#include "ToolRunner.h"

#include "veyra/ipc/ProxyHelperConstants.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <string>
#include <string_view>
#include <vector>

namespace veyra::helper {

// What the helper does with one request: size check, decode, validate every line against the
// grammar and then against what the settings were before the helper first pointed them at this
// machine (its own record, kept in `recordFile`), record the services the request points here
// whose settings are their own, then run the lines in order with the networksetup tool, stopping
// at the first failure. Decoding and the grammar run concurrently for all connections; the rest is
// one request at a time, so two requests never interleave their changes of the one set of system
// settings or of the record.
class ProxyHelperService {
public:
    // The tool runs with `toolEnvironment` only; the product always passes the minimal one.
    ProxyHelperService(std::string toolPath, std::string recordFile,
        std::vector<std::string> toolEnvironment = minimalToolEnvironment());

    // The reply bytes for the request bytes; never throws. `peer` names the caller in the log.
    std::string execute(std::string_view request, const std::string &peer = {}) const;

    // The reply to a request known to be too large, without looking at its bytes.
    static std::string oversizedReply();

    // Runs the tool with the arguments after the program path; throws
    // ProxyHelperValidationError with the tool's trimmed error output (or the generic text)
    // when it exits non-zero, ToolLaunchError when it cannot start.
    void runNetworkSetup(const std::vector<std::string> &arguments) const;

    static constexpr const char *successText = "系统代理设置已更新。";
    static constexpr const char *oversizedText = "后台服务请求超过大小限制。";
    static constexpr const char *genericFailureText = "系统代理设置失败。";
    static constexpr std::string_view containmentText = ipc::ProxyHelperConstants::containmentRefusal;

private:
    ipc::ProxyHelperResponse outcome(std::string_view request, const std::string &peer) const;
    void recordServicesPointedHere(const ipc::CommandList &commands, SettingsRecord::Services &record) const;

    std::string m_toolPath;
    SettingsRecord m_record;
    std::vector<std::string> m_toolEnvironment;
};

// The encoded response, or the fixed fallback bytes when it cannot be encoded.
std::string encodeReply(const ipc::ProxyHelperResponse &response);

} // namespace veyra::helper
