// The multi-row insert builder driven by the execute core: the batch texts
// it writes from INSERT templates, where batches end (the room a value
// really takes, NULs included, and the partial row carried into the next
// batch), the parameter statuses, the processed count and ignored rows.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/basemultirow.h"
#include "odbc/basestmt.h"
#include "support/stmtfixture.h"

namespace {

constexpr size_t kGuard = 16;
constexpr char kGuardByte = '\x5a';

// A batch area of a chosen size with guard bytes behind it; every batch
// sent is recorded.
class RecordingBuilder : public BaseMultiRowInsert {
public:
    size_t capacity = 1 << 16;
    std::vector<char> storage;
    std::vector<std::string> sent;
    bool guardsHeld = true;

    int16_t begin() noexcept override
    {
        checkGuards();
        storage.assign(capacity + kGuard, kGuardByte);
        outputBuffer = storage.data();
        outputCapacity = capacity;
        writeOffset = 0;
        return 0;
    }
    int16_t send() noexcept override
    {
        checkGuards();
        sent.emplace_back(outputBuffer, writeOffset);
        return 0;
    }
    void checkGuards() noexcept
    {
        for (size_t i = capacity; i < storage.size(); ++i)
            guardsHeld = guardsHeld && storage[i] == kGuardByte;
    }
};

// A statement whose driver gathers INSERT rows into the recording builder;
// a batch holding failingText fails as a server refusal would.
class BatchStatement : public katest::TestStatement {
public:
    explicit BatchStatement(BaseConnection* c) noexcept : TestStatement(c) {}
    RecordingBuilder builder;
    bool escapes = false;
    std::string failingText = "\x01never";
    std::vector<std::string> singleRows;  // rows run on their own, first value
    int64_t lastBatchRows = 0;
    bool lastWasBatch = false;

    // What the template analysis posted, as a driver takes it off the list
    // before running the rows one by one.
    std::u16string templateDiagnostic;

    int16_t beginMultiRowInsert() noexcept override
    {
        builder.init(this);
        const std::u16string& sql = prepared.back();
        KaErrorList* list = KaErrorCurrentList();
        const size_t d0 = list->recordCount();
        if (builder.parseInsert(reinterpret_cast<const uint16_t*>(sql.data()), sql.size()) == 0 && builder.active() &&
            builder.templateMarkers() == markerCount) {
            multiRowInsert = &builder;
            return 1;
        }
        templateDiagnostic.clear();
        if (list->recordCount() > d0) {
            const auto* text = reinterpret_cast<const char16_t*>(list->recordAt(d0)->messageW());
            templateDiagnostic = text != nullptr ? text : u"";
        }
        while (list->recordCount() > d0)
            list->discardLast();
        return 0;
    }
    int16_t setParamValue(uint16_t marker, const void* data, int64_t length, int32_t mode) noexcept override
    {
        if (marker == 1)
            pending.clear();
        if (TestStatement::setParamValue(marker, data, length, mode) != 0)
            return 1;
        if (multiRowInsert == nullptr || !builder.active())
            return 0;
        const int16_t type = ipd->ipdRecord(marker)->conciseType;
        return builder.appendValues(marker, type, data, length, length == SQL_NULL_DATA, escapes, false);
    }
    int16_t executeHook() noexcept override
    {
        lastWasBatch = multiRowInsert != nullptr && builder.active();
        if (!lastWasBatch) {
            singleRows.push_back(pending.empty() ? std::string() : pending[0].bytes);
            return TestStatement::executeHook();
        }
        const std::string text(builder.outputBuffer, builder.writeOffset);
        if (text.find(failingText) != std::string::npos) {
            basePostErrorTextA(kBaseIdxGeneralError, 0, "the server refused the batch", 3);
            return 1;
        }
        lastBatchRows = 1;
        for (size_t at = text.find("),("); at != std::string::npos; at = text.find("),(", at + 1))
            ++lastBatchRows;
        return builder.send();
    }
    int16_t getRowCount(int64_t* count) noexcept override
    {
        if (!lastWasBatch)
            return TestStatement::getRowCount(count);
        *count = lastBatchRows;
        return 0;
    }
};

using Value = std::optional<std::string>;

class MultiRowInsert : public katest::StmtFixture {
protected:
    void SetUp() override
    {
        StmtFixture::SetUp();
        if (HasFatalFailure())
            return;
        batch = make<BatchStatement>();
        ASSERT_NE(batch, nullptr);
    }

