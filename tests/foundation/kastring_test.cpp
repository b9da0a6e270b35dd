#include "foundation/kastring.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/kaarray.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "support/errorscope.h"
#include "support/freewatch.h"
#include "foundation/ram.h"
#include "kamessages.h"

// Huge requests must come back as null rather than abort the test.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

using katest::FreeWatch;

class StringTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(thread.attached, 1); }
    bool posted(uint16_t native) const
    {
        for (size_t i = 0; i < list.count; ++i) {
            KaError* e = list.recordAt(i);
            if (e != nullptr && e->nativeCode == native)
                return true;
        }
        return false;
    }
    bool nothingPosted() const { return list.count == 0 && list.outOfMemoryMark == 0; }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
    KaErrorList& list = errors.list;
};

std::string text(const KaSubString& s)
{
    return std::string(s.data != nullptr ? s.data : "", s.len);
}

// ---- views -----------------------------------------------------------------

TEST_F(StringTest, ViewConstructorsAndSet)
{
    KaSubString empty(KA_TEXT_UTF8);
    EXPECT_EQ(empty.len, 0u);
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_EQ(empty.codePage, KA_TEXT_UTF8);

    KaSubString counted("abcdef", 3);
    EXPECT_EQ(text(counted), "abc");
    EXPECT_EQ(counted.codePage, KA_TEXT_LOCALE);

    KaSubString terminated("hello", KA_TEXT_UTF8);
    EXPECT_EQ(terminated.len, 5u);
    EXPECT_EQ(terminated.codePage, KA_TEXT_UTF8);

    terminated.set("xy", 2);
    EXPECT_EQ(terminated.len, 2u);
    EXPECT_EQ(terminated.lenAtSet, 2u);
    EXPECT_EQ(terminated.codePage, KA_TEXT_LOCALE);  // set without a code page resets it
}

TEST_F(StringTest, TerminatedTextConstructorsHandBackTheLength)
{
    static const char withInnerZero[] = "ab\0cd";
    struct Case {
        const char* text;
        int32_t encoding;  // 0: the overload without one
        size_t expectedLen;
        int32_t expectedCodePage;
    } cases[] = {
        {"hello", 0, 5, KA_TEXT_LOCALE},       {"", 0, 0, KA_TEXT_LOCALE},
        {withInnerZero, 0, 2, KA_TEXT_LOCALE}, {"\xC3\xA9t\xC3\xA9", KA_TEXT_UTF8, 5, KA_TEXT_UTF8},
        {nullptr, 0, 0, KA_TEXT_LOCALE},       {nullptr, KA_TEXT_UTF8, 0, KA_TEXT_UTF8},
    };
    for (const auto& c : cases) {
        size_t length = 0xA5A5;
        KaSubString view = c.encoding == 0 ? KaSubString(c.text, &length)
                                           : KaSubString(c.text, static_cast<KaTextEncoding>(c.encoding), &length);
        const char* shown = c.text != nullptr ? c.text : "(null)";
        EXPECT_EQ(length, c.expectedLen) << shown;
        EXPECT_EQ(view.len, c.expectedLen) << shown;
        EXPECT_EQ(view.lenAtSet, c.expectedLen) << shown;
        EXPECT_EQ(view.data, c.text) << shown;  // a view, not a copy
        EXPECT_EQ(view.codePage, c.expectedCodePage) << shown;
    }

    // The length is optional.
    KaSubString unwanted("abc", static_cast<size_t*>(nullptr));
    EXPECT_EQ(unwanted.len, 3u);
    KaSubString unwantedUtf8("abcd", KA_TEXT_UTF8, nullptr);
    EXPECT_EQ(unwantedUtf8.len, 4u);
    EXPECT_TRUE(nothingPosted());
}

TEST_F(StringTest, CompareIsCaseInsensitiveAndShorterFirst)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"abc", "ABC", 0}, {"abc", "ABD", -1}, {"ab", "abc", -1}, {"b", "A", 1}, {"", "", 0}, {"", "a", -1},
    };
    for (const auto& c : cases) {
        KaSubString a(c.a);
        KaSubString b(c.b);
        EXPECT_EQ(static_cast<const KaObject&>(a).compare(b), c.expected) << c.a << " vs " << c.b;
    }
}

