#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Every fuzz target is one function taking the input bytes. The ordinary build registers each
// under the name of its folders in corpus/ and regressions/, and fuzz_replay feeds it those
// inputs; a clang build with VEYRA_LIBFUZZER_ENTRY makes it the entry point of fuzz_<name>,
// where a finding escapes, ends the process with its text and is recorded as a crash.
// Below: small models and helpers shared by the targets.
namespace veyra::fuzz {

// The code under test disagreed with its model or broke one of its own promises.
struct Finding : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Target = void (*)(std::string_view input);

inline std::map<std::string, Target> &targets()
{
    static std::map<std::string, Target> all;
    return all;
}

// Printable form of bytes for finding texts: printable ASCII as is, the rest as \xNN.
inline std::string printable(std::string_view bytes)
{
    std::string text = "\"";
    for (unsigned char c : bytes) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f && c != '"' && c != '\\' ? "%c" : "\\x%02x", c);
        text += escaped;
    }
    return text + "\"";
}

using Json = nlohmann::json;

inline const auto qtext = [](std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); };
inline const auto bytesOf = [](std::string_view input) { return QByteArray(input.data(), qsizetype(input.size())); };
inline const auto textOf
    = [](const Json &v) { return v.is_string() ? std::optional(qtext(v.get<std::string>())) : std::nullopt; };
inline const auto stringOf
    = [](const Json &v) { return v.is_string() ? std::optional(v.get<std::string>()) : std::nullopt; };
inline const auto flagOf = [](const Json &v) { return v.is_boolean() ? std::optional(v.get<bool>()) : std::nullopt; };

template <typename T, typename U> bool oneOf(const T &value, std::initializer_list<U> options)
{
    return std::ranges::find(options, value) != options.end();
}

// The parsed document, or nothing for bytes that are no JSON.
inline std::optional<Json> jsonOf(std::string_view bytes)
{
    Json value = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    return value.is_discarded() ? std::nullopt : std::optional(std::move(value));
}

// The member `name` of `object` when that is an object that has it (null included), else
// nothing. The name is taken with its length: a key may hold a NUL.
inline const Json *member(const Json *object, std::string_view name)
{
    if (!object || !object->is_object())
        return nullptr;
    const auto found = object->find(std::string(name));
    return found == object->end() ? nullptr : &*found;
}

// A list of what `read` makes of each item, or nothing when it fails on one.
template <typename List, typename Read> auto listOf(Read read)
{
    return [read](const Json &value) -> std::optional<List> {
        List items;
        for (const Json &item : value.is_array() ? value : Json::array({ nullptr }))
            if (const auto one = read(item))
                items.push_back(*one);
            else
                return std::nullopt;
        return items;
    };
}

// The records' decoding rules: a required field must be present, not null and of its type; an
// optional one may also be absent or null. `fits` turns false at the first rule broken.
// Records are built in their fields' order, so `fits` is read after the last field.
struct Fields {
    const Json &object;
    bool fits = object.is_object();

    template <typename Read> auto get(const char *key, Read read, bool required = false) -> decltype(read(object))
    {
        const Json *value = fits ? member(&object, key) : nullptr;
        value = value && !value->is_null() ? value : nullptr;
        auto result = value ? read(*value) : std::nullopt;
        fits = fits && (result || (!value && !required));
        return result;
    }
    template <typename Read> auto need(const char *key, Read read)
    {
        return get(key, read, true).value_or(typename decltype(read(object))::value_type());
    }
    template <typename T> std::optional<T> record(T value) const { return fits ? std::optional(value) : std::nullopt; }
};

// The record as written to its file and read back.
template <typename T> T reread(const T &record)
{
    return T::fromJson(Json::parse(record.toJson().dump()));
}

// What `call` returns, or nothing when it throws an E.
template <typename E, typename F> auto unlessThrows(F &&call) -> std::optional<decltype(call())>
{
    try {
        return call();
    } catch (const E &) {
        return std::nullopt;
    }
}

// The text of the E that `call` throws, or nothing when it returns.
template <typename E, typename F> std::optional<std::string> thrownBy(F &&call)
{
    try {
        call();
    } catch (const E &error) {
        return error.what();
    }
    return std::nullopt;
}

// A decoder's outcome: bytes that were no JSON, the text of the refusal shown to the user, or
// the value.
using ParseFailure = std::monostate;
template <typename T> using Outcome = std::variant<ParseFailure, QString, T>;

template <typename T, typename Refusal, typename Failure, typename F> Outcome<T> outcomeOf(F &&decode)
{
    try {
        return decode();
    } catch (const Refusal &error) {
        return error.description();
    } catch (const Failure &) {
        return ParseFailure {};
    }
}

