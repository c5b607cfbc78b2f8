#pragma once

#include <QDateTime>
#include <QString>
#include <nlohmann/json.hpp>

#include <optional>

// Small bridges between nlohmann::json (the one JSON library of the code base) and Qt types.
namespace veyra::json {

using Json = nlohmann::json;

inline std::string str(const QString &text)
{
    return text.toStdString();
}
inline QString qstr(const std::string &text)
{
    return QString::fromStdString(text);
}

// ISO 8601 in UTC with whole seconds, e.g. 2026-12-05T09:30:00Z.
QString isoDate(const QDateTime &time);
// Accepts ISO 8601 internet date-times with or without fractional seconds and offsets.
std::optional<QDateTime> parseIsoDate(const QString &text);

// Parses bytes into JSON; a syntax error becomes a SystemError with the parser's text.
Json parse(const QByteArray &bytes);

// Strict field access for decoders: a missing key or a value of the wrong type is a
// SystemError naming the key, so a failed candidate can be told apart from a bad file.
const Json &require(const Json &object, const char *key);
QString requireString(const Json &object, const char *key);
qint64 requireInteger(const Json &object, const char *key);
// A JSON number that is an exact 64-bit integer, written with or without a fraction part
// ("1024" and "1024.0" alike); fractions, values out of range and other types have none.
std::optional<qint64> integerValue(const Json &value);
std::optional<QString> optionalString(const Json &object, const char *key);
std::optional<qint64> optionalInteger(const Json &object, const char *key);
std::optional<bool> optionalBool(const Json &object, const char *key);
void requireObject(const Json &value, const char *what);
// A required ISO 8601 date-time text.
QDateTime requireDate(const Json &object, const char *key);

} // namespace veyra::json