TEST_F(StringTest, HashFoldsCaseAndLooksAtFiveBytes)
{
    EXPECT_EQ(KaSubString("Server").hash(), KaSubString("SERVER").hash());
    EXPECT_EQ(KaSubString("abcdeX").hash(), KaSubString("abcdeY").hash());
    EXPECT_NE(KaSubString("abcd").hash(), KaSubString("abce").hash());
    EXPECT_EQ(KaSubString().hash(), 0u);
}

TEST_F(StringTest, SearchesStepWholeCharacters)
{
    // "é" is C3 A9 in UTF-8: its second byte is no character of its own.
    KaSubString utf8("x\xC3\xA9y\xA9", KA_TEXT_UTF8);
    EXPECT_EQ(utf8.findChar('\xA9', 0), 4u);
    EXPECT_EQ(utf8.find("\xA9y", 0), utf8.len);
    EXPECT_EQ(utf8.countChar('\xA9'), 1u);

    KaSubString plain("a;b;c");
    EXPECT_EQ(plain.findChar(';', 0), 1u);
    EXPECT_EQ(plain.findChar(';', 2), 3u);
    EXPECT_EQ(plain.findChar(';', 9), plain.len);
    EXPECT_EQ(plain.find("b;", 0), 2u);
    EXPECT_EQ(plain.find("c;", 0), plain.len);  // would run past the end
    EXPECT_EQ(plain.countChar(';'), 2u);
    EXPECT_EQ(KaSubString().findChar('a', 0), 0u);
    EXPECT_EQ(KaSubString().find("a", 0), 0u);
}

TEST_F(StringTest, CountCharStopsAtZeroByte)
{
    const char bytes[] = {'a', 'x', 0, 'x', 'x'};
    KaSubString s(bytes, sizeof bytes);
    EXPECT_EQ(s.countChar('x'), 1u);
}

TEST_F(StringTest, IndexInMatchesWholeEntries)
{
    const char* list[] = {"SERVER", "server", "serv"};
    KaSubString key("server");
    EXPECT_EQ(key.indexIn(list, 3), 1u);
    EXPECT_EQ(key.indexInNoCase(list, 3), 0u);
    EXPECT_EQ(KaSubString("ser").indexIn(list, 3), 3u);
    EXPECT_EQ(KaSubString("SERV").indexInNoCase(list, 3), 2u);
}

TEST_F(StringTest, TrimRightShortensOnlyTheVisibleLength)
{
    KaSubString s("ab \t\n");
    s.trimRight();
    EXPECT_EQ(s.len, 2u);
    EXPECT_EQ(s.lenAtSet, 5u);
    KaSubString blanks("   ");
    blanks.trimRight();
    EXPECT_EQ(blanks.len, 0u);
}

TEST_F(StringTest, BracesAreRecognised)
{
    struct Case {
        const char* s;
        int braced;
        int needs;
    } cases[] = {
        {"", 0, 0}, {"a;b", 0, 1}, {"{x", 0, 1}, {"ab", 0, 0}, {"{a}", 1, 1}, {"{", 0, 1}, {"}", 0, 0}, {"{}", 1, 1},
    };
    for (const auto& c : cases) {
        KaSubString s(c.s);
        EXPECT_EQ(s.isBraced(), c.braced) << c.s;
        EXPECT_EQ(s.needsBraces(), c.needs) << c.s;
    }
}

TEST_F(StringTest, StripBracesTakesTheInside)
{
    KaString dest;
    ASSERT_EQ(dest.assign("old"), 0);
    EXPECT_EQ(KaSubString("{pa;ss}").stripBracesInto(dest), 0);
    EXPECT_EQ(text(dest), "pa;ss");
    EXPECT_EQ(KaSubString("plain").stripBracesInto(dest), 0);
    EXPECT_EQ(dest.len, 0u);
    EXPECT_EQ(dest.lenAtSet, 0u);
}

