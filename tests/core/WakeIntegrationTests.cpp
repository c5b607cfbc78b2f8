// The check after the machine wakes: logind's signal on the bus, then the kernel, the line and
// the system proxy settings.
#include "AppModelTestPeer.h"
#include "ModelWorld.h"

#include "KernelTestSupport.h"

#include <QDBusMessage>

#include <csignal>
#include <fstream>
#include <unistd.h>

using namespace veyra;
using namespace veyra::test;

namespace {

const QString kernelLost = QStringLiteral("网络核心已异常退出，应用已自动恢复系统网络设置。");

// Stands in for logind on the test's private bus: owns its name and announces sleep and wake.
class FakeLogind {
public:
    FakeLogind()
        : m_bus(QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("veyra-test-logind")))
    {
        m_registered = m_bus.registerService(QString::fromLatin1(SleepWatcher::serviceName));
    }
    ~FakeLogind()
    {
        m_bus.unregisterService(QString::fromLatin1(SleepWatcher::serviceName));
        QDBusConnection::disconnectFromBus(QStringLiteral("veyra-test-logind"));
    }
    bool registered() const { return m_registered; }
    void prepareForSleep(bool sleeping)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(SleepWatcher::objectPath),
            QString::fromLatin1(SleepWatcher::interfaceName), QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        m_bus.send(signal);
    }

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};

struct WakeCase {
    const char *name;
    std::function<void(ModelWorld &, AppModel &)> breakIt; // what happened during the sleep
    bool healthy;
};
void PrintTo(const WakeCase &wake, std::ostream *out)
{
    *out << wake.name;
}

class WakeIntegration : public ModelWorld, public ::testing::WithParamInterface<WakeCase> {
public:
    using ModelWorld::check;
    using ModelWorld::helper;
};

const WakeCase wakeCases[] = {
    { "Healthy", [](ModelWorld &, AppModel &) {}, true },
    { "KernelDead", [](ModelWorld &, AppModel &m) { killKernelNow(Peer::core(m).processId()); }, false },
    // The kernel runs but nothing gets through it any more.
    { "LineFailing",
        [](ModelWorld &world, AppModel &) {
            static_cast<WakeIntegration &>(world).check.route("/generate_204", { 503, {}, {} });
        },
        false },
    // Someone else turned one of our proxies off while the machine slept.
    { "SettingsChanged",
        [](ModelWorld &world, AppModel &) {
            static_cast<WakeIntegration &>(world).helper->userRuns(
                { QStringLiteral("-setsocksfirewallproxystate"), QStringLiteral("Wi-Fi"), QStringLiteral("off") });
        },
        false },
};

TEST_P(WakeIntegration, AConnectionThatNoLongerWorksIsEndedLikeADeadKernel)
{
    const WakeCase &wake = GetParam();
    AppModel &m = makeModel();
    const nlohmann::json before = services();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    const qint64 kernel = Peer::core(m).processId();
    const QString status = m.statusMessage();

    wake.breakIt(*this, m);
    await(Peer::checkAfterWake(m));
    if (wake.healthy) {
        EXPECT_TRUE(m.isConnected());
        EXPECT_EQ(Peer::core(m).processId(), kernel);
        EXPECT_EQ(m.statusMessage(), status);
        EXPECT_EQ(m.alertMessage(), std::nullopt);
        EXPECT_TRUE(Peer::coreMonitorRunning(m));
        EXPECT_TRUE(everyServicePointsAt(m.settings().mixedPort));
        return;
    }
    ASSERT_TRUE(eventually([&] { return !Peer::coreMonitorRunning(m); }, 20000));
    EXPECT_FALSE(m.isConnected());
    EXPECT_FALSE(m.isCoreRunning());
    EXPECT_FALSE(Peer::core(m).isRunning());
    EXPECT_EQ(services(), before);
    EXPECT_EQ(m.statusMessage(), QStringLiteral("网络核心异常退出，系统代理已自动恢复"));
    EXPECT_EQ(m.alertMessage(), kernelLost);
    EXPECT_EQ(m.connectionState(), ConnectionState::failed);
    // Handled once, whichever of the core monitor and the wake check saw it first.
    EXPECT_EQ(diagnosticLog().count(kernelLost), 1);
    EXPECT_TRUE(eventually([&] { return notificationServer->bodies().contains(kernelLost); }));
}

INSTANTIATE_TEST_SUITE_P(AfterSleep, WakeIntegration, ::testing::ValuesIn(wakeCases),
    [](const ::testing::TestParamInfo<WakeCase> &info) { return std::string(info.param.name); });

TEST_F(WakeIntegration, LogindAnnouncingTheWakeStartsTheCheck)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.registered());
    AppModel &m = makeModel();
    await(m.connect());
    ASSERT_TRUE(m.isConnected());
    check.route("/generate_204", { 503, {}, {} });
    logind.prepareForSleep(true);
    logind.prepareForSleep(false);
    EXPECT_TRUE(eventually([&] { return m.alertMessage() == kernelLost; }, 20000));
    EXPECT_FALSE(m.isConnected());
}

} // namespace
