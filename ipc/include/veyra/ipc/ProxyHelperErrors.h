#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace veyra::ipc {

// A request the grammar refuses, or a command the helper ran that failed. The message is
// the complete sentence the user sees, unchanged by every layer that passes it on.
class ProxyHelperValidationError : public std::exception {
public:
    explicit ProxyHelperValidationError(std::string message)
        : m_message(std::move(message))
    {
    }
    const std::string &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// Bytes that are not a valid request or response record. The text describes what was
// wrong, the way a JSON decoder would.
class ProxyHelperDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace veyra::ipc
