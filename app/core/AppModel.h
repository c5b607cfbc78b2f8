#pragma once

#include "AppSettings.h"
#include "AuthenticationErrorMapper.h"
#include "BackgroundTask.h"
#include "Models.h"
#include "NodeItem.h"
#include "SerialExecutor.h"
#include "TrafficRateSample.h"
#include "TrafficUsageStore.h"

#include <QCoroTask>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace veyra {

Q_NAMESPACE

// Pages of the main window, in sidebar order.
enum class AppPage { dashboard, nodes, membership, account, settings };
Q_ENUM_NS(AppPage)

enum class AppAccessState { signedOut, signedIn, member };
Q_ENUM_NS(AppAccessState)

// The connection as the tray tells it: a connect or disconnect under way comes first, then a
// failure nobody has seen yet, then whether the system proxy points at us.
enum class ConnectionState { disconnected, connecting, connected, failed };
Q_ENUM_NS(ConnectionState)

struct AppCollaborators;
class APIClient;
class MihomoManager;
class NotificationService;
class OfficialLineStore;
class SettingsStore;
class SystemProxyManager;

// The single observable object of the application: everything the views show, the
// collaborators that do the work, and the workflows that tie them together. Lives on the
// main thread; every property change emits its own signal, and each step of a workflow ends
// with one stateChanged() however many properties it changed.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(veyra::AppPage selectedPage READ selectedPage WRITE setSelectedPage NOTIFY selectedPageChanged)
    Q_PROPERTY(veyra::AppSettings settings READ settings NOTIFY settingsChanged)
    Q_PROPERTY(bool officialLineReady READ officialLineReady NOTIFY officialLineReadyChanged)
    Q_PROPERTY(QList<veyra::NodeItem> nodes READ nodes NOTIFY nodesChanged)
    Q_PROPERTY(QList<veyra::Plan> plans READ plans NOTIFY plansChanged)
    Q_PROPERTY(std::optional<veyra::AccountUser> user READ user NOTIFY userChanged)
    Q_PROPERTY(std::optional<veyra::PaymentOrder> currentOrder READ currentOrder NOTIFY currentOrderChanged)
    Q_PROPERTY(QImage checkoutImage READ checkoutImage NOTIFY checkoutImageChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool isCoreRunning READ isCoreRunning NOTIFY isCoreRunningChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isTesting READ isTesting NOTIFY isTestingChanged)
    Q_PROPERTY(std::optional<QString> selectingNodeName READ selectingNodeName NOTIFY selectingNodeNameChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(std::optional<QString> alertMessage READ alertMessage WRITE setAlertMessage NOTIFY alertMessageChanged)
    Q_PROPERTY(std::optional<QString> authenticationErrorMessage READ authenticationErrorMessage WRITE
            setAuthenticationErrorMessage NOTIFY authenticationErrorMessageChanged)
    Q_PROPERTY(
        bool showAuthentication READ showAuthentication WRITE setShowAuthentication NOTIFY showAuthenticationChanged)
    Q_PROPERTY(bool showCheckout READ showCheckout WRITE setShowCheckout NOTIFY showCheckoutChanged)
    Q_PROPERTY(veyra::AuthenticationMode authenticationMode READ authenticationMode WRITE setAuthenticationMode NOTIFY
            authenticationModeChanged)
    Q_PROPERTY(std::optional<qint64> observedTrafficUsedBytes READ observedTrafficUsedBytes NOTIFY
            observedTrafficUsedBytesChanged)
    Q_PROPERTY(QList<veyra::TrafficRateSample> speedHistory READ speedHistory NOTIFY speedChanged)
    Q_PROPERTY(bool connectionFailed READ connectionFailed NOTIFY connectionFailedChanged)

public:
    // The title of every notification the model sends.
    static QString notificationTitle();

    // The product's own collaborators, or those given (tests build them with their seams).
    explicit AppModel(QObject *parent = nullptr);
    explicit AppModel(AppCollaborators collaborators, QObject *parent = nullptr);
    ~AppModel() override;

    // Published state.
    AppPage selectedPage() const { return m_selectedPage; }
    const AppSettings &settings() const { return m_settings; }
    bool officialLineReady() const { return m_officialLineReady; }
    const QList<NodeItem> &nodes() const { return m_nodes; }
    const QList<Plan> &plans() const { return m_plans; }
    const std::optional<AccountUser> &user() const { return m_user; }
    const std::optional<PaymentOrder> &currentOrder() const { return m_currentOrder; }
    const QImage &checkoutImage() const { return m_checkoutImage; }
    bool isConnected() const { return m_isConnected; }
    bool isCoreRunning() const { return m_isCoreRunning; }
    bool isBusy() const { return m_isBusy; }
    bool isTesting() const { return m_isTesting; }
    const std::optional<QString> &selectingNodeName() const { return m_selectingNodeName; }
    const QString &statusMessage() const { return m_statusMessage; }
    const std::optional<QString> &alertMessage() const { return m_alertMessage; }
    const std::optional<QString> &authenticationErrorMessage() const { return m_authenticationErrorMessage; }
    bool showAuthentication() const { return m_showAuthentication; }
    bool showCheckout() const { return m_showCheckout; }
    AuthenticationMode authenticationMode() const { return m_authenticationMode; }
    const std::optional<qint64> &observedTrafficUsedBytes() const { return m_observedTrafficUsedBytes; }
    // The kernel's rates (bytes per second) of the last minute while connected, oldest first;
    // empty while disconnected.
    static constexpr int speedHistoryCapacity = 60;
    const QList<TrafficRateSample> &speedHistory() const { return m_speedHistory; }
    // A failed connect, a kernel that died, a restore that failed or an expired session that
    // the user has not yet seen: set with the failure's alert and notification, cleared by
    // the next successful connect or by dismissing the alert.
    bool connectionFailed() const { return m_connectionFailed; }

    // What the views may set directly (selection, sheets, dismissing alerts).
    void setSelectedPage(AppPage page);
    void setAlertMessage(const std::optional<QString> &message);
    void setAuthenticationErrorMessage(const std::optional<QString> &message);
    void setShowAuthentication(bool show);
    void setShowCheckout(bool show);
    void setAuthenticationMode(AuthenticationMode mode);

    // Derived values, computed on every read.
    bool membershipActive() const;
    AppAccessState accessState() const;
    QString activeNodeName() const;
    std::optional<int> currentDelay() const;
    QString connectionQualityText() const;
    QString menuBarSystemImage() const;
    QString membershipStatusText() const;
    QString officialLineStatusText() const;
    std::optional<Plan> currentPlan() const;
    QString membershipPlanText() const;
    QString membershipExpiryText() const;
    QString deviceLimitText() const;
    TrafficUsageSummary trafficUsage() const;
    std::optional<double> trafficProgress() const;
    // The latest rates; none while disconnected or before the first sample.
    std::optional<TrafficRateSample> currentSpeed() const;
    ConnectionState connectionState() const;
    // The shell line that sends a terminal's programs through the local mixed port.
    QString terminalProxyCommand() const;

    // A failed step: description, masking, a line in the diagnostic log, and the alert.
    void present(const std::exception &error);
    void present(const QString &description);

    // Connection (AppModelConnection.cpp). Neither fails towards the caller.
    QCoro::Task<> connect();
    QCoro::Task<> disconnect();

    // Run-time monitors and traffic (AppModelMonitors.cpp).
    // Waits until the model's queued file writes (the traffic record) are on disk.
    QCoro::Task<> flushStorage();

    // Nodes, latency and proxy mode (AppModelNodes.cpp).
    QCoro::Task<> refreshNodes();
    QCoro::Task<> testAllNodes();
    QCoro::Task<> selectNode(NodeItem node);
    QCoro::Task<> setSmartSelection(bool enabled);
    QCoro::Task<> updateProxyMode(ConnectionMode mode);

    // Quitting (AppModelShutdown.cpp): always completes and always answers true.
    QCoro::Task<bool> shutdown();

    // Account session and the official line (AppModelAccount.cpp). None fails to its caller.
    QCoro::Task<> login(QString account, QString password, bool registering);
    QCoro::Task<> refreshAccount(bool silent);
    QCoro::Task<> logout();

    // Start-up (AppModelStartup.cpp): runs once. The settings are read first, before the
    // window's first paint, so the interface scale is right from its first frame.
    void readSettingsBeforeFirstPaint();
    QCoro::Task<> bootstrap();
    // Settings with side effects outside the application.
    QCoro::Task<> setStartAtLogin(bool value);
    QCoro::Task<> setNotifications(bool value);

    // Plans and payment orders (AppModelPayment.cpp).
    QCoro::Task<> refreshPlans(bool silent);
    QCoro::Task<> createOrder(Plan plan, QString method);
    QCoro::Task<> openPaymentPage();

    // Settings operations (AppModelSettings.cpp). Port and scale edits of the settings page
    // change the published settings at once and are only written by saveSettings().
    void editPorts(qint64 mixedPort, qint64 socksPort, qint64 controllerPort);
    void editUiScale(qint64 percent);
    QCoro::Task<> saveSettings();
    QCoro::Task<> setAutoConnect(bool value);
    QCoro::Task<> exportSettings(QString path);
    QCoro::Task<> importSettings(QString path);
    QCoro::Task<> repairNetworkSettings();
    // Where the diagnostic log is written, for the page that opens it.
    QString diagnosticLogFolder() const;

signals:
    void selectedPageChanged();
    void settingsChanged();
    void officialLineReadyChanged();
    void nodesChanged();
    void plansChanged();
    void userChanged();
    void currentOrderChanged();
    void checkoutImageChanged();
    void isConnectedChanged();
    void isCoreRunningChanged();
    void isBusyChanged();
    void isTestingChanged();
    void selectingNodeNameChanged();
    void statusMessageChanged();
    void alertMessageChanged();
    void authenticationErrorMessageChanged();
    void showAuthenticationChanged();
    void showCheckoutChanged();
    void authenticationModeChanged();
    void observedTrafficUsedBytesChanged();
    void speedChanged();
    void connectionFailedChanged();
    // Emitted after any of the above, for views that re-render from the whole state.
    void stateChanged();

protected:
    // Setters for the workflows; each publishes only a real change.
    void setSettings(const AppSettings &value);
    void setOfficialLineReady(bool value);
    void setNodes(const QList<NodeItem> &value);
    // Every plan the service returned: those on offer are published, in its order; the member's
    // own plan is looked up among all of them.
    void setServicePlans(const QList<Plan> &all);
    void setUser(const std::optional<AccountUser> &value);
    void setCurrentOrder(const std::optional<PaymentOrder> &value);
    void setCheckoutImage(const QImage &value);
    void setIsConnected(bool value);
    void setIsCoreRunning(bool value);
    void setIsBusy(bool value);
    void setIsTesting(bool value);
    void setSelectingNodeName(const std::optional<QString> &value);
    void setStatusMessage(const QString &value);
    void setObservedTrafficUsedBytes(const std::optional<qint64> &value);
    // One second of the kernel's traffic joins the rate history (the oldest leaves when full).
    void recordSpeed(const TrafficRateSample &sample);
    void setConnectionFailed(bool value);

    template <typename T> void publish(T &field, const T &value, void (AppModel::*changed)())
    {
        if (field == value)
            return;
        field = value;
        emit(this->*changed)();
        changedState();
    }

    // Groups the changes of one workflow step: each property still signals its own change,
    // stateChanged() comes once when the outermost step ends. Never held across a suspension.
    class Step {
    public:
        explicit Step(AppModel &model);
        ~Step();
        Step(const Step &) = delete;
        Step &operator=(const Step &) = delete;

    private:
        AppModel &m_model;
    };
    void changedState();

private:
    // The one way tests reach behind the public face: the collaborators (a test reads the
    // kernel's pid, never replaces a collaborator) and the steps below, driven on their own.
    friend class AppModelTestPeer;

    // The collaborators, for the workflows of the model's own files.
    SettingsStore &settingsStore();
    OfficialLineStore &officialLineStore();
    APIClient &api();
    SystemProxyManager &proxy();
    MihomoManager &core();
    NotificationService &notifications();

    // Steps of the workflows.
    void startCoreMonitor();
    void startTrafficMonitor();
    void persistObservedTraffic();
    void mergeTrafficUsageSources();
    void applyAbsoluteTrafficUsage(qint64 bytes);
    bool coreMonitorRunning() const { return m_coreMonitorTask && !m_coreMonitorTask->isFinished(); }
    bool trafficMonitorRunning() const { return m_trafficMonitorTask && !m_trafficMonitorTask->isFinished(); }
    // After the machine wakes (AppModelWake.cpp): while connected, the kernel must still run,
    // the line must still carry traffic through the local port and the system proxy must still
    // point at it. A failure is handed to the core monitor's handling of a lost kernel, which
    // goes on after this returns (watch coreMonitorRunning()); a healthy connection is left
    // alone.
    QCoro::Task<> checkAfterWake();
    QCoro::Task<> reconcileSelectedNode();
    // The service turned the session away. A pending order is kept for after the next sign-in
    // when the refusal came while it was being paid.
    QCoro::Task<> invalidatePersistedSession(bool keepPendingOrder = false);
    // Fails to its callers, which decide what a failure means.
    QCoro::Task<> syncOfficialLine();
    // Start-up's part of the session: a first run clears what an earlier installation left;
    // otherwise the stored token goes to the client (read off the main thread). True when a
    // session was found; showRestoredSession() then shows a provisional account (the stored
    // name, or "已保存登录") until the service answers.
    QCoro::Task<bool> restoreSession(bool firstRun);
    void showRestoredSession();
    void startPolling(QString orderNo);
    QCoro::Task<> resumePendingOrder();
    // One timer for the moment the membership expires (re-armed by every account refresh,
    // stopped at sign-out); when it fires the account is refreshed silently, so a membership
    // that ends while the application runs ends the member features by the usual rules.
    void scheduleAccessExpiry();
    bool accessExpiryArmed() const { return m_accessExpiry.isActive(); }
    bool paymentPollingRunning() const { return m_paymentTask && !m_paymentTask->isFinished(); }

    // Background loops; static so that they hold the model only through the weak pointer.
    static QCoro::Task<> coreMonitorLoop(QPointer<AppModel> model, CancellationTokenPtr token);
    static QCoro::Task<> trafficMonitorLoop(QPointer<AppModel> model, CancellationTokenPtr token);
    // The kernel is gone or no longer carries the line while connected: the system proxy is
    // put back and the user told. Runs as the core monitor's task, so a connect started
    // meanwhile (which cancels it) keeps its own kernel.
    static QCoro::Task<> connectionLost(QPointer<AppModel> model, CancellationTokenPtr token);
    static QCoro::Task<> paymentPollingLoop(QPointer<AppModel> model, CancellationTokenPtr token, QString orderNo);
    // One status query; a failure is logged ("will retry") and gives nothing, except that the
    // service turning the session away is thrown.
    QCoro::Task<std::optional<PaymentOrder>> fetchOrder(QString orderNo);
    // The order's QR code: the service's image, else one drawn from its code address.
    QCoro::Task<> loadCheckoutImage(PaymentOrder order);
    // A final status was reached: the record goes; a paid order refreshes the account.
    QCoro::Task<> finishOrder(PaymentOrder order, bool notify);
    QCoro::Task<> applyProviderTrafficUsage();
    void cancelMonitors();
    void writeTrafficRecord(qint64 usedBytes);
    void applyLatencies(const QMap<QString, qint64> &delays);
    // The connect's proof that the line carries traffic; fails when it does not.
    QCoro::Task<> checkLine(qint64 mixedPort);
    QCoro::Task<> rollBackConnect(const std::exception_ptr &failure);
    void sendNotification(const QString &body);
    // A failure that must reach the user even with the window closed: presented like any
    // other, and also a notification and the tray's failure state.
    void reportFailure(const QString &description);
    // The same without the alert, for failures that say so in their own way.
    void notifyFailure(const QString &description);
    void resetSpeed();
    void watchForWake();
    // Whether the system proxy still holds what connect applied; settings that cannot be read
    // count as unchanged.
    QCoro::Task<bool> settingsStillOurs();
    void accessExpiryReached();
    // Forgets everything of the signed-in account on this computer (sign-out and a rejected
    // session share it); the service is not contacted.
    QCoro::Task<> forgetAccount(bool keepPendingOrder = false);
    // The service's account record becomes ours: published, its traffic merged, its name kept.
    QCoro::Task<> adoptAccount(AccountUser user);
    // A token that never became a session: revoked at the service, dropped from the client,
    // and removed from the secret store when it had been saved there.
    QCoro::Task<> abandonToken(bool saved);
    // One change to the settings: applied to the record as it is now, published, and written
    // whole. When the write fails, `undo` is applied to the record as it is then and the failure
    // is returned. Changes made meanwhile by other operations survive either way, and the file
    // always ends with the last published record.
    using SettingsChange = std::function<void(AppSettings &)>;
    struct SettingsWrite {
        std::exception_ptr failure; // null when the record was written
    };
    QCoro::Task<SettingsWrite> commitSettings(SettingsChange change, SettingsChange undo);
    // A switch of the settings page: committed like above, a failure presented.
    QCoro::Task<> saveSwitch(SettingsChange change, SettingsChange undo);

    AppPage m_selectedPage = AppPage::dashboard;
    AppSettings m_settings;
    // The record as last written (or read): switches change only their own field of it.
    AppSettings m_storedSettings;
    bool m_officialLineReady = false;
    QList<NodeItem> m_nodes;
    QList<Plan> m_plans; // on offer, in the service's order
    QList<Plan> m_servicePlans; // every plan the service returned, for the member's own
    std::optional<AccountUser> m_user;
    std::optional<PaymentOrder> m_currentOrder;
    QImage m_checkoutImage;
    bool m_isConnected = false;
    bool m_isCoreRunning = false;
    bool m_isBusy = false;
    bool m_isTesting = false;
    std::optional<QString> m_selectingNodeName;
    QString m_statusMessage = QStringLiteral("正在初始化…");
    std::optional<QString> m_alertMessage;
    std::optional<QString> m_authenticationErrorMessage;
    bool m_showAuthentication = false;
    bool m_showCheckout = false;
    AuthenticationMode m_authenticationMode = AuthenticationMode::login;
    std::optional<qint64> m_observedTrafficUsedBytes;
    QList<TrafficRateSample> m_speedHistory;
    bool m_connectionFailed = false;
    // isBusy was taken by a connect or a disconnect (cleared whenever isBusy ends).
    bool m_busySwitchingConnection = false;

    // Bookkeeping of the workflows.
    std::optional<TrafficUsageIdentity> m_trafficIdentity;
    int m_trafficSamplesSincePersist = 0;
    bool m_bootstrapped = false;
    // Counts sign-outs, so a step suspended across one can tell its session has ended.
    quint64 m_sessionGeneration = 0;
    // Set once quitting has begun: no workflow that touches the system proxy starts after it.
    bool m_shuttingDown = false;
    // Workflows that change the system proxy (connect, disconnect, repair, the core monitor's
    // restore) take turns: each waits for the one before it before touching the settings, and
    // quitting waits for the last. Cancelled when the newest one ends.
    CancellationTokenPtr m_proxyWorkflowDone;
    struct ProxyWorkflow {
        CancellationTokenPtr done;
        CancellationTokenPtr previous;
        ~ProxyWorkflow() { done->cancel(); }
    };
    ProxyWorkflow beginProxyWorkflow();
    // Resumes once the workflow behind `token` has ended (at once for none).
    static QCoro::Task<> ended(CancellationTokenPtr token);

    std::optional<BackgroundTask> m_coreMonitorTask;
    std::optional<BackgroundTask> m_trafficMonitorTask;
    std::optional<BackgroundTask> m_paymentTask;
    int m_openSteps = 0;
    bool m_stateChangedPending = false;

    std::unique_ptr<AppCollaborators> m_collaborators;
    std::optional<QString> m_restoredAccountName;
    QTimer m_accessExpiry;
    QDateTime m_accessExpiresAt;
    // The model's own blocking work (secret store, account file, exports), off the main thread
    // and in order.
    SerialExecutor m_ioExecutor;
};

} // namespace veyra

Q_DECLARE_METATYPE(veyra::AppSettings)
Q_DECLARE_METATYPE(veyra::NodeItem)
Q_DECLARE_METATYPE(veyra::Plan)
Q_DECLARE_METATYPE(veyra::AccountUser)
Q_DECLARE_METATYPE(veyra::PaymentOrder)
Q_DECLARE_METATYPE(veyra::AuthenticationMode)
Q_DECLARE_METATYPE(veyra::TrafficRateSample)
