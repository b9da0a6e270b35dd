// The hot value conversions allocate nothing: once the converters a value
// needs are open, converting it again into its usual C type takes no heap
// block, whoever would ask for one (the engine, ICU or the C library). The
// whole process's allocations are counted, so this suite is an executable of
// its own.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "support/alloccount.h"
#include "support/cvtfixture.h"
#include "support/diagscope.h"

using katest::DiagScope;

namespace {

struct HotCase {
    const char* name;
    int16_t sqlType;
    int64_t size;
    int16_t scale;
    int16_t cType;
    std::string value;
    int32_t kind;
    int64_t appCodePage;
};

const int32_t kInteger = 1234567;
const double kDouble = 3.14159265358979;

std::vector<HotCase> hotCases()
{
    const std::string utf8 = "Gr\xc3\xbc\xc3\x9f"
                             "e aus K\xc3\xb6ln, 2024 \xe2\x82\xac";
    const std::string timestamp = "2024-03-05 17:45:12.123456789";
    const std::string decimal = "-12345678901234.56789";
    return {
        {"integer to char", SQL_INTEGER, 10, 0, SQL_C_CHAR, cvttest::bytesOf(kInteger), kBaseKindInteger,
         kCodePageUtf8},
        {"integer to slong", SQL_INTEGER, 10, 0, SQL_C_SLONG, cvttest::bytesOf(kInteger), kBaseKindInteger,
         kCodePageUtf8},
        {"double to double", SQL_DOUBLE, 15, 0, SQL_C_DOUBLE, cvttest::bytesOf(kDouble), kBaseKindDouble,
         kCodePageUtf8},
        {"double to char", SQL_DOUBLE, 15, 0, SQL_C_CHAR, cvttest::bytesOf(kDouble), kBaseKindDouble, kCodePageUtf8},
        {"text to char", SQL_VARCHAR, 255, 0, SQL_C_CHAR, utf8, kBaseKindText, kCodePageUtf8},
        {"text to latin1 char", SQL_VARCHAR, 255, 0, SQL_C_CHAR, utf8, kBaseKindText, kCodePageLatin1},
        {"text to wchar", SQL_VARCHAR, 255, 0, SQL_C_WCHAR, utf8, kBaseKindText, kCodePageUtf8},
        {"timestamp text to timestamp", SQL_TYPE_TIMESTAMP, 29, 9, SQL_C_TYPE_TIMESTAMP, timestamp, kBaseKindText,
         kCodePageUtf8},
        {"timestamp text to char", SQL_TYPE_TIMESTAMP, 29, 9, SQL_C_CHAR, timestamp, kBaseKindText, kCodePageUtf8},
        {"decimal text to numeric", SQL_DECIMAL, 38, 5, SQL_C_NUMERIC, decimal, kBaseKindText, kCodePageUtf8},
        {"decimal text to char", SQL_DECIMAL, 38, 5, SQL_C_CHAR, decimal, kBaseKindText, kCodePageUtf8},
        {"decimal text to double", SQL_DECIMAL, 38, 5, SQL_C_DOUBLE, decimal, kBaseKindText, kCodePageUtf8},
    };
}

// One value of column 1 into a reused buffer, as fetch converts it; the
// number of heap blocks taken meanwhile.
uint64_t allocationsOf(cvttest::Stmt& s, const HotCase& c, unsigned char* buffer, int64_t bufferLength,
                       int64_t* indicator)
{
    const uint64_t before = kacount::totals().allocs;
    BaseOutString out(buffer, bufferLength, indicator, nullptr);
    s.resetLongData();
    s.describe(c.sqlType, c.size, c.scale, kCodePageUtf8);
    s.ctx.column = 1;
    s.ctx.cType = c.cType;
    s.ctx.out = &out;
    const int16_t rc = baseConvertColumnValue(s.ctx, c.value.data(), static_cast<int64_t>(c.value.size()), c.kind);
    const uint64_t after = kacount::totals().allocs;
    EXPECT_EQ(rc, 0);
    return after - before;
}

}  // namespace

