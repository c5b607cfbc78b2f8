#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veyra::fuzz {

using Commands = std::vector<std::vector<std::string>>;

// A second statement of the helper's command grammar, written from its rules as tables and
// character classes, sharing no code with the validator. Nothing when every line is allowed,
// else the refusal text of the first rule broken.
std::optional<std::string> grammarRefusal(const Commands &commands);

// The request record's rules over its bytes: JSON, an object whose "commands" is an array of
// arrays of strings; other keys do not matter. Nothing when the bytes break them.
std::optional<Commands> requestModel(std::string_view bytes);

} // namespace veyra::fuzz
