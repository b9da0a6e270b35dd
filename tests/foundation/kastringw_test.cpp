// UTF-16 strings: holding, growing, editing and narrowing text, the wiping
// form, the rewriter and the key caches.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "support/errorscope.h"
#include "support/localescope.h"
#include "foundation/kaarray.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "foundation/ram.h"
#include "kamessages.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KA_HAVE_ASAN 1
#endif

namespace {

using katest::ErrorScope;
using katest::W;

std::u16string text(const KaSubStringW& s)
{
    return katest::u16(s.data, s.len);
}

TEST(KaStringW, AssignNarrowUtf8)
{
    KaStringW s;
    ASSERT_EQ(s.assignNarrow("\xF0\x9F\x98\x80", 4, KA_TEXT_UTF8), 0);
    EXPECT_EQ(s.len, 2u);
    EXPECT_EQ(s.data[0], 0xD83D);
    EXPECT_EQ(s.data[1], 0xDE00);
    EXPECT_EQ(s.data[2], 0);
    KaStringW t;
    ASSERT_EQ(t.assignNarrow("abc", 3, KA_TEXT_UTF8), 0);
    EXPECT_EQ(text(t), u"abc");
    EXPECT_EQ(t.data[3], 0);
}

TEST(KaStringW, AssignNarrowRejectsBrokenUtf8)
{
    ErrorScope scope;
    KaStringW s;
    ASSERT_EQ(s.assign(W(u"kept")), 0);
    EXPECT_EQ(s.assignNarrow("a\xFF", 2, KA_TEXT_UTF8), 1);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_CONVERSION_FAILED);
    EXPECT_EQ(katest::sqlstate(scope.at(0)), "01004");
    EXPECT_EQ(text(s), u"kept");
}

using katest::Utf8Locale;

TEST(KaStringW, AssignNarrowLocaleAndUtf16Forms)
{
    Utf8Locale locale;
    ASSERT_TRUE(locale.ok);
    KaStringW s;
    ASSERT_EQ(s.assignNarrow("\xC3\xA9t\xE2\x82\xAC\xF0\x9F\x98\x80", 10, KA_TEXT_LOCALE), 0);
    EXPECT_EQ(text(s), u"\u00e9t\u20ac\U0001F600");
    EXPECT_EQ(s.data[s.len], 0);
    ASSERT_EQ(s.assignNarrow("a\xFF", 2, KA_TEXT_LOCALE), 0);
    EXPECT_EQ(text(s), u"a\ufffd");

    const uint16_t units[] = {'h', 'i'};
    ASSERT_EQ(s.assignNarrow(reinterpret_cast<const char*>(units), 2, KA_TEXT_UTF16), 0);
    EXPECT_EQ(text(s), u"hi");

    ASSERT_EQ(s.assign(W(u"\u00e9\U0001F600")), 0);
    const char* narrow = s.toNarrow(KA_TEXT_LOCALE);
    ASSERT_NE(narrow, nullptr);
    EXPECT_STREQ(narrow, "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(KaStringW, ToNarrowUtf8)
{
    KaStringW s;
    ASSERT_EQ(s.assign(W(u"\u00e9")), 0);
    const char* first = s.toNarrow(KA_TEXT_UTF8);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::string(first, 3), std::string("\xC3\xA9\0", 3));
    const char* second = s.toNarrow(KA_TEXT_UTF8);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second, "\xC3\xA9");
    EXPECT_EQ(s.narrow, second);

    KaStringW empty;
    ASSERT_NE(empty.toNarrow(KA_TEXT_UTF8), nullptr);
    EXPECT_STREQ(empty.narrow, "");
}

TEST(KaStringW, ToNarrowFailsOnTextWithoutUtf8Form)
{
    ErrorScope scope;
    KaStringW s;
    const uint16_t lone[] = {'a', 0xD800, 'b'};
    ASSERT_EQ(s.assign(lone, 3), 0);
    EXPECT_EQ(s.toNarrow(KA_TEXT_UTF8), nullptr);
    EXPECT_EQ(s.narrow, nullptr);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_CONVERSION_FAILED);
}

