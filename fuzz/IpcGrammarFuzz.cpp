#include "FuzzModels.h"
#include "FuzzTarget.h"
#include "GrammarModel.h"

#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

using namespace veyra::ipc;

namespace {

std::vector<std::string> split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (std::size_t start = 0;; ) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        parts.emplace_back(text.substr(start, end - start));
        if (end == text.size())
            return parts;
        start = end + 1;
    }
}

} // namespace

// Input: command lines separated by 0x1E, their elements by 0x1F; an empty line has no
// elements and an empty input no lines. Every other byte, NUL and line breaks included, is
// element text.
VEYRA_FUZZ_TARGET(ipcGrammar)
{
    CommandList commands;
    if (!input.empty())
        for (const std::string &line : split(input, '\x1e'))
            commands.push_back(line.empty() ? CommandLine() : split(line, '\x1f'));
    std::optional<std::string> refusal;
    try {
        ProxyCommandValidator::validate(commands);
    } catch (const ProxyHelperValidationError &error) {
        FUZZ_EXPECT(std::string(error.what()) == error.message(), "what() differs from the message");
        refusal = error.message();
    }
    const std::optional<std::string> expected = grammarRefusal(commands);
    FUZZ_EXPECT(refusal == expected, refusal.value_or("accepted") + " but the rules say " + expected.value_or("accepted"));
}
