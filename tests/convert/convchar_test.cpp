// SQL-to-C conversion into character buffers: decimal, floating-point,
// date, GUID and hexadecimal text with their truncation and room errors,
// trailing zeros, unterminated targets, and long values delivered to
// SQLGetData in pieces that reassemble exactly, narrow, multibyte and wide.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unicode/ustring.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/convchar.h"
#include "convert/datetime.h"
#include "kamessages.h"
#include "support/cvtfixture.h"
#include "support/diagscope.h"

using cvttest::bytesOf;
using cvttest::date;
using cvttest::Guarded;
using cvttest::guidValue;
using cvttest::stamp;
using cvttest::states;
using cvttest::Stmt;
using cvttest::u16le;
using katest::DiagScope;

static_assert(kBaseCCharNoTerm == 8001 && kBaseCWCharNoTerm == 8002, "unterminated text");

namespace {

class CharTargets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

std::string ascii16(const char* s)
{
    std::u16string w;
    for (; *s != 0; ++s)
        w.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
    return u16le(w);
}

// UTF-8 to UTF-16LE bytes through ICU, the reference for wide results.
std::string utf16Of(const std::string& utf8)
{
    std::vector<UChar> out(utf8.size() + 1);
    int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &n, utf8.data(), static_cast<int32_t>(utf8.size()),
                  &status);
    EXPECT_TRUE(U_SUCCESS(status));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n) * 2);
}

struct Case {
    const char* name;
    int16_t sqlType;
    int64_t size;
    int16_t scale;
    int32_t kind;
    std::string src;
    int16_t cType;
    int64_t bufferLength;
    int16_t rc;
    std::string expect;  // the text written, without its terminator
    int64_t length;
    std::string states;
    uint64_t workarounds = 0;
    bool odbc2 = false;
};

