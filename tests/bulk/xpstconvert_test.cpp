// Value formatting of the XML record-set writer: every SQL type's text, the
// number format, escaping, padding by characters and the characters XML
// cannot carry.
#include "bulk/xpstconvert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "kamessages.h"
#include "support/errorscope.h"

namespace {

class XPstConvertTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;

    // The text of one value, or "<failed>".
    std::string format(int32_t sqlType, const void* bytes, int64_t length, uint32_t size = 0, int isUnsigned = 0)
    {
        XPstColumn column{nullptr, sqlType, size, 0, 0, 1, isUnsigned};
        column.name = reinterpret_cast<const uint16_t*>(u"C");
        XPstScratch scratch;
        const char* text = nullptr;
        size_t n = 0;
        int owned = 0;
        if (!xpstFormatValue(column, static_cast<const uint8_t*>(bytes), length, &scratch, &text, &n, &owned))
            return "<failed>";
        std::string out(text, n);
        if (owned)
            ramFree(const_cast<char*>(text));
        return out;
    }
    std::string text(int32_t sqlType, const std::string& value, uint32_t size = 0)
    {
        return format(sqlType, value.data(), int64_t(value.size()), size);
    }
    std::string dbl(double v) { return format(SQL_DOUBLE, &v, sizeof v); }
    std::string real(float v) { return format(SQL_REAL, &v, sizeof v); }
};

TEST_F(XPstConvertTest, CharacterTypesAreEscapedAndCharPaddedByCharacters)
{
    EXPECT_EQ(text(SQL_CHAR, "ab", 5), "ab   ");
    EXPECT_EQ(text(SQL_VARCHAR, "ab", 5), "ab");
    EXPECT_EQ(text(SQL_CHAR, "a<b", 3), "a&lt;b");
    EXPECT_EQ(text(SQL_VARCHAR, "\"&'<>"), "&quot;&amp;&apos;&lt;&gt;");
    EXPECT_EQ(text(SQL_VARCHAR, ""), "");
    // Two characters of two bytes each fill a CHAR(3) to three characters.
    EXPECT_EQ(text(SQL_WCHAR, "\xC3\xA4\xC3\xB6", 3), "\xC3\xA4\xC3\xB6 ");
    EXPECT_EQ(text(SQL_DECIMAL, "-12.50"), "-12.50");
    // A carriage return survives a parser's line-end normalisation.
    EXPECT_EQ(text(SQL_LONGVARCHAR, "a\r\nb\tc"), "a&#13;\nb\tc");
}

TEST_F(XPstConvertTest, ForbiddenCharactersAreRefusedWithTheColumnName)
{
    const std::string cases[] = {std::string("a\x01", 2), std::string("\0", 1), "\xEF\xBF\xBF", "\xC3", "\xFF"};
    for (const auto& value : cases) {
        errors.list.clear();
        EXPECT_EQ(text(SQL_VARCHAR, value), "<failed>");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors.native(0), MSG_XPST_VALUE_CHARACTER_FORBIDDEN);
    }
}

TEST_F(XPstConvertTest, IntegersReadSignedOrUnsigned)
{
    uint8_t tiny = 200;
    EXPECT_EQ(format(SQL_TINYINT, &tiny, 1, 0, 1), "200");
    EXPECT_EQ(format(SQL_TINYINT, &tiny, 1, 0, 0), "-56");
    int16_t small = -32768;
    EXPECT_EQ(format(SQL_SMALLINT, &small, 2), "-32768");
    EXPECT_EQ(format(SQL_SMALLINT, &small, 2, 0, 1), "32768");
    int32_t i = -2147483647 - 1;
    EXPECT_EQ(format(SQL_INTEGER, &i, 4), "-2147483648");
    EXPECT_EQ(format(SQL_INTEGER, &i, 4, 0, 1), "2147483648");
    int64_t big = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(format(SQL_BIGINT, &big, 8), "-9223372036854775808");
    uint64_t ubig = ~uint64_t(0);
    EXPECT_EQ(format(SQL_BIGINT, &ubig, 8, 0, 1), "18446744073709551615");
    uint8_t bit = 2;
    EXPECT_EQ(format(SQL_BIT, &bit, 1), "true");
    bit = 0;
    EXPECT_EQ(format(SQL_BIT, &bit, 1), "false");
}

