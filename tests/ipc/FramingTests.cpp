#include "veyra/ipc/Framing.h"

#include <gtest/gtest.h>

using namespace veyra::ipc::Framing;
using Status = FrameReader::Status;

TEST(Framing, BigEndianLengthAssembledFromAnyPieces)
{
    EXPECT_EQ(frame("abc"), std::string("\0\0\0\3abc", 7));
    const unsigned char high[] = { 0xFF, 0x00, 0x00, 0x80 };
    EXPECT_EQ(decodeHeader(high), 0xFF000080u);

    const std::string bytes = frame(R"({"success":true})") + "trailing";
    FrameReader reader;
    for (std::size_t i = 0; i + 10 < bytes.size(); ++i)
        ASSERT_EQ(reader.feed(bytes.substr(i, 1)), Status::needMore) << i;
    EXPECT_EQ(reader.feed(bytes.substr(bytes.size() - 10)), Status::complete);
    EXPECT_EQ(reader.payload(), R"({"success":true})");
}

TEST(Framing, LimitIsInclusiveAndOversizeIsKnownFromTheHeader)
{
    FrameReader exact;
    EXPECT_EQ(exact.feed(encodeHeader(131072) + std::string(131072, ' ')), Status::complete);
    FrameReader over;
    EXPECT_EQ(over.feed(encodeHeader(131073)), Status::oversized);
    FrameReader empty;
    EXPECT_EQ(empty.feed(encodeHeader(0)), Status::complete);
}