std::vector<Case> cases()
{
    const uint64_t trim = kBaseWaTrimTrailingZeros;
    SQL_TIME_STRUCT t{10, 11, 12};
    return {
        {"decimal with scale", SQL_DECIMAL, 10, 3, kBaseKindText, "12.5", SQL_C_CHAR, 20, 0, "12.500", 6, ""},
        {"decimal trimmed", SQL_DECIMAL, 10, 3, kBaseKindText, "12.5", SQL_C_CHAR, 20, 0, "12.5", 4, "", trim},
        {"decimal trimmed to integer", SQL_DECIMAL, 10, 3, kBaseKindText, "100", SQL_C_CHAR, 20, 0, "100", 3, "", trim},
        {"integer not trimmed", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(1000), SQL_C_CHAR, 20, 0, "1000",
         4, "", trim},
        {"small negative decimal", SQL_DECIMAL, 10, 2, kBaseKindText, "-0.05", SQL_C_CHAR, 20, 0, "-.05", 4, ""},
        {"decimal fraction cut", SQL_DECIMAL, 10, 3, kBaseKindText, "12.345", SQL_C_CHAR, 5, 0, "12.3", 6, "01004"},
        {"integer part does not fit", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(12345), SQL_C_CHAR, 4, 1,
         "", -99, "22003"},
        {"integer fits", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(-123), SQL_C_CHAR, 5, 0, "-123", 4, ""},
        {"bit", SQL_BIT, 1, 0, kBaseKindBit, bytesOf<uint8_t>(1), SQL_C_CHAR, 2, 0, "1", 1, ""},
        {"tinyint", SQL_TINYINT, 3, 0, kBaseKindTinyInt, bytesOf<int8_t>(-5), SQL_C_CHAR, 4, 0, "-5", 2, ""},
        {"bigint", SQL_BIGINT, 19, 0, kBaseKindBigInt, bytesOf<int64_t>(INT64_MIN), SQL_C_CHAR, 30, 0,
         "-9223372036854775808", 20, ""},
        {"double 0.1", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(0.1), SQL_C_CHAR, 100, 0, ".1", 2, ""},
        {"double tiny", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(-1.0 / 3 * 1e-300), SQL_C_CHAR, 100, 0,
         "-3.33333333333333E-301", 22, ""},
        {"double trailing zeros", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(2.5), SQL_C_CHAR, 100, 0, "2.5",
         3, "", trim},
        {"real", SQL_REAL, 7, 0, kBaseKindReal, bytesOf<float>(3.14159274f), SQL_C_CHAR, 100, 0, "3.141593", 8, ""},
        {"double as wide text", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(-2.5), SQL_C_WCHAR, 100, 0,
         ascii16("-2.5"), 8, ""},
        {"decimal as wide text", SQL_DECIMAL, 10, 1, kBaseKindText, "12.5", SQL_C_WCHAR, 100, 0, ascii16("12.5"), 8,
         ""},
        {"date into 10 bytes", SQL_TYPE_DATE, 10, 0, kBaseKindDate, bytesOf(date(2001, 2, 3)), SQL_C_CHAR, 10, 1, "",
         -99, "22003"},
        {"date into 11 bytes", SQL_TYPE_DATE, 10, 0, kBaseKindDate, bytesOf(date(2001, 2, 3)), SQL_C_CHAR, 11, 0,
         "2001-02-03", 10, ""},
        {"wide date into 21 bytes", SQL_TYPE_DATE, 10, 0, kBaseKindDate, bytesOf(date(2001, 2, 3)), SQL_C_WCHAR, 21, 1,
         "", -99, "22003"},
        {"wide date", SQL_TYPE_DATE, 10, 0, kBaseKindDate, bytesOf(date(2001, 2, 3)), SQL_C_WCHAR, 22, 0,
         ascii16("2001-02-03"), 20, ""},
        {"time into 8 bytes", SQL_TYPE_TIME, 8, 0, kBaseKindTime, bytesOf(t), SQL_C_CHAR, 8, 1, "", -99, "22003"},
        {"time", SQL_TYPE_TIME, 8, 0, kBaseKindTime, bytesOf(t), SQL_C_CHAR, 9, 0, "10:11:12", 8, ""},
        {"timestamp with scale 3", SQL_TYPE_TIMESTAMP, 23, 3, kBaseKindTimestamp,
         bytesOf(stamp(2001, 2, 3, 4, 5, 6, 120000000)), SQL_C_CHAR, 100, 0, "2001-02-03 04:05:06.120", 23, ""},
        {"timestamp cut", SQL_TYPE_TIMESTAMP, 23, 3, kBaseKindTimestamp, bytesOf(stamp(2001, 2, 3, 4, 5, 6, 120000000)),
         SQL_C_CHAR, 20, 0, "2001-02-03 04:05:06", 22, "01004"},  // the zero digit goes first
        {"date text copied", SQL_TYPE_DATE, 10, 0, kBaseKindText, "2001-02-03", SQL_C_CHAR, 11, 0, "2001-02-03", 10,
         ""},
        {"guid into 36", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_CHAR, 36, 1, "", -99, "22001"},
        {"guid into 36, ODBC 2", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_CHAR, 36, 1, "", -99,
         "01004", 0, true},
        {"guid into 37", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_CHAR, 37, 0,
         "12345678-9ABC-DEF0-0123-456789ABCDEF", 36, ""},
        {"wide guid into 73", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_WCHAR, 73, 1, "", -99,
         "22001"},
        {"wide guid", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_WCHAR, 74, 0,
         ascii16("12345678-9ABC-DEF0-0123-456789ABCDEF"), 72, ""},
        {"hex first piece", SQL_VARBINARY, 10, 0, kBaseKindBinary, "\x01\x02\xAB", SQL_C_CHAR, 5, 0, "0102", 6,
         "01004"},
        {"hex whole", SQL_VARBINARY, 10, 0, kBaseKindBinary, "\x01\x02\xAB", SQL_C_CHAR, 7, 0, "0102AB", 6, ""},
        {"wide hex", SQL_BINARY, 10, 0, kBaseKindBinary, "\xFE", SQL_C_WCHAR, 6, 0, ascii16("FE"), 4, ""},
        {"interval text", SQL_INTERVAL_DAY, 5, 0, kBaseKindText, "INTERVAL '5' DAY", SQL_C_CHAR, 100, 0,
         "INTERVAL '5' DAY", 16, ""},
        {"text without terminator", SQL_VARCHAR, 10, 0, kBaseKindText, "abc", kBaseCCharNoTerm, 3, 0, "abc", 3, ""},
        {"text cut", SQL_LONGVARCHAR, 10, 0, kBaseKindText, "abcdef", SQL_C_CHAR, 4, 0, "abc", 6, "01004"},
        {"text into nothing", SQL_VARCHAR, 10, 0, kBaseKindText, "abc", SQL_C_CHAR, 0, 0, "", 3, "01004"},
        {"latin1 text to utf8", SQL_VARCHAR, 10, 0, kBaseKindText, "caf\xe9", SQL_C_CHAR, 10, 0, "caf\xc3\xa9", 5, ""},
    };
}

}  // namespace

