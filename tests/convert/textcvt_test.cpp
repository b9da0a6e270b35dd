// Conversion of text values between code pages into caller buffers, against
// ICU's real converters.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>
#include <utility>

#include <unicode/ucnv.h>

#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "convert/textcvt.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/guarded.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(const char* s, size_t n)
{
    return Bytes(s, s + n);
}
#define B(lit) bytes(lit, sizeof(lit) - 1)

using Guarded = katest::Guarded<>;

// The first n bytes of a buffer's room.
Bytes first(const Guarded& g, size_t n)
{
    return Bytes(g.data(), g.data() + n);
}

struct ToBufferCase {
    const char* name;
    int64_t srcCp;
    Bytes src;
    int64_t dstCp;
    int64_t dstSize;
    int32_t fullLength;
    Bytes want;  // output including the terminator
    int64_t produced;
    int32_t truncated;
};

std::vector<ToBufferCase> toBufferCases()
{
    return {
        {"UTF-8 to UTF-16LE", 106, B("h\xC3\xA9llo"), 1014, 64, 0, B("h\0\xE9\0l\0l\0o\0\0\0"), 10, 0},
        {"UTF-16LE to UTF-8", 1014, B("h\0\xE9\0l\0l\0o\0"), 106, 64, 0, B("h\xC3\xA9llo\0"), 6, 0},
        {"UTF-16LE to Latin-1", 1014, B("h\0\xE9\0"), 4, 8, 0, B("h\xE9\0"), 2, 0},
        {"UTF-16BE to UTF-8", 1013, B("\0h\0\xE9"), 106, 8, 0, B("h\xC3\xA9\0"), 3, 0},
        {"Latin-1 to UTF-16BE", 4, B("a\xE9"), 1013, 8, 0, B("\0a\0\xE9\0\0"), 4, 0},
        {"supplementary character to UTF-16LE", 106, B("\xF0\x9F\x98\x80"), 1014, 8, 0, B("\x3D\xD8\x00\xDE\0\0"), 4,
         0},
        {"UTF-16 text into one byte", 1014, B("a\0b\0"), 106, 1, 0, B("\0"), 0, 1},
        {"UTF-16 text into one byte, full length", 1014, B("a\0b\0"), 106, 1, 1, B("\0"), 2, 1},
        {"one byte for UTF-16 output, full length", 106, B("ab"), 1014, 1, 1, B("\0"), 4, 1},
        {"same code page cut before a 3-byte character", 106,
         B("a\xE2\x82\xAC"
           "b"),
         106, 4, 0, B("a\0"), 1, 1},
        {"same code page cut, full length is the source's", 106,
         B("a\xE2\x82\xAC"
           "b"),
         106, 4, 1, B("a\0"), 5, 1},
        {"UTF-16 to UTF-8 cut before a 3-byte character", 1014,
         B("a\0\xAC\x20"
           "b\0"),
         106, 4, 1, B("a\0"), 5, 1},
        {"Latin-1 to UTF-8 cut between characters", 4, B("\xE9\xE9\xE9"), 106, 4, 1, B("\xC3\xA9\0"), 6, 1},
        {"same code page longer than the target", 4, B("abcdef"), 4, 4, 1, B("abc\0"), 6, 1},
        {"UTF-16BE to UTF-16LE swapped and terminated", 1013, B("\0A\0B"), 1014, 8, 0, B("A\0B\0\0\0"), 4, 0},
        {"swap keeps a surrogate pair whole", 1013, B("\0A\xD8\x3D\xDE\x00"), 1014, 6, 0, B("A\0\0\0"), 2, 1},
        {"Shift_JIS to UTF-16LE", 2024, B("\x93\xFA\x96\x7B"), 1014, 16, 0, B("\xE5\x65\x2C\x67\0\0"), 4, 0},
        {"UTF-16LE to Shift_JIS cut after a character", 1014, B("\xE5\x65\x2C\x67"), 2024, 4, 1, B("\x93\xFA\0"), 4, 1},
        {"EBCDIC bytes below 128 are not ASCII", 2028, B("\x40\xC1"), 1014, 16, 0, B(" \0A\0\0\0"), 4, 0},
        {"UTF-16 blank to EBCDIC", 1014, B(" \0A\0"), 2028, 16, 0, B("\x40\xC1\0"), 2, 0},
        {"a negative number names the same EBCDIC converter", -2028, B("\x40\xC1"), 1014, 16, 0, B(" \0A\0\0\0"), 4, 0},
        {"UTF-8 into UTF-32 ends with a 4-byte terminator", 106, B("A"), 1019, 16, 0, B("A\0\0\0\0\0\0\0"), 4, 0},
        {"empty source", 106, Bytes{}, 1014, 4, 1, B("\0\0"), 0, 0},
        {"Latin-1 ASCII to UTF-8", 4, B("plain text"), 106, 16, 0, B("plain text\0"), 10, 0},
        {"Latin-1 to UTF-8 from the first accented letter on", 4,
         B("ab\xE9"
           "cd"),
         106, 16, 0,
         B("ab\xC3\xA9"
           "cd\0"),
         6, 0},
        {"Latin-1 ASCII cut, full length of an ASCII rest", 4, B("abcdef"), 106, 4, 1, B("abc\0"), 6, 1},
        {"Latin-1 ASCII cut, full length counts the accented rest", 4, B("abcd\xE9"), 106, 3, 1, B("ab\0"), 6, 1},
        {"Latin-1 ASCII cut, plain length", 4, B("abcd\xE9"), 106, 3, 0, B("ab\0"), 2, 1},
        {"UTF-8 to Latin-1 cut before the accented letter", 106, B("ab\xC3\xA9"), 4, 3, 1, B("ab\0"), 3, 1},
        {"ASCII into a terminator only", 4, B("ab"), 106, 1, 1, B("\0"), 2, 1},
        {"IBM437 control bytes are not ASCII", 2011, B("a\x1A"), 1014, 8, 0, B("a\0\x1C\0\0\0"), 4, 0},
    };
}

