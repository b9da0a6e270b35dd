// Code-page tables against ICU's converter data, the name lookups, the
// application-code-page scanner and the UTF-16/UTF-8 encoders.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "foundation/codepage.h"
#include "foundation/ram.h"
#include "support/guarded.h"

namespace {

std::vector<int64_t> allTableNumbers()
{
    std::vector<int64_t> numbers;
    for (int64_t n = -10; n <= 5000; ++n)
        if (ianaNameFromNumber(n) != nullptr)
            numbers.push_back(n);
    for (int64_t n = 2000000000; n <= 2000020000; ++n)
        if (ianaNameFromNumber(n) != nullptr)
            numbers.push_back(n);
    return numbers;
}

TEST(CodePageTable, HoldsEveryNamedRow)
{
    // 345 rows, of which only the no-code-page row has no name.
    EXPECT_EQ(allTableNumbers().size(), 344u);
}

TEST(CodePageTable, EveryNameOpensOrReportsMissingConverterData)
{
    int opened = 0;
    int missing = 0;
    for (int64_t number : allTableNumbers()) {
        const char* name = ianaNameFromNumber(number);
        UErrorCode status = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(name, &status);
        if (U_SUCCESS(status)) {
            ++opened;
            ucnv_close(converter);
        } else {
            ++missing;
            EXPECT_EQ(status, U_FILE_ACCESS_ERROR) << number << " " << name << " " << u_errorName(status);
        }
    }
    EXPECT_GT(opened, 100);
    EXPECT_GT(missing, 0);
}

TEST(CodePageTable, ConvertersTheDataLacksReportFileAccess)
{
    for (int64_t number : {int64_t{17}, int64_t{2000002024}, int64_t{2000005039}, int64_t{2000010001}}) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(ianaNameFromNumber(number), &status);
        EXPECT_EQ(status, U_FILE_ACCESS_ERROR) << number;
        if (U_SUCCESS(status))
            ucnv_close(converter);
    }
}

TEST(CodePageTable, CommonCodePagesOpen)
{
    for (int64_t number : {3, 4, 106, 1013, 1014, 1015, 1018, 1019, 2028, 2252, 113, 2026, 2025}) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(ianaNameFromNumber(number), &status);
        EXPECT_TRUE(U_SUCCESS(status)) << number;
        ucnv_close(converter);
    }
}

TEST(CodePageLookup, NumbersToNames)
{
    EXPECT_STREQ(ianaNameFromNumber(1015), "UTF-16LE");
    EXPECT_STREQ(ianaNameFromNumber(1014), "UTF-16LE");
    EXPECT_STREQ(ianaNameFromNumber(4), "ISO_8859-1:1987");
    EXPECT_STREQ(ianaNameFromNumber(106), "UTF-8");
    EXPECT_STREQ(ianaNameFromNumber(4971), "ibm-4971");
    EXPECT_EQ(ianaNameFromNumber(kCodePageNone), nullptr);
    EXPECT_EQ(ianaNameFromNumber(1), nullptr);
    EXPECT_STREQ(ianaPreferredName(2252), "windows-1252");
    EXPECT_STREQ(ianaPreferredName(2000005039), "td_ebcdic");
    EXPECT_STREQ(ianaPreferredName(2000000943), "IBM-943_P14A-2000");
    EXPECT_EQ(ianaPreferredName(1), nullptr);
}

TEST(CodePageLookup, NamesToNumbers)
{
    struct Case {
        const char* name;
        int64_t number;
    } cases[] = {
        {"iso-8859-1", 4},
        {"ISO_8859-1:1987", 4},
        {"UTF-8", 106},
        {"utf-8", 106},
        {"uTf-8", 106},
        {"ibm-13124_P100-1995", 2000013124},
        {"UTF-16LE", 1014},
        {"IBM862", 2013},
        {"ibm-862", 2000000862},
        {"ibm-16684", 2000000300},
        {"IBM-939", 2000000939},
        {"ibm-5035", 2000000939},
        {"cpibm1143", 2094},
        {"windows-1252", 2252},
        {"no such charset", kCodePageNone},
        {"UTF", kCodePageNone},
        {"UTF-8x", kCodePageNone},
        {"", kCodePageNone},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ianaNumberFromName(c.name), c.number) << c.name;
    EXPECT_EQ(ianaNumberFromName(nullptr), kCodePageNone);
}

