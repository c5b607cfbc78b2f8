#include "AppModel.h"

#include "AppCollaborators.h"

#include "AppInfo.h"
#include "ConfigCompiler.h"
#include "Errors.h"
#include "Logger.h"

#include <algorithm>

namespace veyra {

QString AppModel::notificationTitle()
{
    return QString::fromUtf8(AppInfo::displayName);
}

AppModel::AppModel(QObject *parent)
    : AppModel(AppCollaborators::product(), parent)
{
}

AppModel::AppModel(AppCollaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_collaborators(std::make_unique<AppCollaborators>(std::move(collaborators)))
{
    m_accessExpiry.setSingleShot(true);
    QObject::connect(&m_accessExpiry, &QTimer::timeout, this, &AppModel::accessExpiryReached);
    watchForWake();
}

AppModel::~AppModel()
{
    // The loops hold the model weakly; stopping them here just makes them end sooner.
    if (m_paymentTask)
        m_paymentTask->cancel();
    cancelMonitors();
}

SettingsStore &AppModel::settingsStore()
{
    return *m_collaborators->settingsStore;
}
OfficialLineStore &AppModel::officialLineStore()
{
    return *m_collaborators->officialLineStore;
}
APIClient &AppModel::api()
{
    return *m_collaborators->api;
}
SystemProxyManager &AppModel::proxy()
{
    return *m_collaborators->proxy;
}
MihomoManager &AppModel::core()
{
    return *m_collaborators->core;
}
NotificationService &AppModel::notifications()
{
    return *m_collaborators->notifications;
}

AppModel::Step::Step(AppModel &model)
    : m_model(model)
{
    ++m_model.m_openSteps;
}

AppModel::Step::~Step()
{
    if (--m_model.m_openSteps == 0 && m_model.m_stateChangedPending) {
        m_model.m_stateChangedPending = false;
        emit m_model.stateChanged();
    }
}

void AppModel::changedState()
{
    if (m_openSteps > 0)
        m_stateChangedPending = true;
    else
        emit stateChanged();
}

void AppModel::sendNotification(const QString &body)
{
    notifications().send(notificationTitle(), body, m_settings.showNotifications);
}

void AppModel::setSelectedPage(AppPage page)
{
    publish(m_selectedPage, page, &AppModel::selectedPageChanged);
}
void AppModel::setAlertMessage(const std::optional<QString> &message)
{
    // Whoever sets the alert, no secret reaches the screen.
    std::optional<QString> masked;
    if (message)
        masked = Logger::redact(*message);
    Step step(*this);
    publish(m_alertMessage, masked, &AppModel::alertMessageChanged);
    // The failure the tray shows has been seen once its alert is dismissed.
    if (!message)
        setConnectionFailed(false);
}
void AppModel::setAuthenticationErrorMessage(const std::optional<QString> &message)
{
    publish(m_authenticationErrorMessage, message, &AppModel::authenticationErrorMessageChanged);
}
void AppModel::setShowAuthentication(bool show)
{
    publish(m_showAuthentication, show, &AppModel::showAuthenticationChanged);
}
void AppModel::setShowCheckout(bool show)
{
    publish(m_showCheckout, show, &AppModel::showCheckoutChanged);
}
void AppModel::setAuthenticationMode(AuthenticationMode mode)
{
    publish(m_authenticationMode, mode, &AppModel::authenticationModeChanged);
}

void AppModel::setSettings(const AppSettings &value)
{
    publish(m_settings, value, &AppModel::settingsChanged);
}
void AppModel::setOfficialLineReady(bool value)
{
    publish(m_officialLineReady, value, &AppModel::officialLineReadyChanged);
}
void AppModel::setNodes(const QList<NodeItem> &value)
{
    publish(m_nodes, value, &AppModel::nodesChanged);
}
void AppModel::setServicePlans(const QList<Plan> &all)
{
    QList<Plan> offered = all;
    offered.removeIf([](const Plan &plan) { return plan.enabled == false; });
    std::stable_sort(offered.begin(), offered.end(),
        [](const Plan &a, const Plan &b) { return a.sortOrder.value_or(0) < b.sortOrder.value_or(0); });
    Step step(*this);
    if (m_servicePlans != all) {
        m_servicePlans = all;
        changedState();
    }
    publish(m_plans, offered, &AppModel::plansChanged);
}
void AppModel::setUser(const std::optional<AccountUser> &value)
{
    publish(m_user, value, &AppModel::userChanged);
}
void AppModel::setCurrentOrder(const std::optional<PaymentOrder> &value)
{
    publish(m_currentOrder, value, &AppModel::currentOrderChanged);
}
void AppModel::setCheckoutImage(const QImage &value)
{
    // Images compare by pixels; any replacement is a change worth showing.
    m_checkoutImage = value;
    emit checkoutImageChanged();
    changedState();
}
void AppModel::setIsConnected(bool value)
{
    publish(m_isConnected, value, &AppModel::isConnectedChanged);
    if (!value)
        resetSpeed();
}
void AppModel::setIsCoreRunning(bool value)
{
    publish(m_isCoreRunning, value, &AppModel::isCoreRunningChanged);
}
void AppModel::setIsBusy(bool value)
{
    if (!value)
        m_busySwitchingConnection = false;
    publish(m_isBusy, value, &AppModel::isBusyChanged);
}
void AppModel::setIsTesting(bool value)
{
    publish(m_isTesting, value, &AppModel::isTestingChanged);
}
void AppModel::setSelectingNodeName(const std::optional<QString> &value)
{
    publish(m_selectingNodeName, value, &AppModel::selectingNodeNameChanged);
}
void AppModel::setStatusMessage(const QString &value)
{
    publish(m_statusMessage, value, &AppModel::statusMessageChanged);
}
void AppModel::setObservedTrafficUsedBytes(const std::optional<qint64> &value)
{
    publish(m_observedTrafficUsedBytes, value, &AppModel::observedTrafficUsedBytesChanged);
}

bool AppModel::membershipActive() const
{
    return m_user && m_user->membership && m_user->membership->active;
}

AppAccessState AppModel::accessState() const
{
    if (!m_user)
        return AppAccessState::signedOut;
    return membershipActive() ? AppAccessState::member : AppAccessState::signedIn;
}

QString AppModel::activeNodeName() const
{
    if (m_settings.smartSelection)
        return QString::fromUtf8(ConfigCompiler::automaticGroup);
    if (!m_settings.selectedNode.isEmpty())
        return m_settings.selectedNode;
    return QStringLiteral("尚未选择");
}

std::optional<int> AppModel::currentDelay() const
{
    if (!m_isConnected)
        return std::nullopt;
    if (!m_settings.smartSelection) {
        auto selected = std::find_if(
            m_nodes.begin(), m_nodes.end(), [&](const NodeItem &node) { return node.name == m_settings.selectedNode; });
        if (selected != m_nodes.end())
            return selected->displayDelay();
    }
    std::optional<int> best;
    for (const NodeItem &node : m_nodes) {
        if (node.delay <= 0)
            continue;
        const std::optional<int> score = node.displayDelay();
        if (score && (!best || *score < *best))
            best = score;
    }
    return best;
}

QString AppModel::connectionQualityText() const
{
    if (!m_isConnected)
        return QStringLiteral("未连接");
    const std::optional<int> delay = currentDelay();
    if (!delay)
        return QStringLiteral("等待测速");
    const QString grade = *delay <= 99 ? QStringLiteral("优秀 · ")
        : *delay <= 249                ? QStringLiteral("良好 · ")
                                       : QStringLiteral("较慢 · ");
    return grade + QString::number(*delay) + QStringLiteral(" ms");
}

QString AppModel::menuBarSystemImage() const
{
    if (!m_user)
        return QStringLiteral("person.crop.circle");
    if (!membershipActive())
        return QStringLiteral("lock.fill");
    if (m_isTesting)
        return QStringLiteral("speedometer");
    if (!m_isConnected)
        return QStringLiteral("network.slash");
    const std::optional<int> delay = currentDelay();
    if (!delay || *delay < 250)
        return QStringLiteral("network.badge.shield.half.filled");
    return QStringLiteral("exclamationmark.triangle.fill");
}

QString AppModel::membershipStatusText() const
{
    if (!m_user)
        return QStringLiteral("登录后查看会员权益");
    return membershipActive() ? QStringLiteral("会员权益已生效") : QStringLiteral("当前没有有效会员");
}

QString AppModel::officialLineStatusText() const
{
    if (m_officialLineReady)
        return QStringLiteral("官方线路已安全下发");
    if (!m_user)
        return QStringLiteral("登录后自动获取官方线路");
    if (!membershipActive())
        return QStringLiteral("开通会员后自动获取官方线路");
    return QStringLiteral("等待后台下发官方线路");
}

std::optional<Plan> AppModel::currentPlan() const
{
    if (!m_user || !m_user->membership || !m_user->membership->planId)
        return std::nullopt;
    const QString &planId = *m_user->membership->planId;
    // Among every plan the service knows, offered or not: a member keeps a plan that is no
    // longer sold.
    auto plan = std::find_if(
        m_servicePlans.begin(), m_servicePlans.end(), [&](const Plan &candidate) { return candidate.id == planId; });
    if (plan == m_servicePlans.end())
        return std::nullopt;
    return *plan;
}

QString AppModel::membershipPlanText() const
{
    if (auto plan = currentPlan())
        return plan->name;
    return membershipActive() ? QStringLiteral("已开通") : QStringLiteral("未开通");
}

QString AppModel::membershipExpiryText() const
{
    if (!m_user)
        return QStringLiteral("尚未登录");
    const std::optional<Membership> &membership = m_user->membership;
    if (membership && membership->lifetime.value_or(false))
        return QStringLiteral("长期有效");
    if (membership && membership->expiresAt) {
        if (auto expiry = json::parseIsoDate(*membership->expiresAt))
            return QStringLiteral("有效期至 ") + expiry->toLocalTime().toString(QStringLiteral("yyyy年M月d日"));
    }
    return QStringLiteral("有效期由后台确认");
}

QString AppModel::deviceLimitText() const
{
    std::optional<qint64> limit;
    if (m_user && m_user->membership)
        limit = m_user->membership->deviceLimit;
    if (!limit) {
        if (auto plan = currentPlan())
            limit = plan->deviceLimit;
    }
    if (!limit)
        return QStringLiteral("设备数以后台为准");
    return QStringLiteral("最多 %1 台设备").arg(*limit);
}

TrafficUsageSummary AppModel::trafficUsage() const
{
    std::optional<qint64> used;
    if (m_user && m_user->membership)
        used = m_user->membership->trafficUsedBytes;
    if (m_observedTrafficUsedBytes)
        used = used ? std::max(*used, *m_observedTrafficUsedBytes) : *m_observedTrafficUsedBytes;
    const std::optional<Plan> plan = currentPlan();
    return TrafficUsageSummary { used, plan ? plan->trafficBytes : std::nullopt, plan.has_value() };
}

std::optional<double> AppModel::trafficProgress() const
{
    const TrafficUsageSummary usage = trafficUsage();
    if (!usage.usedBytes || !usage.quotaBytes || *usage.quotaBytes <= 0)
        return std::nullopt;
    const double used = static_cast<double>(std::max<qint64>(*usage.usedBytes, 0));
    return std::min(1.0, used / static_cast<double>(*usage.quotaBytes));
}

QString AppModel::terminalProxyCommand() const
{
    const QString http = QStringLiteral("http://127.0.0.1:%1").arg(m_settings.mixedPort);
    return QStringLiteral("export http_proxy=%1 https_proxy=%1 all_proxy=socks5://127.0.0.1:%2 "
                          "no_proxy=localhost,127.0.0.1,::1")
        .arg(http)
        .arg(m_settings.mixedPort);
}

void AppModel::present(const std::exception &error)
{
    present(describe(error));
}

void AppModel::present(const QString &description)
{
    const QString masked = Logger::redact(description);
    Logger::shared().log(masked);
    setAlertMessage(masked);
}

} // namespace veyra
