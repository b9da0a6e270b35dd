// ODBC string arguments: input strings over the caller's buffer, and output
// buffers filled with the truncation rules (01004, terminators of 1, 2 or 3
// bytes, SQL_NTS).
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <vector>

#include "convert/basestring.h"
#include "kamessages.h"
#include "support/diagscope.h"
#include "support/guarded.h"

using katest::DiagScope;

namespace {

using Guarded = katest::Guarded<>;

size_t truncationWarnings(DiagScope& d)
{
    size_t n = 0;
    for (size_t i = 0; i < d.size(); ++i)
        if (d.index(i) == MSG_SQLSTATE_STRING_RIGHT_TRUNCATED && d.warning(i))
            ++n;
    return n;
}

}  // namespace

TEST(BaseInStringW, LengthRules)
{
    const uint16_t text[] = {'a', 'b', 'c', 0, 'x'};
    struct Case {
        const uint16_t* p;
        int64_t length;
        size_t expected;
    } cases[] = {
        {text, SQL_NTS, 3}, {text, 2, 2},          {text, 5, 5},  // an explicit length may run over a NUL
        {text, 0, 0},       {nullptr, SQL_NTS, 0}, {nullptr, 7, 0},
    };
    for (const Case& c : cases) {
        DiagScope d;
        BaseInStringW s(c.p, c.length);
        EXPECT_EQ(s.len, c.expected) << c.length;
        EXPECT_EQ(s.checkLength(), 0);
        EXPECT_EQ(d.size(), 0u);
        if (c.expected > 0) {
            EXPECT_EQ(s.data, c.p);  // no copy
        }
    }
}

TEST(BaseInStringW, NegativeLengthOtherThanNtsIsInvalid)
{
    const uint16_t text[] = {'a', 'b', 0};
    for (int64_t bad : {int64_t{-1}, int64_t{-2}, int64_t{-4}, INT64_MIN}) {
        DiagScope d;
        BaseInStringW s(text, bad);
        EXPECT_EQ(s.len, 0u) << bad;
        EXPECT_FALSE(s.lengthValid());
        EXPECT_EQ(d.size(), 0u);
        EXPECT_EQ(s.checkLength(), 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_INVALID_STRING_LENGTH);
        EXPECT_FALSE(d.warning(0));
    }
}

TEST(BaseInString, LengthRulesAndCodePage)
{
    const char text[] = "hello";
    BaseInString nts(text, SQL_NTS);
    EXPECT_EQ(nts.len, 5u);
    EXPECT_EQ(nts.codePage, 1);
    BaseInString counted(text, 3, 3);
    EXPECT_EQ(counted.len, 3u);
    EXPECT_EQ(counted.codePage, 3);
    BaseInString none(nullptr, SQL_NTS);
    EXPECT_EQ(none.len, 0u);
    DiagScope d;
    BaseInString bad(text, -7);
    EXPECT_EQ(bad.len, 0u);
    EXPECT_EQ(bad.checkLength(), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_INVALID_STRING_LENGTH);
}

TEST(BaseInString, GrowingCopiesAwayFromTheCallersBuffer)
{
    // The caller's buffer is borrowed: the string refuses to grow into it and
    // its destruction never frees it (ASan reports a bad free otherwise).
    char text[] = "abc";
    DiagScope d;
    {
        BaseInString s(text, SQL_NTS);
        EXPECT_NE(s.append("def", 3), 0);
    }
    EXPECT_STREQ(text, "abc");
}

struct PutCase {
    const char* name;
    int64_t bufferLength;
    int64_t dataLength;
    bool terminate;
    int32_t width;
    int64_t copied;  // data bytes expected in the buffer
    int64_t zeros;   // zero bytes expected after them
    bool warned;
};

class PutText : public ::testing::TestWithParam<PutCase> {};