TEST(TextToBuffer, ConvertsTerminatesAndReportsLengths)
{
    KaIcuCache cache;
    for (const ToBufferCase& c : toBufferCases()) {
        SCOPED_TRACE(c.name);
        katest::ErrorScope errors;
        Guarded out(static_cast<size_t>(c.dstSize));
        int64_t produced = -7;
        int32_t truncated = -7;
        ASSERT_EQ(baseConvertTextToBuffer(c.srcCp, c.src.data(), static_cast<int64_t>(c.src.size()), c.dstCp,
                                          out.data(), c.dstSize, c.fullLength, &produced, &truncated, &cache),
                  0);
        EXPECT_EQ(first(out, c.want.size()), c.want);
        EXPECT_EQ(produced, c.produced);
        EXPECT_EQ(truncated, c.truncated);
        EXPECT_TRUE(out.guardsIntact());
        EXPECT_EQ(errors.size(), 0u);
    }
}

// Text in srcCp made from UTF-8 by ICU itself.
Bytes encode(int64_t cp, const std::string& utf8)
{
    std::vector<char> out(utf8.size() * 4 + 16);
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_convert(ianaNameFromNumber(cp), "UTF-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                             static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    return Bytes(out.begin(), out.begin() + (U_SUCCESS(status) ? n : 0));
}

struct CellResult {
    int32_t rc = -1;
    Bytes out;  // up to and including the terminator
    int64_t produced = -1;
    int32_t truncated = -1;
    size_t diagnostics = 0;
};

CellResult convertCell(int64_t srcCp, const Bytes& src, int64_t dstCp, int64_t size, int32_t fullLength,
                       KaIcuCache* cache)
{
    CellResult r;
    katest::ErrorScope errors;
    Guarded out(static_cast<size_t>(size));
    r.rc = baseConvertTextToBuffer(srcCp, src.data(), static_cast<int64_t>(src.size()), dstCp, out.data(), size,
                                   fullLength, &r.produced, &r.truncated, cache);
    EXPECT_TRUE(out.guardsIntact());
    r.diagnostics = errors.size();
    r.out = first(out, static_cast<size_t>(size));
    return r;
}

// Target sizes worth trying: every small one, those around the end of the
// leading ASCII run and around the end of the text, and a stride between.
std::vector<int64_t> cutPoints(int64_t srcCp, const Bytes& src, int64_t dstCp, int64_t full)
{
    const bool wideSrc = srcCp == 1013 || srcCp == 1014;
    const bool wideDst = dstCp == 1013 || dstCp == 1014;
    size_t run = 0;
    if (wideSrc) {
        while (run + 1 < src.size() && src[run + (srcCp == 1014 ? 1 : 0)] == 0 &&
               src[run + (srcCp == 1014 ? 0 : 1)] < 0x80)
            run += 2;
        run /= 2;
    } else {
        while (run < src.size() && src[run] < 0x80)
            ++run;
    }
    const int64_t asciiEnd = static_cast<int64_t>(run) * (wideDst ? 2 : 1);
    std::vector<int64_t> sizes;
    for (int64_t s = 0; s <= full + 4; ++s) {
        if (s <= 24 || s % 97 == 0 || (s >= asciiEnd - 3 && s <= asciiEnd + 8) || s >= full - 8)
            sizes.push_back(s);
    }
    return sizes;
}

// Where ASCII is copied or widened without a converter, the result must be
// ICU's, cut at the same place. A negative source number names the same
// converter but is never taken as ASCII, so it gives the converter path.
TEST(TextToBuffer, AsciiShortcutsMatchTheConverterPathAtEveryCut)
{
    const std::string longAscii(1200, 'x');
    const std::vector<std::string> texts = {
        "",
        "Order 100234 shipped, status OK.",
        "ab\xC3\xA9"
        "cd",
        "\xC3\xA9t\xC3\xA9",
        "M\xC3\xBCller \xE2\x82\xAC 12 \xE6\x97\xA5\xE6\x9C\xAC",  // euro and CJK: substituted in some
        "tilde ~ backslash \\ control \x1A\x1C\x7F end",
        longAscii + "\xC3\xBC" + "tail",
        longAscii.substr(0, 501) + "\xE6\x97\xA5",
    };
    struct Pair {
        int64_t src, dst;
    };
    const Pair pairs[] = {
        {4, 106},     {106, 4},     {2252, 106},  {106, 2252},  {4, 2252},    {3, 106},    {106, 2026},
        {2026, 106},  {114, 106},   {2024, 106},  {106, 2024},  {2011, 106},  {106, 2011}, {1011, 1014},
        {1020, 1014}, {1014, 1011}, {1014, 1020}, {2011, 1014}, {1014, 2011}, {4, 1013},
    };
    for (int32_t mode : {kConvModeSubstitute, kConvModeReport}) {
        KaIcuCache cache;
        cache.setMode(mode);
        for (const Pair& p : pairs) {
            for (const std::string& text : texts) {
                Bytes src = encode(p.src, text);
                CellResult whole = convertCell(-p.src, src, p.dst, 16384, 1, &cache);
                ASSERT_EQ(whole.rc, 0);
                for (int64_t size : cutPoints(p.src, src, p.dst, whole.produced)) {
                    for (int32_t full : {0, 1}) {
                        SCOPED_TRACE(std::to_string(p.src) + " to " + std::to_string(p.dst) + ", mode " +
                                     std::to_string(mode) + ", " + std::to_string(src.size()) + " bytes into " +
                                     std::to_string(size) + (full ? ", full length" : ""));
                        CellResult want = convertCell(-p.src, src, p.dst, size, full, &cache);
                        CellResult got = convertCell(p.src, src, p.dst, size, full, &cache);
                        ASSERT_EQ(got.rc, want.rc);
                        ASSERT_EQ(got.produced, want.produced);
                        ASSERT_EQ(got.truncated, want.truncated);
                        ASSERT_EQ(got.diagnostics, want.diagnostics);
                        // What the caller may read: the text and its terminator.
                        CellResult plain = full ? convertCell(-p.src, src, p.dst, size, 0, &cache) : want;
                        const int64_t term = (p.dst == 1013 || p.dst == 1014) ? 2 : 1;
                        const auto shown = static_cast<size_t>(std::min(size, plain.produced + term));
                        ASSERT_EQ(Bytes(got.out.begin(), got.out.begin() + shown),
                                  Bytes(want.out.begin(), want.out.begin() + shown));
                    }
                }
            }
        }
    }
}

TEST(TextToBuffer, AsciiCellBetweenByteCodePagesTakesNoConverter)
{
    KaIcuCache cache;
    Guarded out(64);
    int64_t produced = 0;
    int32_t truncated = 0;
    for (auto [src, dst] : {std::pair<int64_t, int64_t>{4, 106}, {106, 4}, {106, 2252}}) {
        ASSERT_EQ(baseConvertTextToBuffer(src, "Order 100234 shipped", 20, dst, out.data(), 64, 1, &produced,
                                          &truncated, &cache),
                  0);
        EXPECT_EQ(produced, 20);
        ASSERT_EQ(baseConvertTextToBuffer(src, "Order 100234 shipped", 20, dst, out.data(), 8, 1, &produced, &truncated,
                                          &cache),
                  0);
        EXPECT_EQ(produced, 20);
        EXPECT_EQ(truncated, 1);
    }
    // The pool was never asked: no code page has an entry.
    EXPECT_EQ(cache.count, 0u);
    // A letter beyond ASCII needs both converters.
    ASSERT_EQ(baseConvertTextToBuffer(4, "caf\xE9", 4, 106, out.data(), 64, 0, &produced, &truncated, &cache), 0);
    EXPECT_EQ(first(out, 6), B("caf\xC3\xA9\0"));
    EXPECT_EQ(cache.count, 2u);
    EXPECT_TRUE(out.guardsIntact());
}

TEST(TextToBuffer, ThreadsLearningCodePagesAtOnceAgree)
{
    // Code pages no other test uses, so that the threads find them unknown
    // and probe them at the same moment.
    const int64_t pages[] = {2250, 2251, 2253, 2254, 2255, 2257, 109, 111};
    const std::string text = "Stra\xC3\x9F"
                             "e 7, caf\xC3\xA9 ok";
    std::vector<CellResult> want;
    for (int64_t cp : pages) {
        KaIcuCache cache;
        want.push_back(convertCell(-cp, encode(cp, text), 106, 64, 1, &cache));
    }
    std::vector<Bytes> sources;
    for (int64_t cp : pages)
        sources.push_back(encode(cp, text));
    std::atomic<bool> go{false};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            KaIcuCache cache;
            while (!go.load())
                std::this_thread::yield();
            for (size_t k = 0; k < std::size(pages); ++k) {
                size_t i = (k + size_t(t)) % std::size(pages);
                CellResult got = convertCell(pages[i], sources[i], 106, 64, 1, &cache);
                if (got.rc != 0 || got.out != want[i].out || got.produced != want[i].produced)
                    ++mismatches;
            }
        });
    }
    go = true;
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(TextToBuffer, ProducedLengthIsOptional)
{
    KaIcuCache cache;
    Guarded out(4);
    int32_t truncated = 0;
    EXPECT_EQ(baseConvertTextToBuffer(106, "abcdef", 6, 1014, out.data(), 4, 1, nullptr, &truncated, &cache), 0);
    EXPECT_EQ(truncated, 1);
    EXPECT_EQ(first(out, 4), B("a\0\0\0"));
    EXPECT_TRUE(out.guardsIntact());
}

