// The HiveServer2 statement: the driver's form of BaseStatement, made on a
// HiveConnection by SQLAllocHandle. It prepares and executes through its
// communicator, binds each result column to a data reader, serves rows
// block by block and hands column values to the readers. Its descriptor
// classes are in hive/hivedesc.h.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "catalog/basecata.h"
#include "hive/hivearrayinsert.h"
#include "hive/hivecatalog.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveparkedreply.h"
#include "hive/hivereader.h"
#include "foundation/kastringw.h"
#include "odbc/basestmt.h"

class BaseConnection;
class BaseIRDRecord;
class BaseSqlStringW;
class HiveConnection;
class HiveIRDRecord;
class KaDataConverter;
class KaDataSink;

// Result states of a Hive statement.
enum : int32_t {
    HIVE_RESULT_NONE = 0,
    HIVE_RESULT_OPEN = 1,
    HIVE_RESULT_OPEN_ON_CACHE = 2,
    HIVE_RESULT_CLOSED = 3,
    // Reading the result failed: its end is unknown, so later fetches fail
    // instead of reporting the end of the rows.
    HIVE_RESULT_FAILED = 4,
};

// Column-wise fetch states: no block asked for yet, block being served,
// read-ahead sent, read-ahead failed.
enum : int32_t {
    HIVE_FETCH_NONE = -1,
    HIVE_FETCH_IDLE = 0,
    HIVE_FETCH_SERVING = 1,
    HIVE_FETCH_AHEAD = 2,
    HIVE_FETCH_AHEAD_FAILED = 3,
};

// Statement kinds of the analysed text the Hive statement tests.
enum : int32_t {
    HIVE_KIND_ALTER = 1,
    HIVE_KIND_CREATE = 2,
    HIVE_KIND_DROP = 4,
    HIVE_KIND_INSERT = 6,
    HIVE_KIND_SELECT = 8,
    HIVE_KIND_OTHER = 11,
};

// The connection settings the statement's execution and fetch read.
struct HiveStatementSettings {
    int32_t resultStyle;         // HIVE_RESULT_ROW_WISE or HIVE_RESULT_COLUMN_WISE
    int32_t pollAlways;          // UseAsyncExecute or AlwaysPollCompletionStatus
    int32_t useAsync;            // UseAsyncExecute
    int32_t longDataCache;       // LongDataCacheSize is not -1
    int16_t stringDescribeType;  // StringDescribeType
    int64_t maxStringSize;       // MaxStringSize
    int32_t maxNumericPrecision;
    int32_t maxNumericScale;
    int64_t arrayFetchSize;  // ArrayFetchSize (bytes, per block)
    int64_t maxRowsInFetch;  // MaxRowsInFetch, -1 none
    uint16_t operationStatusDelay;
    uint64_t longDataBufferSize;  // LongDataCacheSize in bytes
};
// The settings of conn; the defaults without one.
void hiveStatementSettingsOf(const HiveConnection* conn, HiveStatementSettings* out) noexcept;

class HiveStatement : public BaseCatalogStatement {
public:
    explicit HiveStatement(BaseConnection* connection) noexcept;
    ~HiveStatement() override;

