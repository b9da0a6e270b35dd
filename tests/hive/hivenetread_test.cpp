// The Thrift read buffer: frames found and counted however the wire splits
// them, the message header's checks, strings, exact skipping of every type,
// refusal of hostile lengths, and the drain of an unread reply.
#include "hive/hivenetread.h"

#include <gtest/gtest.h>

#include <string>

#include "fakewire.h"
#include "hive/hivenetwrite.h"
#include "support/diagscope.h"

namespace {

using katest::FakeWire;
using katest::frame;
using katest::TB;

class ReadBufferTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
    void SetUp() override
    {
        ASSERT_EQ(0, r.attach(nullptr, &wire));
        r.framed = 1;
    }

    // Reads a reply header and returns its name ("" on failure).
    std::string begin(int32_t* type = nullptr)
    {
        char name[64];
        size_t n = 0;
        int32_t t = 0;
        if (r.readMessageBegin(name, sizeof name, &n, &t))
            return "";
        if (type)
            *type = t;
        return std::string(name, n);
    }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    FakeWire wire;
    HiveNetReadBuffer r;
};

TEST_F(ReadBufferTest, AFrameEndsWhereItsLengthSays)
{
    std::string body = TB().msg(HIVE_MSG_REPLY, "ab").i16(0x0102).s;
    ASSERT_EQ(16u, body.size());
    wire.serve(frame(body) + "trailing");
    int32_t type = 0;
    EXPECT_EQ("ab", begin(&type));
    EXPECT_EQ(HIVE_MSG_REPLY, type);
    EXPECT_EQ(4u + 16u, r.frameEnd);
    int16_t v = 0;
    ASSERT_EQ(0, r.readI16(&v));
    EXPECT_EQ(0x0102, v);
    // The next reply starts with a fresh length from the socket.
    wire.chunks.clear();
    wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "cd").s));
    EXPECT_EQ("cd", begin());
}

TEST_F(ReadBufferTest, ValuesStraddleFramesAndSocketReadsWhereverTheWireSplits)
{
    std::string body1 = TB().msg(HIVE_MSG_REPLY, "x").i32(0x01020304).s;
    std::string body2 = TB().i64(0x1122334455667788).str("hello").s;
    std::string wireBytes = frame(body1) + frame("") + frame(body2);
    for (size_t piece : {1u, 2u, 3u, 5u, 7u, 1000u}) {
        SCOPED_TRACE(piece);
        ASSERT_EQ(0, r.attach(nullptr, &wire));
        r.framed = 1;
        wire.chunks.clear();
        wire.serveIn(wireBytes, piece);
        ASSERT_EQ("x", begin());
        int32_t a = 0;
        int64_t b = 0;
        char text[8];
        size_t n = 0;
        ASSERT_EQ(0, r.readI32(&a));
        ASSERT_EQ(0, r.readI64(&b));
        ASSERT_EQ(0, r.readStringZ(text, sizeof text, &n, 0));
        EXPECT_EQ(0x01020304, a);
        EXPECT_EQ(0x1122334455667788, b);
        EXPECT_STREQ("hello", text);
        EXPECT_TRUE(wire.chunks.empty());
    }
}

TEST_F(ReadBufferTest, AMessageLongerThanTheBufferIsReadInPieces)
{
    ASSERT_EQ(0, r.setCapacity(16));
    r.chunkSize = 16;
    std::string big(1000, 'q');
    big[999] = 'e';
    wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "m").str(big).s));
    ASSERT_EQ("m", begin());
    std::string out(1000, 0);
    size_t n = 0;
    ASSERT_EQ(0, r.readString(out.data(), out.size(), &n, 0));
    EXPECT_EQ(big, out);
    EXPECT_EQ(0u, r.frameRemaining - r.frameBytes);
}

