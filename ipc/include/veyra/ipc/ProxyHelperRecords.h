#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veyra::ipc {

using CommandLine = std::vector<std::string>;
using CommandList = std::vector<CommandLine>;

// What the application asks the helper to run: full networksetup command lines, in order.
struct ProxyHelperRequest {
    CommandList commands;

    std::string encode() const;
    // Throws ProxyHelperDecodingError, and nothing else, when the bytes are not JSON (numbers
    // out of range and invalid UTF-8 included) or "commands" is missing or not an array of
    // arrays of strings.
    static ProxyHelperRequest decode(std::string_view bytes);
};

// The helper's one reply per request.
struct ProxyHelperResponse {
    bool success = false;
    std::string message;

    // Keys in the order "success", "message". Throws nlohmann's type_error when the message
    // is not valid UTF-8; the helper then answers with fallbackBytes instead.
    std::string encode() const;
    // Throws ProxyHelperDecodingError, and nothing else, for bytes that are not a response.
    static ProxyHelperResponse decode(std::string_view bytes);

    // Sent when a response cannot be encoded.
    static constexpr std::string_view fallbackBytes = R"({"success":false,"message":"后台服务返回数据失败。"})";
};

} // namespace veyra::ipc
