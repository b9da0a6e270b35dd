// The statement object: its descriptors, its long-data state for the column
// value being read, the conversion context it fills for the conversion
// engine and its entries into the engine, and its wrappers of the text
// conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "convert/basecvt.h"
#include "foundation/icucache.h"
#include "foundation/kaarray.h"
#include "foundation/kalist.h"
#include "foundation/kalock.h"
#include "odbc/basecursorcaps.h"
#include "odbc/baseerr.h"

class BaseCatalogInfo;
class BaseCatalogInfoW;
class BaseOutString;
class BaseResultHash;
class BaseSqlString;
class BaseSqlStringW;
class CatalogResult;
class KaCharConverter;
class KaDataConverter;
class KaDiagMark;
class BaseRowCache;
class KaDataSink;
class KaDataSource;
class KaMemorySink;
class KaMemorySource;

class BaseAXD;
class BaseAXDRecord;
class BaseRecord;
class KaStringW;
class BaseCofC;
class BaseIPDWR;
class BaseIRDWR;
class KaThreadInfo;
class BaseConnection;
class BaseDescriptor;
class BaseIPD;
class BaseIPDRecord;
class BaseIRD;
class BaseIRDRecord;
class BaseMultiRowInsert;
class BaseStatement;
class KaErrorList;
struct BaseCatalogColumn;

// Kinds of pooled objects a statement keeps, and the pool depth.
constexpr int kBaseSinkKinds = 5;
constexpr int kBaseSourceKinds = 5;
constexpr int kBaseConverterKinds = 7;
constexpr int kBasePoolDepth = 256;

// Makers of the statement's new sinks, sources and converters by kind: the
// framework's own kinds (memory, multi-memory and temporary-file streams, the
// five converters) are made and opened by the built-in makers, every other
// kind by the connection's factories. A layer above, or a test, installs its
// own, which may hand on to the ones it replaced; a null maker posts the
// general error.
struct BasePoolMakers {
    KaDataSink* (*makeSink)(BaseStatement* stmt, int kind) noexcept;
    KaDataSource* (*makeSource)(BaseStatement* stmt, int kind) noexcept;
    KaDataConverter* (*makeConverter)(BaseStatement* stmt, int kind) noexcept;
};
// Installs the makers; returns the ones installed before.
BasePoolMakers baseSetPoolMakers(const BasePoolMakers& makers) noexcept;

// Replay levels of a statement's recorded events: allocated, prepared,
// executed, cursor open, fetch positions. An event's code is its level + 1.
constexpr int kBaseReplayLevels = 5;
constexpr int kBaseReplayAllocatedLevel = 0;
constexpr int kBaseReplayPreparedLevel = 1;
constexpr int kBaseReplayExecutedLevel = 2;
constexpr int kBaseReplayCursorLevel = 3;
// One event per fetch of a scrollable cursor: the row its rowset began at
// (value) and the rows it delivered (length).
constexpr int kBaseReplayPositionLevel = 4;

// How the statement's text came to run (executionMode): not yet, prepared
// and executed, executed directly, or a catalog function's result.
constexpr int32_t kBaseExecNone = 0;
constexpr int32_t kBaseExecPrepared = 1;
constexpr int32_t kBaseExecDirect = 2;
constexpr int32_t kBaseExecCatalog = 3;

// The call a fetch serves (fetchCore's mode): SQLFetch, SQLFetchScroll,
// SQLExtendedFetch.
constexpr int kBaseFetchNext = 1;
constexpr int kBaseFetchScroll = 2;
constexpr int kBaseFetchExtended = 3;

// Statement states (StatementState).
constexpr int32_t kBaseStmtAllocated = 0;
constexpr int32_t kBaseStmtPrepared = 1;
constexpr int32_t kBaseStmtNeedData = 2;
constexpr int32_t kBaseStmtMustPutData = 3;
constexpr int32_t kBaseStmtPuttingData = 4;
constexpr int32_t kBaseStmtExecuted = 5;
constexpr int32_t kBaseStmtCursorOpen = 6;

// Statement kinds of the analysed text that the exit step tests.
constexpr int32_t kBaseKindDelete = 3;
constexpr int32_t kBaseKindInsert = 6;
constexpr int32_t kBaseKindUpdate = 9;

// Cursor types with a capability word each.
constexpr int kBaseCursorTypes = 4;

// Attribute values a statement copies from its connection, in order.
enum BaseStmtAttrIndex : int {
    kBaseAttrMaxLength,
    kBaseAttrQueryTimeout,
    kBaseAttrReserved,
    kBaseAttrMaxRows,
    kBaseAttrCursorType,
    kBaseAttrConcurrency,
    kBaseAttrAskedConcurrency,
    kBaseAttrRowsetSize,
    kBaseAttrKeysetSize,
    kBaseAttrUseBookmarks,
    kBaseAttrCursorSensitivity,
    kBaseAttrFetchBookmarkPtr,
    kBaseAttrFlags,
    kBaseAttrCount
};
constexpr int kBaseFurtherAttrCount = 3;
// Bits of attributeValues[kBaseAttrFlags].
constexpr int64_t kBaseStmtFlagAsync = 0x1;
constexpr int64_t kBaseStmtFlagNoScan = 0x2;
constexpr int64_t kBaseStmtFlagRetrieveData = 0x4;
constexpr int64_t kBaseStmtFlagScrollChanged = 0x8;
constexpr int64_t kBaseStmtFlagMetadataId = 0x10;

// Stages of a statement's failover (failoverState) that the entry step
// reports.
constexpr int32_t kBaseFailoverNone = 0;
constexpr int32_t kBaseFailoverReplay = 2;
constexpr int32_t kBaseFailoverReplaying = 3;
constexpr int32_t kBaseFailoverRestored = 4;
constexpr int32_t kBaseFailoverReported = 5;
constexpr int32_t kBaseFailoverNotRestored = 6;
constexpr int32_t kBaseFailoverDone = 7;
constexpr int32_t kBaseFailoverLost = 8;
constexpr int32_t kBaseFailoverFailed = 9;

// The thread id of a statement no thread has entered yet.
constexpr uint64_t kBaseNoThread = 0xfedcba89;
// The word pushed for a null text on the argument stack.
constexpr size_t kBaseAsyncNullText = static_cast<size_t>(-1);

// After a commit or rollback on conn: each statement with an open cursor is
// closed, reset or kept by the driver's SQL_CURSOR_COMMIT_BEHAVIOR or
// SQL_CURSOR_ROLLBACK_BEHAVIOR. 0, or 1 when a statement failed to close.
[[nodiscard]] int16_t baseEndTranCursors(BaseConnection* conn, int16_t completionType) noexcept;

// A column value of a native SetPos row operation, converted to the
// column's SQL type: its bytes, their length, the value kind and whether it
// is NULL (length SQL_NULL_DATA then).
struct BaseSetPosValue {
    const void* data;
    int64_t length;
    int32_t kind;
    int32_t isNull;
};

// Whether SQLSetPos (resp. SQLBulkOperations) can do anything on conn: some
// cursor type positions or refreshes rows, or changes them while the driver
// offers a concurrency other than read-only.
bool baseSetPosOffered(BaseConnection* conn, uint16_t functionId) noexcept;

// The diagnostics of list posted since `first` carry the rowset row (from
// 1) and, when not negative, the column, unless they carry a position
// already (odbc/basefetch.cpp).
void baseMarkDiagnostics(KaErrorList* list, size_t first, int64_t row, int64_t column) noexcept;
// Row `row` (from 1) of a scrollable cursor made current through the driver
// or the row cache, within SQL_ATTR_MAX_ROWS (odbc/basefetch.cpp).
[[nodiscard]] int16_t baseProbeRow(BaseStatement* stmt, int64_t row, uint16_t* status, bool lock) noexcept;
// The bound columns checked again before rows are read or sent
// (odbc/basefetch.cpp).
[[nodiscard]] int16_t baseCheckBindings(BaseStatement* stmt, int64_t rowsetSize) noexcept;

// The node links the statement into its connection's statement list.
class BaseStatement : public KaNode {
public:
    explicit BaseStatement(BaseConnection* connection) noexcept;
    ~BaseStatement() override;