TEST(KaStringW, HashIgnoresCase)
{
    KaSubStringW lower(W(u"abc"));
    KaSubStringW upper(W(u"ABC"));
    EXPECT_EQ(lower.hash(), upper.hash());
    EXPECT_EQ(lower.hash(), 0x41u + (0x42u << 3) + (0x43u << 6));
    KaSubStringW longer(W(u"abcdefgh"));
    KaSubStringW prefix(W(u"ABCDEF"));
    EXPECT_EQ(longer.hash(), prefix.hash());
    EXPECT_EQ(lower.compare(upper), 0);
    KaSubStringW b(W(u"abd"));
    EXPECT_EQ(lower.compare(b), -1);
}

TEST(KaStringW, BorrowedBufferRefusesToGrow)
{
    ErrorScope scope;
    uint16_t buffer[4] = {'a', 'b', 0, 0xBEEF};
    KaStringW s;
    s.attach(buffer, 3, 2);
    EXPECT_EQ(s.appendChar('c'), 1);  // needs len + 2 units
    EXPECT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_STRING_BUFFER_BORROWED);
    EXPECT_EQ(s.len, 2u);
    EXPECT_EQ(buffer[3], 0xBEEF);

    KaStringW none;
    none.attach(nullptr, 0, 0);
    EXPECT_EQ(none.append(W(u"x"), 1), 1);
    EXPECT_EQ(scope.size(), 2u);
}

TEST(KaStringW, ShrinkingKeepsTheLengthInsideTheBuffer)
{
    // A length left beyond the buffer would let the next append write past it.
    for (bool wiping : {false, true}) {
        KaStringW plain;
        KaStringWEx secret;
        KaStringW& s = wiping ? static_cast<KaStringW&>(secret) : plain;
        ASSERT_EQ(s.assign(W(u"abcdefgh")), 0);
        ASSERT_EQ(s.reserve(4), 0);
        EXPECT_EQ(s.capacity, 4u) << wiping;
        EXPECT_EQ(s.len, 4u) << wiping;
        ASSERT_EQ(s.append(W(u"xy"), 2), 0);
        EXPECT_EQ(text(s), u"abcdxy") << wiping;
        EXPECT_EQ(s.data[s.len], 0) << wiping;
    }
}

TEST(KaStringW, AttachKeepsTheLengthInsideTheBuffer)
{
    uint16_t buffer[3] = {'a', 'b', 'c'};
    KaStringW s;
    s.attach(buffer, 3, 10);
    EXPECT_EQ(s.len, 3u);
}

TEST(KaStringW, FreedBorrowedStringMayGrowAgain)
{
    ErrorScope scope;
    uint16_t buffer[4] = {'a', 'b', 0, 0};
    KaStringW s;
    s.attach(buffer, 4, 2);
    s.freeBuffer();
    EXPECT_EQ(s.data, nullptr);
    ASSERT_EQ(s.append(W(u"xyz"), 3), 0);
    EXPECT_EQ(text(s), u"xyz");
    EXPECT_EQ(buffer[0], 'a');
    EXPECT_EQ(scope.size(), 0u);
}

TEST(KaStringW, UnescapeBracedKeepsALoneClosingUnit)
{
    struct Case {
        const char16_t* in;
        char16_t closing;
        const char16_t* out;
    } cases[] = {
        {u"{a}}b}", u'}', u"a}b"}, {u"{ab}}", u'}', u"ab}"},
        {u"{a)}", u')', u"a)"},  // not the final brace in its place
        {u"{a))b}", u')', u"a)b"}, {u"{\U0001F600}", u'}', u"\U0001F600"},
        {u"{}", u'}', u""},
    };
    for (const auto& c : cases) {
        KaStringW dest;
        ASSERT_EQ(KaSubStringW(W(c.in)).unescapeBracedInto(dest, c.closing), 0);
        EXPECT_EQ(text(dest), c.out);
        EXPECT_EQ(dest.data[dest.len], 0);
    }

    // A borrowed destination with room is written in place.
    uint16_t room[8] = {};
    KaStringW borrowed;
    borrowed.attach(room, 8, 0);
    ASSERT_EQ(KaSubStringW(W(u"{a}}}")).unescapeBracedInto(borrowed, '}'), 0);
    EXPECT_EQ(text(borrowed), u"a}");
    EXPECT_EQ(borrowed.data, room);
}