TEST_F(StringTest, UnescapeBracedUndoublesTheClosingByte)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"{a}}b}", "a}b"}, {"{}", ""}, {"{x}", "x"}, {"{a}}}}}", "a}}"}, {"{ab}}", "ab}"},
    };
    for (const auto& c : cases) {
        KaString dest;
        ASSERT_EQ(KaSubString(c.in).unescapeBracedInto(dest, '}'), 0);
        EXPECT_EQ(text(dest), c.out) << c.in;
    }
}

TEST_F(StringTest, QuoteAndUnquoteIntoCallerBuffers)
{
    char out[32];
    std::memset(out, '#', sizeof out);
    KaSubString s("it's");
    char* end = s.quoteInto(out + 4);
    EXPECT_STREQ(out + 4, "'it''s'");
    EXPECT_EQ(end, out + 4 + 7);
    EXPECT_EQ(out[3], '#');
    EXPECT_EQ(out[4 + 8], '#');

    std::memset(out, '#', sizeof out);
    end = KaSubString("'it''s'").unquoteInto(out + 4);
    EXPECT_STREQ(out + 4, "it's");
    EXPECT_EQ(end, out + 8);
    EXPECT_EQ(out[3], '#');
    EXPECT_EQ(out[9], '#');
}

TEST_F(StringTest, SplitLinesMakesOwnedStringsAndLeavesTheViewAlone)
{
    // The view ends where its bytes end: nothing may be written behind it.
    char bytes[] = {'a', '\n', '\n', 'b', 'b', '\n', 'c', '#'};
    KaSubString view(bytes, 7, KA_TEXT_UTF8);
    KaArray lines;
    ASSERT_EQ(view.splitLines(lines), 0);
    EXPECT_EQ(bytes[7], '#');
    ASSERT_EQ(lines.count, 3u);
    EXPECT_NE(lines.flags & KaArray::ownsElements, 0);
    const char* expected[] = {"a", "bb", "c"};
    for (size_t i = 0; i < 3; ++i) {
        auto* line = static_cast<KaString*>(lines.at(i));
        EXPECT_EQ(text(*line), expected[i]);
        EXPECT_EQ(line->codePage, KA_TEXT_UTF8);
    }

    KaArray trailing;
    ASSERT_EQ(KaSubString("x\n").splitLines(trailing), 0);
    EXPECT_EQ(trailing.count, 1u);
}

// ---- owning strings --------------------------------------------------------

TEST_F(StringTest, AssignTakesAnExactBlockWithTerminator)
{
    KaString s;
    EXPECT_EQ(s.owns, 1);
    EXPECT_EQ(s.capacity, 0u);
    ASSERT_EQ(s.assign(""), 0);
    EXPECT_EQ(s.len, 0u);
    EXPECT_EQ(s.capacity, 1u);
    ASSERT_NE(s.data, nullptr);
    EXPECT_EQ(s.data[0], 0);

    ASSERT_EQ(s.assign("abcdef", 4, KA_TEXT_UTF8), 0);
    EXPECT_EQ(text(s), "abcd");
    EXPECT_EQ(s.capacity, 5u);
    EXPECT_EQ(s.lenAtSet, 4u);
    EXPECT_EQ(s.data[4], 0);
    EXPECT_EQ(s.codePage, KA_TEXT_UTF8);
}

TEST_F(StringTest, AssignFromOwnTextKeepsIt)
{
    KaString s;
    ASSERT_EQ(s.assign("hello world"), 0);
    ASSERT_EQ(s.assign(s.data + 6, 5), 0);
    EXPECT_EQ(text(s), "world");
}

TEST_F(StringTest, AppendGrowsExactly)
{
    KaString s;
    ASSERT_EQ(s.assign("ab"), 0);
    ASSERT_EQ(s.append("cd"), 0);
    EXPECT_EQ(s.len, 4u);
    EXPECT_EQ(s.capacity, 5u);
    EXPECT_EQ(std::memcmp(s.data, "abcd", 4), 0);
    ASSERT_EQ(s.appendChar('e'), 0);
    EXPECT_EQ(s.capacity, 6u);
    // Room already there: no new block.
    char* before = s.data;
    s.len = 1;
    ASSERT_EQ(s.append("xy", 2), 0);
    EXPECT_EQ(s.data, before);
    EXPECT_EQ(text(s), "axy");
}

