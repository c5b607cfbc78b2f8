#include "FuzzModels.h"
#include "FuzzTarget.h"

#include "ConfigCompiler.h"
#include "Errors.h"
#include "MihomoManager.h"

#include <string_view>
#include <variant>

using namespace veyra;
using Json = nlohmann::json;
using veyra::fuzz::qtext;

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
        return fuzz::exactInteger(*value);
    if (value->is_string())
        return fuzz::decimal(fuzz::trimmedWhiteSpace(qtext(value->get<std::string>())));
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
    if (!document.is_object())
        return std::nullopt;
    const std::optional<qint64> up = integerModel(key(document, "up"));
    const std::optional<qint64> down = integerModel(key(document, "down"));
    if (!up || !down)
        return std::nullopt;
    return TrafficRateSample { *up, *down };
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

std::optional<qint64> usageModel(const Json &document, const std::string &provider)
{
    if (!document.is_object())
        return std::nullopt;
    const Json *providers = key(document, "providers");
    if (!providers || !providers->is_object())
        return std::nullopt;
    const Json *entry = key(*providers, provider);
    if (!entry || !entry->is_object())
        return std::nullopt;
    const Json *info = key(*entry, "subscriptionInfo");
    if (!info || !info->is_object())
        info = key(*entry, "subscription-info");
    if (!info || !info->is_object())
        return std::nullopt;
    const std::optional<qint64> upload = integerModel(caseless(*info, "upload"));
    const std::optional<qint64> download = integerModel(caseless(*info, "download"));
    if (!upload && !download)
        return std::nullopt;
    const __int128 sum = __int128(std::max<qint64>(0, upload.value_or(0))) + std::max<qint64>(0, download.value_or(0));
    return static_cast<qint64>(std::min<__int128>(sum, INT64_MAX));
}

const QList<std::pair<QString, QString>> &regions()
{
    static const QList<std::pair<QString, QString>> all {
        { "日本", "🇯🇵" },
        { "香港", "🇭🇰" },
        { "新加坡", "🇸🇬" },
        { "台湾", "🇹🇼" },
        { "美国", "🇺🇸" },
        { "韩国", "🇰🇷" },
        { "英国", "🇬🇧" },
        { "其他地区", "🌐" },
    };
    return all;
}

struct ParseFailure {
    bool operator==(const ParseFailure &) const = default;
};

std::variant<ParseFailure, QString, QList<NodeItem>> nodesModel(const Json &document, bool isJson)
{
    if (!isJson)
        return ParseFailure {};
    const Json *all = document.is_object() ? key(document, "all") : nullptr;
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

std::optional<QMap<QString, qint64>> latenciesModel(const Json &document, bool isJson)
{
    if (!isJson || !document.is_object())
        return std::nullopt;
    QMap<QString, qint64> delays;
    for (auto it = document.begin(); it != document.end(); ++it) {
        const std::optional<qint64> delay = fuzz::exactInteger(it.value());
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
        FUZZ_EXPECT(decoded == component.toUtf8(), "path component came back as " + fuzz::printable(decoded.toStdString()));
    }
}

} // namespace

// Input: one body (or traffic message) from the kernel's controller; every reader looks at it.
VEYRA_FUZZ_TARGET(controller)
{
    const QByteArray data(input.data(), static_cast<qsizetype>(input.size()));
    const Json document = Json::parse(input.begin(), input.end(), nullptr, false);
    const bool isJson = !document.is_discarded();

    const std::optional<TrafficRateSample> sample = MihomoManager::parseTrafficSample(data);
    const std::optional<TrafficRateSample> expectedSample = isJson ? sampleModel(document) : std::nullopt;
    FUZZ_EXPECT(sample == expectedSample, "traffic sample of " + fuzz::printable(input));
    if (isJson)
        for (const char *name : { "up", "down", "count" })
            FUZZ_EXPECT(MihomoManager::integer(document.is_object() ? key(document, name) : &document)
                    == integerModel(document.is_object() ? key(document, name) : &document),
                std::string("integer under ") + name);

    // The provider asked about is the first one listed, so that the reader gets past it.
    std::string provider = "veyra_official";
    if (isJson && document.is_object()) {
        const Json *providers = key(document, "providers");
        if (providers && providers->is_object() && !providers->empty())
            provider = providers->begin().key();
    }
    FUZZ_EXPECT(MihomoManager::parseProviderTrafficUsage(data, qtext(provider))
            == (isJson ? usageModel(document, provider) : std::nullopt),
        "traffic usage of " + fuzz::printable(input));

    const auto expectedNodes = nodesModel(document, isJson);
    std::variant<ParseFailure, QString, QList<NodeItem>> nodes;
    try {
        nodes = MihomoManager::parseNodes(data);
    } catch (const AppError &error) {
        nodes = error.description();
    } catch (const SystemError &) {
        nodes = ParseFailure {};
    }
    FUZZ_EXPECT(nodes == expectedNodes, "node list of " + fuzz::printable(input));
    if (const auto *items = std::get_if<QList<NodeItem>>(&nodes))
        for (const NodeItem &item : *items)
            FUZZ_EXPECT(regions().contains(std::pair(item.region, item.flag)), "region " + item.region.toStdString());

    std::optional<QMap<QString, qint64>> delays;
    try {
        delays = MihomoManager::parseLatencies(data);
    } catch (const AppError &error) {
        FUZZ_EXPECT(error.description() == u"测速接口没有返回有效结果。", error.description().toStdString());
    }
    FUZZ_EXPECT(delays == latenciesModel(document, isJson), "delays of " + fuzz::printable(input));

    const QString text = qtext(std::string(input));
    checkPathComponent(text);
    const auto [region, flag] = MihomoManager::region(text);
    FUZZ_EXPECT(regions().contains(std::pair(region, flag)), "region " + region.toStdString());
}
