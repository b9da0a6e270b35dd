// The Thrift write buffer: what goes on the wire for a composed message,
// framed after login, bare during the SASL exchange, without a length on
// HTTP, across sink blocks, and after a failed send.
#include "hive/hivenetwrite.h"

#include <gtest/gtest.h>

#include <string>

#include "fakewire.h"
#include "support/diagscope.h"

namespace {

using katest::FakeWire;
using katest::TB;

class WriteBufferTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
    void SetUp() override { ASSERT_EQ(0, w.attach(nullptr, &wire)); }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    FakeWire wire;
    HiveNetWriteBuffer w;
};

TEST_F(WriteBufferTest, AMessageGoesOutFramedAfterLoginBareBeforeAndUnframedOnHttp)
{
    const std::string ten = "0123456789";
    struct Case {
        int32_t framing;
        int32_t http;
        std::string expected;
    } cases[] = {
        {1, 0, std::string("\0\0\0\x0A", 4) + ten},
        {0, 0, ten},
        {1, 1, ten},
    };
    for (const Case& c : cases) {
        wire.written.clear();
        w.framing = c.framing;
        w.httpTransport = c.http;
        ASSERT_EQ(0, w.writeBytes(ten.data(), ten.size()));
        ASSERT_EQ(0, w.flush());
        EXPECT_EQ(c.expected, wire.written) << c.framing << c.http;
        EXPECT_EQ(0u, w.length);
    }
}

TEST_F(WriteBufferTest, ThePrimitivesWriteTheStrictBinaryProtocol)
{
    w.framing = 0;
    ASSERT_EQ(0, w.writeMessageBegin(HIVE_MSG_CALL, "GetInfo", 7, 5));
    ASSERT_EQ(0, w.writeStructFieldBegin(1));
    ASSERT_EQ(0, w.writeFieldBegin(HIVE_T_I32, 2));
    ASSERT_EQ(0, w.writeI32(-2));
    ASSERT_EQ(0, w.writeListFieldBegin(3, HIVE_T_STRING, 1));
    ASSERT_EQ(0, w.writeString("", 0));
    ASSERT_EQ(0, w.writeFieldBegin(HIVE_T_I64, 4));
    ASSERT_EQ(0, w.writeI64(0x0102030405060708));
    ASSERT_EQ(0, w.writeFieldStop());
    ASSERT_EQ(0, w.flush());
    std::string expected = TB().msg(HIVE_MSG_CALL, "GetInfo", 5)
                               .field(HIVE_T_STRUCT, 1)
                               .field(HIVE_T_I32, 2)
                               .i32(-2)
                               .field(HIVE_T_LIST, 3)
                               .i8(HIVE_T_STRING)
                               .i32(1)
                               .i32(0)
                               .field(HIVE_T_I64, 4)
                               .i64(0x0102030405060708)
                               .stop()
                               .s;
    EXPECT_EQ(expected, wire.written);
}

TEST_F(WriteBufferTest, AStringLongerThanABlockIsOneFrameCountingEveryByte)
{
    w.framing = 1;
    std::string big(100000, 'x');
    big[0] = 'a';
    big[99999] = 'z';
    ASSERT_EQ(0, w.writeString(big.data(), big.size()));
    ASSERT_EQ(0, w.flush());
    ASSERT_EQ(4u + 4u + big.size(), wire.written.size());
    EXPECT_EQ(TB().i32(int32_t(4 + big.size())).i32(int32_t(big.size())).s, wire.written.substr(0, 8));
    EXPECT_EQ(big, wire.written.substr(8));
    // The next message starts in an empty sink.
    wire.written.clear();
    ASSERT_EQ(0, w.writeI32(7));
    ASSERT_EQ(0, w.flush());
    EXPECT_EQ(TB().i32(4).i32(7).s, wire.written);
}

// The binary protocol counts a string's bytes in a signed 32-bit number: a
// longer one is refused with the limit named before any of it is read (the
// data given is far shorter than the length). The message it was part of
// is dropped, across sink blocks too, and the next one starts clean.
TEST_F(WriteBufferTest, AStringLongerThanTheProtocolCountsIsRefusedNamingTheLimit)
{
    w.framing = 1;
    const char few[4] = {'a', 'b', 'c', 'd'};
    const std::string composed(kHiveWriteBlockSize + 10, 'c');
    ASSERT_EQ(0, w.writeBytes(composed.data(), composed.size()));
    EXPECT_EQ(1, w.writeString(few, size_t{1} << 31));
    ASSERT_EQ(1u, diags.size());
    EXPECT_EQ("22001", katest::sqlstate(diags.at(0)));
    EXPECT_NE(std::string::npos, diags.text(0).find("2147483648")) << diags.text(0);
    EXPECT_NE(std::string::npos, diags.text(0).find("2147483647")) << diags.text(0);
    EXPECT_EQ("", wire.written);
    ASSERT_EQ(0, w.writeString(few, sizeof few));
    ASSERT_EQ(0, w.flush());
    EXPECT_EQ(TB().i32(8).i32(4).s + "abcd", wire.written);
}

TEST_F(WriteBufferTest, AnIntegerSpansTwoWindows)
{
    w.framing = 0;
    std::string fill(kHiveWriteBlockSize - 2, 'f');
    ASSERT_EQ(0, w.writeBytes(fill.data(), fill.size()));
    ASSERT_EQ(2u, w.windowSize - w.length);
    ASSERT_EQ(0, w.writeI32(0x11223344));
    EXPECT_EQ(2u, w.length);
    ASSERT_EQ(0, w.flush());
    EXPECT_EQ(fill + "\x11\x22\x33\x44", wire.written);
}

TEST_F(WriteBufferTest, AFailedSendDropsTheMessageAndTheNextStartsClean)
{
    w.framing = 1;
    ASSERT_EQ(0, w.writeI32(1));
    wire.failWrites = 1;
    EXPECT_NE(0, w.flush());
    wire.failWrites = 0;
    ASSERT_EQ(0, w.writeI32(2));
    ASSERT_EQ(0, w.flush());
    EXPECT_EQ(TB().i32(4).i32(2).s, wire.written);
}

TEST_F(WriteBufferTest, DiscardingDropsWhatWasComposed)
{
    w.framing = 0;
    ASSERT_EQ(0, w.writeI32(1));
    w.length = 0;
    ASSERT_EQ(0, w.flushChunk(1));
    ASSERT_EQ(0, w.writeI16(3));
    ASSERT_EQ(0, w.flush());
    EXPECT_EQ(TB().i16(3).s, wire.written);
}

TEST_F(WriteBufferTest, ABlockBuiltOutsideIsSentWithItsLength)
{
    ASSERT_EQ(0, w.sendFramed("abc", 3));
    EXPECT_EQ(std::string("\0\0\0\x03"
                          "abc",
                          7),
              wire.written);
    wire.written.clear();
    w.httpTransport = 1;
    ASSERT_EQ(0, w.sendFramed("abc", 3));
    EXPECT_EQ("abc", wire.written);
}

}  // namespace
