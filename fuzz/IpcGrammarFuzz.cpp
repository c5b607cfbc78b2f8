#include "FuzzModels.h"

#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

using namespace veyra::ipc;

namespace {

std::vector<std::string> split(std::string_view text, char separator)
{
    std::vector<std::string> parts { std::string() };
    for (char c : text)
        if (c == separator)
            parts.emplace_back();
        else
            parts.back().push_back(c);
    return parts;
}

} // namespace

// Input: command lines separated by 0x1E, their elements by 0x1F; an empty line has no
// elements and an empty input no lines. Every other byte, NUL and line breaks included, is
// element text.
VEYRA_FUZZ_TARGET(ipc_grammar)
{
    CommandList commands;
    for (const std::string &line : input.empty() ? std::vector<std::string>() : split(input, '\x1e'))
        commands.push_back(line.empty() ? CommandLine() : split(line, '\x1f'));
    const auto refusal
        = veyra::fuzz::thrownBy<ProxyHelperValidationError>([&] { ProxyCommandValidator::validate(commands); });
    const std::optional<std::string> expected = veyra::fuzz::grammarRefusal(commands);
    FUZZ_EXPECT(
        refusal == expected, refusal.value_or("accepted") + " but the rules say " + expected.value_or("accepted"));
}
