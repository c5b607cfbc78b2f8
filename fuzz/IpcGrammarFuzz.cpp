#include "FuzzTarget.h"
#include "GrammarModel.h"

#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

using namespace veyra::ipc;

namespace {

// Command lines separated by 0x1E, their elements by 0x1F; an empty line has no elements and
// an empty input no lines. Every other byte, NUL and line breaks included, is element text.
CommandList commandsFrom(std::string_view input)
{
    CommandList commands;
    if (input.empty())
        return commands;
    std::size_t lineStart = 0;
    for (;;) {
        const std::size_t lineEnd = std::min(input.find('\x1e', lineStart), input.size());
        const std::string_view line = input.substr(lineStart, lineEnd - lineStart);
        CommandLine elements;
        if (!line.empty()) {
            std::size_t start = 0;
            for (;;) {
                const std::size_t end = std::min(line.find('\x1f', start), line.size());
                elements.emplace_back(line.substr(start, end - start));
                if (end == line.size())
                    break;
                start = end + 1;
            }
        }
        commands.push_back(std::move(elements));
        if (lineEnd == input.size())
            break;
        lineStart = lineEnd + 1;
    }
    return commands;
}

} // namespace

VEYRA_FUZZ_TARGET(ipcGrammar)
{
    const CommandList commands = commandsFrom(input);
    std::optional<std::string> refusal;
    try {
        ProxyCommandValidator::validate(commands);
    } catch (const ProxyHelperValidationError &error) {
        FUZZ_EXPECT(std::string(error.what()) == error.message(), "what() differs from the message");
        refusal = error.message();
    }
    const std::optional<std::string> expected = veyra::fuzz::grammarRefusal(commands);
    FUZZ_EXPECT(refusal == expected,
        (refusal ? *refusal : std::string("accepted")) + " but the rules say "
            + (expected ? *expected : std::string("accepted")));
}