TEST_F(CharTargets, ValuesAsText)
{
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        Stmt s(kCodePageUtf8);
        s.setOdbc2(c.odbc2);
        s.ctx.settings.workarounds = c.workarounds;
        Guarded buf(c.bufferLength > 0 ? static_cast<size_t>(c.bufferLength) : 1);
        int64_t length = -99;
        BaseOutString out(buf.data(), c.bufferLength, &length, nullptr);
        int64_t srcCp = std::string(c.name).find("latin1") == 0 ? kCodePageLatin1 : kCodePageUtf8;
        DiagScope d;
        int16_t rc = s.sqlToC(c.sqlType, c.size, c.scale, false, c.cType, &out, c.src.data(),
                              static_cast<int64_t>(c.src.size()), c.kind, srcCp);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(states(d), c.states);
        EXPECT_TRUE(buf.guardsIntact());
        if (c.rc != 0)
            continue;
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(buf.str(c.expect.size()), c.expect);
        int32_t term = baseTextTargetTermWidth(c.cType, BaseConvertSettings{});
        if (c.bufferLength >= static_cast<int64_t>(c.expect.size()) + term) {
            for (int32_t i = 0; i < term; ++i)
                EXPECT_EQ(buf.data()[c.expect.size() + static_cast<size_t>(i)], 0);
            // Nothing past the terminator is touched; removed trailing zeros
            // stay behind it.
            size_t from = c.workarounds != 0 ? buf.size() : c.expect.size() + size_t(term);
            for (size_t i = from; i < buf.size(); ++i)
                EXPECT_EQ(buf.data()[i], 0x5A) << i;
        }
    }
}

TEST_F(CharTargets, NoBufferReportsTheFullLength)
{
    Stmt s;
    int64_t length = -99;
    BaseOutString out(nullptr, 0, &length, nullptr);
    DiagScope d;
    EXPECT_EQ(s.sqlToC(SQL_DECIMAL, 10, 2, false, SQL_C_CHAR, &out, "12345.5", 7, kBaseKindText, kCodePageUtf8), 0);
    EXPECT_EQ(length, 8);  // 12345.50
    EXPECT_EQ(d.size(), 0u);
}

TEST_F(CharTargets, TrailingZeros)
{
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"12.500", "12.5"}, {"100.000", "100"}, {"100", "100"},     {"1.5E10", "1.5E10"},
        {"0.000", "0"},     {"-.050", "-.05"},  {"12.5", "12.5"},   {"1.0E+0", "1.0E+0"},
        {"10.01", "10.01"}, {"", ""},           {"-100.0", "-100"},
    };
    for (const auto& c : cases) {
        std::string in = c.in;
        int64_t n = baseRemoveTrailingZeros(in.data(), static_cast<int64_t>(in.size()), kCodePageUtf8);
        EXPECT_EQ(in.substr(0, static_cast<size_t>(n)), c.out) << c.in;
        std::string wide = ascii16(c.in);
        n = baseRemoveTrailingZeros(wide.data(), static_cast<int64_t>(wide.size()), kCodePageUtf16LE);
        EXPECT_EQ(wide.substr(0, static_cast<size_t>(n)), ascii16(c.out)) << c.in;
        std::string big;
        for (size_t i = 0; i < wide.size(); i += 2) {
            big.push_back(wide[i + 1]);
            big.push_back(wide[i]);
        }
        n = baseRemoveTrailingZeros(big.data(), static_cast<int64_t>(big.size()), kCodePageUtf16BE);
        EXPECT_EQ(n, static_cast<int64_t>(ascii16(c.out).size())) << c.in;
    }
}

