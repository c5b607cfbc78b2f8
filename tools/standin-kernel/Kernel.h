#pragma once

#include "ControllerServer.h"
#include "KernelConfig.h"
#include "ProviderStore.h"
#include "ProxyServer.h"
#include "Routing.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace standin {

// The running kernel: inbound listeners, providers, groups and rules, the controller and the
// traffic meter. Everything it does is written to standard output.
class Kernel : public QObject {
    Q_OBJECT
public:
    Kernel(KernelConfig config, QString home, QObject *parent = nullptr);

    // Opens the listeners and loads the providers; false (with the reason logged) when a
    // listener cannot be opened. The controller opens once the providers have answered.
    bool start();

    void log(const QString &line) const;

signals:
    void fatal();

private:
    void openController();
    void activateRouting();
    void handle(const HttpRequest &request, std::function<void(HttpResponse)> respond);
    HttpResponse proxyInfo(const QString &name) const;
    HttpResponse providersInfo(const QString &only) const;
    void sampleTraffic();

    KernelConfig m_config;
    QString m_home;
    int m_logThreshold;
    QList<Provider *> m_providers;
    Routing *m_routing = nullptr;
    ControllerServer *m_controller = nullptr;
    QList<veyra::proxy::ProxyServer *> m_listeners;
    QTimer m_trafficTimer;
    qint64 m_lastUp = 0;
    qint64 m_lastDown = 0;
};

} // namespace standin