TEST_P(PutText, CutsTerminatesAndReportsFullLength)
{
    const PutCase& c = GetParam();
    const char data[] = "0123456789ABCDEFGHIJ";
    Guarded buf(static_cast<size_t>(c.bufferLength > 0 ? c.bufferLength : 0));
    std::memset(buf.data(), 'z', buf.size());
    int32_t length = -99;
    DiagScope d;
    BaseOutString out(buf.data(), static_cast<int32_t>(c.bufferLength), &length, nullptr, 1);
    bool cut = out.putText(data, c.dataLength, c.terminate, c.width);
    EXPECT_EQ(length, c.dataLength);
    EXPECT_EQ(cut, c.warned);
    EXPECT_EQ(truncationWarnings(d), c.warned ? 1u : 0u);
    EXPECT_EQ(d.size(), c.warned ? 1u : 0u);
    EXPECT_EQ(std::memcmp(buf.data(), data, static_cast<size_t>(c.copied)), 0);
    for (int64_t i = 0; i < c.zeros; ++i)
        EXPECT_EQ(buf.data()[c.copied + i], 0) << i;
    for (int64_t i = c.copied + c.zeros; i < c.bufferLength; ++i)
        EXPECT_EQ(buf.data()[i], 'z') << "byte " << i << " was written";
    EXPECT_TRUE(buf.guardsIntact());
}

INSTANTIATE_TEST_SUITE_P(Cases, PutText,
                         ::testing::Values(PutCase{"cut_narrow", 10, 12, true, 1, 9, 1, true},
                                           PutCase{"fits_narrow", 13, 12, true, 1, 12, 1, false},
                                           PutCase{"exact_fit", 13, 12, true, 1, 12, 1, false},
                                           PutCase{"one_short", 12, 12, true, 1, 11, 1, true},
                                           PutCase{"no_terminator_fits", 12, 12, false, 1, 12, 0, false},
                                           PutCase{"no_terminator_cut", 10, 12, false, 1, 10, 0, true},
                                           PutCase{"utf16_terminator", 10, 12, true, 2, 8, 2, true},
                                           PutCase{"utf16_odd_buffer", 11, 12, true, 2, 8, 2, true},
                                           PutCase{"three_byte_terminator", 10, 12, true, 3, 7, 3, true},
                                           PutCase{"buffer_shorter_than_terminator", 1, 12, true, 2, 0, 1, true},
                                           PutCase{"buffer_of_two_width_three", 2, 4, true, 3, 0, 2, true},
                                           PutCase{"empty_text_one_byte", 1, 0, true, 1, 0, 1, false},
                                           PutCase{"zero_buffer", 0, 5, true, 1, 0, 0, true},
                                           PutCase{"zero_buffer_empty_unterminated", 0, 0, false, 1, 0, 0, false}),
                         [](const ::testing::TestParamInfo<PutCase>& info) { return std::string(info.param.name); });

TEST(BaseOutString, NullBufferReportsLengthOnly)
{
    int16_t length = 0;
    DiagScope d;
    BaseOutString out(nullptr, int16_t{0}, &length);
    EXPECT_FALSE(out.putText("abcdef", 6, true, 1));
    EXPECT_EQ(length, 6);
    EXPECT_EQ(d.size(), 0u);
}

TEST(BaseOutString, LengthFieldsAreTriedInOrderAndClamped)
{
    char buf[4];
    const char data[4] = {'w', 'x', 'y', 'z'};  // only the first 4 bytes are ever copied
    int16_t l16 = 0;
    BaseOutString sixteen(buf, int16_t{4}, &l16);
    DiagScope d;
    sixteen.putText(data, 40000, false, 1);  // beyond SQLSMALLINT: never reads as a negative code
    EXPECT_EQ(l16, INT16_MAX);
    int64_t l64 = 0;
    BaseOutString sixtyFour(buf, int64_t{4}, &l64, nullptr);
    sixtyFour.putText(data, int64_t{5000000000}, false, 1);
    EXPECT_EQ(l64, 5000000000);
}

TEST(BaseOutString, SameLengthPointerTwiceIsNoNullFlag)
{
    char buf[8];
    int32_t ind = 77;
    BaseOutString out(buf, int32_t{8}, &ind, &ind);
    EXPECT_EQ(out.nullFlag32, nullptr);
    out.putText("abc", 3, true, 1);
    EXPECT_EQ(ind, 3);

    int32_t len = 0, nullFlag = 5;
    BaseOutString both(buf, int32_t{8}, &len, &nullFlag);
    both.putText("abc", 3, true, 1);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(nullFlag, 0);
    EXPECT_EQ(both.setNull(1), 0);
    EXPECT_EQ(len, SQL_NULL_DATA);
    EXPECT_EQ(nullFlag, 1);

    int64_t len64 = 0, null64 = 9;
    BaseOutString wide(buf, int64_t{8}, &len64, &null64);
    wide.putText("ab", 2, true, 1);
    EXPECT_EQ(null64, 0);
}