namespace {

// Reads a value piece by piece as SQLGetData would and returns the pieces
// joined; each piece must report the length of the rest.
std::string readPieces(Stmt& s, int16_t sqlType, int16_t cType, const std::string& value, int64_t srcCp,
                       int64_t bufferLength, int64_t available, int32_t srcKind = kBaseKindText,
                       int* pieceCount = nullptr, bool scanTerminator = false)
{
    s.resetLongData();
    std::string got;
    int pieces = 0;
    int64_t lastLength = -1;
    for (; pieces < 100000; ++pieces) {
        Guarded buf(static_cast<size_t>(bufferLength));
        int64_t length = -99;
        BaseOutString out(buf.data(), bufferLength, &length, nullptr);
        DiagScope d;
        int16_t rc = s.sqlToC(sqlType, 1000000, 0, false, cType, &out, value.data(), static_cast<int64_t>(value.size()),
                              srcKind, srcCp);
        EXPECT_EQ(rc, 0);
        EXPECT_TRUE(buf.guardsIntact());
        if (rc != 0 || !buf.guardsIntact())
            break;
        if (lastLength >= 0) {
            EXPECT_LT(length, lastLength);
        }
        lastLength = length;
        int64_t n = length < available ? length : available;
        if (scanTerminator) {
            // Hexadecimal pieces hold whole source bytes: the text ends at
            // its terminator.
            const bool wide = cType == SQL_C_WCHAR;
            n = 0;
            while (n + (wide ? 1 : 0) < bufferLength && (buf.data()[n] != 0 || (wide && buf.data()[n + 1] != 0)))
                n += wide ? 2 : 1;
        }
        got += buf.str(static_cast<size_t>(n));
        if (s.advanceLongData(available) == 0) {
            EXPECT_LE(length, available);
            EXPECT_EQ(d.size(), 0u);
            break;
        }
        EXPECT_EQ(states(d), "01004");
    }
    if (pieceCount != nullptr)
        *pieceCount = pieces + 1;
    return got;
}

std::string mixedText(size_t chars)
{
    // ASCII, two-, three- and four-byte UTF-8 characters.
    const char* parts[] = {"a", "\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "Z", "\xd0\x96", "\xe2\x82\xac", " "};
    std::string s;
    for (size_t i = 0; i < chars; ++i)
        s += parts[i % 8];
    return s;
}

}  // namespace

TEST_F(CharTargets, LongUtf8ValueAsWideTextIsConvertedOnceAndServedInPieces)
{
    Stmt s(kCodePageUtf8);
    const std::string value = mixedText(10000);
    const std::string expect = utf16Of(value);
    int pieces = 0;
    std::string got =
        readPieces(s, SQL_WLONGVARCHAR, SQL_C_WCHAR, value, kCodePageUtf8, 1000, 998, kBaseKindText, &pieces);
    EXPECT_EQ(got, expect);
    EXPECT_NE(s.ctx.convertBuffer, nullptr);
    EXPECT_EQ(s.ctx.convertedLength, static_cast<int64_t>(expect.size()));
    EXPECT_EQ(pieces, static_cast<int>((expect.size() + 997) / 998));

    // An odd buffer length still delivers every byte: 98 of them, whole
    // units, before the terminator.
    Stmt odd(kCodePageUtf8);
    EXPECT_EQ(readPieces(odd, SQL_WVARCHAR, SQL_C_WCHAR, value, kCodePageUtf8, 101, 98), expect);
}

TEST_F(CharTargets, LongValueInTheApplicationCodePageIsCopiedWithoutConversion)
{
    Stmt s(kCodePageUtf8);
    const std::string value = mixedText(3000);
    EXPECT_EQ(readPieces(s, SQL_LONGVARCHAR, SQL_C_CHAR, value, kCodePageUtf8, 257, 256), value);
    EXPECT_EQ(s.ctx.convertBuffer, nullptr);
}

TEST_F(CharTargets, Utf8ValueIntoLatin1ApplicationInPieces)
{
    Stmt s(kCodePageLatin1);
    std::string value;
    std::string expect;
    for (int i = 0; i < 500; ++i) {
        value += "Gr\xc3\xbc\xc3\x9f"
                 "e ";
        expect += "Gr\xfc\xdf"
                  "e ";
    }
    EXPECT_EQ(readPieces(s, SQL_LONGVARCHAR, SQL_C_CHAR, value, kCodePageUtf8, 64, 63), expect);
}

TEST_F(CharTargets, WideTextIntoUtf8ApplicationInPieces)
{
    Stmt s(kCodePageUtf8);
    const std::string utf8 = mixedText(2000);
    const std::string wide = utf16Of(utf8);
    EXPECT_EQ(readPieces(s, SQL_WLONGVARCHAR, SQL_C_CHAR, wide, kCodePageUtf16LE, 50, 49), utf8);
}

TEST_F(CharTargets, PlainAsciiTextReadsAsTheConverterWouldWriteIt)
{
    // ASCII values skip the converter: whole, cut into pieces, narrow and
    // wide, in every byte order, the text is what the conversion gives.
    const std::string value = "text-1234, plain ASCII ~!{}[]|\\ 0123456789";
    std::string be16;
    std::string le32;
    for (char c : value) {
        be16 += std::string(1, '\0') + c;
        le32 += std::string(1, c) + std::string(3, '\0');
    }
    struct Target {
        const char* name;
        int16_t cType;
        int64_t appCodePage;
        int64_t wideCodePage;
        int32_t wideTerm;
        std::string expect;
        int64_t pieceBuffer;  // 0: whole values only
        int64_t pieceText;
    } targets[] = {
        {"latin1 char", SQL_C_CHAR, kCodePageLatin1, kCodePageUtf16LE, 2, value, 9, 8},
        {"utf8 char", SQL_C_CHAR, kCodePageUtf8, kCodePageUtf16LE, 2, value, 7, 6},
        {"utf16le wchar", SQL_C_WCHAR, kCodePageUtf8, kCodePageUtf16LE, 2, utf16Of(value), 11, 8},
        {"utf16be wchar", SQL_C_WCHAR, kCodePageUtf8, kCodePageUtf16BE, 2, be16, 10, 8},
        {"utf32le wchar", SQL_C_WCHAR, kCodePageUtf8, kCodePageUtf32LE, 4, le32, 0, 0},
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.name);
        Stmt whole(t.appCodePage);
        whole.ctx.settings.wideCodePage = t.wideCodePage;
        whole.ctx.settings.wideTermWidth = t.wideTerm;
        const int64_t room = static_cast<int64_t>(t.expect.size()) + t.wideTerm;
        EXPECT_EQ(readPieces(whole, SQL_VARCHAR, t.cType, value, kCodePageUtf8, room, room), t.expect);
        EXPECT_EQ(whole.ctx.convertBuffer, nullptr);
        if (t.pieceBuffer == 0)
            continue;
        Stmt pieces(t.appCodePage);
        pieces.ctx.settings.wideCodePage = t.wideCodePage;
        pieces.ctx.settings.wideTermWidth = t.wideTerm;
        EXPECT_EQ(readPieces(pieces, SQL_VARCHAR, t.cType, value, kCodePageUtf8, t.pieceBuffer, t.pieceText), t.expect);
    }
}