TEST_F(ReadBufferTest, TheMessageHeaderIsChecked)
{
    struct Case {
        std::string bytes;
        std::string text;
    } cases[] = {
        {TB().i32(5).s + "abcde", "unversioned"},
        {TB().i32(int32_t(0x80020002)).str("a").i32(0).s, "Unexpected Thrift protocol version"},
        {TB().i32(int32_t(0x80010002)).i32(-1).s, "Invalid name length"},
    };
    for (const Case& c : cases) {
        wire.chunks.clear();
        wire.serve(frame(c.bytes));
        size_t before = diags.size();
        EXPECT_EQ("", begin());
        ASSERT_EQ(before + 1, diags.size());
        EXPECT_NE(std::string::npos, diags.text(before).find(c.text)) << diags.text(before);
        EXPECT_EQ(MSG_SQLSTATE_GENERAL_ERROR, diags.index(before));
    }
}

TEST_F(ReadBufferTest, ALongNameIsCutWithADiagnosticAndReadingGoesOn)
{
    std::string name(200, 'n');
    wire.serve(frame(TB().msg(HIVE_MSG_REPLY, name).i32(42).s));
    char buf[128];
    size_t n = 0;
    int32_t type = 0;
    ASSERT_EQ(0, r.readMessageBegin(buf, sizeof buf, &n, &type));
    EXPECT_EQ(128u, n);
    ASSERT_EQ(1u, diags.size());
    EXPECT_NE(std::string::npos, diags.text(0).find("name too long"));
    int32_t v = 0;
    ASSERT_EQ(0, r.readI32(&v));
    EXPECT_EQ(42, v);
}

TEST_F(ReadBufferTest, AStringIsCutToItsMaximumAndTheRestPassedOrLeft)
{
    std::string s25 = "abcdefghijklmnopqrstuvwxy";
    for (int32_t leave : {0, 1}) {
        wire.chunks.clear();
        wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "s").str(s25).i8(7).s));
        ASSERT_EQ("s", begin());
        char out[10];
        size_t n = 0;
        ASSERT_EQ(0, r.readString(out, sizeof out, &n, leave));
        EXPECT_EQ("abcdefghij", std::string(out, n));
        uint8_t next = 0;
        if (leave) {
            ASSERT_EQ(0, r.skipBytes(15));
        }
        ASSERT_EQ(0, r.readByte(&next));
        EXPECT_EQ(7, next);
    }
    wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "s").i32(-3).s));
    ASSERT_EQ("s", begin());
    char out[4] = "zz";
    size_t n = 9;
    EXPECT_NE(0, r.readStringZ(out, sizeof out, &n, 0));
    EXPECT_EQ(0u, n);
    EXPECT_STREQ("", out);
}

// One value of every type the protocol has, as its type code and bytes.
struct Value {
    uint8_t type;
    std::string bytes;
};

std::vector<Value> everyType()
{
    TB nested;
    nested.field(HIVE_T_MAP, 1).i8(HIVE_T_STRING).i8(HIVE_T_STRUCT).i32(2);
    nested.str("k1").field(HIVE_T_I32, 1).i32(1).stop();
    nested.str("k2").field(HIVE_T_LIST, 1).i8(HIVE_T_I16).i32(2).i16(1).i16(2).stop();
    nested.field(HIVE_T_SET, 2).i8(HIVE_T_I64).i32(1).i64(9);
    nested.field(HIVE_T_MAP, 3).i8(HIVE_T_I32).i8(HIVE_T_BOOL).i32(0);
    nested.stop();
    return {
        {HIVE_T_BOOL, TB().i8(1).s},
        {HIVE_T_BYTE, TB().i8(0xFF).s},
        {HIVE_T_DOUBLE, TB().i64(0x400921FB54442D18).s},
        {HIVE_T_I16, TB().i16(-1).s},
        {HIVE_T_I32, TB().i32(-1).s},
        {HIVE_T_I64, TB().i64(-1).s},
        {HIVE_T_STRING, TB().str("text").s},
        {HIVE_T_STRUCT, nested.s},
        {HIVE_T_MAP, TB().i8(HIVE_T_STRING).i8(HIVE_T_STRUCT).i32(2).str("a").stop().str("b").stop().s},
        {HIVE_T_MAP, TB().i8(HIVE_T_I32).i8(HIVE_T_I32).i32(0).s},
        {HIVE_T_SET, TB().i8(HIVE_T_STRING).i32(2).str("x").str("y").s},
        {HIVE_T_LIST, TB().i8(HIVE_T_LIST).i32(1).i8(HIVE_T_BYTE).i32(3).i8(1).i8(2).i8(3).s},
    };
}

