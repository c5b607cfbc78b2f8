// The account session: signing in, keeping the account current, signing out, and the
// official line that comes with an active membership. A network outage never signs anyone
// out; only the service rejecting the token does.
#include "AppModel.h"

#include "AppCollaborators.h"

#include "Errors.h"
#include "Logger.h"
#include "SessionIdentityStore.h"
#include "Settled.h"

namespace veyra {

namespace {
const QString sessionAccount = QString::fromLatin1(KeychainStore::sessionAccount);
const QString lineAccount = QString::fromLatin1(KeychainStore::officialLineAccount);
} // namespace

QCoro::Task<> AppModel::login(QString account, QString password, bool registering)
{
    const AuthenticationMode mode = registering ? AuthenticationMode::registration : AuthenticationMode::login;
    account = account.trimmed();
    setAuthenticationErrorMessage(std::nullopt);
    if (const std::optional<QString> problem = AuthenticationErrorMapper::validateInput(account, password, mode)) {
        setAuthenticationErrorMessage(*problem);
        co_return;
    }
    setIsBusy(true);

    Settled<AuthResult> signedIn = co_await settle(api().login(account, password, registering));
    // A refused sign-in: logged, and shown in the sheet in the words the mapping chooses.
    const auto refuse = [this, mode](const std::exception_ptr &why) {
        Step step(*this);
        Logger::shared().log(Logger::redact(describe(why)));
        setAuthenticationErrorMessage(AuthenticationErrorMapper::message(describe(why), mode));
        setIsBusy(false);
    };
    if (signedIn.failure) {
        refuse(signedIn.failure);
        co_return;
    }
    const AuthResult result = std::move(*signedIn.value);

    // The token is only ours once it is stored; otherwise the service takes it back.
    api().setToken(result.token);
    auto save = [keychain = m_collaborators->keychain, token = result.token] { keychain.save(token, sessionAccount); };
    std::exception_ptr failure = co_await failureOf(m_ioExecutor.run(save));
    if (failure) {
        co_await abandonToken(false);
        Step step(*this);
        setAuthenticationErrorMessage(QStringLiteral("无法安全保存登录状态，请稍后重试"));
        Logger::shared().log(QStringLiteral("登录令牌无法保存：") + Logger::redact(describe(failure)));
        setIsBusy(false);
        co_return;
    }

    AccountUser user;
    if (result.user) {
        user = *result.user;
    } else {
        Settled<AccountUser> me = co_await settle(api().currentUser());
        if (me.failure) {
            // Without an account there is no session: the saved token is taken back too, or
            // the next start would sign in silently behind the error shown now.
            co_await abandonToken(true);
            refuse(me.failure);
            co_return;
        }
        user = std::move(*me.value);
    }
    co_await adoptAccount(user);

    failure = co_await failureOf(syncOfficialLine());
    if (failure) {
        setOfficialLineReady(false);
        Logger::shared().log(QStringLiteral("账号已登录，线路将在后台重试同步：") + Logger::redact(describe(failure)));
    }

    scheduleAccessExpiry();
    // An order that was being paid when an earlier session was turned away is followed again.
    co_await resumePendingOrder();
    Step step(*this);
    setShowAuthentication(false);
    setSelectedPage(membershipActive() ? AppPage::dashboard : AppPage::membership);
    setStatusMessage(registering ? QStringLiteral("注册成功") : QStringLiteral("登录成功"));
    setAlertMessage(std::nullopt);
    setIsBusy(false);
}

QCoro::Task<> AppModel::abandonToken(bool saved)
{
    try {
        co_await api().logout();
    } catch (const std::exception &) {
        // revoking is a courtesy to the service; the token is forgotten here either way
    }
    api().setToken(std::nullopt);
    if (!saved)
        co_return;
    auto remove = [keychain = m_collaborators->keychain] { keychain.remove(sessionAccount); };
    try {
        co_await m_ioExecutor.run(remove);
    } catch (const std::exception &error) {
        Logger::shared().log(QStringLiteral("登录令牌无法删除：") + Logger::redact(describe(error)));
    }
}

QCoro::Task<> AppModel::adoptAccount(AccountUser user)
{
    setUser(user);
    mergeTrafficUsageSources();
    // The name is remembered for the next start; losing it only costs a placeholder then.
    auto remember = [name = user.account] { SessionIdentityStore::saveAccount(name); };
    try {
        co_await m_ioExecutor.run(remember);
    } catch (const std::exception &) {
        // harmless: only the placeholder name at the next start is lost
    }
}

QCoro::Task<> AppModel::refreshAccount(bool silent)
{
    // A sign-out while a request is out ends this session: what the answer brings belongs
    // to it and is dropped, and a line stored meanwhile is taken away again.
    const quint64 session = m_sessionGeneration;
    const auto signedOutMeanwhile = [this, session] { return m_sessionGeneration != session; };
    std::exception_ptr failure;
    try {
        const AccountUser user = co_await api().currentUser();
        if (signedOutMeanwhile())
            co_return;
        co_await adoptAccount(user);
        co_await syncOfficialLine();
    } catch (...) {
        failure = std::current_exception();
    }
    if (signedOutMeanwhile()) {
        try {
            co_await officialLineStore().synchronize(std::nullopt);
        } catch (const std::exception &) {
            // the sign-out's own removal of the line already ran or failed the same way
        }
        setOfficialLineReady(false);
        co_return;
    }

    if (!failure) {
        scheduleAccessExpiry();
        if (!membershipActive()) {
            setSelectedPage(AppPage::membership);
            if (m_isConnected)
                co_await disconnect();
        }
        co_return;
    }

    bool expired = false;
    try {
        std::rethrow_exception(failure);
    } catch (const APIClientError &) {
        expired = true;
    } catch (...) {
        // an outage: handled below, the session stays
    }
    if (expired) {
        co_await invalidatePersistedSession();
        Logger::shared().log(Logger::redact(describe(failure)));
        if (!silent)
            setAlertMessage(QStringLiteral("登录状态已过期，请重新登录。"));
        co_return;
    }
    // An outage: the session, the user and the stored token all stay.
    Step step(*this);
    if (!m_isConnected)
        setStatusMessage(QStringLiteral("登录状态已保留，会员权益等待网络恢复后同步"));
    const QString text = Logger::redact(describe(failure));
    Logger::shared().log(text);
    if (!silent)
        setAlertMessage(text);
}

QCoro::Task<> AppModel::syncOfficialLine()
{
    if (membershipActive()) {
        const bool ready = co_await officialLineStore().synchronize(OfficialLineStore::lineOf(*m_user));
        setOfficialLineReady(ready);
        co_return;
    }
    // An account without membership never keeps a line on this computer.
    co_await officialLineStore().synchronize(std::nullopt);
    setOfficialLineReady(false);
}

QCoro::Task<> AppModel::forgetAccount(bool keepPendingOrder)
{
    ++m_sessionGeneration;
    m_accessExpiry.stop();
    api().setToken(std::nullopt);
    auto forget = [keychain = m_collaborators->keychain] {
        keychain.remove(sessionAccount);
        try {
            SessionIdentityStore::clear();
        } catch (const std::exception &) {
            // harmless: a stale name is only shown until the next sign-in
        }
    };
    co_await m_ioExecutor.run(forget);
    {
        Step step(*this);
        setUser(std::nullopt);
        m_trafficIdentity.reset();
        setObservedTrafficUsedBytes(std::nullopt);
        setCurrentOrder(std::nullopt);
        setShowCheckout(false);
    }
    if (!keepPendingOrder) {
        try {
            co_await settingsStore().savePendingOrder(std::nullopt);
        } catch (const std::exception &) {
            // an order record left behind expires on its own after a day
        }
    }
    try {
        co_await officialLineStore().synchronize(std::nullopt);
    } catch (const std::exception &) {
        // best effort: the line is unusable without a membership anyway
    }
    setOfficialLineReady(false);
}

QCoro::Task<> AppModel::invalidatePersistedSession(bool keepPendingOrder)
{
    if (m_paymentTask)
        m_paymentTask->cancel();
    persistObservedTraffic();
    if (m_isConnected)
        co_await disconnect();
    co_await forgetAccount(keepPendingOrder);
    Step step(*this);
    setAuthenticationMode(AuthenticationMode::login);
    setAuthenticationErrorMessage(QStringLiteral("登录状态已过期，请重新登录"));
    setShowAuthentication(true);
    setStatusMessage(QStringLiteral("需要重新登录"));
    notifyFailure(QStringLiteral("登录状态已过期，请重新登录。"));
}

QCoro::Task<> AppModel::logout()
{
    if (m_isBusy)
        co_return;
    if (m_paymentTask)
        m_paymentTask->cancel();
    persistObservedTraffic();
    if (m_isConnected)
        co_await disconnect();

    // Never sign out while the machine may still point at a kernel that is about to lose its
    // line: one repair, then refuse.
    const QString unsafe = QStringLiteral("网络连接尚未安全停止，为保护系统网络状态，本次未退出账号。");
    if (m_isCoreRunning || m_isConnected) {
        Logger::shared().log(unsafe);
        setAlertMessage(unsafe);
        co_await repairNetworkSettings();
        if (m_isCoreRunning || m_isConnected) {
            setAlertMessage(unsafe);
            co_return;
        }
    }

    try {
        co_await api().logout();
    } catch (const std::exception &) {
        // courtesy: the token is forgotten here whatever the service says
    }
    co_await forgetAccount();
    setStatusMessage(QStringLiteral("已退出账号"));
}

QCoro::Task<bool> AppModel::restoreSession(bool firstRun)
{
    if (firstRun) {
        auto clear = [keychain = m_collaborators->keychain] { keychain.remove(sessionAccount); };
        co_await m_ioExecutor.run(clear);
        api().setToken(std::nullopt);
        Logger::shared().log(QStringLiteral("检测到本机首次使用，已清除残留会话并进入注册界面。"));
        co_return false;
    }
    auto load = [keychain = m_collaborators->keychain] {
        return std::make_pair(keychain.load(sessionAccount), SessionIdentityStore::loadAccount());
    };
    std::optional<QString> token;
    std::optional<QString> name;
    try {
        std::tie(token, name) = co_await m_ioExecutor.run(load);
    } catch (const std::exception &error) {
        // A secret store that cannot be read is no session, and says why in the log.
        Logger::shared().log(Logger::redact(describe(error)));
    }
    if (!token || token->isEmpty())
        co_return false;
    api().setToken(token);
    m_restoredAccountName = name.value_or(QStringLiteral("已保存登录"));
    co_return true;
}

void AppModel::showRestoredSession()
{
    if (!m_restoredAccountName)
        return;
    AccountUser provisional;
    provisional.account = *m_restoredAccountName;
    m_restoredAccountName.reset();
    Step step(*this);
    setUser(provisional);
    setStatusMessage(QStringLiteral("正在自动恢复登录…"));
}

} // namespace veyra