TEST(KaStringW, IndexInPassesOverMissingEntries)
{
    const uint16_t* list[] = {nullptr, W(u"KEY"), W(u"key")};
    KaSubStringW key(W(u"key"));
    EXPECT_EQ(key.indexIn(list, 3), 2u);
    EXPECT_EQ(key.indexInNoCase(list, 3), 1u);
}

TEST(KaStringW, GrowsAndEdits)
{
    KaStringW s;
    ASSERT_EQ(s.append(W(u"ab"), 2), 0);
    EXPECT_EQ(s.capacity, 3u);
    ASSERT_EQ(s.appendNarrow("c\xE9", 2), 0);
    EXPECT_EQ(text(s), u"abc\u00e9");
    // Appending a piece of itself survives the move of the buffer.
    ASSERT_EQ(s.append(s.data, s.len), 0);
    EXPECT_EQ(text(s), u"abc\u00e9abc\u00e9");

    KaStringW n;
    ASSERT_EQ(n.appendNumber(UINT64_MAX), 0);
    EXPECT_EQ(n.len, 20u);
    EXPECT_EQ(text(n), u"18446744073709551615");
    ASSERT_EQ(n.appendSignedNumber(INT64_MIN), 0);
    EXPECT_EQ(n.len, 40u);

    KaStringW r;
    ASSERT_EQ(r.assign(W(u"aaa")), 0);
    ASSERT_EQ(r.replaceAll(W(u"a"), W(u"aa")), 0);
    EXPECT_EQ(text(r), u"aaaaaa");
    ASSERT_EQ(r.replaceAll(W(u"aa"), nullptr), 0);
    EXPECT_EQ(r.len, 0u);
    ASSERT_EQ(r.assign(W(u"hello world")), 0);
    ASSERT_EQ(r.replace(0, 5, W(u"goodbye"), 0), 0);
    EXPECT_EQ(text(r), u"goodbye world");
    EXPECT_EQ(r.data[r.len], 0);
    ASSERT_EQ(r.replace(7, 6, nullptr, 0), 0);
    EXPECT_EQ(text(r), u"goodbye");
    ASSERT_EQ(r.replace(4, 100, r.data, 2), 0);  // out-of-range count clamped
    EXPECT_EQ(text(r), u"goodgo");
    KaSubStringW range(r.data + 1, 2);
    ASSERT_EQ(r.replaceRange(range, W(u"\U0001F600"), 2), 0);
    EXPECT_EQ(text(r), u"g\U0001F600dgo");
}

TEST(KaStringW, QuotingAndBraces)
{
    KaStringW s;
    ASSERT_EQ(s.assign(W(u"it's")), 0);
    ASSERT_EQ(s.quote('\''), 0);
    EXPECT_EQ(text(s), u"'it''s'");
    EXPECT_EQ(s.len, 7u);
    s.unquote();
    EXPECT_EQ(text(s), u"it's");

    KaSubStringW braced(W(u"{a}}b}"));
    EXPECT_EQ(braced.isBraced(), 1);
    KaStringW out;
    ASSERT_EQ(braced.unescapeBracedInto(out, '}'), 0);
    EXPECT_EQ(text(out), u"a}b");
    KaStringW stripped;
    ASSERT_EQ(braced.stripBracesInto(stripped), 0);
    EXPECT_EQ(text(stripped), u"a}}b");
    EXPECT_EQ(KaSubStringW(W(u"a;b")).needsBraces(), 1);
    EXPECT_EQ(KaSubStringW(W(u"{x")).needsBraces(), 1);
    EXPECT_EQ(KaSubStringW(W(u"")).needsBraces(), 0);

    KaStringW q;
    ASSERT_EQ(q.assign(W(u"x")), 0);
    ASSERT_EQ(q.appendQuoted(s, '\''), 0);
    EXPECT_EQ(text(q), u"x'it''s'");
}

