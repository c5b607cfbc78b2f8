#include "FuzzModels.h"

#include "Errors.h"
#include "PrivilegedProxyClient.h"
#include "ProxyHelperService.h"
#include "ToolRunner.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <cstring>

using namespace veyra;
using namespace veyra::fuzz;

namespace {

// Unicode's table of well-formed UTF-8 sequences: by lead byte, the sequence's length and the
// range of its second byte; every later byte is 80..BF.
constexpr struct {
    unsigned char from, to;
    std::size_t length;
    unsigned char secondFrom, secondTo;
} leads[] = { { 0x00, 0x7F, 1, 0, 0 }, { 0xC2, 0xDF, 2, 0x80, 0xBF }, { 0xE0, 0xE0, 3, 0xA0, 0xBF },
    { 0xE1, 0xEC, 3, 0x80, 0xBF }, { 0xED, 0xED, 3, 0x80, 0x9F }, { 0xEE, 0xEF, 3, 0x80, 0xBF },
    { 0xF0, 0xF0, 4, 0x90, 0xBF }, { 0xF1, 0xF3, 4, 0x80, 0xBF }, { 0xF4, 0xF4, 4, 0x80, 0x8F } };

// Unicode's recommended repair: every well-formed sequence stays, and each maximal part of an
// ill-formed one (the lead and the bytes that could still have continued it, at least one
// byte) becomes one U+FFFD. Nothing is repaired when `wasValid` comes back true.
std::string repairedModel(std::string_view bytes, bool &wasValid)
{
    std::string text;
    wasValid = true;
    for (std::size_t i = 0, good = 1; i < bytes.size(); i += good, good = 1) {
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
        const auto lead
            = std::ranges::find_if(leads, [&](const auto &l) { return byte(i) >= l.from && byte(i) <= l.to; });
        while (lead != std::end(leads) && good < lead->length && i + good < bytes.size()
            && byte(i + good) >= (good == 1 ? lead->secondFrom : 0x80)
            && byte(i + good) <= (good == 1 ? lead->secondTo : 0xBF))
            ++good;
        const bool wellFormed = lead != std::end(leads) && good == lead->length;
        text += wellFormed ? bytes.substr(i, good) : "\xEF\xBF\xBD";
        wasValid = wasValid && wellFormed;
    }
    return text;
}

ipc::ProxyHelperResponse decodedReply(const std::string &reply)
{
    const auto decoded
        = unlessThrows<ipc::ProxyHelperDecodingError>([&] { return ipc::ProxyHelperResponse::decode(reply); });
    FUZZ_EXPECT(decoded, "the helper's reply does not decode: " + printable(reply));
    return *decoded;
}

} // namespace

// Input: one request's bytes as the application would send them.
VEYRA_FUZZ_TARGET(helper_request)
{
    // No tool may run here: requests reach it only when the grammar refuses them.
    static const helper::ProxyHelperService service("/nonexistent/networksetup", "/nonexistent/record.json");
    const std::optional<Commands> commands = requestModel(input);
    const std::optional<std::string> refusal = commands ? grammarRefusal(*commands) : std::nullopt;
    bool utf8 = false;
    if (!commands) {
        const auto decodingError
            = thrownBy<ipc::ProxyHelperDecodingError>([&] { ipc::ProxyHelperRequest::decode(input); });
        FUZZ_EXPECT(decodingError, "a request the rules refuse decoded: " + printable(input));
        // The decoder's text quotes the bytes it stopped at; when those are not UTF-8 the reply
        // cannot carry it and the fixed fallback goes out instead.
        repairedModel(*decodingError, utf8);
        const ipc::ProxyHelperResponse reply = decodedReply(service.execute(input));
        FUZZ_EXPECT(!reply.success && reply.message == (utf8 ? *decodingError : "后台服务返回数据失败。"),
            "reply " + printable(reply.message));
    } else if (refusal) {
        // Written out by hand: the refusal texts need no escaping.
        const std::string expected = "{\"success\":false,\"message\":\"" + *refusal + "\"}";
        const std::string reply = service.execute(input);
        FUZZ_EXPECT(reply == expected && thrownBy<ipc::ProxyHelperValidationError>([&] {
            PrivilegedProxyClient::encodeRequest(*commands);
        }) == refusal,
            "reply " + printable(reply) + " instead of " + printable(expected) + ", or the application sends it");
    } else {
        FUZZ_EXPECT(ipc::ProxyHelperRequest::decode(input).commands == *commands, "the request decoded otherwise");
        // The application sends what the helper accepts (unless it is too large), and the helper
        // reads back the same lines.
        const auto sent = unlessThrows<AppError>([&] { return PrivilegedProxyClient::encodeRequest(*commands); });
        FUZZ_EXPECT(sent ? ipc::ProxyHelperRequest::decode(*sent).commands == *commands
                         : ipc::ProxyHelperRequest { *commands }.encode().size() > ipc::Framing::maximumPayloadBytes,
            "the application refused a request within the size limit, or the lines changed on the way");
    }

    // Tool output becomes reply text: repaired to UTF-8 and trimmed, and any reply encodes.
    const std::string repaired = helper::repairUtf8(std::string(input)), trimmed = helper::trimmed(repaired);
    FUZZ_EXPECT(repaired == repairedModel(input, utf8)
            && trimmed == trimmedBy(repaired, [](char c) { return std::strchr(" \t\r\n\v\f", c) && c; }),
        "repaired to " + printable(repaired) + ", trimmed to " + printable(trimmed));
    const ipc::ProxyHelperResponse original { !input.empty() && (input[0] & 1), std::string(input) };
    const std::string reply = helper::encodeReply(original);
    const ipc::ProxyHelperResponse back = utf8 ? decodedReply(reply) : ipc::ProxyHelperResponse {};
    FUZZ_EXPECT(utf8 ? back.success == original.success && back.message == original.message
                     : reply == ipc::ProxyHelperResponse::fallbackBytes,
        "reply text changed: " + printable(reply));
    FUZZ_EXPECT(decodedReply(helper::encodeReply({ false, trimmed })).message == trimmed,
        "repaired text did not go out unchanged");
}
