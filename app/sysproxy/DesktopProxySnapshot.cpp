#include "DesktopProxySnapshot.h"

#include "Errors.h"

namespace veyra {

json::Json DesktopProxySnapshot::toJson() const
{
    json::Json list = json::Json::array();
    for (const ProxyKeyRecord &record : keys) {
        list.push_back({ { "store", json::str(record.store) }, { "key", json::str(record.key) },
            { "previous", record.previous ? json::Json(json::str(*record.previous)) : json::Json(nullptr) },
            { "applied", json::str(record.applied) } });
    }
    return { { "keys", list } };
}

DesktopProxySnapshot DesktopProxySnapshot::fromJson(const json::Json &value)
{
    const json::Json &list = json::require(value, "keys");
    if (!list.is_array())
        throw SystemError(QStringLiteral("数据字段“keys”类型不正确。"));
    DesktopProxySnapshot snapshot;
    for (const json::Json &item : list) {
        ProxyKeyRecord record;
        record.store = json::requireString(item, "store");
        record.key = json::requireString(item, "key");
        // Required, but null stands for "the user had set nothing here".
        if (!item.contains("previous"))
            throw SystemError(QStringLiteral("数据缺少字段“previous”。"));
        record.previous = json::optionalString(item, "previous");
        record.applied = json::requireString(item, "applied");
        snapshot.keys.push_back(std::move(record));
    }
    return snapshot;
}

} // namespace veyra