    // ---- Framework hooks -----------------------------------------------------
    [[nodiscard]] int16_t prepareHook(BaseSqlStringW* text) noexcept override;
    [[nodiscard]] int16_t executeHook() noexcept override;
    [[nodiscard]] int16_t moreResultsHook(int16_t* noMoreResults) noexcept override;
    [[nodiscard]] int16_t fetchRow(int16_t* noMoreRows) noexcept override;
    [[nodiscard]] int16_t getColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;
    [[nodiscard]] int16_t getRowCount(int64_t* count) noexcept override;
    [[nodiscard]] int16_t describeStatement() noexcept override;
    [[nodiscard]] int16_t createIRD(BaseIRD** out) noexcept override;
    [[nodiscard]] int16_t createIPD(BaseIPD** out) noexcept override;
    [[nodiscard]] int16_t createCofC(BaseCofC** out) noexcept override;
    [[nodiscard]] int16_t closeCursorHook() noexcept override;
    [[nodiscard]] int16_t freeResultsHook(bool drop) noexcept override;
    [[nodiscard]] int16_t cancelAsync() noexcept override;
    void cancelRunning() noexcept override;
    [[nodiscard]] int16_t getStmtAttrHook(int32_t attribute, void* value, int32_t bufferLength,
                                          int32_t* stringLength) noexcept override;
    [[nodiscard]] int16_t setStmtAttrHook(int32_t attribute, void* value, int32_t length) noexcept override;
    [[nodiscard]] int16_t initStatement() noexcept override;
    // The statement moves to the connection that replaced a lost one.
    int16_t rebindConverterCache(BaseConnection* newConnection) noexcept override;
    [[nodiscard]] int16_t setParamValue(uint16_t marker, const void* data, int64_t length,
                                        int32_t mode) noexcept override;
    [[nodiscard]] int16_t describeParamHook(uint16_t param, int16_t* dataType, uint64_t* size, int16_t* digits,
                                            int16_t* nullable) noexcept override;
    [[nodiscard]] int16_t checkLongDataCache(uint16_t column, int16_t cType, KaDataSink* sink, int16_t* isNull,
                                             BaseIRDRecord* record, KaDataConverter** converter) noexcept override;
    [[nodiscard]] int16_t columnDataAvailable(uint16_t column, bool charType, int16_t sqlType, bool continuing,
                                              int32_t passThrough) noexcept override;

    // ---- Catalog listing (hive/hivecatalog.cpp) --------------------------------
    [[nodiscard]] int16_t tablesHook(const uint16_t* types, int16_t typesLength) noexcept override;
    [[nodiscard]] int16_t columnsHook() noexcept override;
    [[nodiscard]] int16_t catalogFetchRow(int16_t* end) noexcept override;
    [[nodiscard]] int16_t catalogColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;
    // The rows the catalog hooks produced.
    HiveCatalogListing catalogListing;
    // SQLColumns through the protocol's GetColumns call: one request for the
    // whole listing. 0, or 1 with the diagnostics of the failed call.
    [[nodiscard]] int16_t nativeGetColumns() noexcept;
    // Set while the listing runs a protocol metadata call: the execute step
    // sends it instead of the SQL text.
    HiveMetadataCall* metadataCall = nullptr;

    // ---- Statistics, special columns, keys, procedures and privileges
    // (hive/hivecatalogderived.cpp) --------------------------------------------
    [[nodiscard]] int16_t specialColumnsHook(int16_t* noAnswer) noexcept override;
    [[nodiscard]] int16_t statisticsHook(int16_t hookFlag) noexcept override;
    [[nodiscard]] int16_t columnPrivilegesHook() noexcept override;
    [[nodiscard]] int16_t foreignKeysHook() noexcept override;
    [[nodiscard]] int16_t primaryKeysHook() noexcept override;
    [[nodiscard]] int16_t procedureColumnsHook() noexcept override;
    [[nodiscard]] int16_t proceduresHook() noexcept override;
    [[nodiscard]] int16_t tablePrivilegesHook() noexcept override;

    // ---- Result columns ----------------------------------------------------
    // Describes column n + 1 of the result descriptor from the metadata
    // reply and gives it its reader; 0, or 1 after the diagnostic.
    [[nodiscard]] int16_t bindResultColumn(uint16_t n, const char* name, size_t nameLength, uint8_t typeCode,
                                           int32_t first, int32_t second) noexcept;
    // The record of result column `column` (1-based), or null.
    HiveIRDRecord* columnRecord(uint16_t column) const noexcept;

    // ---- The statement's own SQL text ----------------------------------------
    [[nodiscard]] int16_t reserveSqlText(size_t units) noexcept;
    [[nodiscard]] int16_t setSqlText(const uint16_t* text, size_t units) noexcept;

    // ---- Parameter values ----------------------------------------------------
    // The marker positions of the prepared text, from its analysis.
    [[nodiscard]] int16_t recordMarkers(BaseSqlStringW* text) noexcept;
    // The text with every parameter value written in, once every marker had
    // its value (none without markers). 0, or 1 after the diagnostic.
    [[nodiscard]] int16_t finishParamText(const uint16_t** text, size_t* units) noexcept;
    // Appends parameter marker's value to paramText as a HiveQL literal.
    [[nodiscard]] int16_t appendParamLiteral(uint16_t marker, const void* data, int64_t length) noexcept;

