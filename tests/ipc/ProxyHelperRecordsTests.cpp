#include "veyra/ipc/ProxyHelperConstants.h"
#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <gtest/gtest.h>

using namespace veyra::ipc;

TEST(ProxyHelperConstants, SocketIsNamedAfterTheService)
{
    EXPECT_EQ(ProxyHelperConstants::socketPath(), "/run/net.veyra.networkassistant.proxy-helper.sock");
    EXPECT_EQ(ProxyHelperConstants::maximumRequestBytes, 131072u);
}

TEST(ProxyHelperRequest, RoundTripsCommandLinesInOrder)
{
    ProxyHelperRequest request { { { "/usr/sbin/networksetup", "-setwebproxystate", "Wi-Fi", "on" },
        { "/usr/sbin/networksetup", "-setproxybypassdomains", "网络 2", "*.local" } } };
    const std::string bytes = request.encode();
    EXPECT_EQ(bytes.rfind(R"({"commands":[[)", 0), 0u);
    EXPECT_EQ(ProxyHelperRequest::decode(bytes).commands, request.commands);
}

TEST(ProxyHelperRequest, RejectsMissingKeyAndWrongTypes)
{
    for (const char *bad : { "", "[]", "{}", R"({"commands":"x"})", R"({"commands":[["a",1]]})",
             R"({"commands":["a"]})", R"({"commands":[[)" })
        EXPECT_THROW(ProxyHelperRequest::decode(bad), ProxyHelperDecodingError) << bad;
    EXPECT_TRUE(ProxyHelperRequest::decode(R"({"commands":[]})").commands.empty());
}

TEST(ProxyHelperResponse, WritesSuccessBeforeMessage)
{
    EXPECT_EQ((ProxyHelperResponse { true, "系统代理设置已更新。" }.encode()),
        R"({"success":true,"message":"系统代理设置已更新。"})");
}

TEST(ProxyHelperResponse, BothKeysAreRequiredWithTheirTypes)
{
    EXPECT_THROW(ProxyHelperResponse::decode(R"({"success":true})"), ProxyHelperDecodingError);
    EXPECT_THROW(ProxyHelperResponse::decode(R"({"message":"x"})"), ProxyHelperDecodingError);
    EXPECT_THROW(ProxyHelperResponse::decode(R"({"success":"true","message":"x"})"), ProxyHelperDecodingError);
    EXPECT_THROW(ProxyHelperResponse::decode(R"({"success":false,"message":3})"), ProxyHelperDecodingError);
    EXPECT_THROW(ProxyHelperResponse::decode("not json"), ProxyHelperDecodingError);

    ProxyHelperResponse fallback = ProxyHelperResponse::decode(ProxyHelperResponse::fallbackBytes);
    EXPECT_FALSE(fallback.success);
    EXPECT_EQ(fallback.message, "后台服务返回数据失败。");
}

TEST(ProxyHelperResponse, InvalidUtf8CannotBeEncoded)
{
    EXPECT_ANY_THROW((ProxyHelperResponse { false, "bad \xff byte" }.encode()));
}