TEST(TextToBuffer, ReplacedCharacterWarnsOncePerCall)
{
    KaIcuCache cache;
    cache.setMode(kConvModeReport);
    katest::ErrorScope errors;
    Guarded out(16);
    int64_t produced = 0;
    int32_t truncated = 0;
    // Two euro signs that ISO-8859-1 lacks.
    ASSERT_EQ(
        baseConvertTextToBuffer(1014, "a\0\xAC\x20\xAC\x20", 6, 4, out.data(), 16, 0, &produced, &truncated, &cache),
        0);
    EXPECT_EQ(produced, 3);
    EXPECT_EQ(out.data()[0], 'a');
    EXPECT_NE(out.data()[1], 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_CONVERSION_CHARACTER_REPLACED);
    EXPECT_EQ(katest::sqlstate(errors.at(0)), "01000");
    EXPECT_TRUE(errors.at(0)->isWarning());

    // Substituting silently is the default mode.
    KaIcuCache quiet;
    katest::ErrorScope none;
    ASSERT_EQ(baseConvertTextToBuffer(1014, "a\0\xAC\x20", 4, 4, out.data(), 16, 0, &produced, &truncated, &quiet), 0);
    EXPECT_EQ(none.size(), 0u);
}

TEST(TextToBuffer, FailingModeStopsAtAMissingCharacter)
{
    KaIcuCache cache;
    cache.setMode(kConvModeFail);
    katest::ErrorScope errors;
    Guarded out(16);
    int64_t produced = 0;
    int32_t truncated = 0;
    EXPECT_EQ(baseConvertTextToBuffer(1014, "a\0\xAC\x20", 4, 4, out.data(), 16, 0, &produced, &truncated, &cache), 1);
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_CONVERSION_FAILED);
    EXPECT_TRUE(out.guardsIntact());
}