    // ---- The wire --------------------------------------------------------------
    // Makes this statement the one whose reply the connection's wire carries;
    // a statement that still had an unread reply gives it up first. 0 or 1.
    [[nodiscard]] int16_t acquireWire() noexcept;
    // Nobody's reply is pending on the wire any more.
    void releaseWire() noexcept;
    // Reads off and drops what is left of this statement's reply (and of
    // its read-ahead), then releases the wire. 0 or 1.
    [[nodiscard]] int16_t dropPendingReply() noexcept;
    // The statement of the connection whose reply is on the wire, or null.
    static HiveStatement* wireOwnerOf(HiveConnection* conn) noexcept;
    // Another statement needs the wire: what is left of this statement's
    // reply (the rest of a row-wise block, or a column-wise read-ahead not
    // read yet) is read off the socket, into memory up to hiveParkMemoryLimit()
    // and into a private temporary file past it, and the wire is given up.
    // 0, or 1 after the diagnostic.
    [[nodiscard]] int16_t parkReply() noexcept;
    // Before this statement reads its reply again: it takes the wire and
    // its parked bytes are put back into the read buffer, where the reply
    // readers continue as if they had never left; the bytes of the spill
    // file follow from the file. 0 when nothing is parked.
    [[nodiscard]] int16_t resumeParkedReply() noexcept;
    // Forgets a parked reply and empties its spill file.
    void dropParkedReply() noexcept;
    // The same, and the spill file goes too: the statement is being freed.
    void releaseParkedReply() noexcept;

    // ---- Execution steps -------------------------------------------------------
    // Sends ExecuteStatement for the text and reads what follows: the
    // result-set metadata, or the row count after polling. 0 or 1.
    [[nodiscard]] int16_t executeText(const uint16_t* text, size_t units) noexcept;
    // Polls GetOperationStatus until the operation left the running states;
    // an operation that ended in error or was cancelled fails with the
    // server's diagnostic. 0 or 1.
    [[nodiscard]] int16_t pollOperation() noexcept;
    // Sends CancelOperation for the polled operation and posts HY008;
    // always 1.
    [[nodiscard]] int16_t cancelPolledOperation() noexcept;
    // Ends the open result: unread rows passed over, the operation closed.
    [[nodiscard]] int16_t closeResult() noexcept;
    // ---- Query time-out ------------------------------------------------------
    // Starts the clock of an execute when the statement has a query
    // time-out; such an execute polls its operation, so that the time-out is
    // noticed while the server still runs it.
    void startQueryClock() noexcept;
    bool queryClockRunning() const noexcept { return queryDeadlineMs != 0; }
    // 1 once the time-out has passed: the operation was cancelled at the
    // server and HYT00 posted. 0 while time is left or without a time-out.
    [[nodiscard]] int16_t queryTimeExpired() noexcept;
    // On HTTP the deadline bounds the execute's transfers as well (0: off
    // again). The binary transport cannot abandon a reply without losing
    // its framing, so there only the polls look at the clock.
    void boundTransfersByQueryClock(int64_t deadlineMs) noexcept;
    // A failed execute step whose transfer the deadline cut short: the
    // operation is cancelled and HYT00 posted as for an expired poll; 1.
    // 0 for any other failure.
    [[nodiscard]] int16_t transferOutlivedQueryClock() noexcept;
    // Monotonic milliseconds at which the running execute times out; 0 none.
    int64_t queryDeadlineMs = 0;
    int64_t queryTimeoutSeconds = 0;
    // CloseOperation for the statement's operation, or, while another
    // statement's reply is on the wire, queued for the next statement that
    // takes it. 0 or 1.
    [[nodiscard]] int16_t closeOperationWhenFree() noexcept;

    // ---- Fetch steps -------------------------------------------------------
    [[nodiscard]] int16_t readRowRemainder() noexcept;
    [[nodiscard]] int16_t skipRowRemainder() noexcept;
    [[nodiscard]] int16_t readColumnsUpTo(uint16_t column, int16_t cType, BaseOutString* out) noexcept;
    // Streams a row-wise result on from the last column read: the columns
    // between are read (long-data ones skipped), then column itself.
    [[nodiscard]] int16_t advanceToColumn(uint16_t column) noexcept;

    HiveConnection* hiveConnection() const noexcept;