TEST(KaStringW, QuotingDoublesEveryQuotePastAZeroUnit)
{
    // The room for the quoted text counts the quotes of the whole length, not
    // only those before the first zero unit.
    const std::u16string cases[] = {
        std::u16string(u".\0'", 3),
        std::u16string(u"\0''", 3),
        std::u16string(u"'\0'\0''", 6),
        std::u16string(u"\0", 1),
    };
    for (const std::u16string& c : cases) {
        std::u16string doubled;
        for (char16_t u : c) {
            doubled += u;
            if (u == u'\'')
                doubled += u;
        }
        const std::u16string expect = u"'" + doubled + u"'";
        KaStringW s;
        ASSERT_EQ(s.assign(W(c.data()), c.size()), 0);
        ASSERT_EQ(s.quote('\''), 0);
        EXPECT_EQ(text(s), expect);

        KaStringW source;
        ASSERT_EQ(source.assign(W(c.data()), c.size()), 0);
        KaStringW q;
        ASSERT_EQ(q.assign(W(u"x")), 0);
        ASSERT_EQ(q.appendQuoted(source, '\''), 0);
        EXPECT_EQ(text(q), u"x" + expect);
        // Quoting a string into itself reads the text before it grows.
        ASSERT_EQ(source.appendQuoted(source, '\''), 0);
        EXPECT_EQ(text(source), c + expect);
    }
}

TEST(KaStringW, SearchesStepWholeCharacters)
{
    // The unit 0xDE00 inside the pair is not a character of its own.
    KaSubStringW s(W(u"a\U0001F600b\u00de;"));
    EXPECT_EQ(s.findChar(0xDE00, 0), s.len);
    EXPECT_EQ(s.findChar(';', 0), 5u);
    EXPECT_EQ(s.findChar(';', 6), s.len);
    EXPECT_EQ(s.find(W(u"b\u00de"), 0), 3u);
    EXPECT_EQ(s.find(W(u"b\u00de;x"), 0), s.len);
    EXPECT_EQ(s.countChar('a'), 1u);
    const uint16_t* list[] = {W(u"x"), W(u"A\U0001F600B\u00fe;")};
    EXPECT_EQ(s.indexIn(list, 2), 2u);
    EXPECT_EQ(s.indexInNoCase(list, 2), 1u);
    KaSubStringW t(W(u"ab  \t"));
    t.trimRight();
    EXPECT_EQ(t.len, 2u);
}

TEST(KaStringW, LineOperations)
{
    KaStringW s;
    ASSERT_EQ(s.assign(W(u"aaaa bbbb cccc")), 0);
    ASSERT_EQ(s.wrap(10, 0, 0, 0), 0);
    EXPECT_EQ(text(s), u"aaaa bbbb\ncccc");
    ASSERT_EQ(s.assign(W(u"'a b c d e f' g")), 0);
    ASSERT_EQ(s.wrap(5, '\'', 0, 0), 0);
    EXPECT_EQ(text(s), u"'a b c d e f'\ng");

    ASSERT_EQ(s.assign(W(u"a\n\nb\n")), 0);
    ASSERT_EQ(s.joinLines(0, 0, 0), 0);
    EXPECT_EQ(text(s), u"a b");
    ASSERT_EQ(s.assign(W(u"x\t\ty")), 0);
    ASSERT_EQ(s.tabsToBlanks(0, 0, 0), 0);
    EXPECT_EQ(text(s), u"x y");
    ASSERT_EQ(s.assign(W(u"x\r\ny")), 0);
    ASSERT_EQ(s.crlfToBlanks(0, 0, 0), 0);
    EXPECT_EQ(text(s), u"x y");
    ASSERT_EQ(s.ensureTrailingNewlines(2), 0);
    EXPECT_EQ(text(s), u"x y\n\n");

    KaArray lines(0, KaArray::ownsElements | KaArray::ownsBuffer);
    KaSubStringW view(W(u"one\n\ntwo\nthree"));
    ASSERT_EQ(view.splitLines(lines), 0);
    ASSERT_EQ(lines.count, 3u);
    EXPECT_EQ(text(*static_cast<KaStringW*>(lines.at(2))), u"three");
}

