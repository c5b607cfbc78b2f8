#include "FuzzTarget.h"
#include "GrammarModel.h"

#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <nlohmann/json.hpp>

using namespace veyra::ipc;
using nlohmann::json;

namespace {

// A response has a boolean "success" and a string "message"; other keys do not matter.
std::optional<ProxyHelperResponse> modelResponse(const json &value)
{
    if (!value.is_object() || !value.contains("success") || !value.contains("message"))
        return std::nullopt;
    if (!value["success"].is_boolean() || !value["message"].is_string())
        return std::nullopt;
    return ProxyHelperResponse { value["success"].get<bool>(), value["message"].get<std::string>() };
}

} // namespace

// Input: the bytes of a request or a reply as they arrive; both decoders read them.
VEYRA_FUZZ_TARGET(ipcRecords)
{
    const json parsed = json::parse(input.begin(), input.end(), nullptr, false);
    const bool isJson = !parsed.is_discarded();

    std::optional<ProxyHelperRequest> request;
    try {
        request = ProxyHelperRequest::decode(input);
    } catch (const ProxyHelperDecodingError &) {
    }
    const std::optional<CommandList> expectedCommands = isJson ? veyra::fuzz::requestModel(parsed) : std::nullopt;
    FUZZ_EXPECT(request.has_value() == expectedCommands.has_value(),
        std::string(request ? "request decoded" : "request refused") + ": " + veyra::fuzz::printable(input));
    if (request) {
        FUZZ_EXPECT(request->commands == *expectedCommands, "request decoded to other commands");
        const ProxyHelperRequest again = ProxyHelperRequest::decode(request->encode());
        FUZZ_EXPECT(again.commands == request->commands, "request changed when encoded again");
    }

    // Both decoders start by reading one JSON object the same way, so bytes that are no JSON at
    // all (most mutated inputs) are refused by the request decoder above for both of them.
    if (!isJson)
        return;
    std::optional<ProxyHelperResponse> response;
    try {
        response = ProxyHelperResponse::decode(input);
    } catch (const ProxyHelperDecodingError &) {
    }
    const std::optional<ProxyHelperResponse> expectedResponse = isJson ? modelResponse(parsed) : std::nullopt;
    FUZZ_EXPECT(response.has_value() == expectedResponse.has_value(),
        std::string(response ? "response decoded" : "response refused") + ": " + veyra::fuzz::printable(input));
    if (response) {
        FUZZ_EXPECT(response->success == expectedResponse->success && response->message == expectedResponse->message,
            "response decoded to another value");
        const std::string encoded = response->encode();
        FUZZ_EXPECT(encoded.rfind("{\"success\":", 0) == 0, "keys out of order: " + veyra::fuzz::printable(encoded));
        const ProxyHelperResponse again = ProxyHelperResponse::decode(encoded);
        FUZZ_EXPECT(again.success == response->success && again.message == response->message,
            "response changed when encoded again");
    }
}