    // Column-wise character arrays, one per parameter, of the rows given;
    // sqlTypes[p] is parameter p + 1's SQL type.
    void bind(const std::vector<int16_t>& sqlTypes, const std::vector<std::vector<Value>>& rows)
    {
        const auto n = static_cast<uint16_t>(sqlTypes.size());
        ASSERT_EQ(batch->ensureDescriptorRecords(n, 4), 0);
        buffers.assign(n, {});
        lengths.assign(n, {});
        for (uint16_t p = 0; p < n; ++p) {
            size_t width = 1;
            for (const auto& row : rows)
                if (row[p])
                    width = std::max(width, row[p]->size() + 1);
            buffers[p].assign(width * rows.size(), '\0');
            lengths[p].assign(rows.size(), 0);
            for (size_t r = 0; r < rows.size(); ++r) {
                if (!rows[r][p]) {
                    lengths[p][r] = SQL_NULL_DATA;
                    continue;
                }
                std::memcpy(&buffers[p][r * width], rows[r][p]->data(), rows[r][p]->size());
                lengths[p][r] = static_cast<SQLLEN>(rows[r][p]->size());
            }
            BaseAXDRecord* apd = batch->currentApd->axdRecord(p + 1);
            apd->setConciseType(SQL_C_CHAR);
            apd->dataPtr = buffers[p].data();
            apd->octetLength = static_cast<int64_t>(width);
            apd->indicatorPtr = lengths[p].data();
            apd->octetLengthPtr = lengths[p].data();
            BaseIPDRecord* ipd = batch->ipd->ipdRecord(p + 1);
            ipd->setConciseType(sqlTypes[p]);
            ipd->length = 4000;
        }
        statuses.assign(rows.size() + 1, 99);
        ASSERT_EQ(batch->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(rows.size()), 0), SQL_SUCCESS);
        ASSERT_EQ(batch->setStmtAttr(SQL_ATTR_PARAM_STATUS_PTR, statuses.data(), 0), SQL_SUCCESS);
        ASSERT_EQ(batch->setStmtAttr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    }

    int16_t run(const char16_t* sql, const std::vector<int16_t>& sqlTypes, const std::vector<std::vector<Value>>& rows)
    {
        if (batch->prepare(katest::W(sql), SQL_NTS) != SQL_SUCCESS)
            return -100;
        bind(sqlTypes, rows);
        return batch->execute();
    }

    std::vector<uint16_t> rowStatuses(size_t n) const { return {statuses.begin(), statuses.begin() + n}; }
    int64_t rowCount()
    {
        SQLLEN count = -7;
        EXPECT_EQ(batch->rowCountApi(&count), SQL_SUCCESS);
        return count;
    }

    BatchStatement* batch = nullptr;
    std::vector<std::vector<char>> buffers;
    std::vector<std::vector<SQLLEN>> lengths;
    std::vector<uint16_t> statuses;
    SQLULEN processed = 0;
};

TEST_F(MultiRowInsert, TemplatesAndValuesBecomeOneBatchText)
{
    struct Case {
        const char16_t* sql;
        std::vector<int16_t> types;
        std::vector<std::vector<Value>> rows;
        bool escapes;
        std::string expected;
    } cases[] = {
        {u"INSERT INTO t (a, b) VALUES (?, 5)",
         {SQL_INTEGER},
         {{"1"}, {"2"}},
         false,
         "INSERT INTO t (a, b) VALUES(1,5),(2,5)"},
        {u"insert into t values (UPPER(?), ?)",
         {SQL_VARCHAR, SQL_VARCHAR},
         {{"x", std::nullopt}, {"y", "z"}},
         false,
         "insert into t values(UPPER('x'),null),(UPPER('y'),'z')"},
        {u"INSERT INTO t VALUES (?, 'a,b', -3, ?)",
         {SQL_VARCHAR, SQL_DOUBLE},
         {{"O'Brien", "-1.5e3"}, {"", "0"}},
         false,
         "INSERT INTO t VALUES('O''Brien','a,b',-3,-1.5e3),('','a,b',-3,0)"},
        {u"INSERT INTO t VALUES (/* c */ ?, (1 + 2), f(x, ?))",
         {SQL_BIGINT, SQL_VARCHAR},
         {{"7", "q"}, {"8", "r"}},
         false,
         "INSERT INTO t VALUES(7,(1 + 2),f(x, 'q')),(8,(1 + 2),f(x, 'r'))"},
        {u"INSERT INTO t VALUES (?)",
         {SQL_VARCHAR},
         {{std::string("a\\b\0c", 5)}, {"\\"}},
         true,
         "INSERT INTO t VALUES(E'a\\\\b\\000c'),(E'\\\\')"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.expected));
        batch->builder.sent.clear();
        batch->escapes = c.escapes;
        ASSERT_EQ(run(c.sql, c.types, c.rows), SQL_SUCCESS);
        ASSERT_EQ(batch->builder.sent.size(), 1u);
        EXPECT_EQ(batch->builder.sent[0], c.expected);
        EXPECT_EQ(rowStatuses(c.rows.size()), std::vector<uint16_t>(c.rows.size(), SQL_PARAM_SUCCESS));
        EXPECT_EQ(processed, c.rows.size());
        EXPECT_EQ(rowCount(), static_cast<int64_t>(c.rows.size()));
        EXPECT_TRUE(batch->singleRows.empty());
    }
}

