// The converter caches against real ICU converters: one converter per code
// page, the pool of idle converters, the substitution modes, the mapping of
// failures to diagnostics, and use from many threads at once.
#include "foundation/icucache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/codepage.h"
#include "foundation/icuconv.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/guarded.h"

namespace {

constexpr int64_t kMissing = 2000005039;  // a private converter this ICU build lacks

class IcuCacheTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;
    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override { katest::closeCatalogue(); }

    KaCharConv* newCharConv(int32_t mode)
    {
        auto* c = new KaCharConv;
        EXPECT_NE(nullptr, c);
        EXPECT_EQ(0, c->init(31));
        c->setMode(mode);
        return c;
    }
};

TEST_F(IcuCacheTest, DiagnosticsOfIcuStatuses)
{
    struct Case {
        int32_t status;
        int32_t mode;
        int result;
        uint16_t message;
        bool warning;
        const char* sqlstate;
    };
    const Case cases[] = {
        {U_BUFFER_OVERFLOW_ERROR, 0, 0, MSG_CONVERSION_TRUNCATED, true, "01004"},
        {U_ILLEGAL_CHAR_FOUND, 0, 0, MSG_CONVERSION_CHARACTER_REPLACED, true, "01000"},
        {U_ILLEGAL_CHAR_FOUND, 2, 0, MSG_CONVERSION_CHARACTER_REPLACED, true, "01000"},
        {U_ILLEGAL_CHAR_FOUND, 1, 1, MSG_CONVERSION_FAILED, false, "HY000"},
        {U_FILE_ACCESS_ERROR, 0, 1, MSG_CONVERTER_NOT_AVAILABLE, false, "HY000"},
        {U_INVALID_TABLE_FORMAT, 0, 1, MSG_CONVERTER_TABLE_INVALID, false, "HY000"},
        {U_INVALID_TABLE_FILE, 0, 1, MSG_CONVERTER_TABLE_INVALID, false, "HY000"},
        {U_INVALID_CHAR_FOUND, 0, 1, MSG_CONVERSION_FAILED, false, "HY000"},
    };
    for (const Case& c : cases) {
        errors.list.clear();
        EXPECT_EQ(c.result, icuErrorToDiag(c.status, c.mode)) << c.status;
        ASSERT_EQ(1u, errors.size()) << c.status;
        EXPECT_EQ(c.message, errors.native(0)) << c.status;
        EXPECT_EQ(c.warning, errors.at(0)->isWarning()) << c.status;
        EXPECT_EQ(c.sqlstate, katest::sqlstate(errors.at(0))) << c.status;
    }
    errors.list.clear();
    EXPECT_EQ(0, icuErrorToDiag(U_ZERO_ERROR));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(IcuCacheTest, DiagnosticsOfConversionResults)
{
    struct Case {
        int32_t result;
        int32_t mode;
        int rc;
        uint16_t message;
    };
    const Case cases[] = {
        {kConvTruncated, 0, 0, MSG_CONVERSION_TRUNCATED},   {kConvReplaced, 2, 0, MSG_CONVERSION_CHARACTER_REPLACED},
        {kConvReplaced, 1, 1, MSG_CONVERSION_FAILED},       {kConvFailed, 0, 1, MSG_CONVERSION_FAILED},
        {kConvBadTable, 0, 1, MSG_CONVERTER_TABLE_INVALID}, {kConvNoData, 0, 1, MSG_CONVERTER_NOT_AVAILABLE},
    };
    for (const Case& c : cases) {
        errors.list.clear();
        EXPECT_EQ(c.rc, convResultToDiag(c.result, c.mode)) << c.result;
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(c.message, errors.native(0)) << c.result;
    }
    errors.list.clear();
    EXPECT_EQ(0, convResultToDiag(kConvDone));
    EXPECT_EQ(0u, errors.size());
}

// --- KaCharConv ----------------------------------------------------------------

TEST_F(IcuCacheTest, OneConverterPerCodePage)
{
    KaCharConv* cv = newCharConv(0);
    UConverter* a;
    UConverter* b;
    UConverter* c;
    UConverter* again;
    ASSERT_EQ(0, cv->getConverter(kCodePageLatin1, &a));
    ASSERT_EQ(0, cv->getConverter(kCodePageLatin1, &again));
    EXPECT_EQ(a, again);
    ASSERT_EQ(0, cv->getConverter(2252, &b));
    ASSERT_EQ(0, cv->getConverter(kCodePageUtf8, &c));
    EXPECT_NE(a, b);
    ASSERT_EQ(0, cv->getConverter(kCodePageLatin1, &again));
    EXPECT_EQ(a, again);
    ASSERT_EQ(0, cv->getConverter(2252, &again));
    EXPECT_EQ(b, again);
    EXPECT_EQ(3u, cv->byNumber->count);

    UConverter* byName;
    UConverter* byNameAgain;
    ASSERT_EQ(0, cv->getConverterByName("ISO-8859-2", 10, &byName));
    ASSERT_EQ(0, cv->getConverterByName("ISO-8859-2", 10, &byNameAgain));
    EXPECT_EQ(byName, byNameAgain);
    EXPECT_EQ(0u, errors.size());
    delete cv;
}

TEST_F(IcuCacheTest, UnknownNumberOpensDefaultAndMissingDataFails)
{
    KaCharConv* cv = newCharConv(0);
    UConverter* c;
    EXPECT_EQ(0, cv->getConverter(0, &c));
    EXPECT_NE(nullptr, c);
    EXPECT_EQ(0, cv->getConverter(123456, &c));
    EXPECT_EQ(0u, errors.size());

    EXPECT_EQ(1, cv->getConverter(kMissing, &c));
    EXPECT_EQ(nullptr, c);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_CONVERTER_NOT_AVAILABLE, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("2000005039"));

    errors.list.clear();
    EXPECT_EQ(1, cv->getConverterByName("no-such-converter", 17, &c));
    ASSERT_EQ(1u, errors.size());
    EXPECT_NE(std::string::npos, errors.text(0).find("no-such-converter"));
    delete cv;
}