TEST(TextToBuffer, UnknownConverterFailsAsConverterNotAvailable)
{
    KaIcuCache cache;
    katest::ErrorScope errors;
    Guarded out(16);
    int64_t produced = 0;
    int32_t truncated = 0;
    EXPECT_EQ(
        baseConvertTextToBuffer(106, "abc\xC3\xA9", 5, 2000005039, out.data(), 16, 0, &produced, &truncated, &cache),
        1);
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_CONVERTER_NOT_AVAILABLE);
    EXPECT_TRUE(out.guardsIntact());
}

TEST(TextToBuffer, BadArgumentsArePostedNotFollowed)
{
    KaIcuCache cache;
    katest::ErrorScope errors;
    int32_t truncated = 0;
    char out[4];
    EXPECT_EQ(baseConvertTextToBuffer(106, nullptr, 5, 1014, out, 4, 0, nullptr, &truncated, &cache), 1);
    EXPECT_EQ(baseConvertTextToBuffer(106, "a", -2, 1014, out, 4, 0, nullptr, &truncated, &cache), 1);
    EXPECT_EQ(baseConvertTextToBuffer(106, "a", 1, 1014, nullptr, 4, 0, nullptr, &truncated, &cache), 1);
    EXPECT_EQ(errors.size(), 3u);
}

