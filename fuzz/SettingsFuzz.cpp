#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "AppSettings.h"
#include "Errors.h"
#include "PendingOrderRecord.h"

#include <chrono>
#include <regex>

using namespace veyra;
using Json = nlohmann::json;
using namespace veyra::fuzz;


namespace {

// The settings record's rules: every key may be missing (or null) and then keeps its default;
// a key present with another type, or a mode that is none of the three, fails the record.
std::optional<AppSettings> settingsModel(const Json &value)
{
    if (!value.is_object())
        return std::nullopt;
    AppSettings settings;
    const std::pair<const char *, qint64 AppSettings::*> integers[] = { { "mixedPort", &AppSettings::mixedPort },
        { "socksPort", &AppSettings::socksPort }, { "controllerPort", &AppSettings::controllerPort },
        { "uiScalePercent", &AppSettings::uiScalePercent } };
    const std::pair<const char *, bool AppSettings::*> flags[] = { { "autoConnect", &AppSettings::autoConnect },
        { "startAtLogin", &AppSettings::startAtLogin }, { "showNotifications", &AppSettings::showNotifications },
        { "smartSelection", &AppSettings::smartSelection } };
    const std::pair<const char *, ConnectionMode> modes[]
        = { { "rule", ConnectionMode::rule }, { "global", ConnectionMode::global }, { "direct", ConnectionMode::direct } };
    const auto present = [&](const char *key) -> const Json * {
        auto found = value.find(key);
        return found == value.end() || found->is_null() ? nullptr : &*found;
    };
    for (const auto &[key, field] : integers)
        if (const Json *item = present(key)) {
            if (!exactInteger(*item))
                return std::nullopt;
            settings.*field = *exactInteger(*item);
        }
    for (const auto &[key, field] : flags)
        if (const Json *item = present(key)) {
            if (!item->is_boolean())
                return std::nullopt;
            settings.*field = item->get<bool>();
        }
    if (const Json *mode = present("proxyMode")) {
        const auto known = std::ranges::find_if(modes, [&](const auto &m) { return *mode == m.first; });
        if (known == std::end(modes))
            return std::nullopt;
        settings.proxyMode = known->second;
    }
    if (const Json *node = present("selectedNode")) {
        if (!node->is_string())
            return std::nullopt;
        settings.selectedNode = qtext(node->get<std::string>());
    }
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
    const std::int64_t seconds = sys_days(date).time_since_epoch().count() * 86'400 + number(4) * 3'600
        + number(5) * 60 + number(6) - offset * 60;
    return seconds * 1'000 + (m[7].matched ? std::stoi((m[7].str() + "00").substr(0, 3)) : 0);
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

    const auto settings = unlessThrows<SystemError>([&] { return AppSettings::fromJson(document); });
    FUZZ_EXPECT(settings == settingsModel(document), "settings decoded otherwise: " + printable(input));
    if (settings) {
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

    const auto record = unlessThrows<SystemError>([&] { return PendingOrderRecord::fromJson(document); });
    const auto orderNo = document.is_object() ? document.find("orderNo") : document.end();
    const auto createdAt = document.is_object() ? document.find("createdAt") : document.end();
    const bool shapeFits = document.is_object() && orderNo != document.end() && orderNo->is_string()
        && createdAt != document.end() && createdAt->is_string();
    FUZZ_EXPECT(!record || shapeFits, "a pending order without its two texts decoded");
    // Every internet date-time is read, as the instant it names.
    if (const auto instant = shapeFits ? internetDateModel(createdAt->get<std::string>()) : std::nullopt) {
        FUZZ_EXPECT(record.has_value(), "date refused: " + createdAt->get<std::string>());
        const std::int64_t read = record->createdAt.toMSecsSinceEpoch();
        FUZZ_EXPECT(read >= *instant - 1 && read <= *instant + 1, "date " + createdAt->get<std::string>() + " read otherwise");
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
