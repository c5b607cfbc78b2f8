#include "veyra/ipc/Framing.h"

#include <gtest/gtest.h>

using namespace veyra::ipc::Framing;
using Status = FrameReader::Status;

TEST(Framing, LengthIsFourBytesBigEndian)
{
    EXPECT_EQ(encodeHeader(0x01020304), std::string("\x01\x02\x03\x04", 4));
    const unsigned char high[] = { 0xFF, 0x00, 0x00, 0x80 };
    EXPECT_EQ(decodeHeader(high), 0xFF000080u);
    EXPECT_EQ(frame("abc"), std::string("\0\0\0\3abc", 7));
}

TEST(Framing, ReaderAssemblesAFrameFromSingleBytes)
{
    const std::string bytes = frame(R"({"success":true})");
    FrameReader reader;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        ASSERT_EQ(reader.feed(bytes.substr(i, 1)), Status::needMore) << i;
    EXPECT_EQ(reader.feed(bytes.substr(bytes.size() - 1)), Status::complete);
    EXPECT_EQ(reader.payload(), R"({"success":true})");
    EXPECT_EQ(reader.wanted(), 0u);
}

TEST(Framing, ReaderIgnoresBytesAfterTheFrame)
{
    FrameReader reader;
    EXPECT_EQ(reader.feed(frame("ab") + "trailing"), Status::complete);
    EXPECT_EQ(reader.payload(), "ab");
}

TEST(Framing, LimitIsInclusiveAndOversizeIsSeenFromTheHeaderAlone)
{
    FrameReader exact;
    EXPECT_EQ(exact.feed(encodeHeader(131072)), Status::needMore);
    EXPECT_EQ(exact.wanted(), 131072u);
    EXPECT_EQ(exact.feed(std::string(131072, ' ')), Status::complete);

    FrameReader over;
    EXPECT_EQ(over.feed(encodeHeader(131073)), Status::oversized);
    EXPECT_EQ(over.declaredLength(), 131073u);
    EXPECT_TRUE(over.payload().empty());
}

TEST(Framing, EmptyFrameIsComplete)
{
    FrameReader reader;
    EXPECT_EQ(reader.feed(encodeHeader(0)), Status::complete);
    EXPECT_TRUE(reader.payload().empty());
}
