#include "OfficialLineStore.h"

#include "AppInfo.h"
#include "Errors.h"

namespace veyra {

namespace {

QString missingLineText()
{
    return QStringLiteral("尚未取得官方线路。请登录有效会员账号并刷新权益。");
}

} // namespace

OfficialLineStore::OfficialLineStore(KeychainStore keychain, SecurityPolicy::Resolver resolver, QString deviceID)
    : m_keychain(std::move(keychain))
    , m_resolver(std::move(resolver))
    , m_deviceID(std::move(deviceID))
{
}

std::optional<QString> OfficialLineStore::lineOf(const AccountUser &user)
{
    return user.subscriptionUrl ? user.subscriptionUrl : user.subscriptionUrlToken;
}

QCoro::Task<bool> OfficialLineStore::synchronize(std::optional<QString> url)
{
    const QString trimmed = url ? url->trimmed() : QString();
    auto job = [this, trimmed] {
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
    QCoro::Task<bool> task = m_executor.run(job);
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
            // unreadable: the same as missing, which the user is told about below
            stored.reset();
        }
        if (!stored || stored->isEmpty())
            throw AppError(missingLineText());
        return SecurityPolicy::officialLineURL(*stored, m_resolver);
    };
    QCoro::Task<QUrl> task = m_executor.run(job);
    co_return co_await task;
}

} // namespace veyra

namespace veyra {

ProviderSource OfficialLineStore::sourceFor(const QUrl &line) const
{
    ProviderSource source;
    source.providerID = QString::fromLatin1(providerID);
    source.url = line.toString(QUrl::FullyEncoded);
    // The subscription server tells this client apart from other kernels by this agent.
    source.userAgent = QStringLiteral("Clash.Meta/Veyra-") + QString::fromLatin1(AppInfo::version);
    source.deviceID = m_deviceID;
    source.updateInterval = updateInterval;
    return source;
}

QCoro::Task<ProviderSource> OfficialLineStore::activeSource()
{
    QCoro::Task<QUrl> task = activeLine();
    const QUrl line = co_await task;
    co_return sourceFor(line);
}

} // namespace veyra
