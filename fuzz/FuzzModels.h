#pragma once

#include <QString>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <optional>

// Small models shared by the targets that read Qt text and JSON.
namespace veyra::fuzz {

// Unicode's White_Space property, listed out ("white space and line breaks").
inline bool isWhiteSpace(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

inline QString trimmedWhiteSpace(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isWhiteSpace(text[start].unicode()))
        ++start;
    while (end > start && isWhiteSpace(text[end - 1].unicode()))
        --end;
    return text.mid(start, end - start);
}

// A base-10 signed 64-bit integer: an optional "+" or "-", then ASCII digits only, in range.
inline std::optional<std::int64_t> decimal(const QString &text)
{
    qsizetype i = 0;
    bool minus = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        minus = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    __int128 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > (__int128(1) << 63))
            return std::nullopt;
    }
    if (minus)
        value = -value;
    if (value > INT64_MAX || value < INT64_MIN)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

// A JSON number that is exactly a signed 64-bit integer, whether written with a fraction part
// or not.
inline std::optional<std::int64_t> exactInteger(const nlohmann::json &value)
{
    if (value.is_number_integer() && !value.is_number_unsigned())
        return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const std::uint64_t number = value.get<std::uint64_t>();
        if (number > std::uint64_t(INT64_MAX))
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 is the first double past the range; -2^63 itself is in it.
        if (!(number >= -0x1p63 && number < 0x1p63) || std::floor(number) != number)
            return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

inline QString qtext(const std::string &utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace veyra::fuzz
