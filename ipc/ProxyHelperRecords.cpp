#include "veyra/ipc/ProxyHelperRecords.h"

#include "veyra/ipc/ProxyHelperErrors.h"

#include <nlohmann/json.hpp>

namespace veyra::ipc {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

json parseObject(std::string_view bytes)
{
    const json value = json::parse(bytes.begin(), bytes.end());
    if (!value.is_object())
        throw ProxyHelperDecodingError("The data isn't in the correct format: expected a JSON object.");
    return value;
}

const json &requireKey(const json &object, const char *key)
{
    auto found = object.find(key);
    if (found == object.end())
        throw ProxyHelperDecodingError(std::string("No value associated with key \"") + key + "\".");
    return *found;
}

[[noreturn]] void wrongType(const char *key, const char *expected)
{
    throw ProxyHelperDecodingError(
        std::string("Expected to decode ") + expected + " for key \"" + key + "\" but found something else.");
}

// Every failure of the JSON library while decoding (bad syntax, invalid UTF-8, a number out of
// range such as 1e999, a value of an unexpected type) leaves as the protocol's decoding error:
// both sides catch only that, so nothing of the library's own types may escape.
template <typename Decode> auto decodingErrorsOnly(Decode decode)
{
    try {
        return decode();
    } catch (const ProxyHelperDecodingError &) {
        throw;
    } catch (const json::exception &error) {
        throw ProxyHelperDecodingError(std::string("The data isn't valid JSON: ") + error.what());
    }
}

ProxyHelperRequest decodeRequest(std::string_view bytes)
{
    const json value = parseObject(bytes);
    const json &list = requireKey(value, "commands");
    if (!list.is_array())
        wrongType("commands", "an array");
    ProxyHelperRequest request;
    request.commands.reserve(list.size());
    for (const json &line : list) {
        if (!line.is_array())
            wrongType("commands", "an array of arrays");
        CommandLine decoded;
        decoded.reserve(line.size());
        for (const json &element : line) {
            if (!element.is_string())
                wrongType("commands", "an array of arrays of strings");
            decoded.push_back(element.get<std::string>());
        }
        request.commands.push_back(std::move(decoded));
    }
    return request;
}

ProxyHelperResponse decodeResponse(std::string_view bytes)
{
    const json value = parseObject(bytes);
    const json &success = requireKey(value, "success");
    const json &message = requireKey(value, "message");
    if (!success.is_boolean())
        wrongType("success", "a boolean");
    if (!message.is_string())
        wrongType("message", "a string");
    return ProxyHelperResponse { success.get<bool>(), message.get<std::string>() };
}

} // namespace

std::string ProxyHelperRequest::encode() const
{
    ordered_json value = ordered_json::object();
    value["commands"] = commands;
    return value.dump();
}

ProxyHelperRequest ProxyHelperRequest::decode(std::string_view bytes)
{
    return decodingErrorsOnly([bytes] { return decodeRequest(bytes); });
}

std::string ProxyHelperResponse::encode() const
{
    ordered_json value = ordered_json::object();
    value["success"] = success;
    value["message"] = message;
    return value.dump();
}

ProxyHelperResponse ProxyHelperResponse::decode(std::string_view bytes)
{
    return decodingErrorsOnly([bytes] { return decodeResponse(bytes); });
}

} // namespace veyra::ipc
