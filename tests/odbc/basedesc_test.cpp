// Descriptors and their records: the bind offset and the row of an array
// added to an application record's pointers and taken off again, the record
// array, the defaults and copies of each kind, display sizes, the row-status
// array and the explicit descriptor's release.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "support/diagscope.h"

TEST(BindOffset, RowWiseAndColumnWise)
{
    BaseAXDWR apd(nullptr, 1);
    ASSERT_EQ(apd.setRecordCount(1), 0);
    BaseAXDRecord* rec = apd.axdRecord(1);
    alignas(8) uint8_t area[256];
    int64_t offset = 16;
    rec->dataPtr = area;
    rec->indicatorPtr = reinterpret_cast<int64_t*>(area + 128);
    rec->octetLengthPtr = nullptr;
    rec->octetLength = 10;

    // Row 0 without an offset: nothing moves.
    rec->applyBindOffset(0, 0);
    EXPECT_EQ(rec->dataPtr, area);
    rec->removeBindOffset(0, 0);
    EXPECT_EQ(rec->dataPtr, area);

    // Column-wise: data by the octet length, indicators by 8 bytes a row.
    apd.bindOffsetPtr = &offset;
    rec->applyBindOffset(0, 3);
    EXPECT_EQ(rec->dataPtr, area + 3 * 10 + 16);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128 + 3 * 8 + 16);
    EXPECT_EQ(rec->octetLengthPtr, nullptr);
    rec->removeBindOffset(0, 3);
    EXPECT_EQ(rec->dataPtr, area);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128);

    // Row-wise: every pointer by the row size.
    rec->applyBindOffset(24, 2);
    EXPECT_EQ(rec->dataPtr, area + 48 + 16);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128 + 48 + 16);
    rec->removeBindOffset(24, 2);
    EXPECT_EQ(rec->dataPtr, area);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128);
}

namespace {

class Descriptors : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

// Counts the records of a descriptor that are still alive.
struct CountingRecord : BaseAXDRecord {
    static inline int alive = 0;
    CountingRecord() noexcept { ++alive; }
    ~CountingRecord() override { --alive; }
};

struct CountingAXD : BaseAXDWR {
    CountingAXD() noexcept : BaseAXDWR(nullptr, 1) {}
    BaseRecord* newRecord(int64_t) noexcept override
    {
        auto* rec = new CountingRecord();
        rec->owner = this;
        return rec;
    }
};

}  // namespace

TEST_F(Descriptors, SetRecordCountKeepsRecordZeroAndDeletesOnlyTheSurplus)
{
    CountingRecord::alive = 0;
    {
        CountingAXD desc;
        BaseRecord* record0 = desc.record(0);
        EXPECT_EQ(record0, &desc.record0);
        ASSERT_EQ(desc.setRecordCount(5), 0);
        EXPECT_EQ(CountingRecord::alive, 5);
        BaseRecord* third = desc.record(3);
        ASSERT_EQ(desc.setRecordCount(5), 0);  // n + 1 records: nothing happens
        EXPECT_EQ(desc.record(3), third);
        ASSERT_EQ(desc.setRecordCount(2), 0);
        EXPECT_EQ(CountingRecord::alive, 2);
        EXPECT_EQ(desc.count(), 2);
        ASSERT_EQ(desc.setRecordCount(0), 0);
        EXPECT_EQ(CountingRecord::alive, 0);
        EXPECT_EQ(desc.record(0), record0);
        // Past the array's capacity: it grows with the records kept.
        ASSERT_EQ(desc.setRecordCount(200), 0);
        EXPECT_EQ(desc.count(), 200);
        EXPECT_EQ(desc.record(200)->owner, &desc);
    }
    EXPECT_EQ(CountingRecord::alive, 0);
}