TEST_F(StringTest, AppendOfOwnTextSurvivesReallocation)
{
    KaString s;
    ASSERT_EQ(s.assign("abc"), 0);
    ASSERT_EQ(s.append(s.data, s.len), 0);
    EXPECT_EQ(text(s), "abcabc");
}

TEST_F(StringTest, AllocateGivesAnEmptyBlock)
{
    KaString s;
    ASSERT_EQ(s.allocate(10, KA_TEXT_UTF8), 0);
    EXPECT_EQ(s.len, 0u);
    EXPECT_EQ(s.capacity, 11u);
    EXPECT_EQ(s.codePage, KA_TEXT_UTF8);
    ASSERT_EQ(s.append("0123456789"), 0);
    EXPECT_EQ(s.capacity, 11u);
}

TEST_F(StringTest, NumbersAreAppendedInDecimal)
{
    KaString s;
    ASSERT_EQ(s.assign("n="), 0);
    ASSERT_EQ(s.appendNumber(UINT64_MAX), 0);
    ASSERT_EQ(s.append(","), 0);
    ASSERT_EQ(s.appendSignedNumber(INT64_MIN), 0);
    ASSERT_EQ(s.append(","), 0);
    ASSERT_EQ(s.appendNumber(0), 0);
    EXPECT_EQ(text(s), "n=18446744073709551615,-9223372036854775808,0");
}

TEST_F(StringTest, AttachedBufferRefusesToGrow)
{
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    std::memcpy(buffer + 4, "abc", 3);
    KaString s;
    s.attach(buffer + 4, 8, 3);
    EXPECT_EQ(s.owns, 0);

    ASSERT_EQ(s.append("defg"), 0);  // 3 + 4 + 1 fits in 8
    EXPECT_TRUE(nothingPosted());
    EXPECT_EQ(text(s), "abcdefg");

    EXPECT_EQ(s.append("h"), 1);
    EXPECT_TRUE(posted(MSG_STRING_BUFFER_BORROWED));
    EXPECT_EQ(text(s), "abcdefg");
    EXPECT_EQ(s.data, buffer + 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(buffer[i], '#');
    for (int i = 12; i < 16; ++i)
        EXPECT_EQ(buffer[i], '#');
}

TEST_F(StringTest, AttachedNullBufferRefusesToGrow)
{
    KaString s;
    s.attach(nullptr, 0, 0);
    EXPECT_EQ(s.append("a"), 1);
    EXPECT_TRUE(posted(MSG_STRING_BUFFER_BORROWED));
    EXPECT_EQ(s.data, nullptr);
}

TEST_F(StringTest, FreeBufferEmptiesAndAllowsGrowthAgain)
{
    char buffer[8] = "abc";
    KaString s;
    s.attach(buffer, sizeof buffer, 3);
    s.freeBuffer();
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.len, 0u);
    EXPECT_EQ(s.capacity, 0u);
    EXPECT_STREQ(buffer, "abc");  // a borrowed buffer is not the string's to free
    ASSERT_EQ(s.append("xyz"), 0);
    EXPECT_EQ(text(s), "xyz");
}

TEST_F(StringTest, AdoptTakesOwnership)
{
    auto* block = static_cast<char*>(ramAlloc(8));
    std::memcpy(block, "abc", 4);
    KaString s;
    s.adopt(block, 8, KA_TEXT_UTF8, 3);
    EXPECT_EQ(s.owns, 1);
    ASSERT_EQ(s.append("defghijk"), 0);  // grows the adopted block
    EXPECT_EQ(text(s), "abcdefghijk");
}

