#include "SystemProxyManager.h"

#include "DesktopProxyBackend.h"
#include "NetworkSetupProxyBackend.h"

#include <QFileInfo>

namespace veyra {

std::unique_ptr<SystemProxyManager> SystemProxyManager::forThisSystem()
{
    const QString tool = defaultNetworkSetupPath();
    if (QFileInfo(tool).isExecutable())
        return std::make_unique<SystemProxyManager>(tool, std::make_unique<PrivilegedProxyClient>());
    return std::make_unique<SystemProxyManager>(std::make_unique<DesktopProxyBackend>());
}

SystemProxyManager::SystemProxyManager(QString networkSetupPath, std::unique_ptr<PrivilegedProxyClient> client)
    : m_backend(std::make_unique<NetworkSetupProxyBackend>(std::move(networkSetupPath), std::move(client)))
{
}

SystemProxyManager::SystemProxyManager(std::unique_ptr<SystemProxyBackend> backend)
    : m_backend(std::move(backend))
{
}

QString SystemProxyManager::defaultNetworkSetupPath()
{
    return NetworkSetupProxyBackend::defaultNetworkSetupPath();
}

} // namespace veyra