TEST_F(ReadBufferTest, SkippingPassesExactlyOneValueOfEveryType)
{
    for (const Value& v : everyType()) {
        SCOPED_TRACE(int(v.type));
        wire.chunks.clear();
        wire.serveIn(frame(TB().msg(HIVE_MSG_REPLY, "k").raw(v.bytes).i8(0xAB).s), 3);
        ASSERT_EQ("k", begin());
        ASSERT_EQ(0, r.skip(v.type));
        uint8_t after = 0;
        ASSERT_EQ(0, r.readByte(&after));
        EXPECT_EQ(0xAB, after);
    }
    EXPECT_EQ(0u, diags.size());
}

TEST_F(ReadBufferTest, ATypeTheProtocolDoesNotHaveIsALinkFailure)
{
    for (uint8_t type : {0, 1, 5, 7, 9, 16, 17, 18, 200}) {
        SCOPED_TRACE(int(type));
        wire.chunks.clear();
        wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "k").i32(0).s));
        ASSERT_EQ("k", begin());
        size_t before = diags.size();
        EXPECT_NE(0, r.skip(type));
        ASSERT_EQ(before + 1, diags.size());
        EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, diags.index(before));
    }
}

TEST_F(ReadBufferTest, HostileLengthsAndNestingAreRefused)
{
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += TB().i8(HIVE_T_LIST).i32(1).s;
    struct Case {
        uint8_t type;
        std::string bytes;
    } cases[] = {
        {HIVE_T_STRING, TB().i32(-5).s},
        {HIVE_T_LIST, TB().i8(HIVE_T_I32).i32(-1).s},
        {HIVE_T_MAP, TB().i8(HIVE_T_I32).i8(HIVE_T_I32).i32(-1).s},
        {HIVE_T_LIST, deep},
        // A count far beyond the frame: the frame's end stops it.
        {HIVE_T_LIST, TB().i8(HIVE_T_I64).i32(0x7FFFFFFF).s},
    };
    for (const Case& c : cases) {
        wire.chunks.clear();
        wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "k").raw(c.bytes).s));
        ASSERT_EQ("k", begin());
        EXPECT_NE(0, r.skip(c.type));
        ASSERT_EQ(0, r.attach(nullptr, &wire));
        r.framed = 1;
    }
}

TEST_F(ReadBufferTest, AFrameLengthBeyondAPositiveI32IsRefused)
{
    wire.serve(TB().i32(-1).s + "abcd");
    EXPECT_EQ("", begin());
    ASSERT_EQ(1u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, diags.index(0));
}

TEST_F(ReadBufferTest, AServerThatHangsUpMidReplyFails)
{
    std::string body = TB().msg(HIVE_MSG_REPLY, "k").str("abcdef").s;
    wire.serve(frame(body).substr(0, 20));
    ASSERT_EQ("k", begin());
    char out[8];
    size_t n = 0;
    EXPECT_NE(0, r.readString(out, sizeof out, &n, 0));
    EXPECT_EQ(1, r.failed);
    EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, diags.index(diags.size() - 1));
}

