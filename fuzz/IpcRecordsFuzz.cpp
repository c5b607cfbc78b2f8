#include "FuzzModels.h"

#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

using namespace veyra::ipc;
using namespace veyra::fuzz;

// Input: the bytes of a request or a reply as they arrive; both decoders read them.
VEYRA_FUZZ_TARGET(ipc_records)
{
    const auto request = unlessThrows<ProxyHelperDecodingError>([&] { return ProxyHelperRequest::decode(input); });
    const std::optional<Commands> commands = requestModel(input);
    FUZZ_EXPECT(request.has_value() == commands.has_value(), "request decoding of " + printable(input));
    FUZZ_EXPECT(!request || request->commands == *commands, "request decoded to other commands");
    FUZZ_EXPECT(!request || ProxyHelperRequest::decode(request->encode()).commands == request->commands,
        "request changed when encoded again");

    // Both decoders start by reading one JSON object the same way, so bytes that are no JSON at
    // all (most mutated inputs) are refused by the request decoder above for both of them.
    const std::optional<Json> parsed = jsonOf(input);
    if (!parsed)
        return;
    // A response has a boolean "success" and a string "message"; other keys do not matter.
    const Json *success = member(&*parsed, "success"), *message = member(&*parsed, "message");
    const bool fits = success && success->is_boolean() && message && message->is_string();
    const auto response = unlessThrows<ProxyHelperDecodingError>([&] { return ProxyHelperResponse::decode(input); });
    FUZZ_EXPECT(response.has_value() == fits, "response decoding of " + printable(input));
    if (response) {
        FUZZ_EXPECT(
            response->success == *success && response->message == *message, "response decoded to another value");
        const std::string encoded = response->encode();
        FUZZ_EXPECT(encoded.rfind("{\"success\":", 0) == 0, "keys out of order: " + printable(encoded));
        const ProxyHelperResponse again = ProxyHelperResponse::decode(encoded);
        FUZZ_EXPECT(again.success == response->success && again.message == response->message,
            "response changed when encoded again");
    }
}
