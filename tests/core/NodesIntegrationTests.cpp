// Node choice, latency and proxy mode against the running kernel: the kernel first, the
// settings file second, and the kernel put back when the file cannot be written.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "AppPaths.h"
#include "KernelTestSupport.h"

#include <QDir>
#include <QFile>

using namespace veyra;
using namespace veyra::test;

namespace {

class NodesIntegration : public ModelWorld {
protected:
    // A folder where the settings file should be: every write of it fails.
    void breakSettingsFile()
    {
        QFile::remove(AppPaths::settings());
        ASSERT_TRUE(QDir().mkpath(AppPaths::settings()));
    }
    void mendSettingsFile() { ASSERT_TRUE(QDir(AppPaths::settings()).removeRecursively()); }
};

TEST_F(NodesIntegration, ChoosingANodeReachesTheKernelAndTheSettingsFile)
{
    AppModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());

    await(m.selectNode(m.nodes()[1]));
    EXPECT_EQ(selectedInKernel(), QStringLiteral("Hong Kong 02"));
    EXPECT_EQ(m.settings().selectedNode, QStringLiteral("Hong Kong 02"));
    EXPECT_FALSE(m.settings().smartSelection);
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已选择并同步 Hong Kong 02"));
    EXPECT_EQ(m.selectingNodeName(), std::nullopt);
    EXPECT_EQ(await(Peer::settingsStore(m).loadSettings()), m.settings());
    EXPECT_EQ(m.activeNodeName(), QStringLiteral("Hong Kong 02"));

    // The file cannot be written: the kernel goes back to the node the settings still name.
    breakSettingsFile();
    await(m.selectNode(m.nodes()[0]));
    EXPECT_EQ(selectedInKernel(), QStringLiteral("Hong Kong 02"));
    EXPECT_EQ(m.settings().selectedNode, QStringLiteral("Hong Kong 02"));
    EXPECT_TRUE(m.alertMessage().has_value());
    EXPECT_EQ(m.selectingNodeName(), std::nullopt);
    mendSettingsFile();

    m.setAlertMessage(std::nullopt);
    await(m.setSmartSelection(true));
    EXPECT_EQ(selectedInKernel(), QStringLiteral("智能优选"));
    EXPECT_TRUE(m.settings().smartSelection);
    EXPECT_TRUE(m.settings().selectedNode.isEmpty());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已启用智能优选"));

    await(m.testAllNodes());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("线路测速完成"));
    EXPECT_FALSE(m.isTesting());
    for (const NodeItem &node : m.nodes())
        EXPECT_GT(node.delay, 0);
}

TEST_F(NodesIntegration, AVanishedNodeFallsBackToSmartSelectionOnConnect)
{
    AppSettings settings = freeSettings();
    settings.smartSelection = false;
    settings.selectedNode = QStringLiteral("已下线节点");
    AppModel &m = makeModel(QStringLiteral("/generate_204"), settings);
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    EXPECT_TRUE(m.settings().smartSelection);
    EXPECT_TRUE(m.settings().selectedNode.isEmpty());
    EXPECT_EQ(selectedInKernel(), QStringLiteral("智能优选"));
    EXPECT_TRUE(await(Peer::settingsStore(m).loadSettings()).smartSelection);
    // The connect's own status follows, naming the automatic choice.
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已安全连接 · 智能优选"));
    EXPECT_EQ(m.alertMessage(), std::nullopt);
}

TEST_F(NodesIntegration, TheProxyModeChangesInTheKernelOrWaitsForTheNextConnect)
{
    AppModel &m = makeModel();
    await(m.updateProxyMode(ConnectionMode::global));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已设为全局 · 下次连接时生效"));
    EXPECT_EQ(await(Peer::settingsStore(m).loadSettings()).proxyMode, ConnectionMode::global);

    await(m.connect());
    ASSERT_TRUE(m.isConnected()) << m.statusMessage().toStdString() << " / "
                                 << m.alertMessage().value_or(QString()).toStdString();
    EXPECT_EQ(kernelMode(), QStringLiteral("global"));
    await(m.updateProxyMode(ConnectionMode::direct));
    EXPECT_EQ(kernelMode(), QStringLiteral("direct"));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已切换到直连"));

    // The same mode again does nothing at all.
    m.setAlertMessage(std::nullopt);
    await(m.updateProxyMode(ConnectionMode::direct));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("已切换到直连"));

    // A mode that cannot be saved is taken back in the kernel too.
    breakSettingsFile();
    await(m.updateProxyMode(ConnectionMode::rule));
    EXPECT_EQ(kernelMode(), QStringLiteral("direct"));
    EXPECT_EQ(m.settings().proxyMode, ConnectionMode::direct);
    EXPECT_TRUE(m.alertMessage().has_value());
    mendSettingsFile();
}

TEST_F(NodesIntegration, WhileConnectedSettingsAreNotImportedAndRepairPutsEverythingBack)
{
    AppModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    const AppSettings current = m.settings();
    AppSettings other = freeSettings();
    AppPaths::write(other.toJson(), fixtures.filePath(QStringLiteral("other.json")));
    await(m.importSettings(fixtures.filePath(QStringLiteral("other.json"))));
    EXPECT_EQ(m.alertMessage(), QStringLiteral("请先断开连接，再导入端口与网络设置。"));
    EXPECT_EQ(m.settings(), current);

    // The user changed a proxy by hand meanwhile; repair still restores every saved service.
    helper->userRuns({ QStringLiteral("-setwebproxy"), QStringLiteral("Wi-Fi"), QStringLiteral("proxy.lan"),
        QStringLiteral("3128") });
    await(m.repairNetworkSettings());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("网络设置修复完成"));
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_FALSE(QFile::exists(AppPaths::proxyBackup()));
    EXPECT_EQ(services(), before);
}

} // namespace
