// The framework's diagnostics: records and lists that every handle owns, the
// posting operations by SQLSTATE index and message number, the message text
// the application reads, SQLGetDiagRec/SQLGetDiagField on a list, and the
// SQLSTATE rewriting for ODBC 2 applications.
#pragma once
#include <cstdint>

#include <sql.h>

#include "foundation/kaerror.h"
#include "kamessages.h"

class BaseConnection;
class BaseErrorList;

// SQLSTATE indexes of the catalogue that the framework posts itself, under
// the framework's names.
constexpr uint16_t kBaseIdxGeneralWarning = MSG_SQLSTATE_GENERAL_WARNING;
constexpr uint16_t kBaseIdxTruncated = MSG_SQLSTATE_STRING_RIGHT_TRUNCATED;
constexpr uint16_t kBaseIdxBadConnAttr = MSG_SQLSTATE_INVALID_CONNECTION_ATTRIBUTE;
constexpr uint16_t kBaseIdxFractionTruncated = MSG_SQLSTATE_FRACTIONAL_TRUNCATION;
constexpr uint16_t kBaseIdxUnableToConnect = MSG_SQLSTATE_UNABLE_TO_CONNECT;
constexpr uint16_t kBaseIdxLinkFailure = MSG_SQLSTATE_LINK_FAILURE;
constexpr uint16_t kBaseIdxRightTruncation = MSG_SQLSTATE_STRING_TRUNCATION;
constexpr uint16_t kBaseIdxIndicatorRequired = MSG_SQLSTATE_INDICATOR_REQUIRED;
constexpr uint16_t kBaseIdxOutOfRange = MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE;
constexpr uint16_t kBaseIdxBadDatetime = MSG_SQLSTATE_INVALID_DATETIME_FORMAT;
constexpr uint16_t kBaseIdxDatetimeOverflow = MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW;
constexpr uint16_t kBaseIdxIntervalOverflow = MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW;
constexpr uint16_t kBaseIdxBadCharValue = MSG_SQLSTATE_INVALID_CAST;
constexpr uint16_t kBaseIdxGeneralError = MSG_SQLSTATE_GENERAL_ERROR;
constexpr uint16_t kBaseIdxOutOfMemory = MSG_SQLSTATE_OUT_OF_MEMORY;
constexpr uint16_t kBaseIdxBadLength = MSG_SQLSTATE_INVALID_STRING_LENGTH;
constexpr uint16_t kBaseIdxNotSupported = MSG_SQLSTATE_OPTIONAL_FEATURE;
constexpr uint16_t kBaseIdxTimeout = MSG_SQLSTATE_TIMEOUT_EXPIRED;
// Connection re-established after a link failure; the entry points repeat
// a call that posted it on a fresh pooled connection.
constexpr uint16_t kBaseIdxReconnected = MSG_SQLSTATE_CONNECTION_REESTABLISHED;
// The default text of an index is the catalogue entry this far above it.
constexpr uint16_t kBaseDefaultTextOffset = 149;

// Driver resource strings come from the physical connection, not the catalogue.
constexpr bool baseIsResourceMessage(uint32_t msg)
{
    return (msg >= 1200 && msg <= 1499) || (msg >= 3800 && msg <= 4099);
}

// Record flag: the text came from the driver's resources (no DBMS name).
constexpr uint8_t kBaseErrorDriverText = 0x20;
// Record flag: the link failed before the request was wholly handed to the
// network, so the server cannot have run it.
constexpr uint8_t kBaseErrorRequestUnsent = 0x40;
// Units of the text buffer a record is made with.
constexpr int32_t kBaseDiagTextUnits = 516;
// SQLSTATE buffer: five characters and a NUL.
constexpr int32_t kBaseSqlstateUnits = 6;

class BaseError : public KaError {
public:
    BaseError(uint16_t native, const char* text, int32_t encoding, int warning, uint16_t sqlstateMsg,
              uintptr_t userData) noexcept;
    BaseError(uint16_t native, const uint16_t* text, int warning, uint16_t sqlstateMsg, uintptr_t userData) noexcept;
    // The static records: kind 1 out of memory, kind 2 the parameter sink.
    explicit BaseError(int32_t staticKind) noexcept;
    ~BaseError() override;

    // Compose the text the application reads into out (b characters with the
    // NUL). Reports the full length; *truncated is set when the text was cut.
    void formatMessageW(const BaseErrorList* list, uint16_t* out, int64_t b, int64_t* fullLength,
                        bool* truncated) const noexcept;
    void formatMessageA(const BaseErrorList* list, char* out, int64_t b, int64_t* fullLength,
                        bool* truncated) const noexcept;
};

class BaseErrorList : public KaErrorList {
public:
    explicit BaseErrorList(BaseConnection* owner) noexcept;
    ~BaseErrorList() override;