TEST(KaStringW, CodePageInput)
{
    KaStringW s;
    ASSERT_EQ(s.assignFromCodePageNumber("\xC8\x85\x93\x93\x96", 5, 2028), 0);  // IBM037
    EXPECT_EQ(text(s), u"Hello");
    ASSERT_EQ(s.assignFromCodePageNumber("\0A\xD8\x3D\xDE\x00", 6, 1013), 0);
    EXPECT_EQ(text(s), u"A\U0001F600");
    EXPECT_EQ(s.data[s.len], 0);
    ASSERT_EQ(s.assignFromCodePageNumber("", 0, 106), 0);
    EXPECT_EQ(s.len, 0u);
}

TEST(KaStringW, MissingConverterDataPostsConverterNotAvailable)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    {
        ErrorScope scope;
        KaStringW s;
        EXPECT_EQ(s.assignFromCodePageNumber("abc", 3, 17), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_EQ(scope.native(0), MSG_CONVERTER_NOT_AVAILABLE);
        EXPECT_NE(scope.text(0).find("17"), std::string::npos) << scope.text(0);
    }
    katest::closeCatalogue();
}

#ifdef KA_HAVE_ASAN
// Freed blocks stay in ASan's quarantine with their contents, so a test may
// look at them once more to see whether they were wiped.
constexpr size_t kAsanFreeHeader = 8;
bool wipedAfterFree(const void* block, size_t bytes)
{
    __asan_unpoison_memory_region(block, bytes);
    bool zero = true;
    // ASan keeps its free-stack id in the first bytes of a freed block.
    for (size_t i = kAsanFreeHeader; i < bytes; ++i)
        zero = zero && static_cast<const unsigned char*>(block)[i] == 0;
    __asan_poison_memory_region(block, bytes);
    return zero;
}
#endif

TEST(KaStringWEx, WipesEveryBlockItGivesUp)
{
#ifndef KA_HAVE_ASAN
    GTEST_SKIP() << "needs AddressSanitizer's quarantine";
#else
    auto* s = new KaStringWEx();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->assign(W(u"secret!")), 0);
    const void* first = s->data;
    size_t firstBytes = s->capacity * 2;
    ASSERT_EQ(s->append(W(u"more secret"), 11), 0);
    EXPECT_NE(s->data, first);
    EXPECT_TRUE(wipedAfterFree(first, firstBytes));

    const char* narrow = s->toNarrow(KA_TEXT_UTF8);
    ASSERT_NE(narrow, nullptr);
    size_t narrowBytes = 3 * s->len + 1;
    ASSERT_NE(s->toNarrow(KA_TEXT_UTF8), nullptr);
    EXPECT_TRUE(wipedAfterFree(narrow, narrowBytes));

    const void* grown = s->data;
    size_t grownBytes = s->capacity * 2;
    s->freeBuffer();
    EXPECT_TRUE(wipedAfterFree(grown, grownBytes));

    ASSERT_EQ(s->assign(W(u"pwd=xyzzy123")), 0);
    ASSERT_EQ(s->quote('\''), 0);
    const void* last = s->data;
    size_t lastBytes = s->capacity * 2;
    const char* lastNarrow = s->toNarrow(KA_TEXT_UTF8);
    size_t lastNarrowBytes = 3 * s->len + 1;
    delete s;
    EXPECT_TRUE(wipedAfterFree(last, lastBytes));
    EXPECT_TRUE(wipedAfterFree(lastNarrow, lastNarrowBytes));
#endif
}

TEST(KaReplaceStringW, EmitOpensTheGapOnce)
{
    KaStringW target;
    ASSERT_EQ(target.assign(W(u"abcdefgh")), 0);
    {
        KaReplaceStringW r(target);
        r.skip(4);  // a 4-unit gap
        ASSERT_EQ(r.emit(W(u"0123456789"), 10), 0);
        EXPECT_GE(target.capacity, 8u + 10 + 512 + 1);
        EXPECT_EQ(r.readPos, 4u + 522);
        EXPECT_EQ(text(r), u"efgh");
        ASSERT_EQ(r.copyThrough(2), 0);
        // Units from the unread input are re-pointed when the gap moves them.
        ASSERT_EQ(r.emit(r.data, 2), 0);
    }
    EXPECT_EQ(text(target), u"0123456789efghgh");
    EXPECT_EQ(target.capacity, target.len + 1);
}