TEST_F(ReadBufferTest, ExceptionFieldsAreReadAndOthersSkipped)
{
    wire.serve(frame(TB().msg(HIVE_MSG_EXCEPTION, "Ex")
                         .field(HIVE_T_STRING, 1)
                         .str("bad thing")
                         .field(HIVE_T_LIST, 9)
                         .i8(HIVE_T_I32)
                         .i32(1)
                         .i32(5)
                         .field(HIVE_T_I32, 2)
                         .i32(6)
                         .field(HIVE_T_STRING, 3)
                         .str("second")
                         .stop()
                         .s));
    int32_t type = 0;
    ASSERT_EQ("Ex", begin(&type));
    EXPECT_EQ(HIVE_MSG_EXCEPTION, type);
    char m[5];
    char s[32];
    size_t ml = 0;
    size_t sl = 0;
    int32_t et = 0;
    ASSERT_EQ(0, r.readExceptionFields(m, sizeof m, &ml, s, sizeof s, &sl, &et));
    EXPECT_STREQ("bad ", m);
    EXPECT_EQ(4u, ml);
    EXPECT_STREQ("second", s);
    EXPECT_EQ(6, et);
}

TEST_F(ReadBufferTest, DrainingPassesTheRestOfTheFrameByItsLengthHoweverSlowItComes)
{
    std::string reply = frame(TB().msg(HIVE_MSG_REPLY, "first").raw(std::string(3000, 'r')).s);
    wire.serve(reply.substr(0, 40));
    for (size_t i = 40; i < reply.size(); i += 100)
        wire.serve(reply.substr(i, 100));
    wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "second").s));
    ASSERT_EQ("first", begin());
    ASSERT_EQ(0, r.drainPending(nullptr));
    EXPECT_EQ(1u, wire.chunks.size());
    EXPECT_EQ("second", begin());
    EXPECT_EQ(0u, diags.size());
}

// A walk whose callback stops inside a field ends at once, leaving the reader
// there, and so do the walks around it; of the required fields only those
// with lower ids must have come.
TEST_F(ReadBufferTest, AWalkLeftInsideAFieldEndsThereAndRequiresOnlyTheFieldsBefore)
{
    static constexpr HiveRequiredField kFields[] = {
        {1, HIVE_T_I32, "first"}, {2, HIVE_T_I32, "second"}, {3, HIVE_T_I32, "third"}};
    static constexpr HiveStructShape kShape{"TShape", kFields, 3};
    struct Case {
        const char* name;
        std::string fields;
        int rc;
        const char* missing;
    };
    const Case cases[] = {
        {"all there", TB().field(HIVE_T_I32, 1).i32(10).field(HIVE_T_I32, 3).i32(30).field(HIVE_T_I32, 2).i32(20).s,
         kHiveFieldLeave, nullptr},
        {"a later one absent", TB().field(HIVE_T_I32, 1).i32(10).field(HIVE_T_I32, 2).i32(20).s, kHiveFieldLeave,
         nullptr},
        {"an earlier one absent", TB().field(HIVE_T_I32, 2).i32(20).s, 1, "TShape.first missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        r.resetFrame();
        // The struct sits in field 7 of an outer one: the outer walk ends too.
        wire.serve(frame(TB().msg(HIVE_MSG_REPLY, "w").field(HIVE_T_STRUCT, 7).raw(c.fields).i32(99).s));
        ASSERT_EQ("w", begin());
        const size_t before = diags.size();
        const int rc = r.readFields([&](uint8_t type, int16_t id) noexcept {
            if (id != 7 || type != HIVE_T_STRUCT)
                return kHiveFieldSkip;
            return r.readFields(
                kShape, [&](uint8_t, int16_t fid) noexcept { return fid == 2 ? kHiveFieldLeave : kHiveFieldSkip; });
        });
        EXPECT_EQ(c.rc, rc);
        if (c.missing == nullptr) {
            EXPECT_EQ(before, diags.size());
            // The reader stands at the value of the field left in.
            int32_t value = 0;
            ASSERT_EQ(0, r.readI32(&value));
            EXPECT_EQ(20, value);
        } else {
            ASSERT_LT(before, diags.size());
            EXPECT_NE(std::string::npos, diags.text(before).find(c.missing)) << diags.text(before);
        }
    }
}

}  // namespace