TEST_F(StringTest, ReplaceCases)
{
    struct Case {
        const char* start;
        size_t position;
        size_t count;
        const char* data;
        size_t n;
        const char* expected;
    } cases[] = {
        {"hello world", 6, 5, "there", 5, "hello there"},
        {"hello world", 0, 5, "hi", 2, "hi world"},     // shrinking
        {"hello world", 5, 0, ",", 1, "hello, world"},  // insertion
        {"hello world", 5, 6, nullptr, 0, "hello"},     // deletion
        {"abc", 1, 1, "XYZ", 0, "aXYZc"},               // n 0: terminated length
        {"abc", 3, 0, "d", 1, "abcd"},                  // at the end
        {"abc", 9, 4, "d", 1, "abcd"},                  // past the end: pulled back
        {"abc", 1, 99, "", 0, "a"},                     // count past the end
    };
    for (const auto& c : cases) {
        KaString s;
        ASSERT_EQ(s.assign(c.start), 0);
        ASSERT_EQ(s.replace(c.position, c.count, c.data, c.n), 0) << c.start;
        EXPECT_EQ(text(s), c.expected) << c.start;
        EXPECT_EQ(s.data[s.len], 0) << c.start;
    }
}

TEST_F(StringTest, ReplaceWithOwnText)
{
    KaString s;
    ASSERT_EQ(s.assign("abcdef"), 0);
    ASSERT_EQ(s.replace(0, 1, s.data + 3, 3), 0);
    EXPECT_EQ(text(s), "defbcdef");
}

TEST_F(StringTest, ReplaceRangeUsesTheViewOffset)
{
    KaString s;
    ASSERT_EQ(s.assign("key=value"), 0);
    KaSubString range(s.data + 4, 5);
    ASSERT_EQ(s.replaceRange(range, "v2", 2), 0);
    EXPECT_EQ(text(s), "key=v2");
}

TEST_F(StringTest, ReplaceAllCases)
{
    struct Case {
        const char* start;
        const char* pattern;
        const char* replacement;
        const char* expected;
    } cases[] = {
        {"aaa", "a", "aa", "aaaaaa"},  // the search resumes after each replacement
        {"a;b;;c", ";", nullptr, "abc"}, {"a;b;;c", ";", "", "abc"}, {"SELECT {fn x}", "{fn ", "", "SELECT x}"},
        {"abc", "", "x", "abc"},  // an empty pattern occurs nowhere
        {"abc", "z", "x", "abc"},
    };
    for (const auto& c : cases) {
        KaString s;
        ASSERT_EQ(s.assign(c.start), 0);
        ASSERT_EQ(s.replaceAll(c.pattern, c.replacement), 0) << c.start;
        EXPECT_EQ(text(s), c.expected) << c.start;
    }
}

TEST_F(StringTest, ReplaceAllThatKeepsTheMatchEnds)
{
    // Inserting before each match (count 0) must not find the same match again.
    KaString s;
    ASSERT_EQ(s.assign("a.b.c"), 0);
    ASSERT_EQ(s.replaceAll(".", 0, "\\", 1), 0);
    EXPECT_EQ(text(s), "a\\.b\\.c");
}

TEST_F(StringTest, QuoteAndUnquoteInPlace)
{
    KaString s;
    ASSERT_EQ(s.assign("it's"), 0);
    ASSERT_EQ(s.quote('\''), 0);
    EXPECT_EQ(text(s), "'it''s'");
    EXPECT_EQ(s.len, 7u);
    s.unquote();
    EXPECT_EQ(text(s), "it's");
    EXPECT_EQ(s.len, 4u);

    KaString other;
    ASSERT_EQ(other.assign("x"), 0);
    ASSERT_EQ(s.appendQuoted(other, '"'), 0);
    EXPECT_EQ(text(s), "it's\"x\"");
}

TEST_F(StringTest, QuoteCountsQuotesPastAZeroByte)
{
    KaString s;
    ASSERT_EQ(s.assign("a\0''", 4), 0);
    ASSERT_EQ(s.quote('\''), 0);
    EXPECT_EQ(text(s), std::string("'a\0'''''", 8));
    EXPECT_LE(s.len + 1, s.capacity);
}

TEST_F(StringTest, QuoteOnBorrowedBufferFailsWithTextUnchanged)
{
    char buffer[6] = "it's";
    KaString s;
    s.attach(buffer, sizeof buffer, 4);
    EXPECT_EQ(s.quote('\''), 1);
    EXPECT_TRUE(posted(MSG_STRING_BUFFER_BORROWED));
    EXPECT_EQ(text(s), "it's");
}