TEST(CodePageLookup, LegacyNumberings)
{
    EXPECT_EQ(ianaFromAppCodePage(-1), 1015);
    EXPECT_EQ(ianaFromAppCodePage(0), 3);
    EXPECT_EQ(ianaFromAppCodePage(1), 4);
    EXPECT_EQ(ianaFromAppCodePage(1149), 2100);
    EXPECT_EQ(ianaFromAppCodePage(8), INT64_MIN);
    EXPECT_EQ(ianaFromWindowsCodePage(65001), 106);
    EXPECT_EQ(ianaFromWindowsCodePage(1201), 1013);
    EXPECT_EQ(ianaFromWindowsCodePage(2), INT64_MIN);
}

struct ScanCase {
    std::u16string text;
    int64_t result;
    const char16_t* dsn;  // null: nothing captured
};

TEST(CodePageScan, ConnectionStrings)
{
    const ScanCase cases[] = {
        {u"DSN=x;IACP=2252", 2252, u"x"},
        {u" iacp = { 106 } ;ACP=1252", 106, nullptr},
        {u"ACP=1252;AppCodePage=1250", 2250, nullptr},
        {u"ACP=1252;IACP={abc}", INT64_MIN, nullptr},
        {u"ACP=1252;IACP=abc", 0, nullptr},
        {u"IANAAppCodePage=-5", -5, nullptr},
        {u"ACP=9999", INT64_MIN, nullptr},
        {u"ACP=;x=1", 3, nullptr},
        {u"ACP=", INT64_MIN, nullptr},
        {u"HOST=h;IACP=", INT64_MIN, nullptr},
        {u"DSN = My Source ;x=1", INT64_MIN, u"My Source "},
        {u"DSN=first;DSN=second;ACP=1252", 2252, u"first"},
        {u"IAC", INT64_MIN, nullptr},
        {u"PWD={a;IACP=106}", 106, nullptr},
        {u"\U0001F600IACP=4", 4, nullptr},
        // A value too large for 64 bits is no value.
        {u"IACP=99999999999999999999", INT64_MIN, nullptr},
        {u"IACP=9223372036854775807", INT64_MAX, nullptr},
        {u"IACP=-9223372036854775808", INT64_MIN, nullptr},
        {u"ACP=18446744073709551617", INT64_MIN, nullptr},
    };
    for (const ScanCase& c : cases) {
        uint16_t* dsn = nullptr;
        int64_t r = scanAppCodePageW(reinterpret_cast<const uint16_t*>(c.text.data()), c.text.size(), &dsn);
        EXPECT_EQ(r, c.result) << std::string(c.text.begin(), c.text.end());
        if (c.dsn == nullptr) {
            EXPECT_EQ(dsn, nullptr);
        } else {
            ASSERT_NE(dsn, nullptr);
            EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(dsn)), std::u16string(c.dsn));
        }
        ucnvFree(dsn);
    }
}

TEST(CodePageScan, NeverReadsPastTheLength)
{
    // The units after the length would complete the keyword and value.
    std::u16string text = u"IACP=106";
    for (size_t n = 0; n < text.size(); ++n) {
        std::vector<uint16_t> heap(text.begin(), text.begin() + n);
        uint16_t* dsn = nullptr;
        int64_t r = scanAppCodePageW(heap.data(), n, &dsn);
        if (n < 5) {
            EXPECT_EQ(r, INT64_MIN) << n;
        }
        EXPECT_EQ(dsn, nullptr);
    }
}

TEST(CodePageScan, NarrowStringCapturesNarrowDsn)
{
    const char text[] = "DSN=hive;ACP=1252";
    char* dsn = nullptr;
    EXPECT_EQ(scanAppCodePage(text, sizeof(text) - 1, &dsn), 2252);
    ASSERT_NE(dsn, nullptr);
    EXPECT_STREQ(dsn, "hive");
    ucnvFree(dsn);
}

