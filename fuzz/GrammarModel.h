#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace veyra::fuzz {

// A second statement of the helper's command grammar, written from its rules as tables and
// character classes, sharing no code with the validator. Nothing when every line is allowed,
// else the refusal text of the first rule broken.
std::optional<std::string> grammarRefusal(const std::vector<std::vector<std::string>> &commands);

// The request record's rules: a JSON object whose "commands" is an array of arrays of strings;
// other keys do not matter. Nothing when the value breaks them.
std::optional<std::vector<std::vector<std::string>>> requestModel(const nlohmann::json &value);

} // namespace veyra::fuzz
