// ICU conversion routines, checked against glibc's iconv on one table of
// inputs and against ICU's one-shot conversion for the pivot passes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>
#include <unicode/ucnv.h>

#include "foundation/codepage.h"
#include "foundation/icuconv.h"
#include "support/guarded.h"

namespace {

struct Converter {
    UConverter* c = nullptr;
    explicit Converter(const char* name)
    {
        UErrorCode status = U_ZERO_ERROR;
        c = ucnv_open(name, &status);
        EXPECT_TRUE(U_SUCCESS(status)) << name;
    }
    ~Converter() { ucnv_close(c); }
    operator UConverter*() const { return c; }
};

// glibc iconv over the bytes; *failed when iconv reports an error. The
// output is what iconv wrote before stopping.
std::string iconvRun(const char* from, const char* to, const std::string& input, bool* failed)
{
    char path[] = "/tmp/ka_iconv_XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fd);
    std::string cmd = std::string("iconv -f ") + from + " -t " + to + " " + path + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int status = pclose(p);
    unlink(path);
    *failed = status != 0;
    return out;
}

struct TableCase {
    const char* label;
    const char* from;  // ICU converter name
    const char* to;
    const char* iconvFrom;  // glibc names
    const char* iconvTo;
    std::string input;
    int32_t result;  // of the pivot conversion
};

const std::vector<TableCase>& table()
{
    static const std::vector<TableCase> cases = {
        {"ascii", "ISO-8859-1", "UTF-8", "ISO-8859-1", "UTF-8", "Hello, ODBC 3.8!", kConvDone},
        {"latin1", "ISO-8859-1", "UTF-8", "ISO-8859-1", "UTF-8", "caf\xE9 cr\xE8me", kConvDone},
        // ICU ends the cut character with U+FFFD where iconv stops.
        {"utf8 cut short", "UTF-8", "UTF-16LE", "UTF-8", "UTF-16LE", "ab\xE2\x82", kConvDone},
        {"surrogate pair to UTF-16BE", "UTF-8", "UTF-16BE", "UTF-8", "UTF-16BE", "x\xF0\x9F\x98\x80y", kConvDone},
        {"surrogate pair from UTF-16LE", "UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8",
         std::string("x\0\x3D\xD8\x00\xDEy\0", 8), kConvDone},
        {"unpaired surrogate", "UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8",
         std::string("a\0\x3D\xD8"
                     "b\0",
                     6),
         kConvDone},
        {"character the target lacks", "UTF-8", "ISO-8859-1", "UTF-8", "ISO-8859-1", "x\xE2\x82\xACy", kConvDone},
        {"EBCDIC from UTF-8", "UTF-8", "IBM037", "UTF-8", "IBM037", "Hello, World 123", kConvDone},
        {"EBCDIC to UTF-8", "IBM037", "UTF-8", "IBM037", "UTF-8", "\xC8\x85\x93\x93\x96\x6B\x40\xF1\xF2", kConvDone},
        {"UTF-16BE with BOM", "UTF-16BE", "UTF-8", "UTF-16BE", "UTF-8", std::string("\xFE\xFF\0A\0B", 6), kConvDone},
        {"UTF-16BE without BOM", "UTF-16BE", "UTF-8", "UTF-16BE", "UTF-8", std::string("\0A\0B\0C", 6), kConvDone},
        {"UTF-16LE with BOM", "UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8",
         std::string("\xFF\xFE"
                     "A\0B\0",
                     6),
         kConvDone},
        {"UTF-16LE without BOM", "UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8", std::string("A\0B\0C\0", 6), kConvDone},
        {"UTF-16 with big-endian BOM", "UTF-16", "UTF-8", "UTF-16", "UTF-8", std::string("\xFE\xFF\0A\0B", 6),
         kConvDone},
        {"UTF-16 with little-endian BOM", "UTF-16", "UTF-8", "UTF-16", "UTF-8",
         std::string("\xFF\xFE"
                     "A\0B\0",
                     6),
         kConvDone},
        {"UTF-32LE", "UTF-32LE", "UTF-8", "UTF-32LE", "UTF-8", std::string("A\0\0\0\xE9\0\0\0", 8), kConvDone},
        {"ASCII to UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8", "UTF-16LE", "plain", kConvDone},
        {"ASCII to UTF-16BE", "US-ASCII", "UTF-16BE", "ASCII", "UTF-16BE", "plain", kConvDone},
    };
    return cases;
}

using Routine = int32_t (*)(char*, size_t, const char*, size_t, size_t*, size_t*, UConverter*, UConverter*);

int32_t viaUnicode(char* d, size_t dl, const char* s, size_t sl, size_t* w, size_t* c, UConverter* from, UConverter* to)
{
    return convertCodePageViaUnicode(d, dl, s, sl, w, c, from, to);
}

int32_t toCodePage(char* d, size_t dl, const char* s, size_t sl, size_t* w, size_t* c, UConverter* from, UConverter* to)
{
    return convertToCodePageCounted(d, dl, s, sl, w, c, to, from);
}

int32_t pivot(char* d, size_t dl, const char* s, size_t sl, size_t* w, size_t* c, UConverter* from, UConverter* to)
{
    return convertCodePages(d, dl, s, sl, w, c, from, to);
}

TEST(IcuConvTable, AgreesWithIconv)
{
    const Routine routines[] = {viaUnicode, toCodePage, pivot};
    const char* names[] = {"convertCodePageViaUnicode", "convertToCodePageCounted", "convertCodePages"};
    for (const TableCase& tc : table()) {
        bool iconvFailed = false;
        std::string expect = iconvRun(tc.iconvFrom, tc.iconvTo, tc.input, &iconvFailed);
        for (int r = 0; r < 3; ++r) {
            Converter from(tc.from);
            Converter to(tc.to);
            katest::Guarded<char> buf(256);
            size_t written = 999;
            size_t consumed = 999;
            int32_t result =
                routines[r](buf.data(), buf.size(), tc.input.data(), tc.input.size(), &written, &consumed, from, to);
            std::string got(buf.data(), written);
            SCOPED_TRACE(std::string(tc.label) + " / " + names[r]);
            EXPECT_EQ(result, tc.result);
            if (iconvFailed) {
                // iconv stops at what it cannot convert; ICU substitutes or
                // stops there too, so iconv's output is where both agree.
                EXPECT_EQ(got.substr(0, expect.size()), expect);
                EXPECT_TRUE(result != kConvDone || got != expect);
            } else {
                EXPECT_EQ(got, expect);
                EXPECT_EQ(consumed, tc.input.size());
                EXPECT_EQ(buf.data()[written], 0);
            }
            EXPECT_TRUE(buf.guardsIntact());
        }
    }
}

TEST(IcuConvFastPath, AsciiIntoSmallerBufferTruncatesWithoutTerminator)
{
    Converter latin1("ISO-8859-1");
    Converter utf8("UTF-8");
    katest::Guarded<char> buf(4);
    size_t written = 0;
    size_t consumed = 0;
    EXPECT_EQ(convertCodePageViaUnicode(buf.data(), buf.size(), "0123456789", 10, &written, &consumed, latin1, utf8),
              kConvTruncated);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(consumed, 4u);
    EXPECT_EQ(buf.str(4), "0123");
    EXPECT_TRUE(buf.guardsIntact());
}

TEST(IcuConvFastPath, NullOrEmptyArgumentsFail)
{
    Converter utf8("UTF-8");
    char buf[8];
    size_t written = 7;
    EXPECT_EQ(convertCodePageViaUnicode(nullptr, 8, "a", 1, nullptr, nullptr, utf8, utf8), kConvFailed);
    EXPECT_EQ(convertCodePageViaUnicode(buf, 0, "a", 1, nullptr, nullptr, utf8, utf8), kConvFailed);
    EXPECT_EQ(convertToCodePageCounted(buf, 8, nullptr, 1, &written, nullptr, utf8, utf8), kConvFailed);
    EXPECT_EQ(written, 0u);
}

TEST(IcuConvFastPath, AsciiTransparency)
{
    struct Case {
        const char* name;
        int transparent;
    } cases[] = {{"UTF-8", 1},  {"ISO-8859-1", 1},  {"windows-1252", 1}, {"US-ASCII", 1},
                 {"IBM037", 0}, {"UTF-16BE", 0},    {"UTF-16LE", 0},     {"UTF-16", 0},
                 {"UTF-32", 0}, {"ISO-2022-JP", 0}, {"UTF-7", 0},        {"ibm-1047", 0}};
    for (const Case& c : cases) {
        Converter conv(c.name);
        // Asked twice: the second answer comes from the memo.
        EXPECT_EQ(isAsciiTransparent(conv), c.transparent) << c.name;
        EXPECT_EQ(isAsciiTransparent(conv), c.transparent) << c.name;
    }
}

std::string icuOneShot(const char* to, const char* from, const std::string& in)
{
    std::string out(in.size() * 4 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), in.data(),
                             static_cast<int32_t>(in.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status));
    out.resize(n);
    return out;
}

