#pragma once

#include "ToolRunner.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <string>
#include <string_view>
#include <vector>

namespace veyra::helper {

// What the helper does with one request: size check, decode, validate every line, then run
// the lines in order with the networksetup tool, stopping at the first failure. Decoding and
// validation run concurrently for all connections; running the lines is one request at a
// time, so two requests never interleave their changes of the one set of system settings.
class ProxyHelperService {
public:
    // The tool runs with `toolEnvironment` only; the product always passes the minimal one.
    explicit ProxyHelperService(
        std::string toolPath, std::vector<std::string> toolEnvironment = minimalToolEnvironment());

    // The reply bytes for the request bytes; never throws.
    std::string execute(std::string_view request) const;

    // The reply to a request known to be too large, without looking at its bytes.
    static std::string oversizedReply();

    // Runs the tool with the arguments after the program path; throws
    // ProxyHelperValidationError with the tool's trimmed error output (or the generic text)
    // when it exits non-zero, ToolLaunchError when it cannot start.
    void runNetworkSetup(const std::vector<std::string> &arguments) const;

    static constexpr const char *successText = "系统代理设置已更新。";
    static constexpr const char *oversizedText = "后台服务请求超过大小限制。";
    static constexpr const char *genericFailureText = "系统代理设置失败。";

private:
    ipc::ProxyHelperResponse outcome(std::string_view request) const;

    std::string m_toolPath;
    std::vector<std::string> m_toolEnvironment;
};

// The encoded response, or the fixed fallback bytes when it cannot be encoded.
std::string encodeReply(const ipc::ProxyHelperResponse &response);

} // namespace veyra::helper
