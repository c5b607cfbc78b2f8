#include "veyra/ipc/ProxyHelperErrors.h"
#include "veyra/ipc/ProxyHelperRecords.h"

#include <gtest/gtest.h>

#include <string>

using namespace veyra::ipc;
using namespace std::string_literals;

// The records' shapes, round trips and the command grammar are the ipc_records and ipc_grammar
// fuzz targets' replayed inputs; these are the failures that never reach a JSON value there.
TEST(ProxyHelperRecords, EveryJsonSurpriseIsTheProtocolsDecodingErrorOnBothSides)
{
    // Each trips a different part of the JSON library: a number out of range, bad syntax,
    // invalid UTF-8 in raw bytes and as an escaped lone surrogate, a truncated text.
    for (const std::string &bytes : { "1e999"s, R"({"success":true,"message":"x","extra":1e999})"s,
             "{\"success\":true,\"message\":\"\xc3\"}"s, R"({"success":true,"message":"\ud800"})"s,
             R"({"commands":[[)"s, "{\"success\":true,\0\"message\":\"x\"}"s }) {
        EXPECT_THROW(ProxyHelperRequest::decode(bytes), ProxyHelperDecodingError) << bytes;
        EXPECT_THROW(ProxyHelperResponse::decode(bytes), ProxyHelperDecodingError) << bytes;
    }
    EXPECT_EQ(ProxyHelperResponse::decode(ProxyHelperResponse::fallbackBytes).message, "后台服务返回数据失败。");
    EXPECT_ANY_THROW((ProxyHelperResponse { false, "bad \xff byte" }.encode()));
}