TEST_F(Descriptors, NewRecordsTakeTheirKindsDefaults)
{
    BaseEnv env{15};
    BaseConnection conn{&env};
    BaseStatement stmt{&conn};
    ASSERT_EQ(stmt.initStatement(), 0);

    ASSERT_EQ(stmt.implicitArd->setRecordCount(2), 0);
    for (int64_t n : {0, 2}) {
        BaseAXDRecord* app = stmt.implicitArd->axdRecord(n);
        EXPECT_EQ(app->conciseType, SQL_C_DEFAULT) << n;
        EXPECT_EQ(app->appConciseType, SQL_C_DEFAULT) << n;
        EXPECT_EQ(app->intervalPrecision, 2) << n;
    }
    ASSERT_EQ(stmt.ird->setRecordCount(1), 0);
    EXPECT_EQ(static_cast<int64_t>(stmt.ird->irdRecord(1)->length), -11);
    EXPECT_EQ(static_cast<int64_t>(stmt.ird->irdRecord(0)->length), -11);
    ASSERT_EQ(stmt.ipd->setRecordCount(3), 0);
    EXPECT_EQ(stmt.ipd->ipdRecord(3)->apdIndex, 3);
    EXPECT_EQ(stmt.ipd->ipdRecord(3)->paramType, SQL_PARAM_INPUT);
    EXPECT_EQ(stmt.ipd->ipdRecord(3)->appParamType, SQL_PARAM_INPUT);
    EXPECT_EQ(stmt.ipd->ipdRecord(0)->apdIndex, 0);
    BaseCofC* cofc = nullptr;
    ASSERT_EQ(stmt.createCofC(&cofc), 0);
    ASSERT_EQ(cofc->setCount(2), 0);
    EXPECT_EQ(cofc->cofcRecord(1)->apdIndex, -1);
    // setCount(0) deletes record 0 as well.
    ASSERT_EQ(cofc->setCount(0), 0);
    EXPECT_EQ(cofc->record(0), nullptr);
    delete cofc;

    EXPECT_EQ(stmt.implicitApd->isAPD, 1);
    EXPECT_EQ(stmt.implicitArd->isAPD, 0);
    EXPECT_EQ(stmt.implicitArd->arraySize, 1);
    EXPECT_EQ(stmt.ird->isIRD, 1);
    EXPECT_EQ(stmt.ird->implementation, 1);
    EXPECT_EQ(stmt.ipd->implementation, 1);
    EXPECT_EQ(stmt.ipd->statement, &stmt);
    EXPECT_EQ(stmt.ird->autoAllocated, 1);
}

TEST_F(Descriptors, StepsAndSavedPointersOfApplicationRecords)
{
    BaseAXDWR apd(nullptr, 1);
    ASSERT_EQ(apd.setRecordCount(1), 0);
    BaseAXDRecord* rec = apd.axdRecord(1);
    alignas(8) uint8_t area[256];
    rec->dataPtr = area;
    rec->indicatorPtr = reinterpret_cast<int64_t*>(area + 128);
    rec->octetLengthPtr = nullptr;
    rec->octetLength = 30;

    // Column-wise: indicators move by one element whatever the octet length.
    rec->saveAndStep(0);
    EXPECT_EQ(rec->dataPtr, area + 30);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128 + 8);
    EXPECT_EQ(rec->octetLengthPtr, nullptr);
    rec->step(0);
    EXPECT_EQ(rec->dataPtr, area + 60);
    rec->restorePointers();
    EXPECT_EQ(rec->dataPtr, area);
    rec->saveAndStep(40);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128 + 40);
    rec->restorePointers();
    rec->saveAndOffset(4);
    EXPECT_EQ(rec->dataPtr, area + 4);
    EXPECT_EQ(rec->octetLengthPtr, nullptr);
    rec->restorePointers();
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rec->indicatorPtr), area + 128);
}