template <typename T> std::string shown(const Outcome<T> &outcome)
{
    const QString *text = std::get_if<QString>(&outcome);
    return text ? text->toStdString() : outcome.index() == 0 ? "no JSON" : "a value";
}

// The text without the characters `blank` picks at either end (QString or std::string).
template <typename S, typename Blank> S trimmedBy(const S &text, Blank blank)
{
    std::size_t start = 0, end = text.size();
    while (start < end && blank(text[start]))
        ++start;
    while (end > start && blank(text[end - 1]))
        --end;
    return S(text.data() + start, end - start);
}

// Unicode's White_Space property, listed out ("white space and line breaks").
inline QString trimmedWhiteSpace(const QString &text)
{
    return trimmedBy(text, [](QChar letter) {
        const char16_t c = letter.unicode();
        return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
            || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
    });
}

// A base-10 signed 64-bit integer: an optional "+" or "-", then ASCII digits only, in range.
inline std::optional<std::int64_t> decimal(const QString &text)
{
    const bool minus = text.startsWith(u'-');
    const qsizetype first = minus || text.startsWith(u'+') ? 1 : 0;
    __int128 value = 0;
    for (qsizetype i = first; i < text.size(); ++i)
        if (text[i] < u'0' || text[i] > u'9' || (value = value * 10 + (text[i].unicode() - u'0')) > (__int128(1) << 63))
            return std::nullopt;
    value = minus ? -value : value;
    return first == text.size() || value > INT64_MAX ? std::nullopt : std::optional(std::int64_t(value));
}

// A JSON number that is exactly a signed 64-bit integer, whether written with a fraction part
// or not.
inline std::optional<std::int64_t> exactInteger(const Json &value)
{
    if (value.is_number_integer())
        return value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(INT64_MAX)
            ? std::nullopt
            : std::optional(value.get<std::int64_t>());
    const double number = value.is_number_float() ? value.get<double>() : NAN;
    // 2^63 is the first double past the range; -2^63 itself is in it.
    if (!(number >= -0x1p63 && number < 0x1p63) || std::floor(number) != number)
        return std::nullopt;
    return static_cast<std::int64_t>(number);
}

// An exact integer, or a JSON text that holds a decimal integer once white space is trimmed.
inline std::optional<std::int64_t> tolerantInteger(const Json *value)
{
    if (!value || value->is_number())
        return value ? exactInteger(*value) : std::nullopt;
    return value->is_string() ? decimal(trimmedWhiteSpace(qtext(value->get<std::string>()))) : std::nullopt;
}

// A usage count from its two halves: negatives count as 0, the sum stops at the largest
// count, and nothing when both are missing.
inline std::optional<std::int64_t> usageSum(std::optional<std::int64_t> upload, std::optional<std::int64_t> download)
{
    const __int128 sum
        = __int128(std::max<std::int64_t>(upload.value_or(0), 0)) + std::max<std::int64_t>(download.value_or(0), 0);
    return !upload && !download ? std::nullopt : std::optional(std::int64_t(std::min<__int128>(sum, INT64_MAX)));
}

using Commands = std::vector<std::vector<std::string>>;

// A second statement of the helper's command grammar, written from its rules as tables and
// character classes, sharing no code with the validator. Nothing when every line is allowed,
// else the refusal text of the first rule broken.
std::optional<std::string> grammarRefusal(const Commands &commands);

// The request record's rules over its bytes: JSON, an object whose "commands" is an array of
// arrays of strings; other keys do not matter. Nothing when the bytes break them.
std::optional<Commands> requestModel(std::string_view bytes);

} // namespace veyra::fuzz

#define FUZZ_EXPECT(condition, detail)                                                                                 \
    ((condition) ? void()                                                                                              \
                 : throw ::veyra::fuzz::Finding(                                                                       \
                     std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #condition ": " + (detail)))

#ifdef VEYRA_LIBFUZZER_ENTRY
#define VEYRA_FUZZ_HOOK(name)                                                                                          \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)                                  \
    {                                                                                                                  \
        return fuzz_##name(std::string_view(reinterpret_cast<const char *>(data), size)), 0;                           \
    }
#else
#define VEYRA_FUZZ_HOOK(name)                                                                                          \
    [[maybe_unused]] static const bool registered_##name = ::veyra::fuzz::targets().emplace(#name, &fuzz_##name).second;
#endif
#define VEYRA_FUZZ_TARGET(name)                                                                                        \
    static void fuzz_##name(std::string_view input);                                                                   \
    VEYRA_FUZZ_HOOK(name)                                                                                              \
    static void fuzz_##name(std::string_view input)
