#include "FuzzModels.h"
#include "FuzzTarget.h"
#include "GrammarModel.h"

#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

using namespace veyra::ipc;
using nlohmann::json;

// Input: the bytes of a request or a reply as they arrive; both decoders read them.
VEYRA_FUZZ_TARGET(ipcRecords)
{
    const auto request = unlessThrows<ProxyHelperDecodingError>([&] { return ProxyHelperRequest::decode(input); });
    const std::optional<Commands> commands = requestModel(input);
    FUZZ_EXPECT(request.has_value() == commands.has_value(), "request decoding of " + printable(input));
    if (request) {
        FUZZ_EXPECT(request->commands == *commands, "request decoded to other commands");
        FUZZ_EXPECT(ProxyHelperRequest::decode(request->encode()).commands == request->commands,
            "request changed when encoded again");
    }

    // Both decoders start by reading one JSON object the same way, so bytes that are no JSON at
    // all (most mutated inputs) are refused by the request decoder above for both of them.
    const std::optional<json> parsed = jsonOf(input);
    if (!parsed)
        return;
    // A response has a boolean "success" and a string "message"; other keys do not matter.
    const bool fits = parsed->is_object() && parsed->contains("success") && (*parsed)["success"].is_boolean()
        && parsed->contains("message") && (*parsed)["message"].is_string();
    const auto response = unlessThrows<ProxyHelperDecodingError>([&] { return ProxyHelperResponse::decode(input); });
    FUZZ_EXPECT(response.has_value() == fits, "response decoding of " + printable(input));
    if (response) {
        FUZZ_EXPECT(response->success == (*parsed)["success"].get<bool>()
                && response->message == (*parsed)["message"].get<std::string>(),
            "response decoded to another value");
        const std::string encoded = response->encode();
        FUZZ_EXPECT(encoded.rfind("{\"success\":", 0) == 0, "keys out of order: " + printable(encoded));
        const ProxyHelperResponse again = ProxyHelperResponse::decode(encoded);
        FUZZ_EXPECT(again.success == response->success && again.message == response->message,
            "response changed when encoded again");
    }
}