TEST_F(MultiRowInsert, TextsThatCannotBeBatchedRunRowByRowAndSayWhereTheyStopped)
{
    struct Case {
        const char16_t* sql;
        const char16_t* offset;  // of the text that stopped the analysis (the end: no VALUES)
    } cases[] = {
        {u"INSERT INTO t SELECT ? FROM u", u"offset 29"},
        {u"INSERT INTO t VALUES (concat(?, ?))", u"offset 22"},
        {u"INSERT INTO t PARTITION (p = ?) VALUES (?)", u"offset 29"},
        {u"INSERT INTO t VALUES (?), (?)", u"offset 24"},
        {u"INSERT INTO t VALUES (?, ? AND", u"offset 27"},
        {u"UPDATE t SET a = ? WHERE b = ?", u"offset 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sql, c.sql + std::char_traits<char16_t>::length(c.sql)));
        batch->builder.sent.clear();
        batch->singleRows.clear();
        ASSERT_EQ(run(c.sql, {SQL_VARCHAR, SQL_VARCHAR}, {{"a", "b"}, {"c", "d"}, {"e", "f"}}), SQL_SUCCESS);
        EXPECT_TRUE(batch->builder.sent.empty());
        EXPECT_EQ(batch->singleRows, (std::vector<std::string>{"a", "c", "e"}));
        EXPECT_EQ(rowStatuses(3), std::vector<uint16_t>(3, SQL_PARAM_SUCCESS));
        EXPECT_NE(batch->templateDiagnostic.find(c.offset), std::u16string::npos)
            << std::string(batch->templateDiagnostic.begin(), batch->templateDiagnostic.end());
    }
}

TEST_F(MultiRowInsert, TheRoomCheckCountsWhatAValueReallyTakes)
{
    // 400 NUL bytes take 1600 bytes as escapes: the second row does not fit
    // behind the first, nor into an empty area, and runs on its own.
    batch->builder.capacity = 1400;
    batch->escapes = true;
    const std::string nuls(400, '\0');
    ASSERT_EQ(run(u"INSERT INTO t VALUES (?)", {SQL_VARCHAR}, {{"a"}, {nuls}, {"b"}}), SQL_SUCCESS);
    EXPECT_TRUE(batch->builder.guardsHeld);
    EXPECT_EQ(batch->builder.sent,
              (std::vector<std::string>{"INSERT INTO t VALUES('a')", "INSERT INTO t VALUES('b')"}));
    EXPECT_EQ(batch->singleRows, std::vector<std::string>{nuls});
    EXPECT_EQ(rowStatuses(3), std::vector<uint16_t>(3, SQL_PARAM_SUCCESS));
    EXPECT_EQ(processed, 3u);
}

TEST_F(MultiRowInsert, ARowThatOverflowsCarriesItsFirstValuesIntoTheNextBatch)
{
    batch->builder.capacity = 2000;
    const std::string a(900, 'a');
    const std::string b(1100, 'b');
    ASSERT_EQ(run(u"INSERT INTO t VALUES (?, ?)", {SQL_VARCHAR, SQL_VARCHAR}, {{"x", a}, {"y", b}}), SQL_SUCCESS);
    EXPECT_TRUE(batch->builder.guardsHeld);
    ASSERT_EQ(batch->builder.sent.size(), 2u);
    EXPECT_EQ(batch->builder.sent[0], "INSERT INTO t VALUES('x','" + a + "')");
    EXPECT_EQ(batch->builder.sent[1], "INSERT INTO t VALUES('y','" + b + "')");
    EXPECT_EQ(rowCount(), 2);
}

TEST_F(MultiRowInsert, ManyRowsSplitIntoBatchesThatKeepEveryRowInOrder)
{
    batch->builder.capacity = 1500;
    std::vector<std::vector<Value>> rows;
    std::string all;
    for (int i = 0; i < 300; ++i) {
        rows.push_back({std::to_string(i), "v" + std::to_string(i * 7)});
        all += (all.empty() ? "(" : ",(") + std::to_string(i) + ",'v" + std::to_string(i * 7) + "')";
    }
    ASSERT_EQ(run(u"INSERT INTO t VALUES (?, ?)", {SQL_INTEGER, SQL_VARCHAR}, rows), SQL_SUCCESS);
    EXPECT_TRUE(batch->builder.guardsHeld);
    ASSERT_GT(batch->builder.sent.size(), 3u);
    std::string joined;
    const std::string head = "INSERT INTO t VALUES";
    for (const std::string& text : batch->builder.sent) {
        EXPECT_LE(text.size(), batch->builder.capacity);
        ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
        joined += (joined.empty() ? "" : ",") + text.substr(head.size());
    }
    EXPECT_EQ(joined, all);
    EXPECT_EQ(rowStatuses(300), std::vector<uint16_t>(300, SQL_PARAM_SUCCESS));
    EXPECT_EQ(statuses[300], 99);
    EXPECT_EQ(processed, 300u);
    EXPECT_EQ(rowCount(), 300);
}

TEST_F(MultiRowInsert, StatusesShowWhichRowsFailedAndWhichWereNotRun)
{
    constexpr uint16_t S = SQL_PARAM_SUCCESS, E = SQL_PARAM_ERROR, U = SQL_PARAM_UNUSED;
    struct Case {
        const char* what;
        size_t capacity;
        std::vector<std::vector<Value>> rows;
        int16_t rc;
        std::vector<uint16_t> statuses;
        SQLULEN processed;
        size_t batchesSent;
    } cases[] = {
        // A number that is not one fails its row; the rows before it are
        // inserted and the array ends there.
        {"bad number", 1 << 16, {{"1"}, {"2"}, {"3 OR 1=1"}, {"4"}}, SQL_SUCCESS_WITH_INFO, {S, S, E, U}, 3, 1},
        {"bad first row", 1 << 16, {{"x"}, {"2"}}, SQL_ERROR, {E, U}, 1, 0},
        // The server refuses the only batch: every row in it failed.
        {"refused batch", 1 << 16, {{"1"}, {"666"}, {"3"}}, SQL_ERROR, {E, E, E}, 3, 0},
        // Too little room is left after a row: the batch goes at once and
        // is refused; the batch before it stands, the rows after it are not
        // run.
        {"refused early batch",
         1050,
         {{"1"}, {"2"}, {"3"}, {"666"}, {"5"}},
         SQL_SUCCESS_WITH_INFO,
         {S, S, E, E, U},
         4,
         1},
        // A value does not fit behind the rows gathered, which are sent
        // and refused: the row being handed over was never sent.
        {"refused while handing over", 1050, {{"666"}, {std::string(1040, '9')}, {"3"}}, SQL_ERROR, {E, U, U}, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        batch->builder.sent.clear();
        batch->builder.capacity = c.capacity;
        batch->failingText = "666";
        ASSERT_EQ(run(u"INSERT INTO t VALUES (?)", {SQL_INTEGER}, c.rows), c.rc);
        EXPECT_EQ(rowStatuses(c.rows.size()), c.statuses);
        EXPECT_EQ(processed, c.processed);
        EXPECT_EQ(batch->builder.sent.size(), c.batchesSent);
        if (c.rc == SQL_SUCCESS_WITH_INFO) {
            ASSERT_GE(batch->diagnostics.recordCount(), 1u);
            EXPECT_TRUE(batch->diagnostics.recordAt(0)->isWarning());
        }
    }
}

TEST_F(MultiRowInsert, IgnoredRowsStayOutOfTheBatchAndKeepTheirStatus)
{
    struct Case {
        std::vector<uint16_t> operations;
        std::string batchText;
    } cases[] = {
        {{SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED},
         "INSERT INTO t VALUES('r0'),('r2'),('r4')"},
        // The last row ignored: the rows gathered before it are still sent.
        {{SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_IGNORE, SQL_PARAM_IGNORE},
         "INSERT INTO t VALUES('r0'),('r1')"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.batchText);
        batch->builder.sent.clear();
        ASSERT_EQ(batch->prepare(katest::W(u"INSERT INTO t VALUES (?)"), SQL_NTS), SQL_SUCCESS);
        bind({SQL_VARCHAR}, {{"r0"}, {"r1"}, {"r2"}, {"r3"}, {"r4"}});
        ASSERT_EQ(batch->setStmtAttr(SQL_ATTR_PARAM_OPERATION_PTR, c.operations.data(), 0), SQL_SUCCESS);
        ASSERT_EQ(batch->execute(), SQL_SUCCESS);
        ASSERT_EQ(batch->builder.sent.size(), 1u);
        EXPECT_EQ(batch->builder.sent[0], c.batchText);
        size_t proceeding = 0;
        for (size_t r = 0; r < 5; ++r) {
            const bool ignored = c.operations[r] == SQL_PARAM_IGNORE;
            proceeding += ignored ? 0 : 1;
            EXPECT_EQ(statuses[r], ignored ? SQL_PARAM_UNUSED : SQL_PARAM_SUCCESS) << r;
        }
        EXPECT_EQ(processed, proceeding);
        EXPECT_EQ(rowCount(), static_cast<int64_t>(proceeding));
        ASSERT_EQ(batch->setStmtAttr(SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0), SQL_SUCCESS);
    }
}

TEST_F(MultiRowInsert, AValueSentAtExecutionSendsTheRowsGatheredAndGoesOnRowByRow)
{
    ASSERT_EQ(batch->prepare(katest::W(u"INSERT INTO t VALUES (?)"), SQL_NTS), SQL_SUCCESS);
    bind({SQL_VARCHAR}, {{"r0"}, {"r1"}, {"r2"}});
    lengths[0][1] = SQL_DATA_AT_EXEC;
    ASSERT_EQ(batch->execute(), SQL_NEED_DATA);
    EXPECT_EQ(batch->builder.sent, std::vector<std::string>{"INSERT INTO t VALUES('r0')"});
    void* token = nullptr;
    ASSERT_EQ(batch->paramData(&token), SQL_NEED_DATA);
    ASSERT_EQ(batch->putData(const_cast<char*>("late"), 4), SQL_SUCCESS);
    ASSERT_EQ(batch->paramData(&token), SQL_SUCCESS);
    EXPECT_EQ(batch->builder.sent.size(), 1u);
    EXPECT_EQ(batch->singleRows, (std::vector<std::string>{"late", "r2"}));
    EXPECT_EQ(rowStatuses(3), std::vector<uint16_t>(3, SQL_PARAM_SUCCESS));
    EXPECT_EQ(processed, 3u);
    EXPECT_EQ(rowCount(), 3);
}

TEST_F(MultiRowInsert, ParamStatusRangeFillsTheBatchRowsAndPassesOverIgnoredOnes)
{
    ASSERT_EQ(batch->prepare(katest::W(u"INSERT INTO t VALUES (?)"), SQL_NTS), SQL_SUCCESS);
    bind({SQL_VARCHAR}, {{"a"}, {"b"}, {"c"}, {"d"}, {"e"}});
    uint16_t operations[5] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED,
                              SQL_PARAM_PROCEED};
    ASSERT_EQ(batch->setStmtAttr(SQL_ATTR_PARAM_OPERATION_PTR, operations, 0), SQL_SUCCESS);
    batch->insertBatchStart = 1;
    batch->setParamStatusRange(true, SQL_PARAM_ERROR, 4);
    EXPECT_EQ(rowStatuses(6), (std::vector<uint16_t>{99, SQL_PARAM_ERROR, 99, SQL_PARAM_ERROR, 99, 99}));
    batch->setParamStatusRange(false, SQL_PARAM_ERROR, 4);
    EXPECT_EQ(rowStatuses(6), (std::vector<uint16_t>{99, 0, 99, 0, 99, 99}));
}

}  // namespace
