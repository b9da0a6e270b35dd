// The driver's own statement attributes on the test statement: the stored
// values and their widths, the refused ones, the last row, the export
// checks and its log name, the stored timestamp, XML persistence without a
// writer, and the recording of settings for the replay after a
// reconnect. The fake connection offers forward-only and static cursors.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "odbc/baseconn.h"
#include "odbc/basedriverattr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"

namespace {

using katest::W;

void* asPointer(int64_t v)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(v));
}

using DriverAttr = katest::StmtFixture;

// What an export hands to the driver's export operation.
struct ExportCall {
    int calls = 0;
    std::u16string file;
    std::u16string log;
    bool logGiven = false;
    int64_t codePage = 0;
    int32_t errorTolerance = 0;
    int32_t warningTolerance = 0;
    int64_t encodingDuring = 0;
};

class ExportStatement : public katest::TestStatement {
public:
    using TestStatement::TestStatement;
    ExportCall seen;
    int16_t exportResultSet(int32_t, const uint16_t* fileName, int64_t codePage, int32_t errorTolerance,
                            int32_t warningTolerance, int32_t, const uint16_t* logFileName) noexcept override
    {
        ++seen.calls;
        seen.file = reinterpret_cast<const char16_t*>(fileName);
        seen.logGiven = logFileName != nullptr;
        if (logFileName != nullptr)
            seen.log = reinterpret_cast<const char16_t*>(logFileName);
        seen.codePage = codePage;
        seen.errorTolerance = errorTolerance;
        seen.warningTolerance = warningTolerance;
        seen.encodingDuring = connection->wideCharCodePage;
        return 0;
    }
};

size_t stmtAttrEvents(BaseConnection* conn, BaseStatement* owner, int32_t attribute, intptr_t* value = nullptr)
{
    size_t n = 0;
    KaDNode* node = conn->events.first();
    for (size_t i = 0; i < conn->events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventStmtAttr && e->owner == owner && e->code == attribute) {
            ++n;
            if (value != nullptr)
                *value = e->value;
        }
    }
    return n;
}

}  // namespace

TEST_F(DriverAttr, StoredValuesReadBackAtTheirWidth)
{
    struct Case {
        int32_t attribute;
        int64_t set;
        int64_t readBack;
        size_t width;
    };
    const Case cases[] = {
        {kBaseStmtAttrSignedValue, 42, 42, 8},
        {kBaseStmtAttrSignedValue, -17, -1, 8},
        {kBaseStmtAttrSwitch, 5, 1, 4},
        {kBaseStmtAttrSwitch, 0, 0, 4},
        {kBaseStmtAttrPointerValue, 0x123456789, 0x123456789, 8},
        {kBaseStmtAttrNarrowCodePage, 2252, 2252, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attribute);
        ASSERT_EQ(stmt->setStmtAttr(c.attribute, asPointer(c.set), 0), SQL_SUCCESS);
        katest::Guarded<uint8_t> out(8);
        SQLINTEGER length = 0;
        ASSERT_EQ(stmt->getStmtAttr(c.attribute, out.data(), 8, &length), SQL_SUCCESS);
        EXPECT_EQ(length, 8);
        int64_t v = 0;
        std::memcpy(&v, out.data(), c.width);
        if (c.width == 4)
            v = static_cast<int32_t>(v);
        EXPECT_EQ(v, c.readBack);
        // A 32-bit value leaves the rest of the buffer alone.
        EXPECT_EQ(out.str(8).substr(c.width), std::string(8 - c.width, '\x5A'));
        EXPECT_TRUE(out.guardsIntact());
    }
    EXPECT_EQ(stmt->charCodePage, 2252);
}

TEST_F(DriverAttr, SettingsWithoutAReadingAreRefusedWhenRead)
{
    int64_t v = 0;
    for (int32_t attribute : {kBaseStmtAttrPersistMode, kBaseStmtAttrExportDescription, kBaseStmtAttrLastRow}) {
        SCOPED_TRACE(attribute);
        EXPECT_EQ(stmt->getStmtAttr(attribute, &v, 8, nullptr), SQL_ERROR);
        EXPECT_EQ(state(), kBaseIdxNotSupported);
    }
}

TEST_F(DriverAttr, TransactionalAttributesStartTheTransactionThenRefuse)
{
    conn->autocommit = SQL_AUTOCOMMIT_OFF;
    for (int32_t attribute : {kBaseStmtAttrTransactional, kBaseStmtAttrTransactionalToo, kBaseAttrText}) {
        SCOPED_TRACE(attribute);
        conn->connectionFlags &= ~kBaseConnTransactionActive;
        EXPECT_EQ(stmt->setStmtAttr(attribute, asPointer(1), 0), SQL_ERROR);
        EXPECT_EQ(state(), kBaseIdxNotSupported);
        EXPECT_NE(conn->connectionFlags & kBaseConnTransactionActive, 0u);
    }
}