TEST_F(CharTargets, EmptyAsciiValueIntoWideBufferSmallerThanItsTerminator)
{
    // A wide buffer of one byte cannot hold even the terminator: nothing
    // is written past it, and the value is reported as cut.
    for (int64_t bufferLength : {0, 1}) {
        SCOPED_TRACE(bufferLength);
        Stmt s(kCodePageUtf8);
        Guarded buf(static_cast<size_t>(bufferLength));
        int64_t length = -99;
        BaseOutString out(buf.data(), bufferLength, &length, nullptr);
        s.resetLongData();
        DiagScope d;
        s.sqlToC(SQL_VARCHAR, 10, 0, false, SQL_C_WCHAR, &out, "", 0, kBaseKindText, kCodePageUtf8);
        EXPECT_TRUE(buf.guardsIntact());
        EXPECT_EQ(length, 0);
    }
}

TEST_F(CharTargets, ValueThatFitsIsConvertedStraightIntoTheBuffer)
{
    Stmt s(kCodePageUtf8);
    const std::string value = mixedText(100);
    const std::string expect = utf16Of(value);
    Guarded buf(2 * value.size() + 2);
    int64_t length = -99;
    BaseOutString out(buf.data(), static_cast<int64_t>(buf.size()), &length, nullptr);
    s.resetLongData();
    DiagScope d;
    EXPECT_EQ(s.sqlToC(SQL_WVARCHAR, 200, 0, false, SQL_C_WCHAR, &out, value.data(), static_cast<int64_t>(value.size()),
                       kBaseKindText, kCodePageUtf8),
              0);
    EXPECT_EQ(length, static_cast<int64_t>(expect.size()));
    EXPECT_EQ(buf.str(expect.size()), expect);
    EXPECT_EQ(buf.data()[expect.size()], 0);
    EXPECT_EQ(buf.data()[expect.size() + 1], 0);
    EXPECT_TRUE(buf.guardsIntact());
    EXPECT_EQ(s.ctx.convertBuffer, nullptr);
    EXPECT_EQ(d.size(), 0u);
}

