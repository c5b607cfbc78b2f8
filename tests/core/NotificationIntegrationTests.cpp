// Notifications through a notification server on the test's private session bus.
#include "KernelTestSupport.h"
#include "KeyringSession.h"
#include "NotificationServer.h"
#include "NotificationService.h"
#include "TestSupport.h"

using namespace veyra;
using namespace veyra::test;

namespace {

class NotificationIntegration : public DataFolderTest {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        ASSERT_FALSE(privateSessionBus().isEmpty());
    }
};

const QString title = QStringLiteral("维拉网络助手");

TEST_F(NotificationIntegration, EachNotificationIsNewAndCarriesTitleBodyAndSound)
{
    NotificationServer server;
    ASSERT_TRUE(server.registered());
    NotificationService service(NotificationServer::clientConnection(QStringLiteral("notification-test-client")));
    QList<uint> delivered;
    QObject::connect(&service, &NotificationService::delivered, [&](uint id) { delivered << id; });
    service.send(title, QStringLiteral("网络连接已启用"), true);
    service.send(title, QStringLiteral("不该出现"), false);
    service.send(title, QStringLiteral("连接已断开"), true);
    ASSERT_TRUE(eventually([&] { return delivered.size() == 2; }));
    EXPECT_NE(delivered[0], delivered[1]);
    EXPECT_EQ(server.bodies(), QStringList({ "网络连接已启用", "连接已断开" }));
    const NotificationServer::Shown &first = server.shown().first();
    EXPECT_EQ(first.title, title);
    EXPECT_EQ(first.application, title);
    EXPECT_EQ(first.hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
    EXPECT_NE(first.hints.value(QStringLiteral("x-veyra-id")),
        server.shown().last().hints.value(QStringLiteral("x-veyra-id")));
}

TEST_F(NotificationIntegration, WithoutAServerOnlyTheLogHearsOfIt)
{
    // No server on the bus: failed when the bus says so; no bus at all: failed at once.
    NotificationService lonely(NotificationServer::clientConnection(QStringLiteral("notification-test-lonely")));
    NotificationService nowhere(QDBusConnection(QStringLiteral("never-connected")));
    int failed[2] = {};
    QObject::connect(&lonely, &NotificationService::failed, [&] { ++failed[0]; });
    QObject::connect(&nowhere, &NotificationService::failed, [&] { ++failed[1]; });
    lonely.send(title, QStringLiteral("网络连接已启用"), true);
    nowhere.send(title, QStringLiteral("网络连接已启用"), true);
    EXPECT_EQ(failed[1], 1);
    ASSERT_TRUE(eventually([&] { return failed[0] == 1; }));
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("发送通知失败：")));
}

} // namespace