struct ModeCase {
    int32_t mode;
    int rc;
    size_t diagnostics;
    uint16_t message;
};

TEST_F(IcuCacheTest, ReportModesDecideOnCharactersTheTargetLacks)
{
    const ModeCase cases[] = {
        {kConvModeSubstitute, 0, 0, 0},
        {kConvModeFail, 1, 1, MSG_CONVERSION_FAILED},
        {kConvModeReport, 0, 1, MSG_CONVERSION_CHARACTER_REPLACED},
    };
    const char euro[] = "a\xe2\x82\xac"
                        "b";  // a, EURO SIGN, b in UTF-8
    for (const ModeCase& m : cases) {
        errors.list.clear();
        KaCharConv* cv = newCharConv(m.mode);
        katest::Guarded<char> out(16);
        int64_t written = -1;
        int64_t consumed = -1;
        EXPECT_EQ(m.rc, cv->fromUTF8(out.data(), 16, euro, -1, &written, &consumed, kCodePageLatin1)) << m.mode;
        EXPECT_TRUE(out.guardsIntact());
        ASSERT_EQ(m.diagnostics, errors.size()) << m.mode;
        if (m.diagnostics) {
            EXPECT_EQ(m.message, errors.native(0));
        }
        if (m.rc == 0) {
            EXPECT_EQ(3, written);
            EXPECT_EQ(std::string("a\x1a"
                                  "b"),
                      out.str(3));
        }
        delete cv;
    }
}