    KaError* outOfMemoryRecord() noexcept override;
    KaError* staticRecord() noexcept override;
    KaError* newRecord(uint16_t native, const char* text, int32_t encoding, int warning, uint16_t sqlstateMsg,
                       uintptr_t userData) noexcept override;
    KaError* newRecordW(uint16_t native, const uint16_t* text, int warning, uint16_t sqlstateMsg,
                        uintptr_t userData) noexcept override;

    // Posts an error with SQLSTATE index `index` on this list.
    KaError* postError(uint16_t index, uint16_t msg) noexcept;

    BaseConnection* owningConnection() const noexcept;
    // The diagnostics of one API call: emptied and made the thread's current
    // list on entry; on exit no longer current and sorted, and a success
    // that posted only warnings becomes success with information.
    void enterApi(uint16_t apiId) noexcept;
    [[nodiscard]] int16_t leaveApi(int16_t rc) noexcept;
    // Record n, 1-based, counting the out-of-memory mark as record 1.
    KaError* getRecord(int64_t n) noexcept;
    int64_t diagCount() const noexcept;

    [[nodiscard]] int16_t getDiagRec(int16_t recNumber, uint16_t* sqlstate, int32_t* native, uint16_t* message,
                                     int16_t bufferLength, int16_t* textLength) noexcept;
    [[nodiscard]] int16_t getDiagField(int16_t recNumber, int16_t fieldId, void* value, int16_t bufferLength,
                                       int16_t* stringLength) noexcept;

    void mapSqlStateToOdbc2W(uint16_t* sqlstate) const noexcept;
    void mapSqlStateToOdbc2(char* sqlstate) const noexcept;

    void setDynamicFunction(int32_t kind, int32_t subKind, bool dynamicCursor, bool callFlag) noexcept;
    void clearDynamicFunction() noexcept;

    // All records as one UTF-16 text from ramAlloc (the caller frees it); the
    // list is emptied. Null when no memory is left.
    uint16_t* concatenateMessages() noexcept;
    [[nodiscard]] int16_t showErrors(void* window) noexcept;

    const uint16_t* dynamicFunctionText;
    int32_t dynamicFunctionCode;
    int64_t cursorRowCount;
    int64_t rowCount;
    int64_t* currentRow;
    int16_t* currentColumn;
    const uint16_t* driverNameText;
    uint16_t currentApiFunction;

private:
    // Effective SQLSTATE of a record into out (6 units).
    void sqlstateOf(const KaError* record, uint16_t* out) const noexcept;
};

// The catalogue text of an SQLSTATE index (five characters) into out.
void baseSqlstateText(uint16_t index, uint16_t out[kBaseSqlstateUnits]) noexcept;

BaseError* baseMakeDiag(BaseErrorList* list, uint16_t index, uint16_t msg, bool warning) noexcept;
KaError* basePostDiag(uint16_t index, uint16_t msg, bool warning) noexcept;
KaError* basePostError(uint16_t index) noexcept;
KaError* basePostErrorMsg(uint16_t index, uint16_t msg) noexcept;
KaError* basePostWarning(uint16_t index) noexcept;
KaError* basePostWarningMsg(uint16_t index, uint16_t msg) noexcept;
KaError* basePostErrorTextW(uint16_t index, uint32_t native, const uint16_t* text) noexcept;
KaError* basePostWarningTextW(uint16_t index, uint32_t native, const uint16_t* text) noexcept;
KaError* basePostErrorTextA(uint16_t index, uint32_t native, const char* text, int32_t encoding) noexcept;
KaError* basePostWarningTextA(uint16_t index, uint32_t native, const char* text, int32_t encoding) noexcept;
KaError* basePostResourceError(uint16_t index, uint16_t msg) noexcept;
KaError* basePostResourceWarning(uint16_t index, uint16_t msg) noexcept;
KaError* basePostResourceErrorGeneral(uint16_t msg) noexcept;
KaError* basePostResourceWarningGeneral(uint16_t msg) noexcept;
void baseSetLastSqlstate(uint16_t msg) noexcept;

// One API call's frame on a handle with enterApi/leaveApi: the entry, the
// body, and the exit with the body's return code on every path out of it. A
// failed entry runs no body and leaves with SQL_ERROR, which releases what
// the entry took.
template <class Handle, class Body>
[[nodiscard]] int16_t baseRunApi(Handle& handle, uint16_t apiId, Body&& body) noexcept
{
    if (handle.enterApi(apiId) != 0)
        return handle.leaveApi(SQL_ERROR);
    return handle.leaveApi(static_cast<int16_t>(body()));
}

// Exported: all diagnostics of a connection as one malloc'ed narrow text.
extern "C" char* getConnectionErrors(void* connectionHandle);