TEST(IcuConvPivot, LongSourceTakesSeveralPassesWithTheSameResult)
{
    // A surrogate pair straddles the end of the first pivot load.
    std::string text(kPivotUnits - 1, 'a');
    text += "\xF0\x9F\x98\x80";
    for (int i = 0; i < 1500; ++i)
        text += "\xC3\xA9\xE2\x82\xAC";
    Converter from("UTF-8");
    Converter to("UTF-16LE");
    std::vector<char> buf(text.size() * 2 + 16);
    size_t written = 0;
    size_t consumed = 0;
    EXPECT_EQ(convertCodePages(buf.data(), buf.size(), text.data(), text.size(), &written, &consumed, from, to),
              kConvDone);
    EXPECT_EQ(std::string(buf.data(), written), icuOneShot("UTF-16LE", "UTF-8", text));
    EXPECT_EQ(consumed, text.size());

    Converter latin("ISO-8859-1");
    std::string latinText(5000, '\xE9');
    EXPECT_EQ(convertCodePagesCounted(buf.data(), buf.size(), latinText.data(), latinText.size(), &written, &consumed,
                                      latin, from),
              kConvDone);
    EXPECT_EQ(std::string(buf.data(), written), icuOneShot("UTF-8", "ISO-8859-1", latinText));
}