struct TextCase {
    const char* name;
    int64_t srcCp;
    Bytes src;
    int64_t dstCp;
    int64_t dstSize;
    int32_t blankTail;
    Bytes want;
    int32_t truncated;
};

TEST(ConvertText, FillsWithoutTerminatorAndForgivesBlankTails)
{
    const TextCase cases[] = {
        {"blank tail of the same code page", 4, B("ab   "), 4, 2, 1, B("ab"), 0},
        {"without the flag it is a cut", 4, B("ab   "), 4, 2, 0, B("ab"), 1},
        {"a tail that is not blank", 4, B("ab  x"), 4, 2, 1, B("ab"), 1},
        {"blank tail into UTF-16", 106, B("ab   "), 1014, 4, 1, B("a\0b\0"), 0},
        {"blank tail from UTF-16", 1014, B("a\0b\0 \0 \0"), 106, 2, 1, B("ab"), 0},
        {"blank tail from UTF-16 with text after", 1014, B("a\0b\0 \0x\0"), 106, 2, 1, B("ab"), 1},
        {"EBCDIC blanks are 0x40", -2028, B("\xC1\xC2\x40\x40"), -2028, 2, 1, B("\xC1\xC2"), 0},
        {"swapped UTF-16 with a blank tail", 1014, B("a\0 \0"), 1013, 2, 1, B("\0a"), 0},
        {"UTF-8 cut keeps whole characters", 106, B("a\xC3\xA9"), 106, 2, 0, B("a"), 1},
        {"into UTF-16 a pair goes whole", 106, B("a\xF0\x9F\x98\x80"), 1014, 4, 0, B("a\0"), 1},
        {"into Latin-1", 106, B("h\xC3\xA9"), 4, 8, 0, B("h\xE9"), 0},
    };
    KaIcuCache cache;
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        Guarded out(static_cast<size_t>(c.dstSize));
        int64_t produced = -1;
        int32_t truncated = -1;
        ASSERT_EQ(baseConvertText(c.srcCp, c.src.data(), static_cast<int64_t>(c.src.size()), c.dstCp, out.data(),
                                  c.dstSize, &produced, &truncated, &cache, c.blankTail),
                  0);
        EXPECT_EQ(produced, static_cast<int64_t>(c.want.size()));
        EXPECT_EQ(first(out, c.want.size()), c.want);
        EXPECT_EQ(truncated, c.truncated);
        EXPECT_TRUE(out.guardsIntact());
        // Nothing is written behind the text.
        for (size_t i = c.want.size(); i < out.size(); ++i)
            EXPECT_EQ(out.data()[i], Guarded::kDefaultFill);
    }
}

