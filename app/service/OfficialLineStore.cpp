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

std::optional<QString> OfficialLineStore::lineOf(const AccountUser &user)
{
    return user.subscriptionUrl ? user.subscriptionUrl : user.subscriptionUrlToken;
}

QCoro::Task<bool> OfficialLineStore::synchronize(std::optional<QString> url)
{
    // The job captures pointers only: GCC 12 destroys the executor's copy of a job twice when
    // it owns something with a destructor. `trimmed` lives in this frame until the job is done.
    const QString trimmed = url ? url->trimmed() : QString();
    auto job = [this, line = &trimmed] {
        const QString &trimmed = *line;
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
    };
    QCoro::Task<bool> task = m_executor.run(std::move(job));
    const bool stored = co_await task;
    m_available = stored;
    co_return stored;
}

QCoro::Task<QUrl> OfficialLineStore::activeLine()
{
    if (!m_available)
        throw AppError(missingLineText());
    auto job = [this] {
        std::optional<QString> stored;
        try {
            stored = m_keychain.load(QString::fromLatin1(KeychainStore::officialLineAccount));
        } catch (const std::exception &) {
            stored.reset();
        }
        if (!stored || stored->isEmpty())
            throw AppError(missingLineText());
        return SecurityPolicy::officialLineURL(*stored, m_resolver);
    };
    QCoro::Task<QUrl> task = m_executor.run(std::move(job));
    co_return co_await task;
}

} // namespace veyra
