// The statement object: its descriptors, its long-data state for the column
// value being read, the conversion context it fills for the conversion
// engine and its entries into the engine, and its wrappers of the text
// conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "convert/basecvt.h"
#include "foundation/icucache.h"
#include "foundation/kalist.h"
#include "odbc/baseerr.h"

class BaseOutString;

class BaseAXD;
class BaseAXDRecord;
class BaseConnection;
class BaseDescriptor;
class BaseIPD;
class BaseIPDRecord;
class BaseIRD;
class KaErrorList;

// The node links the statement into its connection's statement list.
class BaseStatement : public KaNode {
public:
    explicit BaseStatement(BaseConnection* connection) noexcept;
    ~BaseStatement() override;

    // ---- The statement-level ODBC functions ------------------------------
    // Each returns the ODBC return code, or -5 to be called once more with
    // the same arguments; diagnostics go to the statement's list.
    [[nodiscard]] virtual int16_t bindCol(uint16_t column, int16_t cType, void* value,
                                          int64_t bufferLength, int64_t* indicator) noexcept;
    [[nodiscard]] virtual int16_t bindParameter(uint16_t param, int16_t ioType, int16_t cType,
                                                int16_t sqlType, uint64_t columnSize,
                                                int16_t digits, void* value, int64_t bufferLength,
                                                int64_t* indicator) noexcept;
    [[nodiscard]] virtual int16_t bulkOperations(int16_t operation) noexcept;
    [[nodiscard]] virtual int16_t cancel() noexcept;
    [[nodiscard]] virtual int16_t closeCursorApi() noexcept;
    [[nodiscard]] virtual int16_t colAttribute(uint16_t column, uint16_t field, void* charValue,
                                               int16_t bufferLength, int16_t* stringLength,
                                               int64_t* numericValue) noexcept;
    [[nodiscard]] virtual int16_t columnPrivileges(const uint16_t* catalog, int16_t catalogLength,
                                                   const uint16_t* schema, int16_t schemaLength,
                                                   const uint16_t* table, int16_t tableLength,
                                                   const uint16_t* column,
                                                   int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t columns(const uint16_t* catalog, int16_t catalogLength,
                                          const uint16_t* schema, int16_t schemaLength,
                                          const uint16_t* table, int16_t tableLength,
                                          const uint16_t* column, int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t describeCol(uint16_t column, uint16_t* name, int16_t bufferLength,
                                              int16_t* nameLength, int16_t* dataType,
                                              uint64_t* columnSize, int16_t* digits,
                                              int16_t* nullable) noexcept;
    [[nodiscard]] virtual int16_t describeParam(uint16_t param, int16_t* dataType, uint64_t* size,
                                                int16_t* digits, int16_t* nullable) noexcept;
    [[nodiscard]] virtual int16_t execDirect(const uint16_t* text, int32_t length) noexcept;
    [[nodiscard]] virtual int16_t execute() noexcept;
    [[nodiscard]] virtual int16_t extendedFetch(uint16_t fetchType, int64_t row, uint64_t* rowCount,
                                                uint16_t* rowStatus) noexcept;
    [[nodiscard]] virtual int16_t fetchScroll(int16_t orientation, int64_t offset) noexcept;
    [[nodiscard]] virtual int16_t fetch() noexcept;
    [[nodiscard]] virtual int16_t foreignKeys(const uint16_t* pkCatalog, int16_t pkCatalogLength,
                                              const uint16_t* pkSchema, int16_t pkSchemaLength,
                                              const uint16_t* pkTable, int16_t pkTableLength,
                                              const uint16_t* fkCatalog, int16_t fkCatalogLength,
                                              const uint16_t* fkSchema, int16_t fkSchemaLength,
                                              const uint16_t* fkTable,
                                              int16_t fkTableLength) noexcept;
    // Option 1 (SQL_DROP) also serves SQLFreeHandle: on success the
    // statement is gone.
    [[nodiscard]] virtual int16_t freeStmt(uint16_t option) noexcept;
    [[nodiscard]] virtual int16_t getData(uint16_t column, int16_t cType, void* value,
                                          int64_t bufferLength, int64_t* indicator) noexcept;
    [[nodiscard]] virtual int16_t getCursorName(uint16_t* name, int16_t bufferLength,
                                                int16_t* nameLength) noexcept;
    [[nodiscard]] virtual int16_t getStmtAttr(int32_t attribute, void* value, int32_t bufferLength,
                                              int32_t* stringLength) noexcept;
    [[nodiscard]] virtual int16_t getTypeInfo(int16_t dataType) noexcept;
    [[nodiscard]] virtual int16_t moreResults() noexcept;
    [[nodiscard]] virtual int16_t numParams(int16_t* count) noexcept;
    [[nodiscard]] virtual int16_t numResultCols(int16_t* count) noexcept;
    [[nodiscard]] virtual int16_t paramData(void** value) noexcept;
    [[nodiscard]] virtual int16_t prepare(const uint16_t* text, int32_t length) noexcept;
    [[nodiscard]] virtual int16_t primaryKeys(const uint16_t* catalog, int16_t catalogLength,
                                              const uint16_t* schema, int16_t schemaLength,
                                              const uint16_t* table, int16_t tableLength) noexcept;
    [[nodiscard]] virtual int16_t procedureColumns(const uint16_t* catalog, int16_t catalogLength,
                                                   const uint16_t* schema, int16_t schemaLength,
                                                   const uint16_t* procedure,
                                                   int16_t procedureLength, const uint16_t* column,
                                                   int16_t columnLength) noexcept;
    [[nodiscard]] virtual int16_t procedures(const uint16_t* catalog, int16_t catalogLength,
                                             const uint16_t* schema, int16_t schemaLength,
                                             const uint16_t* procedure,
                                             int16_t procedureLength) noexcept;
    [[nodiscard]] virtual int16_t putData(void* data, int64_t length) noexcept;
    [[nodiscard]] virtual int16_t rowCountApi(int64_t* count) noexcept;
    [[nodiscard]] virtual int16_t setCursorName(const uint16_t* name, int16_t length) noexcept;
    [[nodiscard]] virtual int16_t setPos(uint64_t row, uint16_t operation,
                                         uint16_t lockType) noexcept;
    [[nodiscard]] virtual int16_t setScrollOptions(uint16_t concurrency, int64_t keyset,
                                                   uint16_t rowset) noexcept;
    [[nodiscard]] virtual int16_t setStmtAttr(int32_t attribute, void* value,
                                              int32_t length) noexcept;
    [[nodiscard]] virtual int16_t specialColumns(uint16_t identifierType, const uint16_t* catalog,
                                                 int16_t catalogLength, const uint16_t* schema,
                                                 int16_t schemaLength, const uint16_t* table,
                                                 int16_t tableLength, uint16_t scope,
                                                 uint16_t nullable) noexcept;
    [[nodiscard]] virtual int16_t statistics(const uint16_t* catalog, int16_t catalogLength,
                                             const uint16_t* schema, int16_t schemaLength,
                                             const uint16_t* table, int16_t tableLength,
                                             uint16_t unique, uint16_t reserved) noexcept;
    [[nodiscard]] virtual int16_t tablePrivileges(const uint16_t* catalog, int16_t catalogLength,
                                                  const uint16_t* schema, int16_t schemaLength,
                                                  const uint16_t* table,
                                                  int16_t tableLength) noexcept;
    [[nodiscard]] virtual int16_t tables(const uint16_t* catalog, int16_t catalogLength,
                                         const uint16_t* schema, int16_t schemaLength,
                                         const uint16_t* table, int16_t tableLength,
                                         const uint16_t* type, int16_t typeLength) noexcept;
    // Registers the new statement with its connection; 0, or non-zero when
    // the statement must not be handed out.
    [[nodiscard]] virtual int16_t initStatement() noexcept;

    // Makes the implicit APD and ARD, the IPD and the IRD; 0, or 1 when
    // memory ran out.
    [[nodiscard]] int16_t createDescriptors() noexcept;

    // The converter cache of the statement's character conversions: the
    // connection's when it shares one with its statements, else its own.
    KaIcuCache* charConversionContext() noexcept;
    [[nodiscard]] int32_t convertText(int64_t srcCp, const void* src, int64_t srcLen,
                                      int64_t dstCp, void* dst, int64_t dstSize,
                                      int64_t* produced, int32_t* truncated,
                                      int32_t blankTail) noexcept;
    [[nodiscard]] int32_t convertTextToBuffer(int64_t srcCp, const void* src, int64_t srcLen,
                                              int64_t dstCp, void* dst, int64_t dstSize,
                                              int32_t fullLength, int64_t* produced,
                                              int32_t* truncated) noexcept;

    // ---- Value conversion ------------------------------------------------
    // Fills ctx for a value of this statement: the connection's settings,
    // the statement's character code page and converters, and the long-data
    // state of the value being read. The description and target are the
    // caller's to fill.
    void conversionContext(BaseConvertContext* ctx) noexcept;
    // Takes back the long-data state a conversion left in ctx.
    void keepLongData(const BaseConvertContext& ctx) noexcept;
    // conversionContext for a value of result column `column` as cType,
    // described by its IRD record; 1 after posting when there is none.
    [[nodiscard]] int16_t columnContext(uint16_t column, int16_t cType, BaseConvertContext* ctx) noexcept;
    // One value of result column `column` (1-based), described by its IRD
    // record, into `out` as cType; SQL_C_NUMERIC takes the precision and
    // scale of the column's ARD record. 0, or 1 after posting.
    [[nodiscard]] int16_t convertColumnValue(uint16_t column, int16_t cType, BaseOutString* out,
                                             const void* src, int64_t srcLength,
                                             int32_t srcKind) noexcept;
    // A returned output-parameter value (length SQL_NULL_DATA for NULL) into
    // the buffer the APD record of parameter `param` binds, in the row of
    // the current parameter row. Nothing happens without a data pointer.
    [[nodiscard]] int16_t convertOutputParam(uint16_t param, const void* value, int64_t length,
                                             int32_t srcKind) noexcept;
    // The application's value of parameter `param` into dstKind, described
    // by its IPD record and the APD record it reads.
    [[nodiscard]] int16_t convertParamValue(uint16_t param, const void* src, int64_t srcLength,
                                            int32_t dstKind, void* dst, int64_t dstSize,
                                            int64_t* produced) noexcept;
    // An application value of cType into the SQL type of result column
    // `column`; the kind chosen goes to chosenKind (may be null).
    [[nodiscard]] int16_t convertToColumnType(uint16_t column, int16_t cType, const void* src,
                                              int64_t srcLength, void* dst, int32_t* chosenKind,
                                              int64_t* produced, int64_t dstSize) noexcept;

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
    // Records the bytes of the current value that a piece delivered: 0 after
    // a piece that held the rest; a cut piece that delivered nothing leaves
    // the offset where it is.
    void notePiece(bool cut, int64_t delivered) noexcept;

    // The IPD record of parameter marker `param` (1-based).
    BaseIPDRecord* getParamIPDRecord(uint16_t param) noexcept;
    // Appends message MSG_PARAMETER_ROW with `number` to every diagnostic of
    // `list` from index `first` on that does not carry it yet.
    void annotateParamRowErrors(size_t first, KaErrorList* list, uint64_t number) noexcept;
    // The ARD record of column `column`, or null beyond the ARD's records.
    BaseAXDRecord* ardRecord(uint16_t column) const noexcept;

    KaIcuCache icuCache;
    BaseConnection* connection;
    BaseErrorList diagnostics{connection};
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
};

// The settings of the statement's connection (defaults without a statement).
void baseConvertSettingsOf(const BaseStatement* stmt, BaseConvertSettings* out) noexcept;