TEST_F(DriverAttr, LastRowOfAStaticCursor)
{
    int64_t last = -5;
    // No cursor yet.
    EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrLastRow, &last, 0), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);

    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    // Counting a forward-only cursor's rows would read them away.
    EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrLastRow, &last, 0), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxFetchType);
    EXPECT_EQ(last, -5);

    ASSERT_EQ(stmt->closeCursorApi(), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 7"), SQL_SUCCESS);
    EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrLastRow, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNullPointer);
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrLastRow, &last, 0), SQL_SUCCESS);
    EXPECT_EQ(last, 7);
}

TEST_F(DriverAttr, ExportDescriptionIsCheckedBeforeItIsKept)
{
    BaseExportDescription description{kBaseExportDescriptionVersion, 106, 0, 0, 0};
    struct Case {
        void* value;
        int32_t length;
        uint16_t sqlstate;
    };
    BaseExportDescription wrongVersion = description;
    wrongVersion.version = 2;
    const Case refused[] = {
        {nullptr, kBaseExportDescriptionLength, kBaseIdxNullPointer},
        {&description, SQL_NTS, kBaseIdxBadLength},
        {&description, 40, kBaseIdxBadLength},
        {&wrongVersion, kBaseExportDescriptionLength, MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrExportDescription, c.value, c.length), SQL_ERROR);
        EXPECT_EQ(state(), c.sqlstate);
        EXPECT_EQ(stmt->exportDescription, nullptr);
    }
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrExportDescription, &description, kBaseExportDescriptionLength),
              SQL_SUCCESS);
    EXPECT_EQ(stmt->exportDescription, &description);
}

TEST_F(DriverAttr, ExportHandsTheFileCodePageTolerancesAndLogName)
{
    auto* exporter = make<ExportStatement>();
    ASSERT_NE(exporter, nullptr);
    const std::u16string file = u"out.CSV";
    // No description yet.
    EXPECT_EQ(exporter->setStmtAttr(kBaseStmtAttrExport, const_cast<char16_t*>(file.c_str()), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(exporter->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxNullPointer);

    BaseExportDescription description{kBaseExportDescriptionVersion, 1013, 3, 9, 1};
    ASSERT_EQ(exporter->setStmtAttr(kBaseStmtAttrExportDescription, &description, kBaseExportDescriptionLength),
              SQL_SUCCESS);
    EXPECT_EQ(exporter->setStmtAttr(kBaseStmtAttrExport, const_cast<char16_t*>(file.c_str()), 0), SQL_ERROR);
    EXPECT_EQ(exporter->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxBadLength);
    // Nothing executed: no result to export.
    EXPECT_EQ(exporter->setStmtAttr(kBaseStmtAttrExport, const_cast<char16_t*>(file.c_str()), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(exporter->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxCursorState);
    EXPECT_EQ(exporter->seen.calls, 0);

    ASSERT_EQ(exporter->execDirect(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    const int64_t encoding = conn->wideCharCodePage;
    // The length counts units: the name ends where it says, not at a NUL.
    const std::u16string longer = file + u"-and-more";
    ASSERT_EQ(exporter->setStmtAttr(kBaseStmtAttrExport, const_cast<char16_t*>(longer.c_str()),
                                    static_cast<int32_t>(file.size())),
              SQL_SUCCESS);
    EXPECT_EQ(exporter->seen.calls, 1);
    EXPECT_EQ(exporter->seen.file, file);
    EXPECT_EQ(exporter->seen.log, u"out.log");
    EXPECT_EQ(exporter->seen.codePage, 1013);
    EXPECT_EQ(exporter->seen.errorTolerance, 3);
    EXPECT_EQ(exporter->seen.warningTolerance, 9);
    EXPECT_EQ(exporter->seen.encodingDuring, 1014);
    EXPECT_EQ(conn->wideCharCodePage, encoding);

    description.writeLog = 0;
    ASSERT_EQ(exporter->setStmtAttr(kBaseStmtAttrExport, const_cast<char16_t*>(file.c_str()), SQL_NTS), SQL_SUCCESS);
    EXPECT_FALSE(exporter->seen.logGiven);

    // Tolerances are 64-bit counts whose bit 63 does not count; one the
    // export's field cannot hold means no limit, never its low bits.
    const struct {
        int64_t given;
        int32_t handed;
    } tolerances[] = {
        {0, 0},
        {-1, -1},
        {INT32_MAX, INT32_MAX},
        {int64_t{1} << 32, -1},
        {(int64_t{1} << 32) + 5, -1},
        {INT64_MIN + 7, 7},
    };
    for (const auto& t : tolerances) {
        SCOPED_TRACE(t.given);
        description.errorTolerance = t.given;
        description.warningTolerance = t.given;
        ASSERT_EQ(exporter->setStmtAttr(kBaseStmtAttrExport, const_cast<char16_t*>(file.c_str()), SQL_NTS),
                  SQL_SUCCESS);
        EXPECT_EQ(exporter->seen.errorTolerance, t.handed);
        EXPECT_EQ(exporter->seen.warningTolerance, t.handed);
    }
    ASSERT_EQ(exporter->freeStmt(SQL_DROP), SQL_SUCCESS);
}

TEST_F(DriverAttr, ExportLogNameDropsOnlyAFinalCsv)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"data.csv", u"data.log"}, {u"DATA.CsV", u"DATA.log"},       {u".csv", u".csv.log"},
        {u"a.csvx", u"a.csvx.log"}, {u"dir/x.txt", u"dir/x.txt.log"}, {u"", u".log"},
    };
    for (const auto& [file, log] : cases) {
        uint16_t* made = baseExportLogName(reinterpret_cast<const uint16_t*>(file.c_str()));
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(made)), log);
        ramFree(made);
    }
}

TEST_F(DriverAttr, TimestampIsStoredOnTheConnectionAndClearedByAnEmptyValue)
{
    const std::u16string text = u"2024-02-29 13:45:10.123456";
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrTimestamp, const_cast<char16_t*>(text.c_str()), SQL_NTS), SQL_SUCCESS);
    const BaseConnection::StoredTimestamp& t = conn->storedTimestamp;
    EXPECT_EQ(t.set, 1);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 45);
    EXPECT_EQ(t.second, 10);
    EXPECT_EQ(t.millisecond, 123);

    for (const std::u16string& bad : {std::u16string(u"2023-02-29 00:00:00"), std::u16string(u"yesterday"),
                                      std::u16string(80, u'1'), std::u16string(u"2024-01-01 00:00:00\u00e9")}) {
        EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrTimestamp, const_cast<char16_t*>(bad.c_str()), SQL_NTS), SQL_ERROR);
        EXPECT_EQ(t.year, 2024);
    }
    const std::u16string empty;
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrTimestamp, const_cast<char16_t*>(empty.c_str()), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(t.set, 0);
    EXPECT_EQ(t.year, 0);
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrTimestamp, const_cast<char16_t*>(text.c_str()), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrTimestamp, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(t.set, 0);
}

