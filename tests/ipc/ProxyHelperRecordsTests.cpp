#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <gtest/gtest.h>

using namespace veyra::ipc;

TEST(ProxyHelperRecords, RequestRoundTripsAndRefusesWrongShapes)
{
    ProxyHelperRequest request { { { "/usr/sbin/networksetup", "-setproxybypassdomains", "网络 2", "*.local" } } };
    EXPECT_EQ(ProxyHelperRequest::decode(request.encode()).commands, request.commands);
    for (const char *bad :
        { "", "[]", "{}", R"({"commands":"x"})", R"({"commands":[["a",1]]})", R"({"commands":["a"]})" })
        EXPECT_THROW(ProxyHelperRequest::decode(bad), ProxyHelperDecodingError) << bad;
}

TEST(ProxyHelperRecords, ResponseWritesKeysInOrderAndRequiresBoth)
{
    EXPECT_EQ((ProxyHelperResponse { true, "系统代理设置已更新。" }.encode()),
        R"({"success":true,"message":"系统代理设置已更新。"})");
    for (const char *bad : { R"({"success":true})", R"({"message":"x"})", R"({"success":"true","message":"x"})",
             R"({"success":false,"message":3})" })
        EXPECT_THROW(ProxyHelperResponse::decode(bad), ProxyHelperDecodingError) << bad;
    EXPECT_EQ(ProxyHelperResponse::decode(ProxyHelperResponse::fallbackBytes).message, "后台服务返回数据失败。");
    EXPECT_ANY_THROW((ProxyHelperResponse { false, "bad \xff byte" }.encode()));
}