TEST_F(Descriptors, DisplaySizesByType)
{
    struct Case {
        int16_t type;
        uint16_t flags;
        int16_t precision;
        int16_t scale;
        uint64_t length;
        int64_t intervalPrecision;
        int64_t expected;
    };
    const Case cases[] = {
        {SQL_VARCHAR, 0, 0, 0, 40, 0, 40},
        {SQL_WCHAR, 0, 0, 0, 7, 0, 7},
        {SQL_BIT, 0, 0, 0, 0, 0, 1},
        {SQL_TINYINT, kBaseRecUnsigned, 0, 0, 0, 0, 3},
        {SQL_TINYINT, 0, 0, 0, 0, 0, 4},
        {SQL_BIGINT, 0, 0, 0, 0, 0, 20},
        {SQL_BINARY, 0, 0, 0, 16, 0, 32},
        {SQL_VARBINARY, 0, 0, 0, 4611686018427387903ULL, 0, 9223372036854775806LL},
        {SQL_VARBINARY, 0, 0, 0, 4611686018427387904ULL, 0, INT64_MAX},
        {SQL_DECIMAL, 0, 10, 2, 0, 0, 12},
        {SQL_DECIMAL, kBaseRecUnsigned, 10, 0, 0, 0, 10},
        // "-0.12", "0.123": the zero before the point counts.
        {SQL_DECIMAL, 0, 2, 2, 0, 0, 5},
        {SQL_NUMERIC, kBaseRecUnsigned, 3, 3, 0, 0, 5},
        {SQL_DECIMAL, 0, 38, 38, 0, 0, 41},
        {SQL_NUMERIC, kBaseRecNoSignPosition, 10, -2, 0, 0, 12},
        {SQL_INTEGER, 0, 0, 0, 0, 0, 11},
        {SQL_SMALLINT, kBaseRecUnsigned, 0, 0, 0, 0, 5},
        {SQL_DOUBLE, 0, 0, 0, 0, 0, 22},
        {SQL_REAL, 0, 0, 0, 0, 0, 13},
        {SQL_TYPE_DATE, 0, 0, 0, 0, 0, 10},
        {SQL_TYPE_TIME, 0, 0, 3, 0, 0, 12},
        {SQL_TYPE_TIMESTAMP, 0, 0, 0, 0, 0, 19},
        {SQL_TYPE_TIMESTAMP, 0, 0, 6, 0, 0, 26},
        {SQL_INTERVAL_YEAR, 0, 0, 0, 0, 4, 4},
        {SQL_INTERVAL_SECOND, 0, 0, 3, 0, 2, 6},
        {SQL_INTERVAL_DAY_TO_SECOND, 0, 0, 0, 0, 2, 11},
        {SQL_INTERVAL_DAY_TO_SECOND, 0, 0, 6, 0, 2, 18},
        {SQL_INTERVAL_MINUTE_TO_SECOND, 0, 0, 0, 0, 2, 5},
        {SQL_GUID, 0, 36, 0, 0, 0, 36},
        {SQL_LONGVARCHAR + 1000, 0, 0, 0, 0, 0, SQL_NO_TOTAL},
    };
    for (const Case& c : cases) {
        BaseRecord rec;
        rec.conciseType = c.type;
        rec.flags = c.flags;
        rec.precision = c.precision;
        rec.scale = c.scale;
        rec.length = c.length;
        rec.intervalPrecision = c.intervalPrecision;
        EXPECT_EQ(rec.displaySize(), c.expected) << "type " << c.type;
    }
    BaseRecord radix;
    radix.conciseType = SQL_DECIMAL;
    EXPECT_EQ(radix.numPrecRadix(), 10);
    radix.conciseType = SQL_FLOAT;
    EXPECT_EQ(radix.numPrecRadix(), 2);
    radix.conciseType = SQL_VARCHAR;
    EXPECT_EQ(radix.numPrecRadix(), 0);
}

