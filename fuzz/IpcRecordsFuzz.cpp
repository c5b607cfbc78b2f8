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
    FUZZ_EXPECT(request.has_value() == commands.has_value() && (!request || request->commands == *commands),
        "request decoding of " + printable(input));
    FUZZ_EXPECT(!request || ProxyHelperRequest::decode(request->encode()).commands == request->commands,
        "request changed when encoded again");

    // Both decoders start by reading one JSON object the same way, so bytes that are no JSON at
    // all (most mutated inputs) are refused by the request decoder above for both of them.
    const std::optional<Json> parsed = jsonOf(input);
    if (!parsed)
        return;
    // A response has a boolean "success" and a string "message"; other keys do not matter.
    Fields f { *parsed };
    const bool success = f.need("success", flagOf);
    const std::string message = f.need("message", stringOf);
    const auto response = unlessThrows<ProxyHelperDecodingError>([&] { return ProxyHelperResponse::decode(input); });
    FUZZ_EXPECT(
        response.has_value() == f.fits && (!response || (response->success == success && response->message == message)),
        "response decoding of " + printable(input));
    const auto again = response ? ProxyHelperResponse::decode(response->encode()) : ProxyHelperResponse {};
    FUZZ_EXPECT(
        !response || (again.success == success && again.message == message), "response changed when encoded again");
}