TEST(BaseOutString, WideTextCharsCutsWholeUnits)
{
    const uint16_t text[] = {'a', 'b', 'c', 'd', 'e', 0};
    struct Case {
        int64_t bufferLength;
        int64_t units;  // units of text expected before the 2-byte NUL
        bool warned;
    } cases[] = {{10, 4, true}, {12, 5, false}, {11, 4, true}, {9, 3, true}, {2, 0, true}};
    for (const Case& c : cases) {
        Guarded buf(static_cast<size_t>(c.bufferLength));
        int16_t length = 0;
        DiagScope d;
        BaseOutString out(buf.data(), static_cast<int16_t>(c.bufferLength), &length);
        EXPECT_EQ(out.putWideTextChars(text, 5), c.warned) << c.bufferLength;
        EXPECT_EQ(length, 5);
        EXPECT_EQ(truncationWarnings(d), c.warned ? 1u : 0u);
        EXPECT_EQ(std::memcmp(buf.data(), text, static_cast<size_t>(c.units) * 2), 0);
        EXPECT_EQ(buf.data()[c.units * 2], 0);
        EXPECT_EQ(buf.data()[c.units * 2 + 1], 0);
        EXPECT_TRUE(buf.guardsIntact());
    }
}

TEST(BaseOutString, WideTextCharsNeverSplitsASurrogatePair)
{
    // U+1F600 as a pair after two letters; a 8-byte buffer leaves room for 3 units.
    const uint16_t text[] = {'a', 'b', 0xD83D, 0xDE00, 0};
    Guarded buf(8);
    int16_t length = 0;
    DiagScope d;
    BaseOutString out(buf.data(), int16_t{8}, &length);
    EXPECT_TRUE(out.putWideTextChars(text, 4));
    EXPECT_EQ(length, 4);
    const auto* units = reinterpret_cast<const uint16_t*>(buf.data());
    EXPECT_EQ(units[0], 'a');
    EXPECT_EQ(units[1], 'b');
    EXPECT_EQ(units[2], 0);
    EXPECT_TRUE(buf.guardsIntact());
}

TEST(BaseOutString, WideTextCharsWithoutRoomAlwaysWarns)
{
    int16_t length = 0;
    uint16_t unit = 0;
    DiagScope d;
    BaseOutString out(&unit, int16_t{0}, &length);
    EXPECT_TRUE(out.putWideTextChars(nullptr, 0));
    EXPECT_EQ(truncationWarnings(d), 1u);
}

TEST(BaseOutString, WideTextSwapsEachUnit)
{
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    Guarded buf(8);
    int32_t length = 0;
    BaseOutString out(buf.data(), int32_t{8}, &length, nullptr);
    out.putWideText(data, 5, false, 2, true);
    const uint8_t expected[] = {0x34, 0x12, 0x78, 0x56, 0x9A};
    EXPECT_EQ(std::memcmp(buf.data(), expected, 5), 0);
    EXPECT_EQ(length, 5);
    EXPECT_TRUE(buf.guardsIntact());
}

TEST(BaseOutString, SubStringAndCStringWidths)
{
    Guarded buf(8);
    int32_t length = 0;
    BaseOutString out(buf.data(), int32_t{8}, &length, nullptr, 2);
    KaSubString utf16Bytes("ab\0c", 4, 2);
    out.putSubString(utf16Bytes);
    EXPECT_EQ(buf.data()[4], 0);
    EXPECT_EQ(buf.data()[5], 0);
    out.putCString(nullptr, 1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buf.data()[0], 0);
    out.putCStringOwnWidth("xyz");
    EXPECT_EQ(length, 3);
    EXPECT_EQ(buf.data()[3], 0);
    EXPECT_EQ(buf.data()[4], 0);
    EXPECT_TRUE(buf.guardsIntact());
}

TEST(BaseOutString, SetNullWithoutIndicatorIsAnError)
{
    char buf[4] = {'a', 'b', 'c', 'd'};
    DiagScope d;
    BaseOutString out(buf, int32_t{4}, nullptr, nullptr);
    EXPECT_EQ(out.setNull(2), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_INDICATOR_REQUIRED);
    EXPECT_FALSE(d.warning(0));
    EXPECT_EQ(buf[0], 'a');
}

