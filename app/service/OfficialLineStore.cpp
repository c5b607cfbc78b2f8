#include "OfficialLineStore.h"

#include "Errors.h"

namespace veyra {

namespace {

QString missingLineText()
{
    return QStringLiteral("尚未取得官方线路。请登录有效会员账号并刷新权益。");
}

} // namespace

OfficialLineStore::OfficialLineStore(KeychainStore keychain, SecurityPolicy::Resolver resolver)
    : m_keychain(std::move(keychain))
    , m_resolver(std::move(resolver))
{
}

QCoro::Task<bool> OfficialLineStore::synchronize(std::optional<QString> url)
{
    const QString trimmed = url.value_or(QString()).trimmed();
    const bool stored = co_await m_executor.run([this, trimmed] {
        const QString account = QString::fromLatin1(KeychainStore::officialLineAccount);
        if (trimmed.isEmpty()) {
            m_keychain.remove(account);
            return false;
        }
        const QUrl line = SecurityPolicy::officialLineURL(trimmed, m_resolver);
        const QString absolute = line.toString(QUrl::FullyEncoded);
        if (absolute.isEmpty())
            throw AppError(QString::fromUtf8("不能保存空的安全信息。"));
        m_keychain.save(absolute, account);
        return true;
    });
    m_available = stored;
    co_return stored;
}

QCoro::Task<QUrl> OfficialLineStore::activeLine()
{
    if (!m_available)
        throw AppError(missingLineText());
    co_return co_await m_executor.run([this] {
        std::optional<QString> stored;
        try {
            stored = m_keychain.load(QString::fromLatin1(KeychainStore::officialLineAccount));
        } catch (const std::exception &) {
            stored.reset();
        }
        if (!stored || stored->isEmpty())
            throw AppError(missingLineText());
        return SecurityPolicy::officialLineURL(*stored, m_resolver);
    });
}

} // namespace veyra