TEST_F(DriverAttr, PersistModeFollowsTheResultItWasSetFor)
{
    // Needs an executed statement.
    EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrPersistMode, asPointer(2), 0), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrPersistMode, asPointer(2), 0), SQL_SUCCESS);
    EXPECT_EQ(stmt->xmlPersistMode, 2);
    ASSERT_EQ(stmt->closeCursorApi(), SQL_SUCCESS);
    EXPECT_EQ(stmt->xmlPersistMode, 1);
}

TEST_F(DriverAttr, PersistingWithoutAWriterIsRefused)
{
    const BaseXmlPersister before = baseSetXmlPersister(nullptr);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    const std::u16string target = u"never.xml";
    EXPECT_EQ(stmt->setStmtAttr(kBaseStmtAttrPersistXml, const_cast<char16_t*>(target.c_str()), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNotSupported);
    baseSetXmlPersister(before);
}

// Failover records each setting once, with its latest value; actions that
// write through the application's pointers or into files are not recorded,
// and a freed statement's records go with it.
TEST_F(DriverAttr, ReplayRecordsKeepTheLatestSettingOnly)
{
    conn->failoverMode = 1;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_ROWS, asPointer(10), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_ROWS, asPointer(20), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_LENGTH, asPointer(300), 0), SQL_SUCCESS);
    // A refused set is no setting. (The value is no descriptor: it is
    // refused without being read.)
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_APP_ROW_DESC, asPointer(0x10), 0), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_INVALID_ATTRIBUTE_VALUE);
    intptr_t value = 0;
    EXPECT_EQ(stmtAttrEvents(conn, stmt, SQL_ATTR_MAX_ROWS, &value), 1u);
    EXPECT_EQ(value, 20);
    EXPECT_EQ(stmtAttrEvents(conn, stmt, SQL_ATTR_MAX_LENGTH), 1u);
    EXPECT_EQ(stmtAttrEvents(conn, stmt, SQL_ATTR_APP_ROW_DESC), 0u);

    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 4"), SQL_SUCCESS);
    int64_t last = 0;
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrLastRow, &last, 0), SQL_SUCCESS);
    EXPECT_EQ(stmtAttrEvents(conn, stmt, kBaseStmtAttrLastRow), 0u);

    // Another statement's records are its own.
    auto* other = make<katest::TestStatement>();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(other->setStmtAttr(SQL_ATTR_MAX_ROWS, asPointer(30), 0), SQL_SUCCESS);
    EXPECT_EQ(stmtAttrEvents(conn, stmt, SQL_ATTR_MAX_ROWS), 1u);
    EXPECT_EQ(stmtAttrEvents(conn, other, SQL_ATTR_MAX_ROWS), 1u);
    ASSERT_EQ(other->freeStmt(SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(stmtAttrEvents(conn, other, SQL_ATTR_MAX_ROWS), 0u);
    EXPECT_EQ(stmtAttrEvents(conn, stmt, SQL_ATTR_MAX_ROWS), 1u);

    // Without failover nothing is recorded.
    conn->failoverMode = 0;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_LENGTH, asPointer(400), 0), SQL_SUCCESS);
    EXPECT_EQ(stmtAttrEvents(conn, stmt, SQL_ATTR_MAX_LENGTH, &value), 1u);
    EXPECT_EQ(value, 300);
}

