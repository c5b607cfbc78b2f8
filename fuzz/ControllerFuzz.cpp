#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "ConfigCompiler.h"
#include "Errors.h"
#include "MihomoManager.h"

using namespace veyra;
using Json = nlohmann::json;
using namespace veyra::fuzz;

namespace {

// How the controller's numbers are read: booleans as 0 and 1, numbers truncated toward zero
// when they fit, texts trimmed and then strictly decimal; anything else has no value.
std::optional<qint64> integerModel(const Json *value)
{
    if (!value)
        return std::nullopt;
    if (value->is_boolean())
        return value->get<bool>() ? 1 : 0;
    if (value->is_number_float()) {
        const double truncated = std::trunc(value->get<double>());
        if (!(truncated >= -0x1p63 && truncated < 0x1p63))
            return std::nullopt;
        return static_cast<qint64>(truncated);
    }
    if (value->is_number())
        return exactInteger(*value);
    if (value->is_string())
        return decimal(trimmedWhiteSpace(qtext(value->get<std::string>())));
    return std::nullopt;
}

// The name is taken with its length: a key may hold a NUL, which a C string would end at.
const Json *key(const Json &object, std::string_view name)
{
    auto found = object.find(std::string(name));
    return found == object.end() ? nullptr : &*found;
}

std::optional<TrafficRateSample> sampleModel(const Json &document)
{
    const auto up = integerModel(document.is_object() ? key(document, "up") : nullptr);
    const auto down = integerModel(document.is_object() ? key(document, "down") : nullptr);
    return up && down ? std::optional(TrafficRateSample { *up, *down }) : std::nullopt;
}

// Keys compared by their case-folded forms; the first match in the object's order counts.
const Json *caseless(const Json &object, const char *name)
{
    const QString wanted = QString::fromLatin1(name).toCaseFolded();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (qtext(it.key()).toCaseFolded() == wanted)
            return &it.value();
    return nullptr;
}

// The object under `name` in `parent`, or nothing.
const Json *objectAt(const Json *parent, std::string_view name)
{
    const Json *found = parent && parent->is_object() ? key(*parent, name) : nullptr;
    return found && found->is_object() ? found : nullptr;
}

std::optional<qint64> usageModel(const Json &document, const std::string &provider)
{
    const Json *entry = objectAt(objectAt(&document, "providers"), provider);
    const Json *info = objectAt(entry, "subscriptionInfo");
    if (!(info = info ? info : objectAt(entry, "subscription-info")))
        return std::nullopt;
    return usageSum(integerModel(caseless(*info, "upload")), integerModel(caseless(*info, "download")));
}

bool isRegion(const QString &region, const QString &flag)
{
    static const QMap<QString, QString> flags { { "日本", "🇯🇵" }, { "香港", "🇭🇰" }, { "新加坡", "🇸🇬" }, { "台湾", "🇹🇼" },
        { "美国", "🇺🇸" }, { "韩国", "🇰🇷" }, { "英国", "🇬🇧" }, { "其他地区", "🌐" } };
    return flags.contains(region) && flags[region] == flag;
}

Outcome<QList<NodeItem>> nodesModel(const std::optional<Json> &document)
{
    if (!document)
        return ParseFailure {};
    const Json *all = document->is_object() ? key(*document, "all") : nullptr;
    if (!all || !all->is_array())
        return QStringLiteral("线路组尚未加载。");
    QStringList names;
    for (const Json &name : *all) {
        if (!name.is_string())
            return QStringLiteral("线路组尚未加载。");
        names << qtext(name.get<std::string>());
    }
    QList<NodeItem> items;
    for (const QString &name : names) {
        if (name == u"DIRECT" || name == u"REJECT" || name == u"PASS"
            || name == QString::fromUtf8(ConfigCompiler::automaticGroup))
            continue;
        const auto [region, flag] = MihomoManager::region(name);
        items.append(NodeItem { name, region, flag, -1, QStringLiteral("维拉官方") });
    }
    return items;
}

std::optional<QMap<QString, qint64>> latenciesModel(const std::optional<Json> &document)
{
    if (!document || !document->is_object())
        return std::nullopt;
    QMap<QString, qint64> delays;
    for (auto it = document->begin(); it != document->end(); ++it) {
        const std::optional<qint64> delay = exactInteger(it.value());
        if (!delay)
            return std::nullopt;
        delays.insert(qtext(it.key()), *delay);
    }
    return delays;
}

// A group name becomes one path segment of the controller's address and means the same once
// decoded. (A name of dots stays a dot segment: URLs decode %2E. The names are constants.)
void checkPathComponent(const QString &component)
{
    const QString encoded = MihomoManager::path(component);
    for (const QChar c : encoded)
        FUZZ_EXPECT(
            c.unicode() > 0x20 && c.unicode() < 0x7F && c != u'/' && c != u'?' && c != u'#' && c != u';' && c != u'\\',
            "unescaped character in " + encoded.toStdString());
    if (!component.isEmpty()) {
        // Compared as bytes, as the kernel reads them: a text decoder drops a leading U+FEFF.
        const QByteArray decoded = QByteArray::fromPercentEncoding(encoded.toLatin1());
        FUZZ_EXPECT(decoded == component.toUtf8(), "path component came back as " + printable(decoded.toStdString()));
    }
}

} // namespace

// Input: one body (or traffic message) from the kernel's controller; every reader looks at it.
VEYRA_FUZZ_TARGET(controller)
{
    const QByteArray data(input.data(), static_cast<qsizetype>(input.size()));
    const std::optional<Json> document = jsonOf(input);
    const Json *object = document && document->is_object() ? &*document : nullptr;

    FUZZ_EXPECT(MihomoManager::parseTrafficSample(data) == (document ? sampleModel(*document) : std::nullopt),
        "traffic sample of " + printable(input));
    if (document)
        for (const char *name : { "up", "down", "count" })
            FUZZ_EXPECT(MihomoManager::integer(object ? key(*object, name) : &*document)
                    == integerModel(object ? key(*object, name) : &*document),
                std::string("integer under ") + name);

    // The provider asked about is the first one listed, so that the reader gets past it.
    const Json *providers = objectAt(object, "providers");
    const std::string provider = providers && !providers->empty() ? providers->begin().key() : "veyra_official";
    FUZZ_EXPECT(MihomoManager::parseProviderTrafficUsage(data, qtext(provider))
            == (document ? usageModel(*document, provider) : std::nullopt),
        "traffic usage of " + printable(input));

    const auto nodes
        = outcomeOf<QList<NodeItem>, AppError, SystemError>([&] { return MihomoManager::parseNodes(data); });
    FUZZ_EXPECT(nodes == nodesModel(document), "node list of " + printable(input));
    if (const auto *items = std::get_if<QList<NodeItem>>(&nodes))
        for (const NodeItem &item : *items)
            FUZZ_EXPECT(isRegion(item.region, item.flag), "region " + item.region.toStdString());

    std::optional<QMap<QString, qint64>> delays;
    try {
        delays = MihomoManager::parseLatencies(data);
    } catch (const AppError &error) {
        FUZZ_EXPECT(error.description() == u"测速接口没有返回有效结果。", error.description().toStdString());
    }
    FUZZ_EXPECT(delays == latenciesModel(document), "delays of " + printable(input));

    const QString text = qtext(input);
    checkPathComponent(text);
    const auto [region, flag] = MihomoManager::region(text);
    FUZZ_EXPECT(isRegion(region, flag), "region " + region.toStdString());
}