TEST_F(XPstConvertTest, NumberFormat)
{
    EXPECT_EQ(dbl(0.5), ".5");
    EXPECT_EQ(dbl(-2.0), "-2");
    EXPECT_EQ(real(0.1f), ".1");
    EXPECT_EQ(dbl(0.0), "0");
    EXPECT_EQ(dbl(-0.05), "-.05");
    EXPECT_EQ(real(1234567.0f), "1234567");
    EXPECT_EQ(dbl(123456789012345678.0), "1.23456789012346E17");
    EXPECT_EQ(dbl(1.0e20), "1E20");
    EXPECT_EQ(dbl(1.5e-20), "1.5E-20");
    EXPECT_EQ(dbl(-1.7976931348623157e308), "-1.79769313486232E308");
    EXPECT_EQ(dbl(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(dbl(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(dbl(-std::numeric_limits<double>::infinity()), "-INF");
    EXPECT_EQ(real(std::numeric_limits<float>::infinity()), "INF");
    EXPECT_EQ(real(std::nanf("")), "NaN");
}

TEST_F(XPstConvertTest, DatesTimesAndTimestamps)
{
    SQL_TIMESTAMP_STRUCT ts{2020, 1, 2, 3, 4, 5, 123000000};
    EXPECT_EQ(format(SQL_TYPE_TIMESTAMP, &ts, sizeof ts), "2020-01-02T03:04:05");
    SQL_DATE_STRUCT d{5, 1, 2};
    EXPECT_EQ(format(SQL_TYPE_DATE, &d, sizeof d), "0005-01-02");
    SQL_TIME_STRUCT t{23, 59, 7};
    EXPECT_EQ(format(SQL_TYPE_TIME, &t, sizeof t), "23:59:07");
    // Fields out of range still fit the scratch space.
    SQL_TIMESTAMP_STRUCT wild{-32768, 65535, 65535, 65535, 65535, 65535, 0};
    EXPECT_EQ(format(SQL_TYPE_TIMESTAMP, &wild, sizeof wild), "-32768-65535-65535T65535:65535:65535");
}

TEST_F(XPstConvertTest, BinaryIsUpperHexAndBinaryPadsToTheColumnSize)
{
    const uint8_t bytes[] = {0x01, 0xAB};
    EXPECT_EQ(format(SQL_BINARY, bytes, 2, 4), "01AB0000");
    EXPECT_EQ(format(SQL_VARBINARY, bytes, 2, 4), "01AB");
    EXPECT_EQ(format(SQL_LONGVARBINARY, bytes, 0, 4), "");
    // A BINARY value longer than its column keeps every byte.
    const uint8_t longer[] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(format(SQL_BINARY, longer, 6, 2), "010203040506");
}

TEST_F(XPstConvertTest, BadInputIsRefused)
{
    int32_t i = 1;
    EXPECT_EQ(format(SQL_INTEGER, &i, 2), "<failed>");  // shorter than the type
    EXPECT_EQ(format(SQL_INTEGER, &i, -1), "<failed>");
    errors.list.clear();
    EXPECT_EQ(format(SQL_GUID, &i, 4), "<failed>");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_XPST_TYPE_UNSUPPORTED);
}

TEST_F(XPstConvertTest, TextWithoutEscapesIsHandedBackInPlace)
{
    const char value[] = "plain";
    const char* out = nullptr;
    size_t n = 0;
    int owned = 1;
    ASSERT_TRUE(xpstEscapeText(reinterpret_cast<const uint8_t*>(value), 5, 0, nullptr, &out, &n, &owned));
    EXPECT_EQ(out, value);
    EXPECT_EQ(owned, 0);
    EXPECT_EQ(xpstCountEscapes(reinterpret_cast<const uint8_t*>("a<&b"), 4), 2u);
}

}  // namespace
