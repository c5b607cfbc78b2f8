#include "FuzzModels.h"
#include "FuzzTarget.h"
#include "GrammarModel.h"

#include "Errors.h"
#include "PrivilegedProxyClient.h"
#include "ProxyHelperService.h"
#include "ToolRunner.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <algorithm>
#include <cstring>

using namespace veyra;
using veyra::fuzz::printable;

namespace {

// Unicode's table of well-formed UTF-8 sequences: by lead byte, the sequence's length and the
// range of its second byte; every later byte is 80..BF.
struct Lead {
    unsigned char from, to;
    std::size_t length;
    unsigned char secondFrom, secondTo;
};
constexpr Lead leads[] = {
    { 0x00, 0x7F, 1, 0, 0 },
    { 0xC2, 0xDF, 2, 0x80, 0xBF },
    { 0xE0, 0xE0, 3, 0xA0, 0xBF },
    { 0xE1, 0xEC, 3, 0x80, 0xBF },
    { 0xED, 0xED, 3, 0x80, 0x9F },
    { 0xEE, 0xEF, 3, 0x80, 0xBF },
    { 0xF0, 0xF0, 4, 0x90, 0xBF },
    { 0xF1, 0xF3, 4, 0x80, 0xBF },
    { 0xF4, 0xF4, 4, 0x80, 0x8F },
};

// Unicode's recommended repair: every well-formed sequence stays, and each maximal part of an
// ill-formed one (the lead and the bytes that could still have continued it, at least one
// byte) becomes one U+FFFD.
std::string repairedModel(std::string_view bytes, bool &wasValid)
{
    std::string text;
    wasValid = true;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
        const Lead *lead = nullptr;
        for (const Lead &candidate : leads)
            if (byte(i) >= candidate.from && byte(i) <= candidate.to)
                lead = &candidate;
        std::size_t good = 1;
        while (lead && good < lead->length && i + good < bytes.size()
            && byte(i + good) >= (good == 1 ? lead->secondFrom : 0x80)
            && byte(i + good) <= (good == 1 ? lead->secondTo : 0xBF))
            ++good;
        if (lead && good == lead->length) {
            text.append(bytes.substr(i, good));
        } else {
            text += "\xEF\xBF\xBD";
            wasValid = false;
        }
        i += good;
    }
    return text;
}

const helper::ProxyHelperService &service()
{
    // No tool may run here: requests reach it only when the grammar refuses them.
    static const helper::ProxyHelperService instance("/nonexistent/networksetup", "/nonexistent/record.json");
    return instance;
}

ipc::ProxyHelperResponse decodedReply(const std::string &reply)
{
    try {
        return ipc::ProxyHelperResponse::decode(reply);
    } catch (const ipc::ProxyHelperDecodingError &) {
        veyra::fuzz::fail(__FILE__, __LINE__, "the helper's reply does not decode: " + printable(reply));
    }
}

} // namespace

// Input: one request's bytes as the application would send them.
VEYRA_FUZZ_TARGET(helperRequest)
{
    // Through the framing as the server reads it: never more than the reader still wants.
    const std::string framed = ipc::Framing::frame(input);
    ipc::Framing::FrameReader reader;
    for (std::size_t at = 0; reader.status() == ipc::Framing::FrameReader::Status::needMore;) {
        const std::size_t piece = std::min<std::size_t>({ 7, reader.wanted(), framed.size() - at });
        FUZZ_EXPECT(piece > 0, "the reader wants bytes after the whole frame");
        reader.feed(std::string_view(framed).substr(at, piece));
        at += piece;
    }
    FUZZ_EXPECT(reader.status() == ipc::Framing::FrameReader::Status::complete && reader.payload() == input,
        "the request did not come through the framing");

    const std::optional<ipc::CommandList> commands = fuzz::requestModel(input);
    const std::optional<std::string> refusal = commands ? fuzz::grammarRefusal(*commands) : std::nullopt;
    if (!commands) {
        const auto decodingError
            = fuzz::thrownBy<ipc::ProxyHelperDecodingError>([&] { ipc::ProxyHelperRequest::decode(input); });
        FUZZ_EXPECT(decodingError.has_value(), "a request the rules refuse decoded: " + printable(input));
        // The decoder's text quotes the bytes it stopped at; when those are not UTF-8 the reply
        // cannot carry it and the fixed fallback goes out instead.
        bool utf8 = false;
        repairedModel(*decodingError, utf8);
        const ipc::ProxyHelperResponse reply = decodedReply(service().execute(input));
        FUZZ_EXPECT(!reply.success && reply.message == (utf8 ? *decodingError : std::string("后台服务返回数据失败。")),
            "reply " + printable(reply.message));
    } else if (refusal) {
        // Written out by hand: the refusal texts need no escaping.
        const std::string expected = "{\"success\":false,\"message\":\"" + *refusal + "\"}";
        const std::string reply = service().execute(input);
        FUZZ_EXPECT(reply == expected, "reply " + printable(reply) + " instead of " + printable(expected));
        FUZZ_EXPECT(fuzz::thrownBy<ipc::ProxyHelperValidationError>([&] { PrivilegedProxyClient::encodeRequest(*commands); })
                == refusal,
            "the application does not refuse what the helper refuses");
    } else {
        FUZZ_EXPECT(ipc::ProxyHelperRequest::decode(input).commands == *commands, "the request decoded otherwise");
        // The application sends what the helper accepts, and the helper reads back the same lines.
        std::string sent;
        try {
            sent = PrivilegedProxyClient::encodeRequest(*commands);
        } catch (const AppError &) {
            FUZZ_EXPECT(ipc::ProxyHelperRequest { *commands }.encode().size() > ipc::Framing::maximumPayloadBytes,
                "the application refused a request within the size limit");
            return;
        }
        const ipc::ProxyHelperRequest received = ipc::ProxyHelperRequest::decode(sent);
        FUZZ_EXPECT(received.commands == *commands, "the lines changed between the two programs");
        ipc::ProxyCommandValidator::validate(received.commands);
    }

    // Tool output becomes reply text: repaired to UTF-8 and trimmed, and any reply encodes.
    bool valid = false;
    const std::string repaired = helper::repairUtf8(std::string(input));
    const std::string expectedRepair = repairedModel(input, valid);
    FUZZ_EXPECT(repaired == expectedRepair, "repaired to " + printable(repaired) + " not " + printable(expectedRepair));
    const std::string trimmed = helper::trimmed(repaired);
    FUZZ_EXPECT(trimmed == fuzz::trimmedBy(repaired, [](char c) { return std::strchr(" \t\r\n\v\f", c) && c; }),
        "trimmed to " + printable(trimmed));
    const ipc::ProxyHelperResponse original { !input.empty() && (input[0] & 1), std::string(input) };
    const std::string reply = helper::encodeReply(original);
    if (valid) {
        const ipc::ProxyHelperResponse back = decodedReply(reply);
        FUZZ_EXPECT(back.success == original.success && back.message == original.message, "reply text changed");
    } else {
        FUZZ_EXPECT(reply == ipc::ProxyHelperResponse::fallbackBytes, "text that is not UTF-8 went out as is");
    }
    const ipc::ProxyHelperResponse repairedReply = decodedReply(helper::encodeReply({ false, trimmed }));
    FUZZ_EXPECT(repairedReply.message == trimmed, "repaired text did not go out unchanged");
}
