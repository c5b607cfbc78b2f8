// libsecret pulls in GLib headers that use "signals" as an identifier, so it comes before Qt.
#include <libsecret/secret.h>

#include "KeychainStore.h"

#include "AppInfo.h"
#include "Errors.h"
#include "PlatformTexts.h"

#include <QStringDecoder>
#include <QUuid>

#include <memory>

namespace veyra {

namespace {

// The platform's wording for the status that a locked item or collection stands for.
constexpr const char *interactionNotAllowedText = "User interaction is not allowed.";

const SecretSchema *schema()
{
    static const SecretSchema value = [] {
        SecretSchema schema {};
        schema.name = "net.veyra.networkassistant.GenericPassword";
        // Items are found by their two attributes alone, whatever schema wrote them.
        schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        schema.attributes[0] = { "service", SECRET_SCHEMA_ATTRIBUTE_STRING };
        schema.attributes[1] = { "account", SECRET_SCHEMA_ATTRIBUTE_STRING };
        schema.attributes[2] = { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING };
        return schema;
    }();
    return &value;
}

enum class Status { success, notFound, interactionNotAllowed, failure };

struct Outcome {
    Status status = Status::success;
    QString message;
    std::optional<QString> text;
};

Outcome failed(GError *error)
{
    Outcome outcome { Status::failure, error && error->message ? QString::fromUtf8(error->message) : QString(), {} };
    // Without a message the status number is all there is to tell the user.
    if (outcome.message.isEmpty())
        outcome.message = QStringLiteral("状态码 %1").arg(error ? error->code : -1);
    if (error)
        g_error_free(error);
    return outcome;
}

Outcome locked()
{
    return { Status::interactionNotAllowed, QString::fromLatin1(interactionNotAllowedText), {} };
}

[[noreturn]] void raise(const Outcome &outcome)
{
    throw AppError(platformText::keyring() + QStringLiteral("操作失败：") + outcome.message);
}

template <typename T> struct GUnref {
    void operator()(T *object) const { g_object_unref(object); }
};
using ServicePtr = std::unique_ptr<SecretService, GUnref<SecretService>>;
using CollectionPtr = std::unique_ptr<SecretCollection, GUnref<SecretCollection>>;

struct ItemList {
    GList *items = nullptr;
    ~ItemList() { g_list_free_full(items, g_object_unref); }
    SecretItem *first() const { return items ? static_cast<SecretItem *>(items->data) : nullptr; }
};

struct Attributes {
    GHashTable *table;
    Attributes(const QString &service, const QString &account)
        : table(secret_attributes_build(
            schema(), "service", service.toUtf8().constData(), "account", account.toUtf8().constData(), nullptr))
    {
    }
    ~Attributes() { g_hash_table_unref(table); }
};

// A private connection per call: a restarted or replaced keyring daemon never leaves us
// holding a stale session.
ServicePtr openService(Outcome &outcome)
{
    GError *error = nullptr;
    SecretService *service
        = secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service)
        outcome = failed(error);
    else if (error)
        g_error_free(error);
    return ServicePtr(service);
}

// Search without unlocking: locked items are returned too, marked as locked.
bool search(SecretService *service, const Attributes &attributes, ItemList &found, Outcome &outcome)
{
    GError *error = nullptr;
    found.items = secret_service_search_sync(service, schema(), attributes.table, SECRET_SEARCH_ALL, nullptr, &error);
    if (error) {
        outcome = failed(error);
        return false;
    }
    return true;
}

// The stored item to read or overwrite, looked up on construction. Without one to use, `item`
// is nullptr and `outcome` says why: the service or the search failed, there is no item, or it
// is locked (touching it would prompt for the keyring password). The service connection and
// the search result are held here for as long as the item is in use.
struct UnlockedItem {
    ServicePtr service;
    ItemList found;
    SecretItem *item = nullptr;
    Outcome outcome;

    UnlockedItem(const QString &serviceName, const QString &account)
    {
        service = openService(outcome);
        if (!service || !search(service.get(), Attributes(serviceName, account), found, outcome))
            return;
        SecretItem *first = found.first();
        if (!first)
            outcome = { Status::notFound, {}, {} };
        else if (secret_item_get_locked(first))
            outcome = locked();
        else
            item = first;
    }
    UnlockedItem(const UnlockedItem &) = delete;
    UnlockedItem &operator=(const UnlockedItem &) = delete;
};

Outcome loadItem(const QString &serviceName, const QString &account)
{
    const UnlockedItem lookup(serviceName, account);
    if (!lookup.item)
        return lookup.outcome;
    GError *error = nullptr;
    if (!secret_item_load_secret_sync(lookup.item, nullptr, &error))
        return failed(error);
    SecretValue *value = secret_item_get_secret(lookup.item);
    if (!value)
        return { Status::notFound, {}, {} };
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes, qsizetype(length)));
    const bool valid = !decoder.hasError();
    secret_value_unref(value);
    if (!valid)
        return { Status::notFound, {}, {} };
    return { Status::success, {}, text };
}