// The source is decoded in chunks; a pair whose halves land in two chunks
// must still go whole or not at all.
TEST(ConvertText, PairAcrossDecodeChunksIsNotSplit)
{
    const size_t lead = kTextCvtUnitChunk - 1;
    std::string src(lead, 'a');
    src += "\xF0\x9F\x98\x80";
    KaIcuCache cache;
    for (int64_t size : {static_cast<int64_t>(2 * lead + 2), static_cast<int64_t>(2 * lead + 4)}) {
        SCOPED_TRACE(size);
        Guarded out(static_cast<size_t>(size));
        int64_t produced = -1;
        int32_t truncated = -1;
        ASSERT_EQ(baseConvertText(106, src.data(), static_cast<int64_t>(src.size()), 1014, out.data(), size, &produced,
                                  &truncated, &cache, 0),
                  0);
        const bool fits = size == static_cast<int64_t>(2 * lead + 4);
        EXPECT_EQ(truncated, fits ? 0 : 1);
        ASSERT_EQ(produced, static_cast<int64_t>(fits ? 2 * lead + 4 : 2 * lead));
        if (fits) {
            EXPECT_EQ(first(out, produced).back(), 0xDE);
        }
        EXPECT_TRUE(out.guardsIntact());
    }
}

// ---- Allocating wrappers -----------------------------------------------------

TEST(AllocatingWrappers, FollowTheConnectionTextMode)
{
    KaIcuCache cache;
    const char16_t text[] = u"h\u00e9llo";
    BaseTextContext utf8{&cache, 3, 4, 4, 1};
    char* out = nullptr;
    int64_t produced = 0;
    ASSERT_EQ(baseAllocAppFromWide(utf8, katest::W(text), SQL_NTS, &out, &produced), 0);
    EXPECT_EQ(produced, 6);
    EXPECT_EQ(std::string(out, 7), std::string("h\xC3\xA9llo\0", 7));
    ramFree(out);

    BaseTextContext wide{&cache, 2, 4, 4, 1};
    ASSERT_EQ(baseAllocAppFromWide(wide, katest::W(text), 5, &out, &produced), 0);
    EXPECT_EQ(produced, 10);
    EXPECT_EQ(0, memcmp(out, text, 12));
    ramFree(out);

    BaseTextContext latin{&cache, 1, 4, 1, 1};
    ASSERT_EQ(baseAllocAppFromWide(latin, katest::W(text), 5, &out, &produced), 0);
    EXPECT_EQ(std::string(out, 6), std::string("h\xE9llo\0", 6));
    ramFree(out);
}

