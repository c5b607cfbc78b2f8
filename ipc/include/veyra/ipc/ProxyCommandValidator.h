#pragma once

#include "veyra/ipc/ProxyHelperRecords.h"

namespace veyra::ipc::ProxyCommandValidator {

// Decides which command lines may run as root. Returns normally when every line is allowed;
// otherwise throws ProxyHelperValidationError with the message of the first failed check.
// Pure and thread-safe.
void validate(const CommandList &commands);

inline constexpr std::size_t maximumCommandLines = 128;
inline constexpr std::size_t minimumElements = 3;
inline constexpr std::size_t maximumElements = 132;
inline constexpr std::size_t maximumElementBytes = 1'024;

} // namespace veyra::ipc::ProxyCommandValidator
