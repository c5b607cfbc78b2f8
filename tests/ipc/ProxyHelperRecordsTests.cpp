#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(ProxyHelperRecords, EveryJsonSurpriseIsTheProtocolsDecodingErrorOnBothSides)
{
    // Each of these trips a different part of the JSON library: a number out of range, bad
    // syntax, invalid UTF-8 in raw bytes and as an escaped lone surrogate, a truncated text.
    using namespace std::string_literals;
    const std::vector<std::string> surprises = {
        "1e999",
        "-1e999",
        R"({"commands":[["a"]],"extra":1e999})",
        R"({"success":true,"message":"x","extra":1e999})",
        "{\"commands\":[[\"\xff\"]]}",
        "{\"success\":true,\"message\":\"\xc3\"}",
        R"({"commands":[["\ud800"]]})",
        R"({"success":true,"message":"\ud800"})",
        R"({"commands":[[)",
        "{\"success\":true,\0\"message\":\"x\"}"s,
    };
    for (const std::string &bytes : surprises) {
        EXPECT_THROW(ProxyHelperRequest::decode(bytes), ProxyHelperDecodingError) << bytes;
        EXPECT_THROW(ProxyHelperResponse::decode(bytes), ProxyHelperDecodingError) << bytes;
    }
    EXPECT_EQ(ProxyHelperResponse::decode(R"({"success":true,"message":"x","extra":1e300})").message, "x");
}
