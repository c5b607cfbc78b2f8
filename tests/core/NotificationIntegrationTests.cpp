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

TEST_F(NotificationIntegration, EachNotificationIsNewAndCarriesTitleBodyAndSound)
{
    NotificationServer server;
    ASSERT_TRUE(server.registered());
    NotificationService service(NotificationServer::clientConnection(QStringLiteral("notification-test-client")));
    QList<uint> delivered;
    QObject::connect(&service, &NotificationService::delivered, [&](uint id) { delivered << id; });

    service.send(QStringLiteral("维拉网络助手"), QStringLiteral("网络连接已启用"), true);
    service.send(QStringLiteral("维拉网络助手"), QStringLiteral("不该出现"), false);
    service.send(QStringLiteral("维拉网络助手"), QStringLiteral("连接已断开，原网络设置已恢复"), true);
    ASSERT_TRUE(eventually([&] { return delivered.size() == 2; }));
    EXPECT_NE(delivered[0], delivered[1]);
    EXPECT_EQ(server.bodies(), QStringList({ "网络连接已启用", "连接已断开，原网络设置已恢复" }));
    const NotificationServer::Shown &first = server.shown().first();
    EXPECT_EQ(first.title, QStringLiteral("维拉网络助手"));
    EXPECT_EQ(first.application, QStringLiteral("维拉网络助手"));
    EXPECT_EQ(first.hints.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
    EXPECT_NE(first.hints.value(QStringLiteral("x-veyra-id")),
        server.shown().last().hints.value(QStringLiteral("x-veyra-id")));
}

TEST_F(NotificationIntegration, WithoutAServerOnlyTheLogHearsOfIt)
{
    NotificationService service(NotificationServer::clientConnection(QStringLiteral("notification-test-lonely")));
    int failed = 0;
    QObject::connect(&service, &NotificationService::failed, [&] { ++failed; });
    service.send(QStringLiteral("维拉网络助手"), QStringLiteral("网络连接已启用"), true);
    ASSERT_TRUE(eventually([&] { return failed == 1; }));
    EXPECT_TRUE(diagnosticLog().contains(QStringLiteral("发送通知失败：")));

    // No bus at all is the same story, told at once.
    NotificationService nowhere(QDBusConnection(QStringLiteral("never-connected")));
    int failedToo = 0;
    QObject::connect(&nowhere, &NotificationService::failed, [&] { ++failedToo; });
    nowhere.send(QStringLiteral("维拉网络助手"), QStringLiteral("网络连接已启用"), true);
    EXPECT_EQ(failedToo, 1);
}

} // namespace