TEST_F(IcuCacheTest, IllegalInputUnderFailingModeIsAFailure)
{
    const uint16_t lone[] = {u'a', 0xD800, u'b', 0};
    for (int32_t mode : {kConvModeFail, kConvModeReport}) {
        errors.list.clear();
        KaCharConv* cv = newCharConv(mode);
        char out[16];
        int64_t length = 0;
        int rc = cv->fromUnicode(out, sizeof out, lone, 3, &length, kCodePageLatin1, 0);
        if (mode == kConvModeFail) {
            EXPECT_EQ(1, rc);
            ASSERT_GE(errors.size(), 1u);
            EXPECT_EQ(MSG_CONVERSION_FAILED, errors.native(errors.size() - 1));
            EXPECT_FALSE(errors.at(errors.size() - 1)->isWarning());
        } else {
            EXPECT_EQ(0, rc);
            ASSERT_EQ(1u, errors.size());
            EXPECT_EQ(MSG_CONVERSION_CHARACTER_REPLACED, errors.native(0));
        }
        delete cv;
    }
}

TEST_F(IcuCacheTest, Utf8IntoSmallerBufferIsCutWithoutTerminator)
{
    KaCharConv* cv = newCharConv(0);
    katest::Guarded<char> out(4);
    int64_t written = 0;
    int64_t consumed = 0;
    EXPECT_EQ(0, cv->toUTF8(out.data(), 4, "abcdefg", -1, &written, &consumed, kCodePageUtf8));
    EXPECT_EQ(4, written);
    EXPECT_EQ(4, consumed);
    EXPECT_EQ("abcd", out.str(4));
    EXPECT_TRUE(out.guardsIntact());
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_CONVERSION_TRUNCATED, errors.native(0));
    EXPECT_TRUE(errors.at(0)->isWarning());

    errors.list.clear();
    katest::Guarded<char> roomy(6);
    EXPECT_EQ(0, cv->toUTF8(roomy.data(), 6, "ab", 2, &written, &consumed, kCodePageUtf8));
    EXPECT_EQ(std::string("ab\0", 3), roomy.str(3));
    EXPECT_TRUE(roomy.guardsIntact());
    EXPECT_EQ(0u, errors.size());
    delete cv;
}

TEST_F(IcuCacheTest, Utf16ToUtf8CountsWholeCharactersConsumed)
{
    KaCharConv* cv = newCharConv(0);
    // "a", U+00E9 (2 bytes), U+1F600 (4 bytes), "b"
    const uint16_t text[] = {u'a', 0x00E9, 0xD83D, 0xDE00, u'b'};
    katest::Guarded<char> out(5);
    int64_t written = 0;
    int64_t consumed = 0;
    EXPECT_EQ(0, cv->toUTF8(out.data(), 5, reinterpret_cast<const char*>(text), sizeof text, &written, &consumed,
                            kCodePageUtf16LE));
    EXPECT_EQ(8, written);   // the full length
    EXPECT_EQ(4, consumed);  // "a" and U+00E9 fit whole
    EXPECT_TRUE(out.guardsIntact());

    errors.list.clear();
    char big[16];
    EXPECT_EQ(0, cv->toUTF8(big, sizeof big, reinterpret_cast<const char*>(text), sizeof text, &written, &consumed,
                            kCodePageUtf16LE));
    EXPECT_EQ(8, written);
    EXPECT_EQ(10, consumed);
    EXPECT_EQ("a\xc3\xa9\xf0\x9f\x98\x80"
              "b",
              std::string(big));

    // A terminated UTF-16 source is measured in units, not up to its first
    // zero byte.
    const uint16_t terminated[] = {u'a', 0x00E9, u'b', 0};
    katest::Guarded<char> measured(16);
    EXPECT_EQ(0, cv->toUTF8(measured.data(), 16, reinterpret_cast<const char*>(terminated), -1, &written, &consumed,
                            kCodePageUtf16LE));
    EXPECT_EQ(4, written);
    EXPECT_EQ(6, consumed);
    EXPECT_EQ("a\xc3\xa9"
              "b",
              std::string(measured.data()));
    EXPECT_TRUE(measured.guardsIntact());
    delete cv;
}

