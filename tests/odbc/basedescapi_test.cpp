// The descriptor functions on the three kinds of a test statement's
// descriptors (application, IPD, IRD): which fields each reads and sets,
// truncation of text fields, record numbers past the count, the consistency
// checks, and SQLCopyDesc.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <utility>
#include <vector>

#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"

namespace {

using katest::W;

class DescFunctions : public katest::StmtFixture {
protected:
    void SetUp() override
    {
        StmtFixture::SetUp();
        ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
        ASSERT_EQ(stmt->currentArd->setRecordCount(1), 0);
        ASSERT_EQ(stmt->ipd->setRecordCount(1), 0);
    }
    BaseDescriptor* byKind(char kind)
    {
        return kind == 'A'   ? static_cast<BaseDescriptor*>(stmt->currentArd)
               : kind == 'P' ? static_cast<BaseDescriptor*>(stmt->ipd)
                             : static_cast<BaseDescriptor*>(stmt->ird);
    }
    static uint16_t stateOf(BaseDescriptor* d) { return d->diagnostics.recordAt(0)->sqlstateMsg; }
    // body(descriptor) on the statement's implicit ARD and APD and on a
    // descriptor of the application's own.
    template <class Body>
    void eachApplicationDescriptor(Body body)
    {
        auto* own = new BaseAXDWR(conn, 0);
        const std::pair<const char*, BaseDescriptor*> descriptors[] = {
            {"ARD", stmt->currentArd}, {"APD", stmt->implicitApd}, {"explicit", own}};
        for (const auto& [name, d] : descriptors) {
            SCOPED_TRACE(name);
            body(d);
        }
        delete own;
    }
};

// Where a field may be read and set: "APR" kinds that read it, kinds that
// set it; a kind missing from set gives HY091, or HY016 on the IRD.
struct FieldCase {
    int16_t field;
    int16_t record;
    const char* reads;
    const char* sets;
};

bool has(const char* kinds, char k)
{
    return std::strchr(kinds, k) != nullptr;
}

}  // namespace

TEST_F(DescFunctions, EachKindReadsAndSetsItsOwnFields)
{
    static SQLUSMALLINT statuses[4];
    const FieldCase cases[] = {
        {SQL_DESC_CONCISE_TYPE, 1, "APR", "AP"},
        {SQL_DESC_TYPE, 1, "APR", "AP"},
        {SQL_DESC_OCTET_LENGTH, 1, "APR", "AP"},
        {SQL_DESC_NULLABLE, 1, "APR", "AP"},
        {SQL_DESC_DATA_PTR, 1, "A", "AP"},  // the IPD only checks it against the type
        {SQL_DESC_INDICATOR_PTR, 1, "A", "AP"},
        {SQL_DESC_OCTET_LENGTH_PTR, 1, "A", "A"},
        {SQL_DESC_DISPLAY_SIZE, 1, "R", ""},
        {SQL_DESC_SEARCHABLE, 1, "R", ""},
        {SQL_DESC_UNSIGNED, 1, "PR", ""},
        {SQL_DESC_PARAMETER_TYPE, 1, "P", "P"},
        {SQL_DESC_UNNAMED, 1, "PR", "P"},
        {SQL_DESC_ARRAY_SIZE, 0, "A", "A"},
        {SQL_DESC_BIND_TYPE, 0, "A", "A"},
        {SQL_DESC_BIND_OFFSET_PTR, 0, "A", "A"},
        {SQL_DESC_ROWS_PROCESSED_PTR, 0, "PR", "PR"},
        {SQL_DESC_ARRAY_STATUS_PTR, 0, "APR", "APR"},
        {SQL_DESC_ALLOC_TYPE, 0, "APR", ""},
    };
    for (const FieldCase& c : cases) {
        for (char kind : {'A', 'P', 'R'}) {
            SCOPED_TRACE(testing::Message() << "field " << c.field << " on " << kind);
            BaseDescriptor* d = byKind(kind);
            SQLLEN value = 0;
            int32_t length = 0;
            const int16_t got = d->getDescField(c.record, c.field, &value, sizeof value, &length);
            EXPECT_EQ(got, has(c.reads, kind) ? SQL_SUCCESS : SQL_ERROR);
            if (got == SQL_ERROR) {
                EXPECT_EQ(stateOf(d), kBaseIdxBadDescField);
            }
            // The integer fields take a small value, the pointer ones a real pointer.
            void* setTo = c.field == SQL_DESC_DATA_PTR || c.field == SQL_DESC_INDICATOR_PTR ||
                                  c.field == SQL_DESC_OCTET_LENGTH_PTR || c.field == SQL_DESC_ARRAY_STATUS_PTR ||
                                  c.field == SQL_DESC_ROWS_PROCESSED_PTR || c.field == SQL_DESC_BIND_OFFSET_PTR
                              ? static_cast<void*>(statuses)
                          : c.field == SQL_DESC_CONCISE_TYPE || c.field == SQL_DESC_TYPE
                              ? reinterpret_cast<void*>(intptr_t{SQL_INTEGER})
                              : reinterpret_cast<void*>(intptr_t{1});
            const int16_t set = d->setDescField(c.record, c.field, setTo, 0);
            EXPECT_EQ(set, has(c.sets, kind) ? SQL_SUCCESS : SQL_ERROR);
            if (set == SQL_ERROR) {
                const uint16_t want = kind == 'R' ? uint16_t{MSG_SQLSTATE_CANNOT_MODIFY_IRD} : kBaseIdxBadDescField;
                EXPECT_EQ(stateOf(d), want);
            }
        }
    }
}