TEST_F(StringTest, EnsureTrailingNewlinesOnlyAdds)
{
    KaString s;
    ASSERT_EQ(s.assign("a\n"), 0);
    ASSERT_EQ(s.ensureTrailingNewlines(3), 0);
    EXPECT_EQ(text(s), "a\n\n\n");
    ASSERT_EQ(s.ensureTrailingNewlines(1), 0);
    EXPECT_EQ(text(s), "a\n\n\n");
}

TEST_F(StringTest, WrapBreaksAtBlanksOutsideQuotes)
{
    struct Case {
        const char* start;
        size_t width;
        char q1;
        const char* expected;
    } cases[] = {
        {"aaaa bbbb cccc", 10, 0, "aaaa bbbb\ncccc"},
        {"aaaa bbbb cccc", 14, 0, "aaaa bbbb cccc"},  // fits
        {"'a b' cc", 2, '\'', "'a b'\ncc"},           // the quoted blank is no break point
        {"'a b' cc", 2, 0, "'a\nb'\ncc"},
        {"abcdefghij klm", 4, 0, "abcdefghij\nklm"},  // no blank: the line runs on
    };
    for (const auto& c : cases) {
        KaString s;
        ASSERT_EQ(s.assign(c.start), 0);
        ASSERT_EQ(s.wrap(c.width, c.q1, '"', 0), 0) << c.start;
        EXPECT_EQ(text(s), c.expected) << c.start;
    }
}

TEST_F(StringTest, WrapOnBorrowedBufferKeepsTheText)
{
    char buffer[15] = "aaaa bbbb cccc";
    KaString s;
    s.attach(buffer, 14, 14);
    EXPECT_EQ(s.wrap(4, 0, 0, 0), 1);
    EXPECT_TRUE(posted(MSG_STRING_BUFFER_BORROWED));
    EXPECT_EQ(text(s), "aaaa bbbb cccc");
}

TEST_F(StringTest, RunsBecomeOneBlank)
{
    struct Case {
        const char* start;
        int which;  // 0 newlines, 1 tabs, 2 CR/LF
        char q1;
        const char* expected;
    } cases[] = {
        {"a\n\nb\n", 0, 0, "a b"},    {"'x\ny'\nz", 0, '\'', "'x\ny' z"}, {"no breaks", 0, 0, "no breaks"},
        {"a\t\tb\tc", 1, 0, "a b c"}, {"a\r\nb\r\n", 2, 0, "a b"},        {"a\rb", 2, 0, "a b"},
    };
    for (const auto& c : cases) {
        KaString s;
        ASSERT_EQ(s.assign(c.start), 0);
        int rc = c.which == 0   ? s.joinLines(c.q1, 0, 0)
                 : c.which == 1 ? s.tabsToBlanks(c.q1, 0, 0)
                                : s.crlfToBlanks(c.q1, 0, 0);
        ASSERT_EQ(rc, 0) << c.start;
        EXPECT_EQ(text(s), c.expected) << c.start;
    }
}

TEST_F(StringTest, RemoveCommentsCases)
{
    struct Case {
        const char* start;
        const char* expected;
    } cases[] = {
        {"select 1 -- note\nfrom t", "select 1 \nfrom t"},
        {"select 1 -- to the end", "select 1 "},
        {"a /* x */ b /* y */c", "a  b c"},
        {"a /* unterminated", "a "},
        {"--x\n--y\nz", "\n\nz"},
    };
    for (const auto& c : cases) {
        KaString s;
        ASSERT_EQ(s.assign(c.start), 0);
        ASSERT_EQ(s.removeComments(), 0);
        EXPECT_EQ(text(s), c.expected) << c.start;
    }
}