TEST(CodePageUtf, Utf16ToUtf8MatchesIcu)
{
    const std::u16string texts[] = {u"", u"abc", u"\u00e9t\u00e9", u"\u20ac\U0001F600x"};
    for (const std::u16string& t : texts) {
        char expect[64];
        int32_t expectLen = 0;
        UErrorCode es = U_ZERO_ERROR;
        u_strToUTF8(expect, sizeof expect, &expectLen, t.data(), static_cast<int32_t>(t.size()), &es);
        katest::Guarded<char> buf(64);
        char* dest = buf.data();
        const uint16_t* src = reinterpret_cast<const uint16_t*>(t.data());
        int32_t len = -1;
        UErrorCode status = U_ZERO_ERROR;
        char* r = ucnvUtf16ToUtf8(&dest, static_cast<int32_t>(buf.size()), &len, &src, static_cast<int32_t>(t.size()),
                                  &status);
        EXPECT_EQ(r, buf.data());
        EXPECT_TRUE(U_SUCCESS(status));
        EXPECT_EQ(len, expectLen);
        EXPECT_EQ(std::string(buf.data(), len), std::string(expect, expectLen));
        EXPECT_EQ(buf.data()[len], 0);
        EXPECT_EQ(dest, buf.data() + len);
        EXPECT_EQ(src, reinterpret_cast<const uint16_t*>(t.data()) + t.size());
        EXPECT_TRUE(buf.guardsIntact());
    }
}

TEST(CodePageUtf, Utf16ToUtf8Errors)
{
    const uint16_t loneLow[] = {'a', 0xDC00, 'b'};
    char buf[16];
    char* dest = buf;
    const uint16_t* src = loneLow;
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    EXPECT_EQ(ucnvUtf16ToUtf8(&dest, 16, &len, &src, 3, &status), nullptr);
    EXPECT_EQ(status, U_INVALID_CHAR_FOUND);

    // Capacity 0: nothing written, the full length reported, overflow.
    const uint16_t text[] = {'a', 0xE9, 0};
    char* none = nullptr;
    src = text;
    status = U_ZERO_ERROR;
    ucnvUtf16ToUtf8(&none, 0, &len, &src, -1, &status);
    EXPECT_EQ(status, U_BUFFER_OVERFLOW_ERROR);
    EXPECT_EQ(len, 3);

    status = U_ZERO_ERROR;
    src = nullptr;
    EXPECT_EQ(ucnvUtf16ToUtf8(&dest, 16, &len, &src, 1, &status), nullptr);
    EXPECT_EQ(status, U_ILLEGAL_ARGUMENT_ERROR);

    // A failure on entry is kept.
    status = U_INVALID_CHAR_FOUND;
    src = text;
    EXPECT_EQ(ucnvUtf16ToUtf8(&dest, 16, &len, &src, 1, &status), nullptr);
    EXPECT_EQ(status, U_INVALID_CHAR_FOUND);
}

TEST(CodePageUtf, Utf8ToUtf16)
{
    const char text[] = "a\xC3\xA9\xF0\x9F\x98\x80";
    katest::Guarded<uint16_t> buf(8);
    uint16_t* dest = buf.data();
    const char* src = text;
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    EXPECT_EQ(ucnvUtf8ToUtf16(&dest, 8, &len, &src, -1, &status), buf.data());
    EXPECT_TRUE(U_SUCCESS(status));
    EXPECT_EQ(len, 4);
    EXPECT_EQ(buf.data()[0], 'a');
    EXPECT_EQ(buf.data()[1], 0xE9);
    EXPECT_EQ(buf.data()[2], 0xD83D);
    EXPECT_EQ(buf.data()[3], 0xDE00);
    EXPECT_EQ(buf.data()[4], 0);
    EXPECT_TRUE(buf.guardsIntact());

    // Room for the high surrogate only: it is written and the low one counted.
    dest = buf.data();
    src = text;
    status = U_ZERO_ERROR;
    ucnvUtf8ToUtf16(&dest, 3, &len, &src, -1, &status);
    EXPECT_EQ(status, U_BUFFER_OVERFLOW_ERROR);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(buf.data()[2], 0xD83D);

    // A character cut short by the end of the input.
    const char cut[] = "ab\xE2\x82";
    dest = buf.data();
    src = cut;
    status = U_ZERO_ERROR;
    ucnvUtf8ToUtf16(&dest, 8, &len, &src, 4, &status);
    EXPECT_EQ(status, U_TRUNCATED_CHAR_FOUND);
    EXPECT_EQ(src, cut + 2);

    const char bad[] = "a\xFFz";
    dest = buf.data();
    src = bad;
    status = U_ZERO_ERROR;
    EXPECT_EQ(ucnvUtf8ToUtf16(&dest, 8, &len, &src, 3, &status), nullptr);
    EXPECT_EQ(status, U_INVALID_CHAR_FOUND);
    EXPECT_TRUE(buf.guardsIntact());
}

}  // namespace