TEST_F(DriverAttr, AStatementAttributeSetOnTheConnectionReachesTheStatementsItHas)
{
    auto* second = make<katest::TestStatement>();
    ASSERT_NE(second, nullptr);
    auto valueOf = [](BaseStatement* s, int32_t attribute) {
        SQLULEN v = 0xdead;
        EXPECT_EQ(s->getStmtAttr(attribute, &v, 0, nullptr), SQL_SUCCESS);
        return v;
    };
    // Above the connection's limit: stored as the limit with a warning, and
    // the limit is what every statement gets.
    conn->maxRowsLimit = 50;
    ASSERT_EQ(conn->setConnectAttr(SQL_MAX_ROWS, asPointer(80), 0), SQL_SUCCESS_WITH_INFO);
    int64_t stored = 0;
    ASSERT_TRUE(conn->defaultStmtAttr(SQL_MAX_ROWS, &stored));
    EXPECT_EQ(stored, 50);
    EXPECT_EQ(valueOf(stmt, SQL_ATTR_MAX_ROWS), 50u);
    EXPECT_EQ(valueOf(second, SQL_ATTR_MAX_ROWS), 50u);
    // A flag kept in the statement's flag word.
    ASSERT_EQ(conn->setConnectAttr(SQL_NOSCAN, asPointer(SQL_NOSCAN_ON), 0), SQL_SUCCESS);
    EXPECT_EQ(valueOf(stmt, SQL_ATTR_NOSCAN), SQL_NOSCAN_ON);
    EXPECT_EQ(valueOf(second, SQL_ATTR_NOSCAN), SQL_NOSCAN_ON);
    // A statement with an open cursor keeps its cursor, and the
    // connection's call says so.
    second->statementState = kBaseStmtCursorOpen;
    EXPECT_EQ(conn->setConnectAttr(SQL_CURSOR_TYPE, asPointer(SQL_CURSOR_FORWARD_ONLY), 0), SQL_ERROR);
    BaseErrorList* list = conn->callDiagnostics();
    ASSERT_NE(list, nullptr);
    ASSERT_GE(list->recordCount(), 1u);
    EXPECT_EQ(list->recordAt(0)->sqlstateMsg, kBaseIdxCursorState);
    second->statementState = kBaseStmtAllocated;
    ASSERT_EQ(second->freeStmt(SQL_DROP), SQL_SUCCESS);
}

TEST_F(DriverAttr, NewStatementsTakeTheConnectionsDefaults)
{
    conn->queryTimeoutSupported = 1;
    conn->queryTimeout = 7;
    ASSERT_EQ(conn->setConnectAttr(SQL_MAX_ROWS, asPointer(12), 0), SQL_SUCCESS);
    auto* fresh = make<katest::TestStatement>();
    ASSERT_NE(fresh, nullptr);
    SQLULEN v = 0;
    ASSERT_EQ(fresh->getStmtAttr(SQL_ATTR_QUERY_TIMEOUT, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, 7u);
    ASSERT_EQ(fresh->getStmtAttr(SQL_ATTR_MAX_ROWS, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, 12u);
    // The statement's own setting wins from then on.
    ASSERT_EQ(fresh->setStmtAttr(SQL_ATTR_QUERY_TIMEOUT, asPointer(0), 0), SQL_SUCCESS);
    ASSERT_EQ(fresh->getStmtAttr(SQL_ATTR_QUERY_TIMEOUT, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, 0u);
    ASSERT_EQ(fresh->freeStmt(SQL_DROP), SQL_SUCCESS);
}