Outcome updateItem(const QString &serviceName, const QString &account, const QByteArray &data)
{
    const UnlockedItem lookup(serviceName, account);
    if (!lookup.item)
        return lookup.outcome;
    SecretValue *value = secret_value_new(data.constData(), data.size(), "text/plain");
    GError *error = nullptr;
    const bool stored = secret_item_set_secret_sync(lookup.item, value, nullptr, &error);
    secret_value_unref(value);
    return stored ? Outcome {} : failed(error);
}

Outcome addItem(const QString &serviceName, const QString &account, const QByteArray &data)
{
    Outcome outcome;
    ServicePtr service = openService(outcome);
    if (!service)
        return outcome;
    GError *error = nullptr;
    CollectionPtr collection(secret_collection_for_alias_sync(
        service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error));
    if (error)
        return failed(error);
    if (!collection)
        return { Status::failure, QStringLiteral("没有默认的密钥环。"), {} };
    // Writing into a locked collection would ask the user for the keyring password.
    if (secret_collection_get_locked(collection.get()))
        return locked();
    SecretValue *value = secret_value_new(data.constData(), data.size(), "text/plain");
    const QString label = QString::fromLatin1(AppInfo::identifier) + QStringLiteral(" ") + account;
    SecretItem *item = secret_item_create_sync(collection.get(), schema(), Attributes(serviceName, account).table,
        label.toUtf8().constData(), value, SECRET_ITEM_CREATE_REPLACE, nullptr, &error);
    secret_value_unref(value);
    if (!item)
        return failed(error);
    g_object_unref(item);
    return {};
}

void deleteItems(const QString &serviceName, const QString &account)
{
    Outcome outcome;
    ServicePtr service = openService(outcome);
    if (!service)
        return;
    ItemList found;
    if (!search(service.get(), Attributes(serviceName, account), found, outcome))
        return;
    for (GList *entry = found.items; entry; entry = entry->next) {
        auto *item = static_cast<SecretItem *>(entry->data);
        if (secret_item_get_locked(item))
            continue; // deleting would need an unlock prompt
        GError *error = nullptr;
        if (!secret_item_delete_sync(item, nullptr, &error) && error)
            g_error_free(error);
    }
}

} // namespace

KeychainStore::KeychainStore(UserDefaults defaults)
    : m_defaults(std::move(defaults))
{
}

QString KeychainStore::sessionNamespace() const
{
    auto defaults = m_defaults.open();
    QString value = defaults->value(QLatin1String(namespaceKey)).toString();
    if (value.isEmpty()) {
        value = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
        defaults->setValue(QLatin1String(namespaceKey), value);
        defaults->sync();
    }
    return value;
}

void KeychainStore::rotateSessionNamespace() const
{
    auto defaults = m_defaults.open();
    defaults->setValue(QLatin1String(namespaceKey), QUuid::createUuid().toString(QUuid::WithoutBraces).toLower());
    defaults->sync();
}

QString KeychainStore::service(const QString &account) const
{
    if (account == QLatin1String(sessionAccount))
        return QString::fromLatin1(AppInfo::identifier) + QStringLiteral(".session.v082-build91.") + sessionNamespace();
    return QString::fromLatin1(fixedService);
}

std::optional<QString> KeychainStore::load(const QString &account) const
{
    const Outcome outcome = loadItem(service(account), account);
    switch (outcome.status) {
    case Status::success:
        return outcome.text;
    case Status::notFound:
        return std::nullopt;
    case Status::interactionNotAllowed:
        if (account == QLatin1String(sessionAccount))
            rotateSessionNamespace();
        return std::nullopt;
    case Status::failure:
        break;
    }
    raise(outcome);
}

void KeychainStore::save(const QString &text, const QString &account) const
{
    const QByteArray data = text.toUtf8();
    Outcome outcome = updateItem(service(account), account, data);
    if (outcome.status == Status::interactionNotAllowed && account == QLatin1String(sessionAccount)) {
        rotateSessionNamespace();
        outcome.status = Status::notFound;
    }
    if (outcome.status == Status::notFound)
        outcome = addItem(service(account), account, data);
    if (outcome.status != Status::success)
        raise(outcome);
}

void KeychainStore::remove(const QString &account) const noexcept
{
    try {
        deleteItems(service(account), account);
    } catch (...) {
        // Deleting is best effort by contract; a broken defaults file must not surface here.
    }
}

} // namespace veyra
