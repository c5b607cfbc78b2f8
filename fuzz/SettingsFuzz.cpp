#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "AppSettings.h"
#include "Errors.h"
#include "PendingOrderRecord.h"

using namespace veyra;
using Json = nlohmann::json;
using veyra::fuzz::qtext;

namespace {

// The settings record's rules: every key may be missing (or null) and then keeps its default;
// a key present with another type, or a mode that is none of the three, fails the record.
std::optional<AppSettings> settingsModel(const Json &value)
{
    if (!value.is_object())
        return std::nullopt;
    AppSettings settings;
    const auto present = [&](const char *key) -> const Json * {
        auto found = value.find(key);
        return found == value.end() || found->is_null() ? nullptr : &*found;
    };
    bool typesFit = true;
    const auto readInteger = [&](const char *key, qint64 &field) {
        if (const Json *item = present(key)) {
            const std::optional<std::int64_t> number = fuzz::exactInteger(*item);
            typesFit = typesFit && number.has_value();
            field = number.value_or(0);
        }
    };
    const auto readFlag = [&](const char *key, bool &field) {
        if (const Json *item = present(key)) {
            typesFit = typesFit && item->is_boolean();
            field = item->is_boolean() && item->get<bool>();
        }
    };
    readInteger("mixedPort", settings.mixedPort);
    readInteger("socksPort", settings.socksPort);
    readInteger("controllerPort", settings.controllerPort);
    if (const Json *mode = present("proxyMode")) {
        if (!mode->is_string())
            return std::nullopt;
        const std::string raw = mode->get<std::string>();
        if (raw == "rule")
            settings.proxyMode = ConnectionMode::rule;
        else if (raw == "global")
            settings.proxyMode = ConnectionMode::global;
        else if (raw == "direct")
            settings.proxyMode = ConnectionMode::direct;
        else
            return std::nullopt;
    }
    if (const Json *node = present("selectedNode")) {
        if (!node->is_string())
            return std::nullopt;
        settings.selectedNode = qtext(node->get<std::string>());
    }
    readFlag("autoConnect", settings.autoConnect);
    readFlag("startAtLogin", settings.startAtLogin);
    readFlag("showNotifications", settings.showNotifications);
    readFlag("smartSelection", settings.smartSelection);
    readInteger("uiScalePercent", settings.uiScalePercent);
    if (!typesFit)
        return std::nullopt;
    return settings;
}

std::optional<QString> validityModel(const AppSettings &settings)
{
    for (qint64 port : { settings.mixedPort, settings.socksPort, settings.controllerPort })
        if (port < 1024 || port > 65535)
            return QStringLiteral("网络端口必须在 1024 到 65535 之间。");
    if (settings.mixedPort == settings.socksPort || settings.mixedPort == settings.controllerPort
        || settings.socksPort == settings.controllerPort)
        return QStringLiteral("三个网络端口不能重复。");
    if (settings.uiScalePercent < 90 || settings.uiScalePercent > 140)
        return QStringLiteral("界面缩放必须在 90% 到 140% 之间。");
    return std::nullopt;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + static_cast<std::int64_t>(dayOfEra) - 719'468;
}

// The milliseconds since 1970 of an internet date-time (2026-12-05T09:30:00Z,
// 2026-12-05T17:30:00.250+08:00): digits in fixed places, real calendar dates, seconds up to
// 59, an optional fraction and a zone. Nothing for any other text.
std::optional<std::int64_t> internetDateModel(const std::string &text)
{
    const auto digits = [&](std::size_t at, std::size_t count) -> std::optional<int> {
        if (at + count > text.size())
            return std::nullopt;
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const auto is = [&](std::size_t at, char c) { return at < text.size() && text[at] == c; };
    const auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2), hour = digits(11, 2),
               minute = digits(14, 2), second = digits(17, 2);
    if (!year || *year < 1 || !month || !day || !hour || !minute || !second || !is(4, '-') || !is(7, '-')
        || !is(10, 'T') || !is(13, ':') || !is(16, ':'))
        return std::nullopt;
    static const int monthDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    if (*month < 1 || *month > 12 || *day < 1 || *day > monthDays[*month - 1] + (*month == 2 && leap) || *hour > 23
        || *minute > 59 || *second > 59)
        return std::nullopt;
    std::size_t at = 19;
    std::int64_t milliseconds = 0;
    if (is(at, '.')) {
        ++at;
        const std::size_t start = at;
        std::int64_t scale = 100;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            milliseconds += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
    }
    std::int64_t offsetMinutes = 0;
    if (is(at, 'Z')) {
        ++at;
    } else if (is(at, '+') || is(at, '-')) {
        const auto offsetHours = digits(at + 1, 2), offsetMinute = digits(at + 4, 2);
        if (!offsetHours || !offsetMinute || !is(at + 3, ':') || *offsetHours > 23 || *offsetMinute > 59)
            return std::nullopt;
        offsetMinutes = (*offsetHours * 60 + *offsetMinute) * (text[at] == '-' ? -1 : 1);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;
    const std::int64_t seconds
        = daysFromCivil(*year, *month, *day) * 86'400 + *hour * 3'600 + *minute * 60 + *second - offsetMinutes * 60;
    return seconds * 1'000 + milliseconds;
}

std::int64_t floorSeconds(std::int64_t milliseconds)
{
    return milliseconds >= 0 ? milliseconds / 1'000 : -((-milliseconds + 999) / 1'000);
}

} // namespace