TEST_F(Descriptors, RecordCopiesTakeWhatTheirKindsKeep)
{
    BaseEnv env{15};
    BaseConnection conn{&env};
    BaseStatement stmt{&conn};
    ASSERT_EQ(stmt.initStatement(), 0);
    ASSERT_EQ(stmt.ird->setRecordCount(1), 0);
    BaseIRDRecord* column = stmt.ird->irdRecord(1);
    column->setConciseType(SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(column->serverType, SQL_TYPE_TIMESTAMP);
    column->scale = -1;
    column->precision = 23;
    column->name = static_cast<uint16_t*>(ramAlloc(4));
    column->name[0] = u'c';
    column->name[1] = 0;
    uint8_t appBuffer[8];
    column->setCodePage(-106);
    column->flags = kBaseRecNamed;

    // Into an application record: no name, the type of the column, a
    // negative timestamp scale as 0; the application's buffer stays.
    ASSERT_EQ(stmt.implicitArd->setRecordCount(1), 0);
    BaseAXDRecord* app = stmt.implicitArd->axdRecord(1);
    app->dataPtr = appBuffer;
    ASSERT_EQ(app->copyFrom(*column), 0);
    EXPECT_EQ(app->conciseType, SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(app->appConciseType, SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(app->scale, 0);
    EXPECT_EQ(app->name, nullptr);
    EXPECT_EQ(app->dataPtr, appBuffer);
    EXPECT_EQ(app->flags, 0);

    // Into another IRD record: the name and the code page too.
    BaseIRDRecord other;
    ASSERT_EQ(other.copyFrom(*column), 0);
    ASSERT_NE(other.name, nullptr);
    EXPECT_NE(other.name, column->name);
    EXPECT_EQ(other.name[0], u'c');
    EXPECT_EQ(other.codePageAbs, 106);
    EXPECT_EQ(other.flags, kBaseRecNamed);

    // An IPD record from an application record: input, precision as given.
    app->precision = 7;
    BaseIPDRecord param;
    param.paramType = SQL_PARAM_OUTPUT;
    ASSERT_EQ(param.copyFrom(*app), 0);
    EXPECT_EQ(param.paramType, SQL_PARAM_INPUT);
    EXPECT_EQ(param.appParamType, SQL_PARAM_INPUT);
    EXPECT_EQ(param.appPrecision, 7);
}

TEST_F(Descriptors, ACopiedValueLongerThanItsBufferFails)
{
    katest::DiagScope diags;
    BaseCofCRecord source;
    source.bufferSize = 4;
    source.valueBuffer = static_cast<uint8_t*>(ramAlloc(4));
    std::memcpy(source.valueBuffer, "abcd", 4);
    source.valueLength = 4;
    BaseCofCRecord fits;
    ASSERT_EQ(fits.copyFrom(source), 0);
    EXPECT_EQ(std::memcmp(fits.valueBuffer, "abcd", 4), 0);
    EXPECT_EQ(fits.dataPointer(), fits.valueBuffer);
    EXPECT_EQ(*fits.octetLengthPointer(), 4);
    EXPECT_EQ(diags.size(), 0u);

    source.valueLength = 9;
    BaseCofCRecord tooLong;
    EXPECT_EQ(tooLong.copyFrom(source), 1);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags.index(0), kBaseIdxGeneralError);
    EXPECT_NE(diags.text(0).find(" CofCDataLen > ParamMaxLen"), std::string::npos);
    EXPECT_EQ(std::memcmp(tooLong.valueBuffer, "abcd", 4), 0);
}

TEST_F(Descriptors, AParameterRecordFreesOnlyTheDataItOwns)
{
    // The application's buffer is only pointed at: deleting the descriptor
    // must leave it alone (the sanitizer reports a free of a stack buffer).
    uint8_t application[16] = {};
    {
        BaseIPDWR ipd(nullptr);
        ASSERT_EQ(ipd.setRecordCount(2), 0);
        ipd.ipdRecord(1)->dataPtr = application;
        // A buffer of the driver's own goes with the record (the leak
        // checker reports it otherwise).
        ipd.ipdRecord(2)->setOwnedData(ramAlloc(32));
        ipd.record0.dataPtr = application;
    }
    EXPECT_EQ(application[0], 0);
}

TEST_F(Descriptors, ARowsetOfNoRowsStillHasTheRowStatusTheRowWalkWrites)
{
    BaseIRDWR ird(nullptr);
    ASSERT_EQ(ird.resizeRowStatus(0, 0), 0);
    ASSERT_NE(ird.rowStatus, nullptr);
    EXPECT_EQ(ird.rowStatusSize, 1);
    EXPECT_EQ(ird.rowStatus[0], SQL_ROW_NOROW);
    ird.rowStatus[0] = SQL_ROW_SUCCESS;

    ASSERT_EQ(ird.resizeRowStatus(3, 1), 0);
    EXPECT_EQ(ird.rowStatus[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(ird.rowStatus[2], SQL_ROW_NOROW);
    ird.rowStatus[1] = SQL_ROW_ERROR;
    // Within the capacity, without keep: every entry anew.
    ASSERT_EQ(ird.resizeRowStatus(2, 0), 0);
    EXPECT_EQ(ird.rowStatus[0], SQL_ROW_NOROW);
    EXPECT_EQ(ird.rowStatus[1], SQL_ROW_NOROW);
}

TEST_F(Descriptors, TheValidatedStatementsListGrowsEightAtATime)
{
    BaseAXDWR ard(nullptr, 1);
    alignas(BaseStatement) static uint8_t fake[20][8];
    std::vector<BaseStatement*> stmts;
    for (auto& f : fake)
        stmts.push_back(reinterpret_cast<BaseStatement*>(f));
    for (BaseStatement* s : stmts) {
        EXPECT_EQ(ard.hasStatement(s), 0);
        ASSERT_EQ(ard.addStatement(s), 0);
    }
    for (BaseStatement* s : stmts)
        EXPECT_EQ(ard.hasStatement(s), 1);
    EXPECT_EQ(ard.validatedCount, 20);
    ard.freeValidated();
    EXPECT_EQ(ard.hasStatement(stmts[0]), 0);
}

TEST_F(Descriptors, FreeingAnExplicitDescriptorGivesStatementsTheirOwnBack)
{
    BaseEnv env{15};
    BaseConnection conn{&env};
    BaseStatement* stmt = nullptr;
    ASSERT_EQ(baseMakeStatement(&conn, &stmt), 0);
    auto* explicitDesc = new BaseAXDWR(&conn, 0);
    EXPECT_EQ(conn.descriptors.count, 1u);
    stmt->currentApd = explicitDesc;
    stmt->currentArd = explicitDesc;
    stmt->bindingsChanged = false;
    delete explicitDesc;
    EXPECT_EQ(stmt->currentApd, stmt->implicitApd);
    EXPECT_EQ(stmt->currentArd, stmt->implicitArd);
    EXPECT_TRUE(stmt->bindingsChanged);
    EXPECT_EQ(conn.descriptors.count, 0u);
    delete stmt;
    EXPECT_EQ(conn.statements.count, 0u);
}

TEST_F(Descriptors, AResultColumnCopyKeepsItsOwnBuffers)
{
    // IRD records free their buffers: a copy must not take over another
    // record's octet-length buffer (freed twice) or an application's (not
    // the driver's to free); the sanitizer reports either.
    int64_t applicationLength = 0;
    BaseAXDWR ard(nullptr, 1);
    ASSERT_EQ(ard.setRecordCount(1), 0);
    ard.axdRecord(1)->octetLengthPtr = &applicationLength;
    BaseIRDWR ird(nullptr);
    ASSERT_EQ(ird.setRecordCount(2), 0);
    ird.irdRecord(1)->octetLengthPtr = static_cast<int64_t*>(ramAlloc(sizeof(int64_t)));
    ASSERT_EQ(ird.irdRecord(2)->copyFrom(*ird.irdRecord(1)), 0);
    EXPECT_EQ(ird.irdRecord(2)->octetLengthPtr, nullptr);
    ASSERT_EQ(ird.irdRecord(2)->copyFrom(*ard.axdRecord(1)), 0);
    EXPECT_EQ(ird.irdRecord(2)->octetLengthPtr, nullptr);
}