    // ---- The statement-level ODBC functions ------------------------------
    // Each returns the ODBC return code, or -5 to be called once more with
    // the same arguments; diagnostics go to the statement's list.
    [[nodiscard]] virtual int16_t bindCol(uint16_t column, int16_t cType, void* value, int64_t bufferLength,
                                          int64_t* indicator) noexcept;
    [[nodiscard]] virtual int16_t bindParameter(uint16_t param, int16_t ioType, int16_t cType, int16_t sqlType,
                                                uint64_t columnSize, int16_t digits, void* value, int64_t bufferLength,
                                                int64_t* indicator) noexcept;
    [[nodiscard]] virtual int16_t bulkOperations(int16_t operation) noexcept;
    [[nodiscard]] virtual int16_t cancel() noexcept;
    [[nodiscard]] virtual int16_t closeCursorApi() noexcept;
    [[nodiscard]] virtual int16_t colAttribute(uint16_t column, uint16_t field, void* charValue, int16_t bufferLength,
                                               int16_t* stringLength, int64_t* numericValue) noexcept;
    [[nodiscard]] virtual int16_t columnPrivileges(const uint16_t* catalog, int16_t catalogLength,
                                                   const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                                   int16_t tableLength, const uint16_t* column,
                                                   int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t columns(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                          int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                          const uint16_t* column, int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t describeCol(uint16_t column, uint16_t* name, int16_t bufferLength,
                                              int16_t* nameLength, int16_t* dataType, uint64_t* columnSize,
                                              int16_t* digits, int16_t* nullable) noexcept;
    [[nodiscard]] virtual int16_t describeParam(uint16_t param, int16_t* dataType, uint64_t* size, int16_t* digits,
                                                int16_t* nullable) noexcept;
    [[nodiscard]] virtual int16_t execDirect(const uint16_t* text, int32_t length) noexcept;
    [[nodiscard]] virtual int16_t execute() noexcept;
    [[nodiscard]] virtual int16_t extendedFetch(uint16_t fetchType, int64_t row, uint64_t* rowCount,
                                                uint16_t* rowStatus) noexcept;
    [[nodiscard]] virtual int16_t fetchScroll(int16_t orientation, int64_t offset) noexcept;
    [[nodiscard]] virtual int16_t fetch() noexcept;
    [[nodiscard]] virtual int16_t foreignKeys(const uint16_t* pkCatalog, int16_t pkCatalogLength,
                                              const uint16_t* pkSchema, int16_t pkSchemaLength, const uint16_t* pkTable,
                                              int16_t pkTableLength, const uint16_t* fkCatalog, int16_t fkCatalogLength,
                                              const uint16_t* fkSchema, int16_t fkSchemaLength, const uint16_t* fkTable,
                                              int16_t fkTableLength) noexcept;
    // Option 1 (SQL_DROP) also serves SQLFreeHandle: on success the
    // statement is gone.
    [[nodiscard]] virtual int16_t freeStmt(uint16_t option) noexcept;
    [[nodiscard]] virtual int16_t getData(uint16_t column, int16_t cType, void* value, int64_t bufferLength,
                                          int64_t* indicator) noexcept;
    [[nodiscard]] virtual int16_t getCursorName(uint16_t* name, int16_t bufferLength, int16_t* nameLength) noexcept;
    [[nodiscard]] virtual int16_t getStmtAttr(int32_t attribute, void* value, int32_t bufferLength,
                                              int32_t* stringLength) noexcept;
    [[nodiscard]] virtual int16_t getTypeInfo(int16_t dataType) noexcept;
    [[nodiscard]] virtual int16_t moreResults() noexcept;
    [[nodiscard]] virtual int16_t numParams(int16_t* count) noexcept;
    [[nodiscard]] virtual int16_t numResultCols(int16_t* count) noexcept;
    [[nodiscard]] virtual int16_t paramData(void** value) noexcept;
    [[nodiscard]] virtual int16_t prepare(const uint16_t* text, int32_t length) noexcept;
    [[nodiscard]] virtual int16_t primaryKeys(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                              int16_t schemaLength, const uint16_t* table,
                                              int16_t tableLength) noexcept;
    [[nodiscard]] virtual int16_t procedureColumns(const uint16_t* catalog, int16_t catalogLength,
                                                   const uint16_t* schema, int16_t schemaLength,
                                                   const uint16_t* procedure, int16_t procedureLength,
                                                   const uint16_t* column, int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t procedures(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                             int16_t schemaLength, const uint16_t* procedure,
                                             int16_t procedureLength) noexcept;
    [[nodiscard]] virtual int16_t putData(void* data, int64_t length) noexcept;
    [[nodiscard]] virtual int16_t rowCountApi(int64_t* count) noexcept;
    [[nodiscard]] virtual int16_t setCursorName(const uint16_t* name, int16_t length) noexcept;
    [[nodiscard]] virtual int16_t setPos(uint64_t row, uint16_t operation, uint16_t lockType) noexcept;
    [[nodiscard]] virtual int16_t setScrollOptions(uint16_t concurrency, int64_t keyset, uint16_t rowset) noexcept;
    [[nodiscard]] virtual int16_t setStmtAttr(int32_t attribute, void* value, int32_t length) noexcept;
    [[nodiscard]] virtual int16_t specialColumns(uint16_t identifierType, const uint16_t* catalog,
                                                 int16_t catalogLength, const uint16_t* schema, int16_t schemaLength,
                                                 const uint16_t* table, int16_t tableLength, uint16_t scope,
                                                 uint16_t nullable) noexcept;
    [[nodiscard]] virtual int16_t statistics(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                             int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                             uint16_t unique, uint16_t reserved) noexcept;
    [[nodiscard]] virtual int16_t tablePrivileges(const uint16_t* catalog, int16_t catalogLength,
                                                  const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                                  int16_t tableLength) noexcept;
    [[nodiscard]] virtual int16_t tables(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                         int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                         const uint16_t* type, int16_t typeLength) noexcept;

    // ---- Driver hooks ------------------------------------------------------
    // Where a driver has nothing to add, or where the work belongs to a part
    // of the framework that is not there yet, the base body posts the
    // not-capable diagnostic and fails, so that a partial driver stays whole.
    // Results are 0 or 1 unless said otherwise.

    // Bulk transfer and persistence.
    [[nodiscard]] virtual int16_t exportResultSet(int32_t mode, const uint16_t* fileName, int64_t codePage,
                                                  int32_t descField1, int32_t descField2, int32_t reserved,
                                                  const uint16_t* logFileName) noexcept;
    [[nodiscard]] virtual int16_t bulkIntegerCType(int16_t sqlType, int16_t* cType) noexcept;
    [[nodiscard]] virtual int16_t bulkColumnCodePage(uint16_t column, int64_t* codePage) noexcept;
    [[nodiscard]] virtual int16_t addBulkMessage(int64_t row, uint16_t column, uint16_t message) noexcept;
    [[nodiscard]] virtual int16_t validateBulkColumn(uint16_t column, int16_t sqlType) noexcept;
    [[nodiscard]] virtual int16_t bulkLoadPrepare() noexcept;
    // Told the parameter array size that remains after ignored rows; 0.
    [[nodiscard]] virtual int16_t bulkLoadFinish(uint64_t arraySize) noexcept;

    // Procedure parameters and their catalog rows.
    [[nodiscard]] virtual int16_t defaultSchemaName(uint16_t* name, int16_t bufferLength, int16_t* nameLength) noexcept;
    // Append mode off and one sort of the holder's rows; 0, or 1.
    [[nodiscard]] virtual int16_t sortCatalogRows(BaseCatalogInfoW* holder) noexcept;
    [[nodiscard]] virtual int16_t selectProcedureColumnRows(CatalogResult* rows) noexcept;

    // Preparation: the driver's own, of the narrow or the UTF-16 text.
    [[nodiscard]] virtual int16_t prepareNarrowHook(BaseSqlString* text) noexcept;
    [[nodiscard]] virtual int16_t prepareHook(BaseSqlStringW* text) noexcept;
    // Runs the execution text; may set rerunAfterExecute or reentryPending.
    [[nodiscard]] virtual int16_t executeHook() noexcept;
    [[nodiscard]] virtual int16_t describeParamHook(uint16_t param, int16_t* dataType, uint64_t* size, int16_t* digits,
                                                    int16_t* nullable) noexcept;
    // *noMoreResults := 1 when the statement has no further result.
    [[nodiscard]] virtual int16_t moreResultsHook(int16_t* noMoreResults) noexcept;
    // Replaces the CURRENT OF clause of text by a condition on the key
    // columns of cursor's current row.
    [[nodiscard]] virtual int16_t buildSearchCondition(BaseStatement* cursor, BaseSqlStringW* text) noexcept;

    // Catalog functions: the generic body and the driver's part of each.
    [[nodiscard]] virtual int16_t columnsInternal(const uint16_t* catalog, int16_t catalogLength,
                                                  const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                                  int16_t tableLength, const uint16_t* column,
                                                  int16_t columnLength) noexcept;
    // Starts the driver result of SQLColumns from the arguments the top
    // holder carries.
    [[nodiscard]] virtual int16_t columnsHook() noexcept;
    [[nodiscard]] virtual int16_t specialColumnsInternal(uint16_t identifierType, const uint16_t* catalog,
                                                         int16_t catalogLength, const uint16_t* schema,
                                                         int16_t schemaLength, const uint16_t* table,
                                                         int16_t tableLength, uint16_t scope,
                                                         uint16_t nullable) noexcept;
    // *noAnswer := 1 leaves the work to the generic body.
    [[nodiscard]] virtual int16_t specialColumnsHook(int16_t* noAnswer) noexcept;
    // hookFlag: 0 from SQLStatistics, 1 nested in SQLSpecialColumns.
    [[nodiscard]] virtual int16_t statisticsInternal(const uint16_t* catalog, int16_t catalogLength,
                                                     const uint16_t* schema, int16_t schemaLength,
                                                     const uint16_t* table, int16_t tableLength, uint16_t unique,
                                                     uint16_t reserved, int16_t hookFlag) noexcept;
    [[nodiscard]] virtual int16_t statisticsHook(int16_t hookFlag) noexcept;
    // internal: 1 when SQLColumns lists its tables (every type, no filter).
    [[nodiscard]] virtual int16_t tablesInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                                 int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                                 const uint16_t* type, int16_t typeLength, int16_t internal) noexcept;
    // Start the driver result of SQLTables from the top holder's arguments;
    // the types list as the application gave it (length -3: NUL-terminated).
    [[nodiscard]] virtual int16_t tablesNarrowHook(const char* types, int16_t typesLength) noexcept;
    [[nodiscard]] virtual int16_t tablesHook(const uint16_t* types, int16_t typesLength) noexcept;
    [[nodiscard]] virtual int16_t columnPrivilegesInternal(const uint16_t* catalog, int16_t catalogLength,
                                                           const uint16_t* schema, int16_t schemaLength,
                                                           const uint16_t* table, int16_t tableLength,
                                                           const uint16_t* column, int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t columnPrivilegesHook() noexcept;
    [[nodiscard]] virtual int16_t foreignKeysInternal(const uint16_t* pkCatalog, int16_t pkCatalogLength,
                                                      const uint16_t* pkSchema, int16_t pkSchemaLength,
                                                      const uint16_t* pkTable, int16_t pkTableLength,
                                                      const uint16_t* fkCatalog, int16_t fkCatalogLength,
                                                      const uint16_t* fkSchema, int16_t fkSchemaLength,
                                                      const uint16_t* fkTable, int16_t fkTableLength) noexcept;
    [[nodiscard]] virtual int16_t foreignKeysHook() noexcept;
    [[nodiscard]] virtual int16_t primaryKeysInternal(const uint16_t* catalog, int16_t catalogLength,
                                                      const uint16_t* schema, int16_t schemaLength,
                                                      const uint16_t* table, int16_t tableLength) noexcept;
    [[nodiscard]] virtual int16_t primaryKeysHook() noexcept;
    [[nodiscard]] virtual int16_t procedureColumnsInternal(const uint16_t* catalog, int16_t catalogLength,
                                                           const uint16_t* schema, int16_t schemaLength,
                                                           const uint16_t* procedure, int16_t procedureLength,
                                                           const uint16_t* column, int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t procedureColumnsHook() noexcept;
    [[nodiscard]] virtual int16_t proceduresInternal(const uint16_t* catalog, int16_t catalogLength,
                                                     const uint16_t* schema, int16_t schemaLength,
                                                     const uint16_t* procedure, int16_t procedureLength) noexcept;
    [[nodiscard]] virtual int16_t proceduresHook() noexcept;
    [[nodiscard]] virtual int16_t tablePrivilegesInternal(const uint16_t* catalog, int16_t catalogLength,
                                                          const uint16_t* schema, int16_t schemaLength,
                                                          const uint16_t* table, int16_t tableLength) noexcept;
    [[nodiscard]] virtual int16_t tablePrivilegesHook() noexcept;
    [[nodiscard]] virtual int16_t getTypeInfoHook(int16_t dataType) noexcept;

    // Fetching: asked before a new rowset position is computed.
    [[nodiscard]] virtual int16_t prepareFetch(int16_t orientation, int64_t offset) noexcept;
    // SQLSetPos of the driver: 0 done, 1 failed, other values leave the work
    // to the framework.
    [[nodiscard]] virtual int16_t setPosHook(uint64_t row, uint16_t operation, uint16_t lockType) noexcept;
    // Forward-only: the next row becomes current; *noMoreRows := 1 at the end.
    [[nodiscard]] virtual int16_t fetchRow(int16_t* noMoreRows) noexcept;
    // Scrollable: row `row` (from 1) becomes current; *status SQL_ROW_NOROW
    // when there is none.
    [[nodiscard]] virtual int16_t positionRow(int64_t row, uint16_t* status, bool lock) noexcept;
    // The static cursor the framework keeps for a driver without one.
    [[nodiscard]] virtual int16_t cachedRowStatus(int64_t row, uint16_t* status, bool lock) noexcept;
    [[nodiscard]] virtual int16_t fillRowCache() noexcept;
    [[nodiscard]] virtual int16_t getCachedData(uint16_t column, int16_t cType, BaseOutString* out) noexcept;
    [[nodiscard]] virtual int16_t cacheColumnValue(uint16_t column, BaseOutString* out, uint8_t* cache,
                                                   int64_t cacheSize, int64_t* length, int32_t* kind,
                                                   uint8_t* truncated) noexcept;
    // The value of result column `column` of the current row into out as cType.
    [[nodiscard]] virtual int16_t getColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept;
    // The C type SQL_C_DEFAULT stands for on a column of sqlType.
    [[nodiscard]] virtual int16_t checkColumnCType(int16_t sqlType, uint16_t column, BaseIRDRecord* record) noexcept;
    // Non-zero when the value is to be streamed in pieces.
    [[nodiscard]] virtual int16_t columnDataAvailable(uint16_t column, bool charType, int16_t sqlType, bool continuing,
                                                      int32_t passThrough) noexcept;
    // Rows affected by the last execution, -1 unknown.
    [[nodiscard]] virtual int16_t getRowCount(int64_t* count) noexcept;

    // Result description.
    [[nodiscard]] virtual int16_t colAttributeHook(uint16_t column, uint16_t field, BaseOutString* out,
                                                   int64_t* numericValue) noexcept;
    // Fills the IRD and resultColumnCount, and sets resultDescribed.
    [[nodiscard]] virtual int16_t describeStatement() noexcept;

    // Column binding.
    [[nodiscard]] virtual int16_t validateBinding(uint16_t column) noexcept;
    // Asked before columns are unbound; non-zero keeps the bindings.
    [[nodiscard]] virtual int16_t bindColHook() noexcept;

    // Parameters. setParamValue hands a value of text marker `marker`: mode
    // 0 whole (length -1: NULL), 1 to 3 the first, a further and the last
    // piece of a streamed value.
    [[nodiscard]] virtual int16_t setParamValue(uint16_t marker, const void* data, int64_t length,
                                                int32_t mode) noexcept;
    [[nodiscard]] virtual const uint16_t* nullLiteral() noexcept;
    [[nodiscard]] virtual int16_t appendLiteral(int16_t sqlType, const uint16_t* text, int64_t lengthBytes) noexcept;
    // lengthBytes -1 appends the NULL literal.
    [[nodiscard]] virtual int16_t appendParamText(int16_t sqlType, const uint16_t* text, int64_t lengthBytes) noexcept;
    [[nodiscard]] virtual int16_t bindParameterHook(uint16_t param) noexcept;
    // Kept for drivers that fill the table in order; nothing calls it.
    [[nodiscard]] virtual int16_t spareParamHook() noexcept;
    [[nodiscard]] virtual int16_t resetParamsHook(int32_t mode) noexcept;

    // The descriptors a driver supplies its own classes of, bound to the
    // statement's connection (the IRD and IPD also to the statement); 0, or 1
    // when memory ran out.
    [[nodiscard]] virtual int16_t createIRD(BaseIRD** out) noexcept;
    [[nodiscard]] virtual int16_t createIPD(BaseIPD** out) noexcept;
    [[nodiscard]] virtual int16_t createCofC(BaseCofC** out) noexcept;
    // Closing: the driver's part of closing the cursor and of freeing the
    // results (drop: the statement goes).
    [[nodiscard]] virtual int16_t closeCursorHook() noexcept;
    [[nodiscard]] virtual int16_t freeResultsHook(bool drop) noexcept;
    // The statement's cursor name text, or null.
    [[nodiscard]] virtual const uint16_t* cursorNameText() noexcept;
    [[nodiscard]] virtual int16_t cancelAsync() noexcept;
    virtual void cancelRunning() noexcept;
    // Statement attributes the framework does not keep itself.
    [[nodiscard]] virtual int16_t getStmtAttrHook(int32_t attribute, void* value, int32_t bufferLength,
                                                  int32_t* stringLength) noexcept;
    [[nodiscard]] virtual int16_t setStmtAttrHook(int32_t attribute, void* value, int32_t stringLength) noexcept;
    [[nodiscard]] virtual int16_t checkScrollOptions(uint16_t concurrency, int64_t keyset, uint16_t rowset) noexcept;
    // The number of the result's last row.
    [[nodiscard]] virtual int16_t findLastRow(int64_t* lastRow) noexcept;
    // SetPos row operations of the driver.
    [[nodiscard]] virtual int16_t setPosAbort() noexcept;
    [[nodiscard]] virtual int16_t setPosDelete() noexcept;
    [[nodiscard]] virtual int16_t setPosAddExecute() noexcept;
    [[nodiscard]] virtual int16_t setPosUpdateBegin() noexcept;
    [[nodiscard]] virtual int16_t setPosAddBegin() noexcept;
    // Non-zero when the last positioned row may no longer be used.
    [[nodiscard]] virtual int16_t setPosValidateBookmark(int64_t lastRow, bool rowPresent, uint16_t status) noexcept;
    // Takes the value of `column` for the row operation under way.
    [[nodiscard]] virtual int16_t setPosColumnData(uint16_t column, const BaseSetPosValue* value) noexcept;
    [[nodiscard]] virtual int16_t setPosUpdateExecute() noexcept;
    // Completes a new statement (its descriptors); 0, or non-zero when the
    // statement must not be handed out.
    [[nodiscard]] virtual int16_t initStatement() noexcept;
    // 0 none, 1 the driver gathers the rows into one multi-row INSERT, 2 it
    // takes whole parameter columns.
    [[nodiscard]] virtual int16_t beginMultiRowInsert() noexcept;
    // Asked by the entry and exit steps; non-zero ends the call, resp. turns
    // it into SQL_ERROR.
    [[nodiscard]] virtual int16_t enterHook() noexcept;
    [[nodiscard]] virtual int16_t exitHook() noexcept;
    // Prepares getDataConverter to stream the value of `column`, or says
    // the value is NULL.
    [[nodiscard]] virtual int16_t checkLongDataCache(uint16_t column, int16_t cType, KaDataSink* sink, int16_t* isNull,
                                                     BaseIRDRecord* record, KaDataConverter** converter) noexcept;
    // The statement moved to another connection.
    virtual int16_t rebindConverterCache(BaseConnection* newConnection) noexcept;
    // Columns of the driver's own result appended to a catalog result of
    // `kind`: a count n followed by n column numbers, or null for none.
    [[nodiscard]] virtual const uint16_t* extraCatalogColumns(int32_t kind) noexcept;
    [[nodiscard]] virtual int16_t bulkLoadBatch() noexcept;
    // Non-zero enables the description of procedure-call parameters.
    [[nodiscard]] virtual int16_t canDescribeProcParams() noexcept;
    // Runs the prepared text once per parameter row from parameter
    // firstParamDone + 1 on; *needData set when a value is asked for at
    // execution; *rowsAffected (may be null) set when rows changed.
    [[nodiscard]] virtual int16_t executeCore(uint16_t firstParamDone, int16_t* needData,
                                              int16_t* rowsAffected) noexcept;

    // ---- SetPos and bulk operations (odbc/basesetpos.cpp) --------------------
    // The work loop over the rows of the SetPos call stored below. A
    // resumeColumn from SQLParamData continues the native row operation
    // after that column. *needData is set when a value is asked for at
    // execution. 0, or 1 after posting.
    [[nodiscard]] int16_t setPosCore(uint16_t resumeColumn, int16_t* needData) noexcept;
    // The emulated row operations on rowset row `index`: an INSERT, or an
    // UPDATE or DELETE WHERE CURRENT OF this cursor, run on a work
    // statement. *rowsAffected is set when the server changed a row.
    [[nodiscard]] int16_t positionedInsert(int64_t index, int16_t* needData) noexcept;
    [[nodiscard]] int16_t positionedUpdateDelete(int64_t index, int16_t* needData, int16_t* rowsAffected) noexcept;
    // The text of an emulated operation (SQL_ADD, SQL_UPDATE or SQL_DELETE)
    // for rowset row `index`; the work statement's APD and IPD get one
    // parameter per column taken. 0, or 1 after posting.
    [[nodiscard]] int16_t buildEmulationText(BaseStatement* work, int64_t index, uint16_t operation,
                                             KaStringW* text) noexcept;
    // The driver may no longer use the row it last positioned with a lock:
    // 1 after marking that row SQL_ROW_ERROR; 0 when it may go on.
    [[nodiscard]] int16_t checkPositionedRow() noexcept;
    // The status of rowset row `index` into the internal array and the
    // application's one, for an index below the rowset size.
    void setRowStatusBoth(int64_t index, uint16_t status) noexcept;
    // SQLParamData's part in SetPos mode: the value SQLPutData collected for
    // the waiting column goes to the driver, or the waiting work statement
    // goes on; then the work loop resumes. An ODBC return code.
    [[nodiscard]] int16_t setPosParamData(void** value) noexcept;
    // SQLPutData's part in SetPos mode; an ODBC return code.
    [[nodiscard]] int16_t setPosPutData(void* data, int64_t length) noexcept;
    // The work statement of an emulated operation is freed.
    void dropSetPosWork() noexcept;
    // SQLPutData and SQLParamData without the call's entry and exit.
    [[nodiscard]] int16_t putDataCore(void* data, int64_t length) noexcept;
    [[nodiscard]] int16_t paramDataCore(void** value) noexcept;

    // The call under way: its row number and operation and lock type; the
    // rowset row worked on and the end of the range; the rowset position
    // the call started from; what waits (0 nothing); whether a value is
    // awaited at execution; the work statement of an emulated operation
    // waiting for data, and the column of a native one; the tallies of a
    // whole-rowset call.
    uint64_t setPosRow = 0;
    uint16_t setPosOperation = 0;
    uint16_t setPosLock = 0;
    int64_t setPosIndex = 0;
    int64_t setPosEnd = 0;
    uint64_t setPosStartPosition = 0;
    int32_t setPosPending = 0;
    bool setPosDataAtExec = false;
    bool setPosWorkFailed = false;
    bool setPosColumnSent = false;
    BaseStatement* setPosWork = nullptr;
    uint16_t setPosColumn = 0;
    int64_t setPosRowsWorked = 0;
    int64_t setPosRowsFailed = 0;
    int64_t setPosFirstError = -1;

    // ---- Cursor names (odbc/basecursorname.cpp) ------------------------------
    // Gives the statement the name "SQL_CUR" and the hexadecimal bytes of its
    // handle, replacing any it had. 0, or 1 without memory.
    [[nodiscard]] int16_t generateCursorName() noexcept;
    // A positioned UPDATE or DELETE: finds the statement whose cursor its
    // CURRENT OF clause names. 0, or 1 after posting.
    [[nodiscard]] int16_t preparePositioned(BaseSqlStringW* text) noexcept;

    // ---- Catalog results (odbc/basecatalog.cpp) --------------------------------
    // First step of every catalog function: an open cursor is refused (24000)
    // unless WORKAROUNDS2 closes it, any other state is reset, and the exec
    // mode becomes the catalog mode. A re-entered call skips the tests. 0, or 1.
    [[nodiscard]] int16_t checkCatalogState() noexcept;
    // The holder becomes the top of the wide stack; over another holder the
    // statement gets a fresh IRD and the holder keeps the old one. 0, or 1.
    [[nodiscard]] int16_t pushColumnsInfo(BaseCatalogInfoW* holder) noexcept;
    // Deletes the top holder and puts back the IRD and column count it
    // saved; 0.
    int16_t popColumnsInfo() noexcept;
    int16_t pushCatalogInfo(BaseCatalogInfo* holder) noexcept;
    int16_t popCatalogInfo() noexcept;
    // Deletes both stacks (the statement is reset or freed).
    void freeCatalogInfo() noexcept;
    // Describes the IRD from a catalog function's column table; catalogColumn
    // (0-based, -1 none) is the column that USELONGQUALIFIERS widens. 0, or 1.
    [[nodiscard]] int16_t bindCatalogColumns(uint16_t count, const BaseCatalogColumn* table,
                                             int16_t catalogColumn) noexcept;
    // Appends result column `column` described as `source`; clientCodePage:
    // its text comes in the connection's code page rather than UTF-16.
    [[nodiscard]] int16_t bindCatalogColumn(uint16_t column, BaseIRDRecord* source, bool clientCodePage) noexcept;
    // Every character column of the result is read as UTF-16.
    void makeCatalogColumnsWide() noexcept;
    // Column `column` of the driver's current row, read by the type the top
    // holder's column table declares: INTEGER into an int32_t, SMALLINT into
    // an int16_t, character types into a new UTF-16 string (uint16_t*,
    // ramFree) kept whole however long. `cell` is left alone for NULL and for
    // other types. 0, or 1.
    [[nodiscard]] int16_t getCatalogColumnValue(uint16_t column, void* cell) noexcept;
    // Column `column` of the current row as a new NUL-terminated UTF-16
    // string (ramFree), whole however long; left alone for NULL. nested: the
    // row is a catalog holder's (read through its getData), else the
    // driver's (through catalogColumnData). 0, or 1.
    [[nodiscard]] int16_t readCatalogText(uint16_t column, uint16_t** text, bool nested) noexcept;
    // The driver's result is over: the free-results hook.
    [[nodiscard]] int16_t closeDriverResult() noexcept;
    // The catalog result is complete: executed (cursor open when it has
    // columns) and a cursor name. 0, or 1.
    [[nodiscard]] int16_t finishCatalogExecute() noexcept;
    // The driver's rows as a catalog function reads them while it builds its
    // result; the base forms are the fetch-row and get-column-data hooks.
    [[nodiscard]] virtual int16_t catalogFetchRow(int16_t* end) noexcept;
    [[nodiscard]] virtual int16_t catalogColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept;

    // The catalog result holders: the wide stack the application reads while
    // the exec mode is the catalog mode, and the narrow one.
    BaseCatalogInfoW* catalogInfoW = nullptr;
    BaseCatalogInfo* catalogInfo = nullptr;

    // Makes the implicit APD and ARD, the IPD, the IRD and the procedure
    // IPD; 0, or 1 when memory ran out.
    [[nodiscard]] int16_t createDescriptors() noexcept;

    // ---- Entry and exit of every statement call ----------------------------
    // 0 to go on, 1 when the call must end: the caller then goes on to
    // exitFunction with SQL_ERROR, which releases what the entry took.
    [[nodiscard]] int16_t enterFunction(uint16_t apiId) noexcept;
    // The ODBC return code of the call for the work's status, or -5 once per
    // statement to have the call repeated after a failover.
    [[nodiscard]] int16_t exitFunction(int16_t status) noexcept;
    // A statement call around its work: body() gives the work's status
    // (an ODBC return code) and runs only when the entry let the call go on;
    // the exit step runs on every path, and its answer is the call's.
    template <class Body>
    int16_t runFunction(uint16_t api, Body&& body) noexcept
    {
        if (enterFunction(api) != 0)
            return exitFunction(SQL_ERROR);
        return exitFunction(body());
    }

    // ---- Bookmarks (odbc/basebookmark.cpp) --------------------------------
    // The current cursor type has bookmarks: the driver's, or row numbers
    // (every forward-only cursor).
    bool bookmarksServed() const noexcept;
    // IRD record 0 as the bookmark column: a BIGINT row number.
    void describeBookmarkColumn() noexcept;
    // The bookmark of rowset row rowInRowset (from 0) into out as cType
    // (SQL_C_VARBOOKMARK: its 8 bytes). 0, or 1 after posting.
    [[nodiscard]] int16_t getBookmarkData(int16_t cType, BaseOutString* out, int64_t rowInRowset) noexcept;

    // ---- Failover (odbc/basefailover.cpp) --------------------------------
    // At the end of a call that failed with a link failure: reconnects the
    // handle (unless another statement did) and reports the outcome in *rc.
    // 1 when the call is to be run once more, else 0.
    [[nodiscard]] int16_t checkFailover(int16_t* rc) noexcept;
    // Moves the statement onto newConnection while the handle reconnects,
    // for its replay event of level (a kBaseReplay*Level): settings and
    // descriptors go along, a prepared text is prepared again, a result is
    // reported as not restored. 0, or 1 when the text could not be
    // prepared again.
    [[nodiscard]] int16_t moveToConnection(BaseConnection* newConnection, KaDList* events, int32_t level) noexcept;
    // After a reconnect of the handle: the statements moved to conn learn
    // whether they were restored (prepared at most) or not; after a failed
    // reconnect (reconnected false) the statements of conn learn the link
    // is lost. Each reports it at its next call.
    static void settleMovedStatements(BaseConnection* conn, bool reconnected) noexcept;
    // Copies the value of a parameter for a re-execution after a reconnect:
    // what the value holds (its length, or up to its terminator for
    // SQL_NTS), never more than its buffer, and its indicator and octet
    // length, each at bindOffset. The copy's pointers are its own (earlier
    // copies are freed). 0, or 1 without memory.
    [[nodiscard]] int16_t saveParamForReplay(BaseAXDRecord* copy, const BaseAXDRecord* source, int64_t valueLength,
                                             int64_t bindOffset) noexcept;

    // Clears the failover fields once a failover is over for the statement.
    void resetFailoverState() noexcept;
    // The entry step's report of the failover stage the statement is in; 1
    // ends the call.
    [[nodiscard]] int16_t enterFailoverStage(uint16_t function, bool ownerThread) noexcept;

    // ---- The argument stack of re-entered calls -----------------------------
    // 0, or 1 when the stack cannot grow.
    [[nodiscard]] int16_t pushAsyncString(const uint16_t* text, int64_t length) noexcept;
    // A new copy (ramFree) of the text pushed last, its length stored with
    // the width given (1, 2, 4 or 8 bytes); null for a null text, an unknown
    // width or no memory (length 1 then).
    uint16_t* popAsyncString(void* length, int width) noexcept;
    // The last pushed words holding `bytes` bytes, in pushing order; null
    // after the out-of-memory diagnostic.
    uint8_t* popAsyncWords(int64_t bytes) noexcept;

    // ---- Pools (odbc/baseobjpool.cpp) -------------------------------------
    // A sink, source or converter of a kind: the one released last, else a
    // new one from the makers; null after the diagnostic.
    KaDataSink* acquireSink(int kind) noexcept;
    KaDataSource* acquireSource(int kind) noexcept;
    KaDataConverter* acquireConverter(int kind) noexcept;
    // A memory sink or source over the caller's bytes, from the statement's
    // pool of memory streams.
    KaMemorySink* acquireMemorySink(void* buffer, uint64_t size) noexcept;
    KaMemorySource* acquireMemorySource(const void* data, uint64_t size) noexcept;
    // Pooled when the kind is pooled, the pool has room and the object
    // resets; deleted otherwise.
    void releaseSink(KaDataSink* sink, int kind) noexcept;
    void releaseSource(KaDataSource* source, int kind) noexcept;
    // Hands the converter's source and sinks back (to the connection's pools
    // when its threading model shares them, else the statement's), each
    // unless its holder keeps it, then pools the converter here; a converter
    // marked not pooled stays with its holder.
    void releaseConverter(KaDataConverter* converter, int kind) noexcept;
    // A sink back to the pool it was taken from by the threading rule: the
    // connection's when its threading model is not 0, else the statement's.
    void returnSink(KaDataSink* sink, int kind) noexcept;
    // The same rule for a converter, under its own kind; null is let be.
    void returnConverter(KaDataConverter* converter) noexcept;
    // The same rule for a source.
    void returnSource(KaDataSource* source, int kind) noexcept;
    // An IRD record's long-data sink goes back by the threading rule.
    void releaseLongDataSink(KaObject* sink) noexcept;
    // Deletes every pooled object of every kind.
    void emptyPools() noexcept;
    // Converters bound to the caller's source and sink, from the statement's
    // pools; null (the caller's objects untouched) when that fails.
    KaDataConverter* makeBinaryConverter(KaDataSource* source, KaDataSink* sink, int32_t form,
                                         int32_t terminate) noexcept;
    KaCharConverter* makeCharConverter(KaDataSource* source, KaDataSink* sink, int64_t fromCodePage, int64_t toCodePage,
                                       int32_t terminate) noexcept;

    // ---- Descriptor and row operations --------------------------------------
    // which: bit 0 IRD, bit 1 ARD, bit 2 APD and IPD. 0, or 1.
    [[nodiscard]] int16_t ensureDescriptorRecords(uint16_t n, int which) noexcept;
    [[nodiscard]] int16_t checkParamNumber(uint16_t n) noexcept;
    void clearResultDescription() noexcept;
    uint16_t getRowStatus(int64_t index) const noexcept;
    void setRowStatus(int64_t index, uint16_t value) noexcept;
    // Into the application's status array (none: nothing written).
    void setRowOperation(int64_t index, uint16_t value) noexcept;
    // rc is SQL_ERROR and the statement's list holds a link failure.
    bool isConnectionLost(int16_t rc) noexcept;

    // The converter cache of the statement's character conversions: the
    // connection's when it shares one with its statements, else its own.
    KaIcuCache* charConversionContext() noexcept;
    [[nodiscard]] int32_t convertText(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                                      int64_t dstSize, int64_t* produced, int32_t* truncated,
                                      int32_t blankTail) noexcept;
    [[nodiscard]] int32_t convertTextToBuffer(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                                              int64_t dstSize, int32_t fullLength, int64_t* produced,
                                              int32_t* truncated) noexcept;

    // ---- Value conversion ------------------------------------------------
    // Fills ctx for a value of this statement: the connection's settings,
    // the statement's character code page and converters, and the long-data
    // state of the value being read. The description and target are the
    // caller's to fill.
    void conversionContext(BaseConvertContext* ctx) noexcept;
    // The statement's part of ctx: code page, converters, error list and
    // the long-data state of the value being read.
    void statementPart(BaseConvertContext* ctx) noexcept;
    // Takes back the long-data state a conversion left in ctx.
    void keepLongData(const BaseConvertContext& ctx) noexcept;
    // convertColumnValue within fetchCore, on fetchContext.
    [[nodiscard]] int16_t convertFetchedValue(uint16_t column, int16_t cType, BaseOutString* out, const void* src,
                                              int64_t srcLength, int32_t srcKind, KaIcuCache* converters) noexcept;
    // conversionContext for a value of result column `column` as cType,
    // described by its IRD record; 1 after posting when there is none.
    [[nodiscard]] int16_t columnContext(uint16_t column, int16_t cType, BaseConvertContext* ctx) noexcept;
    // One value of result column `column` (1-based), described by its IRD
    // record, into `out` as cType; SQL_C_NUMERIC takes the precision and
    // scale of the column's ARD record. converters, when given, are the
    // column's own (kept by the driver for the life of the cursor) in place
    // of the statement's pool. 0, or 1 after posting.
    [[nodiscard]] int16_t convertColumnValue(uint16_t column, int16_t cType, BaseOutString* out, const void* src,
                                             int64_t srcLength, int32_t srcKind,
                                             KaIcuCache* converters = nullptr) noexcept;
    // A returned output-parameter value (length SQL_NULL_DATA for NULL) into
    // the buffer the APD record of parameter `param` binds, in the row of
    // the current parameter row. Nothing happens without a data pointer.
    [[nodiscard]] int16_t convertOutputParam(uint16_t param, const void* value, int64_t length,
                                             int32_t srcKind) noexcept;
    // The application's value of parameter `param` into dstKind, described
    // by its IPD record and the APD record it reads.
    [[nodiscard]] int16_t convertParamValue(uint16_t param, const void* src, int64_t srcLength, int32_t dstKind,
                                            void* dst, int64_t dstSize, int64_t* produced) noexcept;
    // An application value of cType into the SQL type of result column
    // `column`; the kind chosen goes to chosenKind (may be null).
    [[nodiscard]] int16_t convertToColumnType(uint16_t column, int16_t cType, const void* src, int64_t srcLength,
                                              void* dst, int32_t* chosenKind, int64_t* produced,
                                              int64_t dstSize) noexcept;

    // Long-data state. resetLongData starts a new column value.
    void resetLongData() noexcept;
    // The conversion buffer with room for at least `size` bytes (its
    // contents are not kept); null after the out-of-memory diagnostic.
    [[nodiscard]] uint8_t* growConvertBuffer(int64_t size) noexcept;
    // After a piece of a value was delivered: when the piece ended with the
    // truncation warning the offset moves on (by the piece length the
    // conversion recorded, else by `available`) and 1 is returned; else the
    // value is finished and 0 is returned.
    int32_t advanceLongData(int64_t available) noexcept;
    // The diagnostics of the piece just delivered say more of it follows.
    bool pieceFollows() noexcept;
    // Records the bytes of the current value that a piece delivered: 0 after
    // a piece that held the rest; a cut piece that delivered nothing leaves
    // the offset where it is.
    void notePiece(bool cut, int64_t delivered) noexcept;

    // The IPD record of parameter marker `param` (1-based).
    BaseIPDRecord* getParamIPDRecord(uint16_t param) noexcept;
    // ---- Parameters (odbc/baseparam.cpp, baseparamdata.cpp) -----------------
    // SQLBindParameter's record filling: downgraded makes an output binding
    // an input one whose output comes back NULL.
    void fillParamRecords(bool downgraded, int16_t ioType, int16_t cType, int16_t sqlType, uint64_t columnSize,
                          int16_t digits, void* value, int64_t bufferLength, int64_t* indicator, BaseAXDRecord* apdRec,
                          BaseIPDRecord* ipdRec) noexcept;
    // 0 when parameter n's binding can be used, else 1 with the diagnostic;
    // the IPD record is marked checked either way. rowGiven: the current
    // parameter row's indicator is looked at (a NULL needs no size).
    [[nodiscard]] int16_t validateParamBinding(uint16_t n, BaseAXDRecord* apdRec, BaseIPDRecord* ipdRec,
                                               bool rowGiven) noexcept;
    // The markers of the text (the return value not counted) and the key
    // descriptor's records.
    uint16_t paramCount() const noexcept;
    // The IPD record of parameter n counted with the return value.
    BaseIPDRecord* getIpdRecord(uint16_t n) noexcept;
    // The bytes SQLPutData may collect for a value of cType for the IPD
    // record; 0 means no limit.
    int64_t putDataLimit(const BaseRecord* ipdRec, int16_t cType) const noexcept;
    // Frees what SQLPutData collected for the parameter being asked for.
    void dropPutData() noexcept;
    // Appends message MSG_PARAMETER_ROW with `number` to every diagnostic of
    // `list` from index `first` on that does not carry it yet.
    void annotateParamRowErrors(size_t first, KaErrorList* list, uint64_t number) noexcept;
    // The ARD record of column `column`, or null beyond the ARD's records.
    BaseAXDRecord* ardRecord(uint16_t column) const noexcept;

    // ---- Prepare, execute, describe, bind and fetch ------------------------
    // Statement state through the failover bookkeeping when that is on.
    void setExecState(int32_t state) noexcept;
    // SQLPrepare's core on the text: analysis, the driver's prepare hook,
    // state prepared. 0, or 1 after the statement was reset.
    [[nodiscard]] int16_t prepareInternal(BaseSqlStringW* text) noexcept;
    // The statement after an execution: executed, or cursor open with the
    // fetch state at the start of the result.
    void setExecutedState() noexcept;
    // The cursor before its first row, with no SQLGetData column under way;
    // a new result and a closed cursor both start from here.
    void resetFetchPosition() noexcept;
    // Back to prepared (cursor closed), resp. back to allocated; drop: the
    // statement goes next, params: handed to resetParamsHook. 0, or 1.
    [[nodiscard]] int16_t closeCursor() noexcept;
    [[nodiscard]] int16_t resetStatement(bool drop = false, int32_t params = 0) noexcept;
    // Statement attribute storage: the value block, a flag bit or a header
    // field of the current descriptors, by attribute id (unknown ids read 0
    // and are ignored). The set applies no checks.
    int64_t getDescriptorBackedAttr(int32_t attribute) noexcept;
    void setDescriptorBackedAttr(int32_t attribute, int64_t value) noexcept;
    // An application descriptor of the connection replaces the statement's
    // own one (null gives it back); 0, or 1 with the diagnostic.
    [[nodiscard]] int16_t setAppDescriptor(bool rows, void* value) noexcept;
    // highestBoundColumn from the current ARD, which the descriptor
    // functions may have changed behind SQLBindCol; a change marks the
    // bindings for checking.
    void refreshBoundColumns() noexcept;
    // The prepared state dropped, the texts kept. 0, or 1.
    [[nodiscard]] int16_t unprepare() noexcept;
    // SQLCancel's close of a statement waiting for data or of an ODBC 2
    // application's cursor. 0, or 1.
    [[nodiscard]] int16_t cancelExecution() noexcept;
    // Describes the result when it is not yet; *count the result column
    // count (not written while reentryPending is set). 0, or 1.
    [[nodiscard]] int16_t getResultColumnCount(uint16_t* count) noexcept;
    // The sizes of the IRD records that follow from their SQL type.
    void fixColumnSizes() noexcept;
    // Clears every column binding; 1 when the driver keeps them.
    [[nodiscard]] int16_t unbindAll() noexcept;
    // The fetch core for the call `mode` (kBaseFetch*). *noData set when the
    // rowset is empty. 0, or 1.
    [[nodiscard]] int16_t fetchCore(int16_t orientation, int64_t offset, int64_t rowsetSize, int mode,
                                    uint64_t* rowsFetched, int16_t* noData) noexcept;
    // Moves the current row into the bound columns of rowset row `index`.
    [[nodiscard]] int16_t transferBoundColumns(int64_t index) noexcept;
    // The thread's error list while fetchCore runs, looked up once for all
    // the rows and values of the rowset; null between fetches. The
    // connection's conversion settings are gathered once for them too.
    KaErrorList* fetchDiagnostics = nullptr;
    BaseConvertSettings fetchSettings;
    // The context of the fetch's values, filled anew for each one.
    BaseConvertContext fetchContext;
    // A column of the current row through the full path (catalog results,
    // maximum length, workarounds); continuing: a further piece.
    [[nodiscard]] int16_t getDataCore(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                      int32_t passThrough) noexcept;
    [[nodiscard]] int16_t getDataQuick(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                       int32_t passThrough) noexcept;
    // The value step both paths share: the bookmark, a catalog result and
    // the emulated static cursor answer first; then the driver's value,
    // streamed when it streams the column's type (the lean path asks it
    // per value), else whole.
    [[nodiscard]] int16_t columnValue(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                      int32_t passThrough, bool lean) noexcept;

    // ---- Streamed column values (odbc/basestream.cpp) -------------------------
    // Bytes of a C type's terminator in a character buffer.
    int64_t cTypeTerminatorBytes(int16_t cType) const noexcept;
    // The connection streams values of this SQL type to SQLGetData.
    bool streamsColumnType(int16_t sqlType) const noexcept;
    [[nodiscard]] int16_t streamColumnValue(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                            int32_t passThrough, bool lean) noexcept;
    // The next piece of getDataConverter's value into out, with the length
    // and truncation warning of the piece.
    [[nodiscard]] int16_t pumpGetData(uint16_t column, int16_t cType, BaseOutString* out) noexcept;
    // Converts getDataConverter's value whole into a temporary stream first,
    // so that its length is known.
    [[nodiscard]] int16_t spoolGetData() noexcept;
    // Gives getDataConverter and its spool back to their pools.
    void releaseGetDataConverter() noexcept;
    // The same, and the memory sinks the result columns keep.
    void releaseLongDataSinks() noexcept;
    // Deletes sharedColumns without the records it borrows (record 0 and
    // those marked borrowed), and clears it.
    void releaseSharedColumns() noexcept;
    // A column descriptor whose records are partly another's.
    BaseDescriptor* sharedColumns = nullptr;
    // The last row number, cached per result.
    [[nodiscard]] int16_t lastRowNumber(int64_t* lastRow) noexcept;

    // The analysed text kept for later executions of a text with markers.
    BaseSqlStringW* sqlTextCopy = nullptr;
    // The text as the application gave it (NUL-terminated) and its length.
    uint16_t* savedSqlText = nullptr;
    int64_t savedSqlLength = 0;
    bool preparedSinceExecute = false;
    bool rerunAfterExecute = false;
    bool forUpdateClause = false;
    bool positionedKeys = false;
    // Rows of the parameter array handed over in the current execution.
    int64_t paramRowsDone = 0;
    // Fetch state: the first row (from 1) of the current rowset, 0 before
    // the first row and -1 after the last; the row inside the rowset; the
    // rowset size of the last fetch.
    int64_t currentRow = 0;
    uint64_t rowsetPosition = 0;
    uint64_t rowsetRowCount = 0;
    uint16_t highestBoundColumn = 0;
    int64_t lastPositionedRow = 0;
    bool endOfDataReached = false;
    bool getDataColumnDone = false;
    bool fullGetDataPath = false;
    // SQLGetData's column and C type, and the bytes returned outside
    // streaming, counted against SQL_ATTR_MAX_LENGTH.
    uint16_t getDataColumn = 0;
    int16_t getDataCType = 0;
    int64_t getDataConsumed = 0;
    // Rows affected were counted by this execution.
    bool rowCountValid = false;

    // Result-set persistence and export settings (statement attributes
    // 1054 and 1056): the XML persist mode, back to one document whenever
    // the cursor closes, and the application's export description.
    int64_t xmlPersistMode = 1;
    const void* exportDescription = nullptr;
    // Writes the open result set into the XML file path (UTF-16; length in
    // units, negative: NUL-terminated) in xmlPersistMode, through the writer
    // registered with baseSetXmlPersister. 0, or 1 after posting.
    [[nodiscard]] int16_t persistAsXml(const uint16_t* path, int32_t length) noexcept;
    // ---- Describing inside the statement's own call ------------------------
    // SQLDescribeCol and SQLColAttribute without their entry and exit steps,
    // for work that runs inside a call the statement is already in (the
    // export of its result set): they post on the current list and return
    // the ODBC return code.
    [[nodiscard]] int16_t describeColInCall(uint16_t column, uint16_t* name, int16_t bufferLength, int16_t* nameLength,
                                            int16_t* dataType, uint64_t* columnSize, int16_t* digits,
                                            int16_t* nullable) noexcept;
    [[nodiscard]] int16_t colAttributeInCall(uint16_t column, uint16_t field, void* charValue, int16_t bufferLength,
                                             int16_t* stringLength, int64_t* numericValue) noexcept;

    // A cursor the statement had open was lost with its connection: the
    // application's next SQLCloseCursor closes it without complaint.
    bool failoverCloseFlag = false;
    // Failover bookkeeping kept from construction.
    void* eventSlots[kBaseReplayLevels];
    int64_t hashSkip;
    int64_t rowsFetched;
    int64_t rowsHashed;
    uint16_t lastApiId;
    int32_t failoverState;
    int32_t replayDone;
    int32_t savedState;
    int32_t replayable;

    // ---- Select failover (odbc/basefailover.cpp) ----------------------------
    // With FailoverMode 2 a query whose link dropped is executed again on the
    // new connection, the rows already delivered are read again and compared
    // by checksum, and the cursor goes on where it stood.
    //
    // The fetch core's step for one delivered row of rowset row `index`
    // (errorRow: it failed): its checksum stored, the counts kept. 0, or 1
    // after posting when the store cannot be made.
    [[nodiscard]] int16_t hashDeliveredRow(int64_t index, bool errorRow) noexcept;
    // The checksum of the current row's values (CRC-32 over each column's
    // length and bytes, read as binary). 0, or 1 (checksum -1) when a column
    // cannot be read.
    [[nodiscard]] int16_t readRowColumns(int64_t* checksum) noexcept;
    // CRC-32 step over bytes, as the row checksum uses it.
    static uint32_t crc32Wrap(int64_t ignored, uint32_t crc, const void* bytes, uint32_t length) noexcept;
    // After the query ran again: the rows delivered before are fetched
    // again and compared. 0, or 1 after posting (the cursor closed, or the
    // link reported lost).
    [[nodiscard]] int16_t repositionAfterFailover() noexcept;
    // The query executed again on the statement's current connection with
    // the saved parameter values. 0, or 1.
    [[nodiscard]] int16_t reexecuteForFailover() noexcept;
    // The deferred replay of a statement moved by another one's reconnect.
    [[nodiscard]] int16_t replayBufferedEvents() noexcept;
    // The execute core's private copy of the APD for a re-execution; null
    // when this execution keeps none.
    [[nodiscard]] int16_t makeReplayParamCopy() noexcept;
    BaseAXDRecord* replayParamRecord(uint16_t param) noexcept;
    // The copy stands in for the APD while the query is executed again.
    [[nodiscard]] int16_t swapInSavedApd() noexcept;
    [[nodiscard]] int16_t restoreApd() noexcept;
    void freeSavedApd() noexcept;
    // The stored checksums are dropped (a new result, or a closed one).
    void releaseResultHash() noexcept;
    // A fetch of a scrollable cursor under select failover: where its
    // rowset began and how many rows it delivered, as an event of the
    // statement's connection.
    void recordFetchPosition(int64_t row, int64_t rows) noexcept;
    // The positions this statement's cursor was fetched at, taken from the
    // replaced connection's events at its move: (row, rows) pairs in fetch
    // order, read again by repositionAfterFailover.
    int64_t* replayPositions = nullptr;
    int64_t replayPositionCount = 0;
    BaseResultHash* resultHash = nullptr;
    // The row reader's buffer for readRowColumns.
    uint8_t* rowReaderBuffer = nullptr;
    int64_t rowReaderSize = 0;
    // The private APD copy and, while it stands in, the APD it replaced.
    BaseAXD* savedApd = nullptr;
    BaseAXD* replacedApd = nullptr;
    // The parameter copy is being made by the running execution.
    bool savingParams = false;
    // The statement kind of the last execution: the exit step clears
    // statementKind, the failover needs it afterwards.
    int32_t executedKind = 0;
    // Where the cursor stood when the running fetch began: a fetch the
    // link broke is repeated from there.
    int64_t rowBeforeFetch = 0;
    uint64_t rowsetBeforeFetch = 0;

    KaDataSink* sinkPools[kBaseSinkKinds][kBasePoolDepth];
    KaDataSource* sourcePools[kBaseSourceKinds][kBasePoolDepth];
    KaDataConverter* converterPools[kBaseConverterKinds][kBasePoolDepth];
    uint64_t sinkCounts[kBaseSinkKinds];
    uint64_t sourceCounts[kBaseSourceKinds];
    uint64_t converterCounts[kBaseConverterKinds];

    KaIcuCache icuCache;
    int64_t attributeValues[kBaseAttrCount];
    int64_t furtherAttributeValues[kBaseFurtherAttrCount];
    BaseConnection* connection;
    BaseErrorList diagnostics{connection};
    // The list the statement's work posts to.
    BaseErrorList* diagnosticsInUse;
    uint16_t* cursorName;
    int32_t executionMode;
    int32_t statementState;
    uint16_t resultColumnCount;
    int64_t lastRowCache;
    int32_t statementKind;
    int32_t objectKind;
    int32_t refersToCursor;
    int32_t escapeResult;
    bool resultDescribed;
    bool bindingsChanged;
    bool reentryPending;
    bool extendedFetchMode;
    int16_t apiId;
    KaDataConverter* getDataConverter;
    // The temporary sink and source a streamed value was spooled through to
    // learn its length; they live as long as getDataConverter reads them.
    KaDataSink* getDataSpoolSink = nullptr;
    KaDataSource* getDataSpoolSource = nullptr;
    // What the streaming converter wrote and the application has not taken
    // yet: the bytes from start to end of the stage.
    static constexpr uint64_t kGetDataStageSize = 65536;
    uint8_t* getDataStage = nullptr;
    uint64_t getDataStageStart = 0;
    uint64_t getDataStageEnd = 0;
    KaArrayKASIZE_T asyncArgumentStack;
    KaCriticalSection statementLock;
    KaCriticalSection cancelLock;
    int32_t cancelRequested;
    uint16_t* extendedFetchStatusArray;
    int64_t rowCount;
    BaseIPD* procedureIpd;
    uint16_t* reentrySqlText;
    uint64_t threadRecordId;
    KaThreadInfo* threadRecord;
    int64_t charCodePage;  // code page of SQL_C_CHAR data (statement attribute 1064)

    // Conversion work buffer: a value converted whole for delivery in pieces.
    uint8_t* convertBuffer;
    int64_t convertBufferSize;
    int64_t convertedLength;  // -1: no converted copy of the current value

    // GetData state: the offset up to which the current value was delivered,
    // and the length the last piece moved it by when that is not the
    // available length of the buffer (0 unused).
    int64_t getDataReturned;
    int64_t pieceLengthOverride;  // kBasePieceEmpty: the piece moved nothing on

    int64_t currentParamRow;
    uint16_t markerCount;
    bool returnValueParam;
    // An input-output binding was executed as input: its output is NULL.
    bool nullOutputParams = false;
    // The parameter SQLParamData and SQLPutData work on (counted with the
    // return value), and the room of what SQLPutData collected for it.
    uint16_t needDataParam = 0;
    int64_t putDataCapacity = 0;

    BaseAXD* currentApd;
    BaseAXD* currentArd;
    BaseIPD* ipd;
    BaseIRD* ird;
    BaseAXD* implicitApd;
    BaseAXD* implicitArd;
    BaseDescriptor* keyDescriptor;

    // Connection settings of the conversions that the physical connection
    // does not carry; baseConvertSettingsOf overlays the ones it does.
    BaseConvertSettings conversionSettings;

    // ---- Multi-row insert (odbc/basemultirow.cpp) -------------------------------
    // While multiRowInsertMode is 1 the driver's builder (set by its
    // beginMultiRowInsert) gathers the rows into batches. insertBatchStart is
    // the first row of the batch being built; insertRowsCounted the rows the
    // sent batches affected; insertBatchFailed a batch (not a value) failed;
    // insertAnySucceeded some batch went through.
    int32_t multiRowInsertMode = 0;
    BaseMultiRowInsert* multiRowInsert = nullptr;
    int64_t insertBatchStart = 0;
    int64_t insertRowsCounted = 0;
    bool insertBatchFailed = false;
    bool insertAnySucceeded = false;
    // Writes value (0 without fill) into the parameter status entries of the
    // rows from insertBatchStart up to endRow, passing over ignored rows.
    void setParamStatusRange(bool fill, uint16_t value, int64_t endRow) noexcept;
    // Executes the batch through executeHook: the statuses of its rows, the
    // rows it affected, the next batch starting at endRow. 0 or 1.
    [[nodiscard]] int16_t runInsertBatch(int64_t endRow) noexcept;
    void startInsertBatches() noexcept;
    // After the last row, or at row failedRow (-1 none) whose value failed:
    // the complete rows still held are sent. 0, or 1 when a row failed.
    [[nodiscard]] int16_t finishInsertBatches(int64_t failedRow, int64_t rows) noexcept;
    // The execute core's end of a multi-row insert: statuses, row count and
    // the executed state. 0, or 1 when no row went through.
    [[nodiscard]] int16_t finishMultiRowInsert(int64_t failedRow, int64_t rows, int16_t* rowsAffected) noexcept;

    // ---- Static cursor cache (odbc/basestatic.cpp) ------------------------
    // The emulated static cursor's copy of the result, made by the first
    // fill and kept until the statement goes; emptied when the cursor
    // closes.
    BaseRowCache* rowCache = nullptr;
    // Gives the cache's files back (their disk space and page memory).
    void releaseRowCache() noexcept;
};

// The XML record-set writer of the persistence layer, which sits above the
// framework: persists stmt's open result set into path in mode. 0, or 1
// after posting. Installed by the driver library at load time; returns the
// one installed before. Without one, attribute 1053 gives HYC00.
using BaseXmlPersister = int16_t (*)(BaseStatement* stmt, const uint16_t* path, int32_t length, int32_t mode) noexcept;
BaseXmlPersister baseSetXmlPersister(BaseXmlPersister persister) noexcept;

// A framework statement on conn, initialised (*out); 0, or 1 with the
// diagnostics posted.
[[nodiscard]] int16_t baseMakeStatement(BaseConnection* conn, BaseStatement** out) noexcept;

// The settings of the statement's connection (defaults without a statement).
void baseConvertSettingsOf(const BaseStatement* stmt, BaseConvertSettings* out) noexcept;

// The connection's capability word of the statement's cursor type; 0
// without a connection.
uint64_t baseCursorCapabilities(const BaseStatement* stmt) noexcept;
// Whether the statement's cursor is the static one the framework emulates
// with its row cache.
bool baseStaticCursorEmulated(const BaseStatement* stmt) noexcept;