TEST(BaseOutString, SetNullClearsAtMostTheBuffer)
{
    struct Case {
        int64_t count;
        int64_t bufferLength;
        int64_t cleared;
    } cases[] = {{0, 4, 1}, {2, 4, 2}, {8, 4, 4}, {8, 0, 0}};
    for (const Case& c : cases) {
        Guarded buf(4);
        std::memset(buf.data(), 'q', 4);
        int16_t length = 0;
        BaseOutString out(buf.data(), static_cast<int16_t>(c.bufferLength), &length);
        EXPECT_EQ(out.setNull(c.count), 0);
        EXPECT_EQ(length, SQL_NULL_DATA);
        for (int64_t i = 0; i < 4; ++i)
            EXPECT_EQ(buf.data()[i], i < c.cleared ? 0 : 'q') << c.count << "/" << i;
        EXPECT_TRUE(buf.guardsIntact());
    }
}

TEST(BaseOutString, PutBytesFillsEveryLengthFieldAndLeavesTheNullFlag)
{
    char buf[8];
    int32_t len = 0, nullFlag = 42;
    BaseOutString out(buf, int32_t{8}, &len, &nullFlag);
    out.putBytes("abc", 3, true, 1);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(nullFlag, 42);
}

TEST(BaseOutString, IndicatorRowsAndBindingOffsets)
{
    int32_t lengths[3] = {5, SQL_NULL_DATA, 9};
    char data[3][4] = {};
    BaseOutString col(data, int32_t{4}, lengths, nullptr);
    EXPECT_EQ(col.getIndicator(1), SQL_NULL_DATA);
    EXPECT_EQ(col.getIndicator(2), 9);
    col.advanceRows(0, 2);  // column-wise: by the buffer length and the field width
    EXPECT_EQ(col.buffer, static_cast<void*>(data[2]));
    EXPECT_EQ(col.length32, &lengths[2]);
    col.retreatRows(0, 2);
    EXPECT_EQ(col.buffer, static_cast<void*>(data[0]));

    struct Row {
        char value[12];
        int64_t length;
    } rows[3] = {};
    BaseOutString rowWise(rows[0].value, int64_t{12}, &rows[0].length, nullptr);
    rowWise.advanceRows(sizeof(Row), 2);
    EXPECT_EQ(rowWise.buffer, static_cast<void*>(rows[2].value));
    EXPECT_EQ(rowWise.length64, &rows[2].length);

    BaseOutString none(data, int32_t{4}, nullptr, nullptr);
    EXPECT_EQ(none.getIndicator(0), -1);
}

TEST(BaseCopyWideAnswer, WholeCutOrMeasuredWithoutAWarning)
{
    const uint16_t text[] = {'a', 'b', 'c', 0};
    struct Case {
        int64_t bufferLength;
        bool cut;
        size_t units;  // written before the NUL
    } cases[] = {
        {8, false, 3}, {20, false, 3}, {7, true, 2}, {6, true, 2}, {2, true, 0}, {1, true, 0}, {0, true, 0},
    };
    for (const Case& c : cases) {
        DiagScope d;
        Guarded out(static_cast<size_t>(c.bufferLength));
        int64_t full = -1;
        EXPECT_EQ(baseCopyWideAnswer(text, out.data(), c.bufferLength, &full), c.cut) << c.bufferLength;
        EXPECT_EQ(full, 6);
        EXPECT_TRUE(out.guardsIntact()) << c.bufferLength;
        if (c.bufferLength >= 2) {
            uint16_t got[4] = {};
            std::memcpy(got, out.data(), (c.units + 1) * 2);
            EXPECT_EQ(got[c.units], 0) << c.bufferLength;
            EXPECT_EQ(std::memcmp(got, text, c.units * 2), 0) << c.bufferLength;
        }
        EXPECT_EQ(d.size(), 0u);
    }
    int64_t full = -1;
    EXPECT_FALSE(baseCopyWideAnswer(text, nullptr, 8, &full));
    EXPECT_EQ(full, 6);
    EXPECT_FALSE(baseCopyWideAnswer(nullptr, nullptr, 0, &full));
    EXPECT_EQ(full, 0);
}
