#include "FuzzModels.h"

#include "ConfigCompiler.h"
#include "Errors.h"
#include "MihomoManager.h"

#include <QMap>

using namespace veyra;
using namespace veyra::fuzz;

namespace {

// How the controller's numbers are read: booleans as 0 and 1, numbers truncated toward zero
// when they fit, texts trimmed and then strictly decimal; anything else has no value.
std::optional<qint64> integerModel(const Json *value)
{
    if (value && (value->is_boolean() || value->is_number_float())) {
        const double truncated = value->is_boolean() ? value->get<bool>() : std::trunc(value->get<double>());
        return truncated >= -0x1p63 && truncated < 0x1p63 ? std::optional(qint64(truncated)) : std::nullopt;
    }
    return tolerantInteger(value);
}

// Keys compared by their case-folded forms; the first match in the object's order counts.
const Json *caseless(const Json &object, const char *name)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (qtext(it.key()).toCaseFolded() == QString::fromLatin1(name).toCaseFolded())
            return &it.value();
    return nullptr;
}

std::optional<qint64> usageModel(const Json *document, const std::string &provider)
{
    const Json *entry = member(member(document, "providers"), provider), *info = member(entry, "subscriptionInfo");
    info = info && info->is_object() ? info : member(entry, "subscription-info");
    return info && info->is_object()
        ? usageSum(integerModel(caseless(*info, "upload")), integerModel(caseless(*info, "download")))
        : std::nullopt;
}

bool isRegion(const std::pair<QString, QString> &region)
{
    static const QMap<QString, QString> flags { { "日本", "🇯🇵" }, { "香港", "🇭🇰" }, { "新加坡", "🇸🇬" },
        { "台湾", "🇹🇼" }, { "美国", "🇺🇸" }, { "韩国", "🇰🇷" }, { "英国", "🇬🇧" }, { "其他地区", "🌐" } };
    return flags.contains(region.first) && flags[region.first] == region.second;
}

Outcome<QList<NodeItem>> nodesModel(const std::optional<Json> &document)
{
    const Json *all = document ? member(&*document, "all") : nullptr;
    if (!all || !all->is_array() || !std::ranges::all_of(*all, &Json::is_string))
        return document ? Outcome<QList<NodeItem>>(QStringLiteral("线路组尚未加载。")) : ParseFailure {};
    QList<NodeItem> items;
    for (const Json &entry : *all)
        if (const QString name = qtext(entry.get<std::string>());
            !oneOf(name, { "DIRECT", "REJECT", "PASS", ConfigCompiler::automaticGroup }))
            items.append(
                { name, MihomoManager::region(name).first, MihomoManager::region(name).second, -1, "维拉官方" });
    return items;
}

std::optional<QMap<QString, qint64>> latenciesModel(const std::optional<Json> &document)
{
    if (!document || !document->is_object())
        return std::nullopt;
    QMap<QString, qint64> delays;
    for (auto it = document->begin(); it != document->end(); ++it)
        if (const std::optional<qint64> delay = exactInteger(it.value()))
            delays.insert(qtext(it.key()), *delay);
        else
            return std::nullopt;
    return delays;
}

} // namespace

// Input: one body (or traffic message) from the kernel's controller; every reader looks at it.
VEYRA_FUZZ_TARGET(controller)
{
    const QByteArray data = bytesOf(input);
    const std::optional<Json> document = jsonOf(input);
    const Json *object = document && document->is_object() ? &*document : nullptr;

    const auto up = integerModel(member(object, "up")), down = integerModel(member(object, "down"));
    FUZZ_EXPECT(MihomoManager::parseTrafficSample(data)
            == (up && down ? std::optional(TrafficRateSample { *up, *down }) : std::nullopt),
        "traffic sample of " + printable(input));
    for (const char *name : { "up", "down", "count" }) {
        const Json *value = object ? member(object, name) : document ? &*document : nullptr;
        FUZZ_EXPECT(
            !document || MihomoManager::integer(value) == integerModel(value), std::string("integer under ") + name);
    }

    // The provider asked about is the first one listed, so that the reader gets past it.
    const Json *providers = member(object, "providers");
    const std::string provider
        = providers && providers->is_object() && !providers->empty() ? providers->begin().key() : "veyra_official";
    FUZZ_EXPECT(MihomoManager::parseProviderTrafficUsage(data, qtext(provider)) == usageModel(object, provider),
        "traffic usage of " + printable(input));

    const auto nodes
        = outcomeOf<QList<NodeItem>, AppError, SystemError>([&] { return MihomoManager::parseNodes(data); });
    FUZZ_EXPECT(nodes == nodesModel(document), "node list of " + printable(input));
    std::optional<QMap<QString, qint64>> delays;
    const auto refusal = thrownBy<AppError>([&] { delays = MihomoManager::parseLatencies(data); });
    FUZZ_EXPECT(delays == latenciesModel(document) && (delays || refusal == "测速接口没有返回有效结果。"),
        "delays of " + printable(input) + ": " + refusal.value_or("read"));
    // A group name becomes one path segment of the controller's address and means the same once
    // decoded, compared as bytes as the kernel reads them (a text decoder drops a leading U+FEFF).
    // A name of dots stays a dot segment: URLs decode %2E. The names are constants.
    const QString text = qtext(input), encoded = MihomoManager::path(text);
    const auto plain
        = [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F && !QString("/?#;\\").contains(c); };
    FUZZ_EXPECT(std::ranges::all_of(encoded, plain)
            && (text.isEmpty() || QByteArray::fromPercentEncoding(encoded.toLatin1()) == text.toUtf8()),
        "path component " + encoded.toStdString());
    FUZZ_EXPECT(isRegion(MihomoManager::region(text)), "region of " + printable(input));
}
