#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veyra::fuzz {

// A second statement of the helper's command grammar, written from its rules as tables and
// character classes, sharing no code with the validator. Nothing when every line is allowed,
// else the refusal text of the first rule broken.
std::optional<std::string> grammarRefusal(const std::vector<std::vector<std::string>> &commands);

} // namespace veyra::fuzz
