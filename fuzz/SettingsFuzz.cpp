#include "FuzzModels.h"

#include "AppSettings.h"
#include "Errors.h"
#include "PendingOrderRecord.h"

#include <chrono>
#include <regex>

using namespace veyra;
using namespace veyra::fuzz;

namespace {

std::optional<ConnectionMode> modeOf(const Json &value)
{
    for (const auto &[name, mode] : { std::pair("rule", ConnectionMode::rule),
             std::pair("global", ConnectionMode::global), std::pair("direct", ConnectionMode::direct) })
        if (value == name)
            return mode;
    return std::nullopt;
}

// The settings record's rules: every key may be missing (or null) and then keeps its default;
// a key present with another type, or a mode that is none of the three, fails the record.
std::optional<AppSettings> settingsModel(const Json &value)
{
    const AppSettings d;
    Fields f { value };
    return f.record(AppSettings { f.get("mixedPort", exactInteger).value_or(d.mixedPort),
        f.get("socksPort", exactInteger).value_or(d.socksPort),
        f.get("controllerPort", exactInteger).value_or(d.controllerPort),
        f.get("proxyMode", modeOf).value_or(d.proxyMode), f.get("selectedNode", textOf).value_or(d.selectedNode),
        f.get("autoConnect", flagOf).value_or(d.autoConnect), f.get("startAtLogin", flagOf).value_or(d.startAtLogin),
        f.get("showNotifications", flagOf).value_or(d.showNotifications),
        f.get("smartSelection", flagOf).value_or(d.smartSelection),
        f.get("uiScalePercent", exactInteger).value_or(d.uiScalePercent) });
}

std::optional<std::string> validityModel(const AppSettings &s)
{
    for (qint64 port : { s.mixedPort, s.socksPort, s.controllerPort })
        if (port < 1024 || port > 65535)
            return "网络端口必须在 1024 到 65535 之间。";
    if (s.mixedPort == s.socksPort || s.mixedPort == s.controllerPort || s.socksPort == s.controllerPort)
        return "三个网络端口不能重复。";
    if (s.uiScalePercent < 90 || s.uiScalePercent > 140)
        return "界面缩放必须在 90% 到 140% 之间。";
    return std::nullopt;
}

// The milliseconds since 1970 of an internet date-time (2026-12-05T09:30:00Z,
// 2026-12-05T17:30:00.250+08:00): digits in fixed places, real calendar dates from year 1,
// seconds up to 59, an optional fraction and a zone. Nothing for any other text.
std::optional<std::int64_t> internetDateModel(const std::string &text)
{
    static const std::regex shape(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?(?:Z|([+-])(\d{2}):(\d{2}))$)");
    std::smatch m;
    if (!std::regex_match(text, m, shape))
        return std::nullopt;
    const auto number = [&](int group) { return m[group].matched ? std::stoi(m[group].str()) : 0; };
    using namespace std::chrono;
    const year_month_day date { year(number(1)), month(unsigned(number(2))), day(unsigned(number(3))) };
    if (number(1) < 1 || !date.ok() || number(4) > 23 || number(5) > 59 || number(6) > 59 || number(9) > 23
        || number(10) > 59)
        return std::nullopt;
    const std::int64_t offset = (number(9) * 60 + number(10)) * (m[8] == "-" ? -1 : 1);
    const std::int64_t seconds = sys_days(date).time_since_epoch().count() * 86'400 + number(4) * 3'600 + number(5) * 60
        + number(6) - offset * 60;
    return seconds * 1'000 + (m[7].matched ? std::stoi((m[7].str() + "00").substr(0, 3)) : 0);
}

} // namespace

// Input: the bytes of "settings.json" or of the pending-order file, as read from disk.
VEYRA_FUZZ_TARGET(settings)
{
    const std::optional<Json> document = jsonOf(input);
    if (!document)
        return;
    const auto settings = unlessThrows<SystemError>([&] { return AppSettings::fromJson(*document); });
    FUZZ_EXPECT(settings == settingsModel(*document), "settings decoded otherwise: " + printable(input));
    if (settings) {
        const auto refusal = thrownBy<AppError>([&] { settings->validate(); });
        FUZZ_EXPECT(refusal == validityModel(*settings), "validation: " + refusal.value_or("passed"));
        FUZZ_EXPECT(reread(*settings) == *settings, "settings changed when saved and read again");
        FUZZ_EXPECT(settings->toJson().size() == 10, "not all ten keys written");
    }

    const auto record = unlessThrows<SystemError>([&] { return PendingOrderRecord::fromJson(*document); });
    Fields f { *document };
    const QString orderNo = f.need("orderNo", textOf);
    const std::string date = f.need("createdAt", stringOf);
    FUZZ_EXPECT(!record || (f.fits && record->orderNo == orderNo && record->createdAt.isValid()),
        "pending order " + printable(input));
    // Every internet date-time is read, as the instant it names.
    if (const auto instant = f.fits ? internetDateModel(date) : std::nullopt)
        FUZZ_EXPECT(record && std::abs(record->createdAt.toMSecsSinceEpoch() - *instant) <= 1, "date " + date);
    if (!record)
        return;
    const int year = record->createdAt.toUTC().date().year();
    const auto seconds
        = std::chrono::floor<std::chrono::seconds>(std::chrono::milliseconds(record->createdAt.toMSecsSinceEpoch()));
    const PendingOrderRecord saved { record->orderNo, QDateTime::fromSecsSinceEpoch(seconds.count()) };
    FUZZ_EXPECT(year < 1 || year > 9999 || reread(*record) == saved, "the record changed when saved and read again");
}
