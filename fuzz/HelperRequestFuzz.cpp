#include "FuzzTarget.h"
#include "GrammarModel.h"

#include "Errors.h"
#include "PrivilegedProxyClient.h"
#include "ProxyHelperService.h"
#include "ToolRunner.h"

#include "veyra/ipc/Framing.h"
#include "veyra/ipc/ProxyCommandValidator.h"
#include "veyra/ipc/ProxyHelperErrors.h"

#include <nlohmann/json.hpp>

#include <algorithm>

using namespace veyra;
using nlohmann::json;
using veyra::fuzz::printable;

namespace {

// The code point of a well-formed UTF-8 sequence of `length` bytes at `bytes`, or -1.
long wellFormed(std::string_view bytes, std::size_t length)
{
    if (bytes.size() < length)
        return -1;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    static const unsigned char leadMarks[] = { 0, 0x00, 0xC0, 0xE0, 0xF0 };
    static const unsigned char leadMasks[] = { 0, 0x80, 0xE0, 0xF0, 0xF8 };
    static const long lowest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if ((byte(0) & leadMasks[length]) != leadMarks[length])
        return -1;
    long codePoint = byte(0) & ~leadMasks[length] & 0xFF;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return -1;
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    if (codePoint < lowest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return -1;
    return codePoint;
}

// Whether the bytes can still grow into a well-formed sequence of `length` bytes: the code
// points they leave open (remaining bits all zero up to all one) reach a valid one.
bool canComplete(std::string_view prefix, std::size_t length)
{
    std::string lowestBytes(prefix), highestBytes(prefix);
    for (std::size_t i = prefix.size(); i < length; ++i) {
        lowestBytes += '\x80';
        highestBytes += '\xBF';
    }
    static const long lowest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    static const long highest[] = { 0, 0x7F, 0x7FF, 0xFFFF, 0x10FFFF };
    // Decoded without the range checks, so the two ends of the open interval come out.
    const auto raw = [length](const std::string &bytes) {
        static const unsigned char leadMasks[] = { 0, 0x80, 0xE0, 0xF0, 0xF8 };
        long codePoint = static_cast<unsigned char>(bytes[0]) & ~leadMasks[length] & 0xFF;
        for (std::size_t i = 1; i < length; ++i)
            codePoint = (codePoint << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
        return codePoint;
    };
    for (std::size_t i = 1; i < prefix.size(); ++i)
        if ((static_cast<unsigned char>(prefix[i]) & 0xC0) != 0x80)
            return false;
    const long from = std::max(raw(lowestBytes), lowest[length]);
    const long to = std::min(raw(highestBytes), highest[length]);
    if (from > to)
        return false;
    return !(from >= 0xD800 && to <= 0xDFFF);
}

std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

// Unicode's recommended repair: every well-formed sequence stays, and each maximal part of an
// ill-formed one (the longest start that could still have become well-formed, at least one
// byte) becomes one U+FFFD.
std::string repairedModel(std::string_view bytes, bool &wasValid)
{
    std::string text;
    wasValid = true;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::string_view rest = bytes.substr(i);
        const std::size_t length = sequenceLength(static_cast<unsigned char>(rest[0]));
        if (length > 0 && wellFormed(rest, length) >= 0) {
            text.append(rest.substr(0, length));
            i += length;
            continue;
        }
        wasValid = false;
        std::size_t part = 1;
        if (length > 1)
            while (part + 1 < length && part + 1 <= rest.size() && canComplete(rest.substr(0, part + 1), length))
                ++part;
        text += "\xEF\xBF\xBD";
        i += part;
    }
    return text;
}

std::string trimmedModel(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
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

    const json parsed = json::parse(input.begin(), input.end(), nullptr, false);
    const std::optional<ipc::CommandList> commands
        = parsed.is_discarded() ? std::nullopt : veyra::fuzz::requestModel(parsed);
    const std::optional<std::string> refusal
        = commands ? veyra::fuzz::grammarRefusal(*commands) : std::optional<std::string>();
    if (!commands) {
        std::string decodingError;
        try {
            ipc::ProxyHelperRequest::decode(input);
        } catch (const ipc::ProxyHelperDecodingError &error) {
            decodingError = error.what();
        }
        FUZZ_EXPECT(!decodingError.empty(), "a request the rules refuse decoded: " + printable(input));
        // The decoder's text quotes the bytes it stopped at; when those are not UTF-8 the reply
        // cannot carry it and the fixed fallback goes out instead.
        bool utf8 = false;
        repairedModel(decodingError, utf8);
        const ipc::ProxyHelperResponse reply = decodedReply(service().execute(input));
        FUZZ_EXPECT(!reply.success && reply.message == (utf8 ? decodingError : std::string("后台服务返回数据失败。")),
            "reply " + printable(reply.message));
    } else if (refusal) {
        // Written out by hand: the refusal texts need no escaping.
        const std::string expected = "{\"success\":false,\"message\":\"" + *refusal + "\"}";
        const std::string reply = service().execute(input);
        FUZZ_EXPECT(reply == expected, "reply " + printable(reply) + " instead of " + printable(expected));
        bool clientRefused = false;
        try {
            PrivilegedProxyClient::encodeRequest(*commands);
        } catch (const ipc::ProxyHelperValidationError &error) {
            clientRefused = error.message() == *refusal;
        }
        FUZZ_EXPECT(clientRefused, "the application does not refuse what the helper refuses");
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
    FUZZ_EXPECT(trimmed == trimmedModel(repaired), "trimmed to " + printable(trimmed));
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