TEST(KaReplaceStringW, EmitQuoted)
{
    ErrorScope scope;
    KaStringW target;
    ASSERT_EQ(target.assign(W(u"?x")), 0);
    {
        KaReplaceStringW r(target);
        r.skip(1);
        ASSERT_EQ(r.emitQuoted(W(u"it's \U0001F600"), 7, '\''), 0);
        const uint16_t cut[] = {'a', 0xD83D};
        EXPECT_EQ(r.emitQuoted(cut, 2, '\''), 1);
    }
    EXPECT_EQ(text(target), u"'it''s \U0001F600'x");
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_CONVERSION_FAILED);
    EXPECT_EQ(katest::sqlstate(scope.at(0)), "01004");
}

TEST(KaReplaceStringW, QuotesItsOwnUnreadText)
{
    KaStringW target;
    ASSERT_EQ(target.assign(W(u"it's \U0001F600")), 0);
    {
        KaReplaceStringW r(target);
        ASSERT_EQ(r.emitQuoted(r.data, r.len, '\''), 0);
        ASSERT_EQ(r.copyThrough(r.len), 0);
    }
    EXPECT_EQ(text(target), u"'it''s \U0001F600'it's \U0001F600");
}

TEST(UpperKeyCache, Utf16Keys)
{
    KaSubStringW key(W(u"select"));
    UpperKeyCacheW cache{&key, {}, key.len, false};
    EXPECT_EQ(upperKeyEqualW(&cache, W(u"SELECTS"), 7), 0);
    EXPECT_FALSE(cache.filled);
    EXPECT_EQ(upperKeyEqualW(&cache, W(u"SELECT"), 6), 1);
    EXPECT_TRUE(cache.filled);
    EXPECT_EQ(upperKeyHashW(&cache), 'S');
    EXPECT_EQ(upperKeyCompareW(&cache, W(u"SELECT"), 6), 0);
    EXPECT_EQ(upperKeyCompareW(&cache, W(u"SET"), 3), -1);

    KaSubStringW longKey(W(u"a_very_long_keyword_indeed_x"));
    UpperKeyCacheW big{&longKey, {}, longKey.len, false};
    EXPECT_EQ(upperKeyHashW(&big), 'A');
    EXPECT_FALSE(big.filled);
    EXPECT_EQ(upperKeyEqualW(&big, W(u"A_VERY_LONG_KEYWORD_INDEED_X"), longKey.len), 1);
    EXPECT_EQ(upperKeyCompareW(&big, W(u"A_VERY_LONG_KEYWORD_INDEED_X"), longKey.len), 0);
    EXPECT_FALSE(big.filled);

    KaSubStringW empty(W(u""));
    UpperKeyCacheW none{&empty, {}, 0, false};
    EXPECT_EQ(upperKeyHashW(&none), 0);
}

TEST(UpperKeyCache, NarrowKeys)
{
    KaSubString key("from", 4);
    UpperKeyCache cache{&key, {}, 4, false};
    EXPECT_EQ(upperKeyEqual(&cache, "FROMX", 5), 0);
    EXPECT_EQ(upperKeyEqual(&cache, "FROM", 4), 1);
    EXPECT_TRUE(cache.filled);
    EXPECT_EQ(upperKeyEqual(&cache, "FRAM", 4), 0);
}

}  // namespace

TEST(KaStringW, DupUtf8GivesAFreshUtf8Copy)
{
    struct Case {
        std::u16string in;
        bool null;
        std::string out;
    } cases[] = {
        {u"", true, ""},
        {u"", false, ""},
        {u"plain", false, "plain"},
        {u"Chlo\u00e9 \u20ac", false, "Chlo\xc3\xa9 \xe2\x82\xac"},
        {u"\U0001F600", false, "\xf0\x9f\x98\x80"},
    };
    for (const Case& c : cases) {
        char* copy = strDupUtf8W(c.null ? nullptr : reinterpret_cast<const uint16_t*>(c.in.c_str()));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::string(copy), c.out);
        ramFree(copy);
    }
}