TEST_F(CharTargets, BinaryAsHexTextInPieces)
{
    std::string value;
    for (int i = 0; i < 37; ++i)
        value.push_back(static_cast<char>(i * 29 + 3));
    std::string hex;
    for (unsigned char b : value) {
        const char* digits = "0123456789ABCDEF";
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    // Narrow buffers with an odd room, whose halves are not whole bytes.
    for (int64_t bufferLength : {3, 6, 8, 75}) {
        SCOPED_TRACE(bufferLength);
        Stmt s;
        EXPECT_EQ(readPieces(s, SQL_VARBINARY, SQL_C_CHAR, value, 0, bufferLength, bufferLength - 1, kBaseKindBinary,
                             nullptr, true),
                  hex);
    }
    // Wide text takes four bytes a source byte; the offset follows what was
    // delivered, not half the room.
    for (int64_t bufferLength : {6, 10, 11, 40}) {
        SCOPED_TRACE(bufferLength);
        Stmt s;
        EXPECT_EQ(readPieces(s, SQL_LONGVARBINARY, SQL_C_WCHAR, value, 0, bufferLength, bufferLength - 2,
                             kBaseKindBinary, nullptr, true),
                  ascii16(hex.c_str()));
    }
}

TEST_F(CharTargets, WidePiecesOfAnOddBufferLoseNoByte)
{
    // Characters whose both bytes are non-zero in UTF-16, so that a byte
    // skipped at a piece border shows.
    std::string value;
    for (int i = 0; i < 40; ++i)
        value += "\xe6\x97\xa5\xe2\x82\xac";  // U+65E5 U+20AC
    const std::string expect = utf16Of(value);
    for (int64_t bufferLength : {5, 11, 101}) {
        SCOPED_TRACE(bufferLength);
        Stmt s(kCodePageUtf8);
        s.resetLongData();
        std::string got;
        for (int piece = 0; piece < 1000; ++piece) {
            Guarded buf(static_cast<size_t>(bufferLength));
            int64_t length = -99;
            BaseOutString out(buf.data(), bufferLength, &length, nullptr);
            DiagScope d;
            ASSERT_EQ(s.sqlToC(SQL_WVARCHAR, 1000, 0, false, SQL_C_WCHAR, &out, value.data(),
                               static_cast<int64_t>(value.size()), kBaseKindText, kCodePageUtf8),
                      0);
            ASSERT_TRUE(buf.guardsIntact());
            // The application sees whole units before the terminator.
            int64_t whole = (bufferLength - 2) & ~int64_t{1};
            got += buf.str(static_cast<size_t>(length < whole ? length : whole));
            if (s.advanceLongData(bufferLength - 2) == 0)
                break;
        }
        EXPECT_EQ(got, expect);
    }
    // Three bytes hold no unit besides the terminator: the offset stays.
    Stmt s(kCodePageUtf8);
    s.resetLongData();
    Guarded buf(3);
    int64_t length = -99;
    BaseOutString out(buf.data(), 3, &length, nullptr);
    DiagScope d;
    ASSERT_EQ(s.sqlToC(SQL_WVARCHAR, 1000, 0, false, SQL_C_WCHAR, &out, value.data(),
                       static_cast<int64_t>(value.size()), kBaseKindText, kCodePageUtf8),
              0);
    EXPECT_EQ(states(d), "01004");
    EXPECT_TRUE(buf.guardsIntact());
    EXPECT_EQ(s.ctx.pieceLength, kBasePieceEmpty);
    EXPECT_EQ(s.advanceLongData(1), 1);
    EXPECT_EQ(s.ctx.offset, 0);
}

TEST_F(CharTargets, HexPiecesIntoAWideBufferTooSmallForOneByteKeepTheOffset)
{
    const std::string value = "\x12\x34\x56";
    Stmt s;
    s.resetLongData();
    // Four bytes hold the terminator and half a byte's text: nothing of the
    // value is delivered, so nothing of it may be skipped.
    Guarded small(4);
    int64_t length = -99;
    BaseOutString out(small.data(), 4, &length, nullptr);
    DiagScope d;
    ASSERT_EQ(s.sqlToC(SQL_VARBINARY, 3, 0, false, SQL_C_WCHAR, &out, value.data(), 3, kBaseKindBinary, 0), 0);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(states(d), "01004");
    EXPECT_TRUE(small.guardsIntact());
    EXPECT_EQ(s.advanceLongData(1), 1);
    EXPECT_EQ(s.ctx.offset, 0);

    Guarded big(20);
    BaseOutString out2(big.data(), 20, &length, nullptr);
    ASSERT_EQ(s.sqlToC(SQL_VARBINARY, 3, 0, false, SQL_C_WCHAR, &out2, value.data(), 3, kBaseKindBinary, 0), 0);
    EXPECT_EQ(big.str(14), ascii16("123456") + std::string(2, '\0'));
    EXPECT_TRUE(big.guardsIntact());
}
