#pragma once

#include "PrivilegedProxyClient.h"
#include "ProxySnapshot.h"
#include "SystemProxyBackend.h"

#include "Errors.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

namespace veyra {

// Points every active network service at the local proxy and puts the settings back exactly
// as they were. The snapshot file is written before the first change and removed only after
// a successful restore, so it doubles as the journal that start-up recovery repairs from.
// Reads run networksetup directly; every change goes through the privileged helper.
class NetworkSetupProxyBackend : public SystemProxyBackend {
public:
    // `networkSetupPath` is the program used for reads (a seam for tests); the command lines
    // sent to the helper always name the fixed tool path, which the helper insists on.
    explicit NetworkSetupProxyBackend(
        QString networkSetupPath = defaultNetworkSetupPath(), std::unique_ptr<PrivilegedProxyClient> client = nullptr);
    ~NetworkSetupProxyBackend() override;

    using SystemProxyBackend::enable;
    QCoro::Task<void> enable(qint64 port, QCoro::Task<void> lineChecked) override;
    QCoro::Task<void> restoreIfNeeded(bool force) override;
    QCoro::Task<bool> recoverStaleProxy() override;
    QCoro::Task<bool> stillApplied() override;

    // Building blocks, public so that callers and tests can use them on their own.
    QCoro::Task<QStringList> activeNetworkServices();
    // What a capture reads: everything a restore puts back, or only the three proxies (all that
    // the read-back and the "still ours" checks compare; the rest of the snapshot stays empty).
    enum class CaptureScope { everything, proxies };
    QCoro::Task<NetworkServiceProxySnapshot> capture(QString service, CaptureScope scope = CaptureScope::everything);
    // Every service's settings, read side by side; the first failure once all have ended.
    QCoro::Task<std::vector<NetworkServiceProxySnapshot>> captureAll(
        QStringList services, CaptureScope scope = CaptureScope::everything);
    QCoro::Task<std::vector<NetworkServiceProxySnapshot>> managedServices(ProxySnapshot snapshot);
    QCoro::Task<void> restore(ProxySnapshot snapshot, std::vector<NetworkServiceProxySnapshot> services);
    QCoro::Task<void> runPrivileged(ipc::CommandList commands);
    // Runs a program without privileges and returns its standard output.
    QCoro::Task<QString> run(QString program, QStringList arguments);

    // The command lines that point one service at 127.0.0.1:port, and those that put a saved
    // service back.
    static ipc::CommandList applyCommands(const QString &service, qint64 port);
    static ipc::CommandList restoreCommands(const NetworkServiceProxySnapshot &saved);
    // All saved services' lines, in order, as one request.
    static ipc::CommandList restoreCommands(const std::vector<NetworkServiceProxySnapshot> &services);
    // Only the switches of every proxy, off: what a restore falls back to.
    static ipc::CommandList switchOffCommands(const std::vector<NetworkServiceProxySnapshot> &services);

    static QString defaultNetworkSetupPath();
    static std::optional<ProxySnapshot> readSnapshot();

    // A read of the settings that takes longer than this is given up (the tool is killed).
    static constexpr std::chrono::milliseconds toolTimeout { 30'000 };

    static constexpr const char *helperUnavailablePrefix
        = "后台网络服务不可用。请重新运行 v0.8.12 安装包完成一次管理员授权；安装后连接、断开和关机都不会再要求密码。";

private:
    // The active services and everything a restore of each would put back.
    struct Survey {
        QStringList services;
        std::vector<NetworkServiceProxySnapshot> settings;
    };
    QCoro::Task<Survey> surveyServices();
    // The failure of a helper call as the user sees it: the prefix, a line feed, the cause.
    static AppError helperUnavailable(const std::exception &cause);
    QCoro::Task<void> rollBack(const ProxySnapshot &snapshot);

    QString m_networkSetup;
    std::unique_ptr<PrivilegedProxyClient> m_client;
};

} // namespace veyra