TEST_F(IcuCacheTest, ConversionsBetweenCodePages)
{
    KaCharConv* cv = newCharConv(0);
    char out[32];
    int64_t written = 0;
    int64_t consumed = 0;
    ASSERT_EQ(0, cv->toUTF8(out, sizeof out, "caf\xe9", 4, &written, &consumed, kCodePageLatin1));
    EXPECT_EQ("caf\xc3\xa9", std::string(out, written));
    ASSERT_EQ(0, cv->convert(out, sizeof out, "caf\xe9", 4, &written, &consumed, kCodePageLatin1, 2252));
    EXPECT_EQ("caf\xe9", std::string(out, written));
    // Same code page on both sides.
    ASSERT_EQ(0, cv->convert(out, sizeof out, "caf\xe9", 4, &written, &consumed, kCodePageLatin1, kCodePageLatin1));
    EXPECT_EQ("caf\xe9", std::string(out, written));
    uint16_t wide[8];
    int64_t units = 0;
    ASSERT_EQ(0, cv->toUnicode(wide, 8, "caf\xe9", 4, &units, kCodePageLatin1, 0));
    EXPECT_EQ(4, units);
    EXPECT_EQ(0x00E9, wide[3]);
    int64_t length = 0;
    ASSERT_EQ(0, cv->fromUnicode(out, sizeof out, wide, 4, &length, kCodePageUtf8, 0));
    EXPECT_EQ("caf\xc3\xa9", std::string(out, length));
    EXPECT_EQ(1, cv->minCharSize(kCodePageUtf8));
    EXPECT_EQ(4, cv->minCharSize(kCodePageUtf32LE));
    uint8_t lead = 9;
    EXPECT_EQ(0, cv->leadByteInfo(kCodePageLatin1, 'a', &lead));
    EXPECT_EQ(0u, errors.size());
    delete cv;
}

TEST_F(IcuCacheTest, ConversionByConverterNames)
{
    KaCharConv* cv = newCharConv(0);
    struct Case {
        const char* from;
        const char* to;
        const char* input;
        int rc;
        const char* output;
        uint16_t message;
    } cases[] = {
        {"ISO-8859-1", "UTF-8", "caf\xe9", 0, "caf\xc3\xa9", 0},
        // One name on both sides: a private converter serves as the target.
        {"ISO-8859-1", "ISO-8859-1", "caf\xe9", 0, "caf\xe9", 0},
        {"no-such-converter", "UTF-8", "x", 1, "", MSG_CONVERTER_NOT_AVAILABLE},
        {"UTF-8", "no-such-converter", "x", 1, "", MSG_CONVERTER_NOT_AVAILABLE},
        {nullptr, "UTF-8", "x", 1, "", MSG_CONVERSION_FAILED},
    };
    for (const Case& c : cases) {
        errors.list.clear();
        katest::Guarded<char> out(16);
        int64_t written = 0;
        int64_t consumed = 0;
        EXPECT_EQ(c.rc, cv->convertByNames(out.data(), 16, c.input, -1, &written, &consumed, c.from, c.to))
            << (c.from ? c.from : "null") << " " << c.to;
        EXPECT_TRUE(out.guardsIntact());
        if (c.rc == 0) {
            EXPECT_EQ(c.output, out.str(static_cast<size_t>(written)));
            EXPECT_EQ(static_cast<int64_t>(strlen(c.input)), consumed);
            EXPECT_EQ(0u, errors.size());
        } else {
            ASSERT_GE(errors.size(), 1u);
            EXPECT_EQ(c.message, errors.native(0));
        }
    }
    delete cv;
}