TEST(HotConversions, AllocateNothingOnceTheirConvertersAreOpen)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    for (const HotCase& c : hotCases()) {
        SCOPED_TRACE(c.name);
        cvttest::Stmt s(c.appCodePage);
        DiagScope d;
        alignas(8) unsigned char buffer[512];
        int64_t indicator = 0;
        // The first value may open converters and size the caches.
        allocationsOf(s, c, buffer, sizeof buffer, &indicator);
        for (int round = 0; round < 3; ++round)
            EXPECT_EQ(allocationsOf(s, c, buffer, sizeof buffer, &indicator), 0u);
        EXPECT_EQ(d.size(), 0u) << cvttest::states(d);
    }
    katest::closeCatalogue();
}

TEST(HotConversions, TheCounterSeesEveryKindOfAllocation)
{
    // The test above is only as good as the counter: a block from malloc,
    // from operator new and from the driver's allocator must each show.
    uint64_t before = kacount::totals().allocs;
    void* volatile block = std::malloc(16);
    EXPECT_GT(kacount::totals().allocs, before);
    std::free(block);
    before = kacount::totals().allocs;
    std::string* volatile s = new std::string(100, 'x');
    EXPECT_GT(kacount::totals().allocs, before);
    delete s;
    before = kacount::totals().allocs;
    void* volatile ram = ramAlloc(32);
    EXPECT_GT(kacount::totals().allocs, before);
    ramFree(ram);
}

namespace {

// Locks taken while one text value of column 1 is converted into buffer.
uint64_t locksOf(cvttest::Stmt& s, const std::string& value, int16_t cType, unsigned char* buffer, int64_t bufferLength)
{
    int64_t indicator = 0;
    BaseOutString out(buffer, bufferLength, &indicator, nullptr);
    s.resetLongData();
    s.describe(SQL_VARCHAR, 255, 0, kCodePageUtf8);
    s.ctx.column = 1;
    s.ctx.cType = cType;
    s.ctx.out = &out;
    const uint64_t before = kacount::totals().locks;
    const int16_t rc = baseConvertColumnValue(s.ctx, value.data(), static_cast<int64_t>(value.size()), kBaseKindText);
    const uint64_t after = kacount::totals().locks;
    EXPECT_EQ(rc, 0);
    return after - before;
}

}  // namespace

TEST(HotConversions, TextTakesNoLockFromPlainAsciiOrWithTheColumnsOwnConverters)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    const std::string ascii = "text-1234";
    const std::string accented = "Gr\xc3\xbc\xc3\x9f"
                                 "e aus K\xc3\xb6ln \xe2\x82\xac";
    struct Case {
        const char* name;
        const std::string* value;
        int16_t cType;
        int64_t appCodePage;
        bool ownConverters;  // a column's lock-free converters, else the shared pool
    } cases[] = {
        {"ascii to latin1 char", &ascii, SQL_C_CHAR, kCodePageLatin1, false},
        {"ascii to wchar", &ascii, SQL_C_WCHAR, kCodePageUtf8, false},
        {"accented to latin1 char", &accented, SQL_C_CHAR, kCodePageLatin1, true},
        {"accented to wchar", &accented, SQL_C_WCHAR, kCodePageUtf8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cvttest::Stmt s(c.appCodePage);
        KaIcuCache own;
        own.lock.init(1, kKaLockPlain);
        if (c.ownConverters)
            s.ctx.cache = &own;
        DiagScope d;
        alignas(8) unsigned char buffer[256];
        // The first value may open the converters.
        locksOf(s, *c.value, c.cType, buffer, sizeof buffer);
        for (int round = 0; round < 3; ++round)
            EXPECT_EQ(locksOf(s, *c.value, c.cType, buffer, sizeof buffer), 0u);
        EXPECT_EQ(d.size(), 0u) << cvttest::states(d);
    }
    // The counter sees the shared pool's lock: text that needs a converter
    // takes it there.
    cvttest::Stmt shared(kCodePageLatin1);
    DiagScope d;
    alignas(8) unsigned char buffer[256];
    locksOf(shared, accented, SQL_C_CHAR, buffer, sizeof buffer);
    EXPECT_GT(locksOf(shared, accented, SQL_C_CHAR, buffer, sizeof buffer), 0u);
    katest::closeCatalogue();
}