TEST(IcuConvChars, TruncatesAtWholeCharactersAndMeasuresTheRest)
{
    Converter latin("ISO-8859-1");
    Converter utf8("UTF-8");
    const std::string text(6, '\xE9');  // 12 bytes of UTF-8
    katest::Guarded<char> buf(5);
    size_t length = 0;
    EXPECT_EQ(convertCodePageChars(buf.data(), buf.size(), text.data(), text.size(), &length, latin, utf8),
              kConvTruncated);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(buf.str(5), std::string("\xC3\xA9\xC3\xA9\0", 5));
    EXPECT_TRUE(buf.guardsIntact());

    // Enough room: the whole text and one NUL.
    char big[32];
    EXPECT_EQ(convertCodePageChars(big, sizeof big, text.data(), text.size(), &length, latin, utf8), kConvDone);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(big[12], 0);

    // Measuring only.
    EXPECT_EQ(convertCodePageChars(nullptr, 0, text.data(), text.size(), &length, latin, utf8), kConvTruncated);
    EXPECT_EQ(length, 12u);
}

TEST(IcuConvChars, SupplementaryCharacterSurvivesAndWideTerminatorFits)
{
    Converter utf8("UTF-8");
    Converter utf16("UTF-16LE");
    const std::string text = "\xF0\x9F\x98\x80z";
    katest::Guarded<char> buf(16);
    size_t length = 0;
    EXPECT_EQ(convertCodePagesChars(buf.data(), buf.size(), text.data(), text.size(), &length, utf8, utf16), kConvDone);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(buf.str(8), std::string("\x3D\xD8\x00\xDEz\0\0\0", 8));

    // Five bytes: the pair does not fit before the two-byte terminator.
    katest::Guarded<char> five(5);
    EXPECT_EQ(convertCodePageChars(five.data(), five.size(), text.data(), text.size(), &length, utf8, utf16),
              kConvTruncated);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(five.str(2), std::string("\0\0", 2));
    EXPECT_TRUE(five.guardsIntact());

    // Back from UTF-16 to UTF-8 character by character.
    const std::string wide("\x3D\xD8\x00\xDE", 4);
    katest::Guarded<char> back(16);
    EXPECT_EQ(convertToCodePageChars(back.data(), back.size(), wide.data(), wide.size(), &length, utf8, utf16),
              kConvDone);
    EXPECT_EQ(back.str(5), std::string("\xF0\x9F\x98\x80\0", 5));
    EXPECT_TRUE(buf.guardsIntact());
    EXPECT_TRUE(back.guardsIntact());
}