TEST_F(IcuCacheTest, CharConvIsSafeAcrossThreads)
{
    KaCharConv* cv = newCharConv(kConvModeReport);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            katest::ErrorScope local;
            const int64_t pages[] = {kCodePageLatin1, 2252, 2250, kCodePageUtf8};
            for (int i = 0; i < 500; ++i) {
                int64_t cp = pages[(i + t) % 4];
                uint16_t wide[16];
                int64_t units = 0;
                char out[32];
                int64_t length = 0;
                if (cv->toUnicode(wide, 16, "hello", 5, &units, cp, 0) != 0 ||
                    cv->fromUnicode(out, sizeof out, wide, units, &length, cp, 0) != 0 ||
                    std::string(out, length) != "hello")
                    ++wrong;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(0, wrong.load());
    delete cv;
}

// --- KaIcuCache ----------------------------------------------------------------

TEST_F(IcuCacheTest, PoolKeepsThreeIdleConvertersPerCodePage)
{
    KaIcuCache pool;
    KaConvCallbackContext* ctx[4];
    UConverter* c[4];
    for (int i = 0; i < 4; ++i) {
        c[i] = pool.acquire(kCodePageLatin1, &ctx[i]);
        ASSERT_NE(nullptr, c[i]);
        EXPECT_EQ(nullptr, ctx[i]);  // mode 0: no callback
    }
    EXPECT_EQ(1u, pool.count);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, pool.release(kCodePageLatin1, c[i], ctx[i]));
    EXPECT_EQ(3u, pool.entries[0].idle);
    KaConvCallbackContext* again;
    EXPECT_EQ(c[2], pool.acquire(kCodePageLatin1, &again));
    pool.release(kCodePageLatin1, c[2], again);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(IcuCacheTest, NinthCodePageIsServedOutsideThePool)
{
    KaIcuCache pool;
    const int64_t pages[] = {3, 4, 5, 6, 7, 8, 9, 10};
    for (int64_t cp : pages) {
        KaConvCallbackContext* ctx;
        UConverter* c = pool.acquire(cp, &ctx);
        ASSERT_NE(nullptr, c);
        pool.release(cp, c, ctx);
    }
    EXPECT_EQ(8u, pool.count);
    KaConvCallbackContext* ctx;
    UConverter* c = pool.acquire(2252, &ctx);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(8u, pool.count);
    pool.release(2252, c, ctx);
    for (size_t i = 0; i < pool.count; ++i)
        EXPECT_NE(2252, pool.entries[i].number);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(IcuCacheTest, CharSizesWithAndWithoutEntries)
{
    KaIcuCache pool;
    int64_t maxBytes = 0;
    int64_t minBytes = 0;
    pool.getCharSizes(kCodePageUtf16LE, &maxBytes, &minBytes);
    EXPECT_EQ(2, maxBytes);
    EXPECT_EQ(2, minBytes);
    EXPECT_EQ(0u, pool.count);

    pool.getCharSizes(kMissing, &maxBytes, &minBytes);
    EXPECT_EQ(2, maxBytes);
    EXPECT_EQ(1, minBytes);
    EXPECT_EQ(0u, pool.count);

    pool.getCharSizes(kCodePageUtf8, &maxBytes, nullptr);
    EXPECT_EQ(3, maxBytes);
    EXPECT_EQ(1u, pool.count);
    EXPECT_EQ(1u, pool.entries[0].idle);

    const int64_t pages[] = {3, 4, 5, 6, 7, 8, 9};
    for (int64_t cp : pages)
        pool.getCharSizes(cp, nullptr, nullptr);
    EXPECT_EQ(8u, pool.count);
    pool.getCharSizes(kCodePageUtf32LE, nullptr, &minBytes);
    EXPECT_EQ(4, minBytes);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(IcuCacheTest, MissingConverterIsReportedByNumber)
{
    KaIcuCache pool;
    KaConvCallbackContext* ctx = reinterpret_cast<KaConvCallbackContext*>(1);
    EXPECT_EQ(nullptr, pool.acquire(kMissing, &ctx));
    EXPECT_EQ(nullptr, ctx);
    EXPECT_EQ(0u, pool.count);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_CONVERTER_NOT_AVAILABLE, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("2000005039"));

    errors.list.clear();
    EXPECT_EQ(nullptr, pool.acquireQuiet(kMissing, &ctx));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(IcuCacheTest, ModeChangeResetsThePoolAndGivesCallbacks)
{
    KaIcuCache pool;
    KaConvCallbackContext* ctx;
    UConverter* before = pool.acquire(kCodePageLatin1, &ctx);
    ASSERT_NE(nullptr, before);
    pool.setMode(kConvModeReport);
    // Taken under mode 0, so it is closed rather than pooled.
    pool.release(kCodePageLatin1, before, ctx);
    EXPECT_EQ(0u, pool.entries[0].idle);

    UConverter* c = pool.acquire(kCodePageLatin1, &ctx);
    ASSERT_NE(nullptr, c);
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(kConvModeReport, ctx->mode);
    const uint16_t euro[] = {u'x', 0x20AC, 0};
    char out[8];
    UErrorCode st = U_ZERO_ERROR;
    ucnv_fromUChars(c, out, sizeof out, reinterpret_cast<const UChar*>(euro), 2, &st);
    EXPECT_FALSE(U_FAILURE(st));
    EXPECT_EQ(1, ctx->substituted);
    pool.release(kCodePageLatin1, c, ctx);
    EXPECT_EQ(1u, pool.entries[0].idle);
    // The substitution mark does not travel to the next user.
    UConverter* next = pool.acquire(kCodePageLatin1, &ctx);
    EXPECT_EQ(c, next);
    EXPECT_EQ(0, ctx->substituted);
    pool.release(kCodePageLatin1, next, ctx);
}

TEST_F(IcuCacheTest, SharedPoolUnderManyThreads)
{
    KaIcuCache pool;
    pool.setMode(kConvModeReport);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const int64_t pages[] = {kCodePageLatin1, 2252, kCodePageUtf8, 5, 6, 7, 8, 9, 10, 11};
            for (int i = 0; i < 400; ++i) {
                int64_t cp = pages[(i * 7 + t) % 10];
                KaConvCallbackContext* ctx;
                UConverter* c = pool.acquireQuiet(cp, &ctx);
                if (c == nullptr) {
                    ++wrong;
                    continue;
                }
                UChar wide[8];
                UErrorCode st = U_ZERO_ERROR;
                int32_t n = ucnv_toUChars(c, wide, 8, "ok", 2, &st);
                if (U_FAILURE(st) || n != 2 || wide[0] != u'o')
                    ++wrong;
                int64_t maxBytes = 0;
                pool.getCharSizes(cp, &maxBytes, nullptr);
                if (maxBytes < 1)
                    ++wrong;
                pool.release(cp, c, ctx);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(8u, pool.count);
    for (size_t i = 0; i < pool.count; ++i)
        EXPECT_LE(pool.entries[i].idle, 3u);
}

// --- Small caches ----------------------------------------------------------------

TEST_F(IcuCacheTest, TableCacheGrowsAndKeepsEveryTable)
{
    KaPtrTableCache cache;
    for (int64_t k = 0; k < 17; ++k) {
        auto* t = static_cast<uint8_t*>(ramAlloc(kLeadTableBytes));
        ASSERT_NE(nullptr, t);
        t[0] = static_cast<uint8_t>(k);
        ASSERT_EQ(0, cache.add(k * 10, t));
    }
    EXPECT_EQ(32u, cache.capacity);
    for (int64_t k = 0; k < 17; ++k) {
        uint8_t* t = cache.find(k * 10);
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(k, t[0]);
    }
    EXPECT_EQ(nullptr, cache.find(5));
}

TEST_F(IcuCacheTest, UseCounter)
{
    uint16_t before = useCountChange(1);
    EXPECT_EQ(before + 1, useCountChange(1));
    EXPECT_EQ(before + 1, useCountChange(0));
    EXPECT_EQ(before, useCountChange(0));
}

}  // namespace
