#pragma once

#include "AppSettings.h"
#include "Json.h"
#include "NodeItem.h"
#include "ProviderSource.h"
#include "SerialExecutor.h"
#include "TrafficRateSample.h"

#include <QByteArray>
#include <QCoroTask>
#include <QMap>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

namespace veyra {

class TrafficStream;

// Owns the proxy kernel: installs a verified copy, writes its configuration, proves it with
// the kernel's test mode, runs it as a child process, talks to its local controller and stops
// it. A main-thread object; its operations are coroutines, and blocking file work (hashing,
// copying) runs on its own serial executor.
class MihomoManager : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 maximumControllerResponse = 4'194'304;
    static constexpr qsizetype maximumTrafficMessage = 4'096;
    static constexpr int controllerTimeoutMs = 12'000;
    static constexpr int resourceTimeoutMs = 15'000;

    // The product's resource directories: the bundle's Contents/Resources, then a fixed one.
    static QStringList defaultResourceDirectories();

    // The three seams are for tests and the sandbox; the product uses the defaults.
    explicit MihomoManager(QString connectivityCheckURL = QString(), QStringList resourceDirectories = {},
        QString curlPath = QStringLiteral("/usr/bin/curl"), QObject *parent = nullptr);
    ~MihomoManager() override;

    // Per-run bearer secret: 32 lowercase hex characters from a fresh UUID.
    const QString &controllerSecret() const { return m_controllerSecret; }
    const QString &connectivityCheckURL() const { return m_connectivityCheckURL; }

    QCoro::Task<> ensureCore();
    QCoro::Task<> start(ProviderSource source, AppSettings settings);
    QCoro::Task<> stop(bool deleteRuntimeConfiguration);
    bool isRunning() const;
    qint64 processId() const;

    QCoro::Task<QByteArray> controller(
        QString path, QByteArray method, std::optional<QByteArray> body, AppSettings settings);
    QCoro::Task<QList<NodeItem>> nodes(AppSettings settings);
    QCoro::Task<QMap<QString, qint64>> testLatencies(AppSettings settings);
    QCoro::Task<> selectNode(QString name, AppSettings settings);
    QCoro::Task<TrafficRateSample> nextTrafficSample(AppSettings settings);
    // Closes the traffic stream: a pending nextTrafficSample() fails at once, the next call
    // opens a fresh stream.
    void cancelTrafficStream();
    QCoro::Task<bool> verifyProxy(qint64 port);

    // The bodies of the group listing and of the group's delay test; they throw the errors
    // nodes() and testLatencies() report.
    static QList<NodeItem> parseNodes(const QByteArray &body);
    static QMap<QString, qint64> parseLatencies(const QByteArray &body);
    static std::optional<qint64> parseProviderTrafficUsage(const QByteArray &data, const QString &providerID);
    static std::optional<TrafficRateSample> parseTrafficSample(const QByteArray &data);
    static std::optional<qint64> integer(const json::Json *value);
    static QString path(const QString &component);
    static std::pair<QString, QString> region(const QString &name);

signals:
    // The kernel process ended, for whatever reason (a stop, a crash, a kill from outside).
    void processEnded();

protected:
    // Whether the controller port accepts a connection now. A seam: a test decides when the
    // controller answers relative to the kernel's end, which real scheduling cannot pin down.
    virtual QCoro::Task<bool> controllerAnswers(qint64 port);

private:
    QCoro::Task<> validateConfiguration();
    QCoro::Task<> waitForController(qint64 port);
    QCoro::Task<> discardProcess();

    QString m_connectivityCheckURL;
    QStringList m_resourceDirectories;
    QString m_curlPath;
    std::unique_ptr<QProcess> m_process; // the kernel; its output goes to "mihomo-current.log"
    QPointer<TrafficStream> m_trafficStream;
    QNetworkAccessManager m_session;
    QString m_controllerSecret;
    // Counts stop() calls, so a start() suspended across one knows it has been overtaken.
    quint64 m_runGeneration = 0;
    SerialExecutor m_executor;
};

} // namespace veyra