TEST(AllocatingWrappers, TooFewBytesPerCharacterStillConvertWhole)
{
    KaIcuCache cache;
    // GB18030 needs four bytes for each of these.
    const char16_t text[] = u"\u00c0\u00c0\u00c0";
    BaseTextContext gb{&cache, 1, 114, 1, 1};
    char* out = nullptr;
    int64_t produced = 0;
    ASSERT_EQ(baseAllocAppFromWide(gb, katest::W(text), SQL_NTS, &out, &produced), 0);
    EXPECT_EQ(produced, 12);
    uint16_t* back = nullptr;
    int64_t units = 0;
    ASSERT_EQ(baseAllocWideFromCp(gb, 114, out, produced, &back, &units), 0);
    EXPECT_EQ(units, 3);
    EXPECT_EQ(katest::u16(back), u"\u00c0\u00c0\u00c0");
    ramFree(back);
    ramFree(out);
}

TEST(AllocatingWrappers, WideFromCodePageIsTerminated)
{
    KaIcuCache cache;
    BaseTextContext utf8{&cache, 3, 4, 4, 1};
    uint16_t* out = nullptr;
    int64_t units = 0;
    ASSERT_EQ(baseAllocWideFromApp(utf8, "h\xC3\xA9llo", SQL_NTS, &out, &units), 0);
    EXPECT_EQ(units, 5);
    EXPECT_EQ(katest::u16(out), u"h\u00e9llo");
    ramFree(out);
    ASSERT_EQ(baseAllocWideFromCp(utf8, 4, "", SQL_NTS, &out, &units), 0);
    EXPECT_EQ(units, 0);
    EXPECT_EQ(out[0], 0);
    ramFree(out);
}

TEST(AllocatingWrappers, FailureLeavesANullBuffer)
{
    KaIcuCache cache;
    BaseTextContext ctx{&cache, 1, 2000005039, 4, 1};
    katest::ErrorScope errors;
    char* out = reinterpret_cast<char*>(1);
    int64_t produced = 0;
    EXPECT_EQ(baseAllocAppFromWide(ctx, katest::W(u"abc"), 3, &out, &produced), 1);
    EXPECT_EQ(out, nullptr);
    uint16_t* wout = reinterpret_cast<uint16_t*>(1);
    EXPECT_EQ(baseAllocWideFromApp(ctx, "abc", 3, &wout, &produced), 1);
    EXPECT_EQ(wout, nullptr);
    EXPECT_GE(errors.size(), 2u);
}

// ---- Smaller routines ----------------------------------------------------------

TEST(TextPieces, CountsCharactersWithPairsOnce)
{
    KaIcuCache cache;
    int64_t count = 0;
    ASSERT_EQ(baseCountChars(106,
                             "a\xF0\x9F\x98\x80"
                             "b\xC3\xA9",
                             8, &count, &cache),
              0);
    EXPECT_EQ(count, 4);
    ASSERT_EQ(baseCountChars(1014, "a\0\x3D\xD8\x00\xDE", 6, &count, &cache), 0);
    EXPECT_EQ(count, 2);
}

TEST(TextPieces, ConverterNamesAndAsciiCompatibility)
{
    EXPECT_STREQ(baseCodePageConverterName(106), "TWNAR_ICU_UTF8");
    EXPECT_STREQ(baseCodePageConverterName(1014), "TWNAR_ICU_UTF16LE");
    EXPECT_STREQ(baseCodePageConverterName(9), "Unknown codepage: 9");
    EXPECT_EQ(baseIsAsciiCompatible(4), 1);
    EXPECT_EQ(baseIsAsciiCompatible(106), 1);
    EXPECT_EQ(baseIsAsciiCompatible(2252), 1);
    EXPECT_EQ(baseIsAsciiCompatible(1014), 0);
    EXPECT_EQ(baseIsAsciiCompatible(1019), 0);
    EXPECT_EQ(baseIsAsciiCompatible(2028), 0);
    EXPECT_EQ(baseIsAsciiCompatible(-4), 0);
    EXPECT_EQ(baseIsAsciiCompatible(39), 0);
}

}  // namespace