std::vector<uint16_t> units(const char16_t* s)
{
    std::vector<uint16_t> v;
    while (*s)
        v.push_back(static_cast<uint16_t>(*s++));
    return v;
}

std::vector<uint16_t> swapped(std::vector<uint16_t> v)
{
    for (uint16_t& u : v)
        u = static_cast<uint16_t>((u << 8) | (u >> 8));
    return v;
}

TEST(IcuConvUnicode, FromUnicodeLeavesTheSwappedSourceAlone)
{
    Converter utf8("UTF-8");
    const std::vector<uint16_t> source = swapped(units(u"h\u00e9 \U0001F600"));
    std::vector<uint16_t> copy = source;
    char buf[32];
    size_t length = 0;
    EXPECT_EQ(fromUnicode(buf, sizeof buf, copy.data(), copy.size(), &length, utf8, 1), kConvDone);
    EXPECT_EQ(std::string(buf, length + 1), std::string("h\xC3\xA9 \xF0\x9F\x98\x80\0", 9));
    EXPECT_EQ(copy, source);

    size_t written = 0;
    size_t consumed = 0;
    EXPECT_EQ(fromUnicodeCounted(buf, sizeof buf, copy.data(), copy.size(), &written, &consumed, utf8, 1), kConvDone);
    EXPECT_EQ(std::string(buf, written), "h\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(consumed, copy.size());
    EXPECT_EQ(copy, source);
}

TEST(IcuConvUnicode, LongSwappedSourceConvertsInPieces)
{
    std::u16string text;
    for (int i = 0; i < 1500; ++i)
        text += u"\u00e9\U0001F600";
    std::vector<uint16_t> source = swapped(units(text.c_str()));
    Converter utf8("UTF-8");
    std::vector<char> buf(text.size() * 3 + 8);
    size_t written = 0;
    size_t consumed = 0;
    EXPECT_EQ(fromUnicodeCounted(buf.data(), buf.size(), source.data(), source.size(), &written, &consumed, utf8, 1),
              kConvDone);
    std::string expect;
    for (int i = 0; i < 1500; ++i)
        expect += "\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(std::string(buf.data(), written), expect);
}

TEST(IcuConvUnicode, FromUnicodeStaysInsideATinyDestination)
{
    Converter utf8("UTF-8");  // three bytes per character at most
    const std::vector<uint16_t> source = units(u"abc");
    katest::Guarded<char> buf(1);
    size_t length = 0;
    EXPECT_EQ(fromUnicode(buf.data(), buf.size(), source.data(), source.size(), &length, utf8, 0), kConvTruncated);
    EXPECT_EQ(length, 3u);
    EXPECT_TRUE(buf.guardsIntact());

    // Text that fills the buffer but for its terminator is not truncated.
    char exact[4];
    EXPECT_EQ(fromUnicode(exact, 4, source.data(), source.size(), &length, utf8, 0), kConvDone);
    EXPECT_EQ(std::string(exact, 4), std::string("abc\0", 4));
    EXPECT_EQ(fromUnicode(exact, 3, source.data(), source.size(), &length, utf8, 0), kConvTruncated);
}

TEST(IcuConvUnicode, ToUnicode)
{
    Converter latin("ISO-8859-1");
    katest::Guarded<uint16_t> one(1);
    size_t length = 0;
    EXPECT_EQ(toUnicode(one.data(), one.size(), "abc", 3, &length, latin, 0), kConvTruncated);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(one.data()[0], 0);
    EXPECT_TRUE(one.guardsIntact());

    uint16_t exact[4];
    EXPECT_EQ(toUnicode(exact, 4, "ab\xE9", 3, &length, latin, 0), kConvDone);
    EXPECT_EQ(exact[2], 0xE9);
    EXPECT_EQ(exact[3], 0);
    EXPECT_EQ(toUnicode(exact, 4, "ab\xE9", 3, &length, latin, 1), kConvDone);
    EXPECT_EQ(exact[2], 0xE900);

    katest::Guarded<uint16_t> counted(4);
    size_t written = 0;
    size_t consumed = 0;
    EXPECT_EQ(toUnicodeCounted(counted.data(), counted.size(), "abcdef", 6, &written, &consumed, latin, 0),
              kConvTruncated);
    EXPECT_EQ(written, 4u);
    EXPECT_TRUE(counted.guardsIntact());
    EXPECT_EQ(toUnicodeCounted(counted.data(), counted.size(), "ab", 2, &written, &consumed, latin, 1), kConvDone);
    EXPECT_EQ(counted.data()[0], 0x6100);
    EXPECT_EQ(counted.data()[2], 0);
}

TEST(IcuConvUtf, Utf16AndUtf8)
{
    std::vector<uint16_t> source = units(u"x\u00e9\U0001F600");
    source.push_back(0);
    std::vector<uint16_t> swappedSource = swapped(source);
    const std::vector<uint16_t> keep = swappedSource;
    char buf[16];
    size_t length = 0;
    EXPECT_EQ(utf16ToUtf8(buf, sizeof buf, source.data(), kSourceTerminated, &length, 0), kConvDone);
    EXPECT_EQ(std::string(buf, length + 1), std::string("x\xC3\xA9\xF0\x9F\x98\x80\0", 8));
    EXPECT_EQ(utf16ToUtf8(buf, sizeof buf, swappedSource.data(), 4, &length, 1), kConvDone);
    EXPECT_EQ(std::string(buf, length), "x\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(swappedSource, keep);
    EXPECT_EQ(utf16ToUtf8(buf, 7, source.data(), 4, &length, 0), kConvTruncated);
    EXPECT_EQ(length, 7u);

    const uint16_t lone[] = {'a', 0xD800, 'b'};
    EXPECT_EQ(utf16ToUtf8(buf, sizeof buf, lone, 3, &length, 0), kConvFailed);
    EXPECT_EQ(utf16ToUtf8(nullptr, 4, lone, 3, &length, 0), kConvFailed);

    uint16_t wide[8];
    EXPECT_EQ(utf8ToUtf16(wide, 8, "x\xC3\xA9\xF0\x9F\x98\x80", kSourceTerminated, &length, 0), kConvDone);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(wide[3], 0xDE00);
    EXPECT_EQ(wide[4], 0);
    EXPECT_EQ(utf8ToUtf16(wide, 8, "x\xC3\xA9", 3, &length, 1), kConvDone);
    EXPECT_EQ(wide[1], 0xE900);
    EXPECT_EQ(utf8ToUtf16(wide, 8, "a\xFF", 2, &length, 0), kConvFailed);

    katest::Guarded<uint16_t> bounded(3);
    EXPECT_EQ(utf8ToUtf16Bounded(bounded.data(), bounded.size(), "abc", 3, &length, 0), kConvTruncated);
    EXPECT_EQ(bounded.data()[2], 0);
    EXPECT_TRUE(bounded.guardsIntact());
    EXPECT_EQ(utf16ToUtf8Bounded(buf, 3, source.data(), 1, &length, 0), kConvDone);
    EXPECT_EQ(std::string(buf, 2), std::string("x\0", 2));
}

TEST(IcuConvResults, StatusMapping)
{
    EXPECT_EQ(icuErrorToResult(U_ZERO_ERROR), kConvDone);
    EXPECT_EQ(icuErrorToResult(U_FILE_ACCESS_ERROR), kConvNoData);
    EXPECT_EQ(icuErrorToResult(U_ILLEGAL_CHAR_FOUND), kConvReplaced);
    EXPECT_EQ(icuErrorToResult(U_INVALID_TABLE_FORMAT), kConvBadTable);
    EXPECT_EQ(icuErrorToResult(U_INVALID_TABLE_FILE), kConvBadTable);
    EXPECT_EQ(icuErrorToResult(U_BUFFER_OVERFLOW_ERROR), kConvTruncated);
    EXPECT_EQ(icuErrorToResult(U_STRING_NOT_TERMINATED_WARNING), kConvTruncated);
    EXPECT_EQ(icuErrorToResult(U_INVALID_CHAR_FOUND), kConvFailed);
    EXPECT_EQ(icuErrorToResult(U_ILLEGAL_ARGUMENT_ERROR), kConvFailed);

    UErrorCode status = U_ZERO_ERROR;
    UConverter* missing = ucnv_open("windows-932-2000", &status);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(icuErrorToResult(status), kConvNoData);

    EXPECT_EQ(maxCharSizeOf(kCodePageUtf8), 3);
    EXPECT_EQ(maxCharSizeOf(kCodePageLatin1), 1);
    EXPECT_EQ(maxCharSizeOf(17), 0);
}

TEST(IcuConvHelpers, SwapAndLength)
{
    uint16_t u[5] = {0x0102, 0x0304, 0x0506, 0x0708, 0};
    swapBytes16(u, u, 4);
    EXPECT_EQ(u[0], 0x0201);
    EXPECT_EQ(u[3], 0x0807);
    EXPECT_EQ(wcslen16(u), 4u);
    EXPECT_EQ(wcslen16(nullptr), 0u);
}

}  // namespace

namespace {

TEST(IcuConvPivot, TruncationLeavesNothingBehindForTheNextText)
{
    Converter latin("ISO-8859-1");
    Converter utf8("UTF-8");
    char small[4];
    size_t written = 0;
    // The second byte of the cut character waits in the target converter.
    EXPECT_EQ(convertCodePages(small, 4, "a\xE9\xE9", 3, &written, nullptr, latin, utf8), kConvTruncated);
    char buf[16];
    EXPECT_EQ(convertCodePages(buf, sizeof buf, "z\xE9", 2, &written, nullptr, latin, utf8), kConvDone);
    EXPECT_EQ(std::string(buf, written), "z\xC3\xA9");
    EXPECT_EQ(convertCodePageViaUnicode(small, 3, "\xE9\xE9", 2, &written, nullptr, latin, utf8), kConvTruncated);
    EXPECT_EQ(convertCodePageViaUnicode(buf, sizeof buf, "\xE9", 1, &written, nullptr, latin, utf8), kConvDone);
    EXPECT_EQ(std::string(buf, written), "\xC3\xA9");
}

}  // namespace

namespace {

TEST(IcuConvEveryCodePage, TextRoundTripsThroughUtf16)
{
    // Letters and digits exist in every code page of the tables that has
    // single-byte characters.
    const std::u16string text = u"Hello 123";
    std::vector<uint16_t> source(text.begin(), text.end());
    int tried = 0;
    for (int64_t number = 1; number < 2000020000;
         number = number < 5000 ? number + 1 : (number < 2000000000 ? 2000000000 : number + 1)) {
        const char* name = ianaNameFromNumber(number);
        if (name == nullptr)
            continue;
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = ucnv_open(name, &status);
        if (U_FAILURE(status))
            continue;
        if (ucnv_getType(c) == UCNV_DBCS) {
            // Double-byte-only tables hold no Latin letters of their own.
            ucnv_close(c);
            continue;
        }
        ++tried;
        char bytes[64];
        size_t length = 0;
        EXPECT_EQ(fromUnicode(bytes, sizeof bytes, source.data(), source.size(), &length, c, 0), kConvDone) << name;
        uint16_t back[32];
        size_t units = 0;
        EXPECT_EQ(toUnicode(back, 32, bytes, length, &units, c, 0), kConvDone) << name;
        // A converter that writes a byte-order mark reads it back as one.
        size_t skip = units > 0 && back[0] == 0xFEFF ? 1 : 0;
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(back) + skip, units - skip), text) << name;
        ucnv_close(c);
    }
    EXPECT_GT(tried, 100);
}

}  // namespace
