#define G_SETTINGS_ENABLE_BACKEND
#include "GSettingsProxyStore.h"

#include "Errors.h"

// GLib has struct members named "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#pragma pop_macro("signals")

#include <algorithm>
#include <memory>

namespace veyra {

namespace {

const char *const proxySchema = "org.gnome.system.proxy";

template <typename T, void (*Free)(T *)> struct Deleter {
    void operator()(T *pointer) const { Free(pointer); }
};
using Variant = std::unique_ptr<GVariant, Deleter<GVariant, g_variant_unref>>;
using Schema = std::unique_ptr<GSettingsSchema, Deleter<GSettingsSchema, g_settings_schema_unref>>;
using SchemaKey = std::unique_ptr<GSettingsSchemaKey, Deleter<GSettingsSchemaKey, g_settings_schema_key_unref>>;

void freeSettings(GSettings *settings)
{
    g_object_unref(settings);
}
using Settings = std::unique_ptr<GSettings, Deleter<GSettings, freeSettings>>;

// Keys are named "<schema>/<key>" in the journal.
std::pair<QString, QString> split(const QString &key)
{
    const qsizetype slash = key.lastIndexOf(u'/');
    if (slash <= 0)
        throw SystemError(QStringLiteral("无效的 GSettings 键“%1”。").arg(key));
    return { key.left(slash), key.mid(slash + 1) };
}

QString child(const char *name)
{
    return QStringLiteral("%1.%2").arg(QLatin1String(proxySchema), QLatin1String(name));
}

Schema lookUp(const QString &schema)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return nullptr;
    return Schema(g_settings_schema_source_lookup(source, schema.toUtf8().constData(), TRUE));
}

Settings open(const QString &schema)
{
    // g_settings_new aborts the process on an unknown schema, so it is looked up first.
    const Schema known = lookUp(schema);
    if (!known)
        throw SystemError(QStringLiteral("没有安装 GSettings 模式“%1”。").arg(schema));
    return Settings(g_settings_new_full(known.get(), nullptr, nullptr));
}

QString text(GVariant *value)
{
    gchar *printed = g_variant_print(value, FALSE);
    QString result = QString::fromUtf8(printed);
    g_free(printed);
    return result;
}

// Parses a value in the key's own type, so a journal entry can never write a value of
// another type into the settings.
Variant parse(GSettings *settings, const QString &key, const QString &value)
{
    GSettingsSchema *schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    const Schema owned(schema);
    const SchemaKey schemaKey(g_settings_schema_get_key(schema, key.toUtf8().constData()));
    GError *error = nullptr;
    Variant parsed(g_variant_parse(
        g_settings_schema_key_get_value_type(schemaKey.get()), value.toUtf8().constData(), nullptr, nullptr, &error));
    if (!parsed) {
        const QString message = QString::fromUtf8(error->message);
        g_error_free(error);
        throw SystemError(QStringLiteral("无法解析 GSettings 值“%1”：%2").arg(value, message));
    }
    return parsed;
}

} // namespace

GSettingsProxyStore::GSettingsProxyStore()
    : m_context(g_main_context_new())
{
    g_main_context_push_thread_default(m_context);
}

GSettingsProxyStore::~GSettingsProxyStore()
{
    for (auto &[schema, settings] : m_settings)
        freeSettings(settings);
    g_main_context_pop_thread_default(m_context);
    g_main_context_unref(m_context);
}

bool GSettingsProxyStore::present()
{
    for (const QString &schema : { QString::fromLatin1(proxySchema), child("http"), child("https"), child("socks") })
        if (!lookUp(schema))
            return false;
    GSettingsBackend *backend = g_settings_backend_get_default();
    const bool kept = !G_TYPE_CHECK_INSTANCE_TYPE(backend, g_type_from_name("GMemorySettingsBackend"));
    g_object_unref(backend);
    return kept;
}

std::vector<ProxySettingsStore::Entry> GSettingsProxyStore::proxyEntries(qint64 port) const
{
    const QString host = QStringLiteral("'127.0.0.1'");
    const QString number = QString::number(port);
    std::vector<Entry> entries;
    for (const char *kind : { "http", "https", "socks" }) {
        entries.push_back({ child(kind) + QStringLiteral("/host"), host });
        entries.push_back({ child(kind) + QStringLiteral("/port"), number });
    }
    const QString schema = QString::fromLatin1(proxySchema);
    entries.push_back({ schema + QStringLiteral("/ignore-hosts"),
        QStringLiteral("['localhost', '127.0.0.1', '::1', '*.local', '169.254.0.0/16']") });
    // Last, so a desktop that follows the changes never sees manual mode with old addresses.
    entries.push_back({ schema + QStringLiteral("/mode"), QStringLiteral("'manual'") });
    return entries;
}

GSettings *GSettingsProxyStore::settings(const QString &schema)
{
    auto found = m_settings.find(schema);
    if (found != m_settings.end())
        return found->second;
    GSettings *created = open(schema).release();
    m_settings.emplace(schema, created);
    return created;
}

ProxySettingsStore::Value GSettingsProxyStore::read(const QString &key)
{
    const auto [schema, name] = split(key);
    const Variant value(g_settings_get_user_value(settings(schema), name.toUtf8().constData()));
    if (!value)
        return std::nullopt;
    return text(value.get());
}

void GSettingsProxyStore::write(const std::vector<Entry> &entries)
{
    // One delayed batch per schema, applied in the order the schemas first appear; then one
    // wait until the settings daemon has stored them all.
    std::vector<QString> order;
    for (const Entry &entry : entries)
        if (std::find(order.begin(), order.end(), split(entry.key).first) == order.end())
            order.push_back(split(entry.key).first);
    for (const QString &schema : order) {
        const Settings owned = open(schema);
        GSettings *batch = owned.get();
        // Until applied, nothing of the batch reaches the daemon: a value that fails to parse
        // leaves the schema untouched.
        g_settings_delay(batch);
        for (const Entry &entry : entries) {
            const auto [entrySchema, name] = split(entry.key);
            if (entrySchema != schema)
                continue;
            const QByteArray key = name.toUtf8();
            if (!entry.value) {
                g_settings_reset(batch, key.constData());
                continue;
            }
            const Variant value = parse(batch, name, *entry.value);
            if (!g_settings_set_value(batch, key.constData(), value.get()))
                throw SystemError(QStringLiteral("GSettings 拒绝了“%1”的值 %2。").arg(entry.key, *entry.value));
        }
        g_settings_apply(batch);
    }
    g_settings_sync();
}

} // namespace veyra