    // The communicator: the statement's TCLIService calls and operation.
    HiveCommunicatorHS2* communicator = nullptr;
    // The statement's own SQL text (UTF-16, NUL-terminated).
    uint16_t* sqlText = nullptr;
    size_t sqlTextLength = 0;
    size_t sqlTextCapacity = 0;
    // Marker offsets of sqlText, the text being built with the parameter
    // values, how far sqlText was copied into it and the marker due next.
    size_t* markerOffsets = nullptr;
    size_t markerOffsetCount = 0;
    KaStringW paramText;
    size_t paramFrom = 0;
    size_t paramNext = 1;
    int64_t hiveRowCount = 0;
    // The last column read in the current row (1-based, 0 none).
    uint16_t columnPosition = 0;
    uint32_t rowsLeft = 0;
    uint32_t rowIndex = 0;
    int32_t moreRows = 0;
    int32_t resultState = HIVE_RESULT_NONE;
    // SQLSTATE (catalogue number) of the failure that broke the result, so
    // that the fetches after it report the same state, such as a lost link;
    // also that of a failed request for the next block until a fetch needs it.
    uint16_t resultFailureState = 0;
    // Statement kind of the prepared text (KA_STMT_*).
    int32_t preparedKind = 0;
    // Set for the kinds that always run past their reply (DDL, INSERT, LOAD,
    // the poll options). The execute polls every operation all the same: a
    // query, too, may be answered while it still runs.
    bool pollFlag = false;
    bool closeAfterExecute = false;
    bool executedForDescribe = false;
    int32_t fetchState = HIVE_FETCH_NONE;
    // What the column readers share with the statement while it fetches.
    HiveFetchState readerState;
    // The settings read when the statement was last prepared or executed.
    HiveStatementSettings settings{};
    // This statement's reply is (partly) unread on the connection's wire.
    bool ownsWire = false;
    // The unread rest of the reply, read off the wire while another
    // statement used it.
    HiveParkedReply parkedReply;
    // Another statement took the wire while this one had rows unread: the
    // next fetch reports it instead of delivering a partial result silently.
    bool resultAbandoned = false;
    // Set by SQLCancel from another thread while this statement's execute
    // runs; the polling loop, which holds the wire, sends the cancel to the
    // server. Cleared when an execute begins.
    std::atomic<int32_t> cancelPending{0};

    // ---- Array insert (hive/hivearrayinsert.cpp) -------------------------------
    // 1 when the rows of this execute go as multi-row INSERT batches through
    // arrayInsert: an INSERT ... VALUES with a parameter array, BatchMechanism
    // 2 and a server that takes several rows in one VALUES.
    [[nodiscard]] int16_t beginMultiRowInsert() noexcept override;
    DrvrMultiRowInsert arrayInsert;

private:
    // Hands the metadata reply's columns to bindResultColumn.
    class ColumnBinder : public HiveColumnSink {
    public:
        explicit ColumnBinder(HiveStatement* stmt) noexcept : statement(stmt) {}
        [[nodiscard]] int columnCount(uint32_t count) noexcept override;
        [[nodiscard]] int column(uint32_t number, const char* name, size_t nameLength, uint8_t typeCode, int32_t first,
                                 int32_t second) noexcept override;
        HiveStatement* statement;
    };
    ColumnBinder columnBinder{this};

    [[nodiscard]] int16_t describeWithParameters() noexcept;
    [[nodiscard]] int16_t readBlock() noexcept;
    [[nodiscard]] int16_t finishRowAndStep() noexcept;
    [[nodiscard]] int16_t failBlock() noexcept;
    // Cancels the timed-out operation and posts HYT00; always 1.
    [[nodiscard]] int16_t endTimedOutQuery() noexcept;
};

// Writes the UTF-16 text NULL into buffer (room for 4 units); returns 4.
int hiveNullMarkerText(uint16_t* buffer) noexcept;
// The alias of the describe query: "ka_subres", or the first of its
// one- and two-letter extensions that text does not contain. 0, or 1 when
// every candidate occurs. out has room for kHiveDescribeAliasSize units.
constexpr size_t kHiveDescribeAliasSize = 12;
[[nodiscard]] int hiveDescribeAlias(const uint16_t* text, size_t units, char* out) noexcept;