TEST_F(StringTest, OutOfMemoryLeavesTheTextAsItWas)
{
    KaString s;
    ASSERT_EQ(s.assign("keep"), 0);
    char* before = s.data;
    EXPECT_EQ(s.reserve(SIZE_MAX / 2), 1);
    EXPECT_EQ(list.outOfMemoryMark, 1);
    EXPECT_EQ(s.data, before);
    EXPECT_EQ(s.capacity, 5u);
    EXPECT_EQ(text(s), "keep");

    const char tail[] = "x";
    EXPECT_EQ(s.append(tail, SIZE_MAX / 2), 1);
    EXPECT_EQ(s.append(tail, SIZE_MAX), 1);  // the size itself overflows
    EXPECT_EQ(text(s), "keep");

    KaString other;
    EXPECT_EQ(other.assign("x", SIZE_MAX), 1);
    EXPECT_EQ(other.data, nullptr);
}

// ---- the wiping form -------------------------------------------------------

TEST_F(StringTest, SecretGrowthWipesTheOldBlock)
{
    if (!FreeWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    KaStringEx s;
    ASSERT_EQ(s.assign("secret!"), 0);
    ASSERT_EQ(s.capacity, 8u);
    FreeWatch watch(s.data, 8);
    ASSERT_EQ(s.reserve(16), 0);
    EXPECT_TRUE(watch.seen());
    EXPECT_TRUE(watch.wiped());
    EXPECT_EQ(text(s), "secret!");
    EXPECT_EQ(s.capacity, 16u);
}

TEST_F(StringTest, SecretWipedOnEveryWayOut)
{
    if (!FreeWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    enum Way { freeBuffer, destroy, reassign, append };
    for (Way way : {freeBuffer, destroy, reassign, append}) {
        auto* s = new KaStringEx;
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->assign("pa55word"), 0);
        FreeWatch watch(s->data, s->capacity);
        switch (way) {
        case freeBuffer: s->freeBuffer(); break;
        case destroy:
            delete s;
            s = nullptr;
            break;
        case reassign: ASSERT_EQ(s->assign("other"), 0); break;
        case append: ASSERT_EQ(s->append(" and more"), 0); break;
        }
        EXPECT_TRUE(watch.seen()) << way;
        EXPECT_TRUE(watch.wiped()) << way;
        delete s;
    }
}

TEST_F(StringTest, PlainStringIsNotWiped)
{
    if (!FreeWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    KaString s;
    ASSERT_EQ(s.assign("visible"), 0);
    FreeWatch watch(s.data, s.capacity);
    s.freeBuffer();
    EXPECT_TRUE(watch.seen());
    EXPECT_FALSE(watch.wiped());
}

TEST_F(StringTest, SecretReserveFailureKeepsTheBuffer)
{
    KaStringEx s;
    ASSERT_EQ(s.assign("secret"), 0);
    char* before = s.data;
    EXPECT_EQ(s.reserve(SIZE_MAX / 2), 1);
    EXPECT_EQ(list.outOfMemoryMark, 1);
    EXPECT_EQ(s.data, before);
    EXPECT_EQ(text(s), "secret");
}

TEST_F(StringTest, SecretOnBorrowedBufferRefusesToGrow)
{
    char buffer[4] = "abc";
    KaStringEx s;
    s.attach(buffer, 4, 3);
    EXPECT_EQ(s.append("d"), 1);
    EXPECT_TRUE(posted(MSG_STRING_BUFFER_BORROWED));
    s.freeBuffer();
    EXPECT_STREQ(buffer, "abc");  // not the string's to wipe
}

// ---- the rewriter ----------------------------------------------------------

// Replaces every "?" by the given text, the way the SQL layer rewrites markers.
void replaceMarkers(KaString& target, const char* with)
{
    KaReplaceString r(target);
    while (r.len > 0) {
        size_t at = r.findChar('?', 0);
        r.copyThrough(at);
        if (r.len == 0)
            break;
        r.skip(1);
        ASSERT_EQ(r.emit(with, std::strlen(with)), 0);
    }
}

TEST_F(StringTest, RewriterReplacesMarkers)
{
    struct Case {
        const char* start;
        const char* with;
        const char* expected;
    } cases[] = {
        {"SELECT ? FROM t WHERE x = ?", "'v'", "SELECT 'v' FROM t WHERE x = 'v'"},
        {"a?b", "", "ab"},
        {"??", "x", "xx"},
        {"none", "x", "none"},
    };
    for (const auto& c : cases) {
        KaString s;
        ASSERT_EQ(s.assign(c.start), 0);
        replaceMarkers(s, c.with);
        EXPECT_EQ(text(s), c.expected) << c.start;
        EXPECT_LE(s.len + 1, s.capacity);
    }
}

TEST_F(StringTest, RewriterOpensTheGapWithSlack)
{
    KaString s;
    ASSERT_EQ(s.assign("abcdefghijklmnopqrstuvwxyz"), 0);
    {
        KaReplaceString r(s);
        r.skip(4);
        ASSERT_EQ(r.emit("0123456789", 10), 0);
        EXPECT_EQ(s.capacity, 26u + 523u);
        EXPECT_EQ(r.readPos, 4u + 522u);
        EXPECT_EQ(r.writePos, 10u);
        EXPECT_EQ(r.data, s.data + r.readPos);
        EXPECT_EQ(text(r), "efghijklmnopqrstuvwxyz");
    }
    EXPECT_EQ(text(s), "0123456789efghijklmnopqrstuvwxyz");
    EXPECT_EQ(s.capacity, s.len + 1);
}

TEST_F(StringTest, RewriterEmitsFromItsOwnUnreadText)
{
    KaString s;
    ASSERT_EQ(s.assign("abc"), 0);
    {
        KaReplaceString r(s);
        // Duplicates the unread text, which moves while the gap opens.
        ASSERT_EQ(r.emit(r.data, 3), 0);
        r.copyThrough(3);
    }
    EXPECT_EQ(text(s), "abcabc");
}

TEST_F(StringTest, RewriterWithoutEditsLeavesTheTarget)
{
    KaString s;
    ASSERT_EQ(s.assign("abc"), 0);
    ASSERT_EQ(s.reserve(50), 0);
    {
        KaReplaceString r(s);
        r.copyThrough(2);
    }
    EXPECT_EQ(text(s), "abc");
    EXPECT_EQ(s.capacity, 50u);
}

TEST_F(StringTest, RewriterQuotesEmittedText)
{
    KaString s;
    ASSERT_EQ(s.assign("x=?"), 0);
    {
        KaReplaceString r(s);
        r.copyThrough(2);
        r.skip(1);
        ASSERT_EQ(r.emitQuoted("it's", 4, '\''), 0);
    }
    EXPECT_EQ(text(s), "x='it''s'");
}

TEST_F(StringTest, RewriterQuotesItsOwnUnreadText)
{
    // The unread text moves while the gap opens under the quoted copy.
    KaString s;
    ASSERT_EQ(s.assign("it's"), 0);
    {
        KaReplaceString r(s);
        ASSERT_EQ(r.emitQuoted(r.data, r.len, '\''), 0);
        r.copyThrough(r.len);
    }
    EXPECT_EQ(text(s), "'it''s'it's");
}

TEST_F(StringTest, RewriterOnBorrowedTargetFailsCleanly)
{
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    std::memcpy(buffer, "a?b", 3);
    KaString s;
    s.attach(buffer, 4, 3);
    {
        KaReplaceString r(s);
        r.copyThrough(1);
        r.skip(1);
        EXPECT_EQ(r.emit("long text", 9), 1);
        EXPECT_TRUE(posted(MSG_STRING_BUFFER_BORROWED));
    }
    // The marker was skipped; the rest is closed up inside the caller's buffer.
    EXPECT_EQ(text(s), "ab");
    EXPECT_EQ(s.data, buffer);
    for (int i = 4; i < 16; ++i)
        EXPECT_EQ(buffer[i], '#');
}

TEST_F(StringTest, RewriterOnSecretWipesWhatItGivesUp)
{
    if (!FreeWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    KaStringEx s;
    ASSERT_EQ(s.assign("PWD=?"), 0);
    FreeWatch watch(s.data, s.capacity);
    {
        KaReplaceString r(s);
        r.copyThrough(4);
        r.skip(1);
        ASSERT_EQ(r.emit("hunter2", 7), 0);
        EXPECT_TRUE(watch.seen());
        EXPECT_TRUE(watch.wiped());
    }
    EXPECT_EQ(text(s), "PWD=hunter2");
}

}  // namespace
