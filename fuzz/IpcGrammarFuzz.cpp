#include "FuzzModels.h"

#include <QList>

#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

using namespace veyra::ipc;

// Input: command lines separated by 0x1E, their elements by 0x1F; an empty line has no
// elements and an empty input no lines. Every other byte, NUL and line breaks included, is
// element text.
VEYRA_FUZZ_TARGET(ipc_grammar)
{
    CommandList commands;
    for (const QByteArray &line : input.empty() ? QList<QByteArray>() : veyra::fuzz::bytesOf(input).split('\x1e')) {
        commands.emplace_back();
        for (const QByteArray &element : line.isEmpty() ? QList<QByteArray>() : line.split('\x1f'))
            commands.back().push_back(element.toStdString());
    }
    const auto refusal
        = veyra::fuzz::thrownBy<ProxyHelperValidationError>([&] { ProxyCommandValidator::validate(commands); });
    const std::optional<std::string> expected = veyra::fuzz::grammarRefusal(commands);
    FUZZ_EXPECT(
        refusal == expected, refusal.value_or("accepted") + " but the rules say " + expected.value_or("accepted"));
}