TEST_F(DescFunctions, TextFieldsAreCutWithA01004AndTheirFullLength)
{
    BaseDescriptor* ipd = stmt->ipd;
    const char16_t name[] = u"hello";
    ASSERT_EQ(ipd->setDescField(1, SQL_DESC_NAME, const_cast<char16_t*>(name), SQL_NTS), SQL_SUCCESS);
    struct {
        int32_t bufferBytes;
        int16_t rc;
        const char16_t* text;  // null: nothing written
    } cases[] = {
        {12, SQL_SUCCESS, u"hello"},     {10, SQL_SUCCESS_WITH_INFO, u"hell"},
        {3, SQL_SUCCESS_WITH_INFO, u""}, {1, SQL_SUCCESS_WITH_INFO, nullptr},
        {0, SQL_SUCCESS, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bufferBytes);
        katest::Guarded<uint8_t> buffer(static_cast<size_t>(c.bufferBytes));
        int32_t length = -1;
        EXPECT_EQ(ipd->getDescField(1, SQL_DESC_NAME, buffer.data(), c.bufferBytes, &length), c.rc);
        EXPECT_EQ(length, 10);
        EXPECT_TRUE(buffer.guardsIntact());
        if (c.text == nullptr) {
            EXPECT_TRUE(buffer.untouched());
        } else {
            const std::u16string want(c.text);
            EXPECT_EQ(std::memcmp(buffer.data(), want.c_str(), (want.size() + 1) * 2), 0);
        }
        if (c.rc == SQL_SUCCESS_WITH_INFO) {
            EXPECT_EQ(stateOf(ipd), kBaseIdxTruncated);
        }
    }
    // A length that is neither SQL_NTS nor a count is refused.
    EXPECT_EQ(ipd->setDescField(1, SQL_DESC_NAME, const_cast<char16_t*>(name), -7), SQL_ERROR);
    EXPECT_EQ(stateOf(ipd), kBaseIdxBadLength);
    EXPECT_EQ(ipd->setDescField(1, SQL_DESC_NAME, nullptr, SQL_NTS), SQL_ERROR);
    // An empty name gives a buffer with just the terminator.
    ASSERT_EQ(ipd->setDescField(1, SQL_DESC_NAME, const_cast<char16_t*>(name), 0), SQL_SUCCESS);
    int32_t length = -1;
    EXPECT_EQ(ipd->getDescField(1, SQL_DESC_NAME, nullptr, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 0);
}

TEST_F(DescFunctions, RecordsPastTheCount)
{
    BaseDescriptor* ird = stmt->ird;
    SQLSMALLINT type = 0;
    EXPECT_EQ(ird->getDescField(6, SQL_DESC_CONCISE_TYPE, &type, 0, nullptr), SQL_NO_DATA);
    EXPECT_EQ(ird->diagnostics.recordCount(), 0u);
    EXPECT_EQ(ird->getDescRec(6, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(stateOf(ird), kBaseIdxBadDescIndex);
    EXPECT_EQ(ird->getDescField(-1, SQL_DESC_CONCISE_TYPE, &type, 0, nullptr), SQL_ERROR);

    // A header field on a record: the records are made, then refused.
    BaseDescriptor* ard = stmt->currentArd;
    EXPECT_EQ(ard->setDescField(5, SQL_DESC_ARRAY_SIZE, reinterpret_cast<void*>(intptr_t{3}), 0), SQL_ERROR);
    EXPECT_EQ(stateOf(ard), kBaseIdxBadDescIndex);
    EXPECT_EQ(ard->count(), 1);
    EXPECT_EQ(ard->setDescField(5, SQL_DESC_CONCISE_TYPE, reinterpret_cast<void*>(intptr_t{SQL_C_LONG}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(ard->count(), 5);
    EXPECT_EQ(ard->setDescField(0, SQL_DESC_COUNT, reinterpret_cast<void*>(intptr_t{-1}), 0), SQL_ERROR);
}

TEST_F(DescFunctions, TheIrdDescribesItsResult)
{
    BaseDescriptor* ird = stmt->ird;
    uint16_t name[8] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLLEN length = 0;
    ASSERT_EQ(ird->getDescRec(2, name, 8, &nameLength, &type, nullptr, &length, nullptr, nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(katest::u16(name), u"name");
    EXPECT_EQ(nameLength, 4);
    EXPECT_EQ(type, SQL_VARCHAR);
    EXPECT_EQ(length, 20);
    // A name cut to the buffer in characters.
    EXPECT_EQ(ird->getDescRec(2, name, 3, &nameLength, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(katest::u16(name), u"na");
    EXPECT_EQ(nameLength, 4);
}

TEST_F(DescFunctions, VerboseAndConciseTypesFollowEachOther)
{
    BaseDescriptor* ard = stmt->currentArd;
    ASSERT_EQ(ard->setDescField(1, SQL_DESC_DATETIME_INTERVAL_CODE, reinterpret_cast<void*>(intptr_t{10}), 0),
              SQL_SUCCESS);
    ASSERT_EQ(ard->setDescField(1, SQL_DESC_TYPE, reinterpret_cast<void*>(intptr_t{SQL_INTERVAL}), 0), SQL_SUCCESS);
    SQLSMALLINT value = 0;
    ASSERT_EQ(ard->getDescField(1, SQL_DESC_CONCISE_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 110);
    ASSERT_EQ(ard->setDescField(1, SQL_DESC_CONCISE_TYPE, reinterpret_cast<void*>(intptr_t{SQL_C_TYPE_TIMESTAMP}), 0),
              SQL_SUCCESS);
    ASSERT_EQ(ard->getDescField(1, SQL_DESC_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, SQL_DATETIME);
    ASSERT_EQ(ard->getDescField(1, SQL_DESC_DATETIME_INTERVAL_CODE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, SQL_CODE_TIMESTAMP);
}

TEST_F(DescFunctions, ImplementationDataPointersAreCheckedNotKept)
{
    BaseDescriptor* ipd = stmt->ipd;
    int32_t data = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(ipd->setRecordCount(2), 0);
    EXPECT_EQ(ipd->setDescField(2, SQL_DESC_DATA_PTR, &data, 0), SQL_ERROR);
    EXPECT_EQ(stateOf(ipd), MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
    ASSERT_EQ(ipd->setDescField(2, SQL_DESC_CONCISE_TYPE, reinterpret_cast<void*>(intptr_t{SQL_INTEGER}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(ipd->setDescField(2, SQL_DESC_DATA_PTR, &data, 0), SQL_SUCCESS);
    EXPECT_EQ(ipd->record(2)->dataPtr, nullptr);
    // SQLSetDescRec: the application's buffers stay the application's.
    ASSERT_EQ(ipd->setDescRec(2, SQL_INTEGER, 0, 4, 10, 0, &data, &ind, &ind), SQL_SUCCESS);
    EXPECT_EQ(ipd->record(2)->dataPtr, nullptr);
    EXPECT_EQ(stmt->ird->setDescRec(1, SQL_INTEGER, 0, 4, 10, 0, nullptr, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(stateOf(stmt->ird), MSG_SQLSTATE_CANNOT_MODIFY_IRD);

    auto* explicitDesc = new BaseAXDWR(conn, 0);
    ASSERT_EQ(explicitDesc->setDescRec(1, SQL_C_LONG, 0, 4, 0, 0, &data, &ind, &ind), SQL_SUCCESS);
    EXPECT_EQ(explicitDesc->record(1)->dataPtr, &data);
    delete explicitDesc;  // leaves the application's buffers alone
    EXPECT_EQ(stmt->implicitApd->setDescRec(0, SQL_C_LONG, 0, 4, 0, 0, &data, &ind, &ind), SQL_ERROR);
}

TEST_F(DescFunctions, CopyDescTakesEveryKindButIntoAnIrd)
{
    auto* target = new BaseAXDWR(conn, 0);
    ASSERT_EQ(target->copyDesc(stmt->ird), SQL_SUCCESS);
    EXPECT_EQ(target->count(), 5);
    EXPECT_EQ(target->record(1)->conciseType, SQL_INTEGER);
    EXPECT_EQ(stmt->ird->copyDesc(target), SQL_ERROR);
    EXPECT_EQ(stateOf(stmt->ird), MSG_SQLSTATE_CANNOT_MODIFY_IRD);

    // The IRD of a statement with nothing prepared has nothing to give.
    auto* idle = make<katest::TestStatement>();
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(target->copyDesc(idle->ird), SQL_ERROR);
    EXPECT_EQ(stateOf(target), MSG_SQLSTATE_STATEMENT_NOT_PREPARED);
    EXPECT_EQ(idle->freeStmt(SQL_DROP), SQL_SUCCESS);
    delete target;
}

TEST_F(DescFunctions, AnUnnamedColumnIsNamedByItsNumberWhenTheConnectionAsks)
{
    BaseIRDRecord* col = stmt->ird->irdRecord(3);
    col->dropName();
    for (uint64_t workarounds : {uint64_t{0}, uint64_t{0x40}}) {
        SCOPED_TRACE(workarounds);
        conn->workarounds = workarounds;
        uint16_t name[8] = {0xffff};
        int32_t length = -1;
        ASSERT_EQ(stmt->ird->getDescField(3, SQL_DESC_NAME, name, sizeof name, &length), SQL_SUCCESS);
        EXPECT_EQ(katest::u16(name), workarounds != 0 ? u"C3" : u"");
        SQLSMALLINT unnamed = -1;
        ASSERT_EQ(stmt->ird->getDescField(3, SQL_DESC_UNNAMED, &unnamed, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(unnamed, SQL_UNNAMED);
    }
}

namespace {

// One field of an application record set before its data pointer.
struct FieldValue {
    int16_t field;
    intptr_t value;
};

struct RecordCase {
    const char* what;
    std::vector<FieldValue> fields;
    bool consistent;
};

}  // namespace

TEST_F(DescFunctions, ApplicationRecordsTakeABufferOnlyWhenTheirDescriptionHoldsTogether)
{
    const RecordCase cases[] = {
        {"a new record (SQL_C_DEFAULT)", {}, true},
        {"long", {{SQL_DESC_CONCISE_TYPE, SQL_C_SLONG}}, true},
        {"text with its buffer length", {{SQL_DESC_CONCISE_TYPE, SQL_C_CHAR}, {SQL_DESC_OCTET_LENGTH, 10}}, true},
        {"text with a negative buffer length",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_CHAR}, {SQL_DESC_OCTET_LENGTH, -5}},
         false},
        {"bytes with a negative buffer length",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_BINARY}, {SQL_DESC_OCTET_LENGTH, -1}},
         false},
        {"a long ignores its buffer length", {{SQL_DESC_CONCISE_TYPE, SQL_C_SLONG}, {SQL_DESC_OCTET_LENGTH, -1}}, true},
        {"an SQL type that is no C type", {{SQL_DESC_CONCISE_TYPE, SQL_DECIMAL}}, false},
        {"no type at all", {{SQL_DESC_CONCISE_TYPE, 0}}, false},
        {"an unknown type", {{SQL_DESC_CONCISE_TYPE, 1234}}, false},
        {"datetime with the time code",
         {{SQL_DESC_TYPE, SQL_DATETIME}, {SQL_DESC_DATETIME_INTERVAL_CODE, SQL_CODE_TIME}},
         true},
        {"a date given an interval's code",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_DATE}, {SQL_DESC_DATETIME_INTERVAL_CODE, SQL_CODE_MINUTE}},
         false},
        {"an interval code past the last",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_DAY}, {SQL_DESC_DATETIME_INTERVAL_CODE, 20}},
         false},
        {"day to second as created", {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_DAY_TO_SECOND}}, true},
        {"interval leading precision 0",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_YEAR}, {SQL_DESC_DATETIME_INTERVAL_PRECISION, 0}},
         false},
        {"interval leading precision 9",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_YEAR}, {SQL_DESC_DATETIME_INTERVAL_PRECISION, 9}},
         true},
        {"interval leading precision 10",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_YEAR}, {SQL_DESC_DATETIME_INTERVAL_PRECISION, 10}},
         false},
        {"timestamp to nanoseconds", {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP}, {SQL_DESC_PRECISION, 9}}, true},
        {"timestamp past nanoseconds",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP}, {SQL_DESC_PRECISION, 10}},
         false},
        {"interval seconds precision -1",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_MINUTE_TO_SECOND}, {SQL_DESC_PRECISION, -1}},
         false},
        {"numeric left to the conversion", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}}, true},
        {"numeric 38, 38",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_PRECISION, 38}, {SQL_DESC_SCALE, 38}},
         true},
        {"numeric precision 0", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_PRECISION, 0}}, false},
        {"numeric precision 39", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_PRECISION, 39}}, false},
        {"numeric scale above its precision",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_PRECISION, 10}, {SQL_DESC_SCALE, 11}},
         false},
        {"numeric negative scale", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_SCALE, -1}}, false},
        {"numeric scale 38 alone", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_SCALE, 38}}, true},
        {"numeric precision of another type kept",
         {{SQL_DESC_PRECISION, 0}, {SQL_DESC_CONCISE_TYPE, SQL_C_DOUBLE}},
         true},
    };
    char buffer[16] = {};
    int sentinel = 0;
    eachApplicationDescriptor([&](BaseDescriptor* d) {
        for (const RecordCase& c : cases) {
            SCOPED_TRACE(c.what);
            // Record 1 starts afresh.
            ASSERT_EQ(d->setDescField(0, SQL_DESC_COUNT, nullptr, 0), SQL_SUCCESS);
            for (const FieldValue& f : c.fields)
                ASSERT_EQ(d->setDescField(1, f.field, reinterpret_cast<void*>(f.value), 0), SQL_SUCCESS);
            const int16_t rc = d->setDescField(1, SQL_DESC_DATA_PTR, buffer, 0);
            EXPECT_EQ(rc, c.consistent ? SQL_SUCCESS : SQL_ERROR);
            if (rc == SQL_ERROR) {
                EXPECT_EQ(stateOf(d), MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
            }
            void* bound = &sentinel;
            ASSERT_EQ(d->getDescField(1, SQL_DESC_DATA_PTR, &bound, 0, nullptr), SQL_SUCCESS);
            EXPECT_EQ(bound, c.consistent ? static_cast<void*>(buffer) : nullptr);
            // Unbinding is never refused.
            EXPECT_EQ(d->setDescField(1, SQL_DESC_DATA_PTR, nullptr, 0), SQL_SUCCESS);
        }
    });
}