// Input: the bytes of "settings.json" or of the pending-order file, as read from disk.
VEYRA_FUZZ_TARGET(settings)
{
    Json document;
    try {
        document = json::parse(QByteArray(input.data(), static_cast<qsizetype>(input.size())));
    } catch (const SystemError &) {
        return;
    }

    std::optional<AppSettings> settings;
    try {
        settings = AppSettings::fromJson(document);
    } catch (const SystemError &) {
    }
    const std::optional<AppSettings> expected = settingsModel(document);
    FUZZ_EXPECT(settings.has_value() == expected.has_value(),
        std::string(settings ? "settings decoded" : "settings refused") + ": " + fuzz::printable(input));
    if (settings) {
        FUZZ_EXPECT(*settings == *expected, "settings decoded to other values");
        std::optional<QString> refusal;
        try {
            settings->validate();
        } catch (const AppError &error) {
            refusal = error.description();
        }
        FUZZ_EXPECT(refusal == validityModel(*settings), "validation: " + refusal.value_or("passed").toStdString());
        const AppSettings saved
            = AppSettings::fromJson(json::parse(QByteArray::fromStdString(settings->toJson().dump())));
        FUZZ_EXPECT(saved == *settings, "settings changed when saved and read again");
        FUZZ_EXPECT(settings->toJson().size() == 10, "not all ten keys written");
    }

    std::optional<PendingOrderRecord> record;
    try {
        record = PendingOrderRecord::fromJson(document);
    } catch (const SystemError &) {
    }
    const auto orderNo = document.is_object() ? document.find("orderNo") : document.end();
    const auto createdAt = document.is_object() ? document.find("createdAt") : document.end();
    const bool shapeFits = document.is_object() && orderNo != document.end() && orderNo->is_string()
        && createdAt != document.end() && createdAt->is_string();
    FUZZ_EXPECT(!record || shapeFits, "a pending order without its two texts decoded");
    if (shapeFits) {
        // Every internet date-time is read, as the instant it names.
        if (const std::optional<std::int64_t> instant = internetDateModel(createdAt->get<std::string>())) {
            FUZZ_EXPECT(record.has_value(), "date refused: " + createdAt->get<std::string>());
            const std::int64_t read = record->createdAt.toMSecsSinceEpoch();
            FUZZ_EXPECT(read >= *instant - 1 && read <= *instant + 1,
                "date " + createdAt->get<std::string>() + " read as " + std::to_string(read));
        }
    }
    if (record) {
        FUZZ_EXPECT(record->orderNo == qtext(orderNo->get<std::string>()), "order number changed");
        FUZZ_EXPECT(record->createdAt.isValid(), "an invalid date was accepted");
        const int year = record->createdAt.toUTC().date().year();
        if (year >= 1 && year <= 9999) {
            const PendingOrderRecord saved
                = PendingOrderRecord::fromJson(json::parse(QByteArray::fromStdString(record->toJson().dump())));
            FUZZ_EXPECT(saved.orderNo == record->orderNo
                    && saved.createdAt.toSecsSinceEpoch() == floorSeconds(record->createdAt.toMSecsSinceEpoch()),
                "the record changed when saved and read again");
        }
    }
}