TEST_F(DescFunctions, SetDescRecOnAnApplicationRecordChecksTheWholeDescriptionAndKeepsTheOldOne)
{
    struct {
        const char* what;
        int16_t type;
        int16_t subType;
        int64_t length;
        int16_t precision;
        int16_t scale;
        bool consistent;
    } cases[] = {
        {"long", SQL_C_SLONG, 0, 4, 0, 0, true},
        {"numeric 19, 2", SQL_C_NUMERIC, 0, 19, 19, 2, true},
        {"numeric without a precision", SQL_C_NUMERIC, 0, 19, 0, 0, false},
        {"numeric precision 39", SQL_C_NUMERIC, 0, 19, 39, 0, false},
        {"numeric scale above its precision", SQL_C_NUMERIC, 0, 19, 5, 6, false},
        {"decimal is no C type", SQL_DECIMAL, 0, 19, 10, 2, false},
        {"datetime coded as date", SQL_DATETIME, SQL_CODE_DATE, 6, 0, 0, true},
        {"datetime with an interval's code", SQL_DATETIME, SQL_CODE_HOUR, 6, 0, 0, false},
        {"interval day to second, microseconds", SQL_INTERVAL, SQL_CODE_DAY_TO_SECOND, 28, 6, 0, true},
        {"interval code 14", SQL_INTERVAL, 14, 28, 0, 0, false},
        {"timestamp past nanoseconds", SQL_C_TYPE_TIMESTAMP, 0, 16, 12, 0, false},
        {"text into no bytes", SQL_C_CHAR, 0, 0, 0, 0, true},
        {"text into a negative length", SQL_C_CHAR, 0, -1, 0, 0, false},
        {"wide text without a buffer", SQL_C_WCHAR, 0, 20, 0, 0, true},
    };
    int32_t before = 0;
    SQLLEN beforeInd = 0;
    char buffer[32] = {};
    SQLLEN ind = 0;
    eachApplicationDescriptor([&](BaseDescriptor* d) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_EQ(d->setDescField(0, SQL_DESC_COUNT, nullptr, 0), SQL_SUCCESS);
            ASSERT_EQ(d->setDescRec(1, SQL_C_SLONG, 0, 4, 0, 0, &before, &beforeInd, &beforeInd), SQL_SUCCESS);
            void* data = c.type == SQL_C_WCHAR ? nullptr : buffer;
            const int16_t rc = d->setDescRec(1, c.type, c.subType, c.length, c.precision, c.scale, data, &ind, &ind);
            EXPECT_EQ(rc, c.consistent ? SQL_SUCCESS : SQL_ERROR);
            if (rc == SQL_ERROR) {
                EXPECT_EQ(stateOf(d), MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
            }
            int16_t type = 0;
            int16_t precision = -7;
            ASSERT_EQ(d->getDescRec(1, nullptr, 0, nullptr, &type, nullptr, nullptr, &precision, nullptr, nullptr),
                      SQL_SUCCESS);
            void* bound = &type;
            ASSERT_EQ(d->getDescField(1, SQL_DESC_DATA_PTR, &bound, 0, nullptr), SQL_SUCCESS);
            const BaseRecord* r = d->record(1);
            if (c.consistent) {
                EXPECT_EQ(bound, data);
                EXPECT_EQ(r->octetLength, c.length);
                EXPECT_EQ(precision, c.precision);
            } else {
                // The long bound before is still there, whole.
                EXPECT_EQ(type, SQL_C_SLONG);
                EXPECT_EQ(r->conciseType, SQL_C_SLONG);
                EXPECT_EQ(r->intervalCode, 0);
                EXPECT_EQ(r->octetLength, 4);
                EXPECT_EQ(precision, 0);
                EXPECT_EQ(r->scale, 0);
                EXPECT_EQ(bound, &before);
                EXPECT_EQ(r->indicatorPtr, &beforeInd);
                const auto* ax = dynamic_cast<const BaseAXDRecord*>(r);
                ASSERT_NE(ax, nullptr);
                EXPECT_EQ(ax->precisionSet, 0u);
            }
        }
    });
}
