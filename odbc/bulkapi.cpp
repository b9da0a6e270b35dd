// The bulk exports: diagnostics in the application's code page, and the
// table export, validation and load. Each finds the connection handle,
// converts the texts the connection's operation needs, and runs the
// operation between the connection's entry and exit steps.
#include "odbc/bulkapi.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>

#include "convert/basecvt.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/exportcall.h"

using baseexport::connOf;
using baseexport::notConnected;
using baseexport::settle;

namespace {

const BaseBulkOperations* gBulkOperations = nullptr;

// Units of the text buffer the bulk diagnostics read a record into.
constexpr int32_t kBulkDiagUnits = 2048;
// Bytes of the scratch buffer that measures a converted text.
constexpr int64_t kMeasureScratch = 64;

// Diagnostics of a connection handle converted into a code page; *state
// receives the narrowed SQLSTATE (six bytes).
[[nodiscard]] SQLRETURN bulkDiagConverted(BaseStubConnection* connHandle, SQLSMALLINT recNumber, char* state,
                                          SQLINTEGER* native, void* message, int64_t messageBytes, int64_t unitBytes,
                                          SQLSMALLINT* textLength, int64_t targetCp) noexcept
{
    KaErrorList scratch;
    KaErrorListScope scope(&scratch);
    uint16_t stateW[kBaseSqlstateUnits] = {};
    uint16_t text[kBulkDiagUnits];
    SQLSMALLINT textUnits = 0;
    SQLRETURN rc = connHandle->diagnostics.getDiagRec(recNumber, stateW, native, text, kBulkDiagUnits, &textUnits);
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        int64_t len = textUnits < kBulkDiagUnits ? textUnits : kBulkDiagUnits - 1;
        KaIcuCache* cache = connHandle->current != nullptr ? &connHandle->current->icuCache : nullptr;
        int64_t produced = 0;
        int32_t truncated = 0;
        if (message != nullptr && messageBytes > 0) {
            if (baseConvertTextToBuffer(kCodePageUtf16LE, text, len * 2, targetCp, message, messageBytes, 0, &produced,
                                        &truncated, cache) != 0)
                rc = SQL_ERROR;
            else if (truncated != 0)
                rc = SQL_SUCCESS_WITH_INFO;
        } else if (textLength != nullptr) {
            char measure[kMeasureScratch];
            if (baseConvertTextToBuffer(kCodePageUtf16LE, text, len * 2, targetCp, measure, sizeof measure, 1,
                                        &produced, &truncated, cache) != 0)
                rc = SQL_ERROR;
        }
        if (rc != SQL_ERROR && textLength != nullptr) {
            int64_t units = produced / (unitBytes > 0 ? unitBytes : 1);
            *textLength = units > INT16_MAX ? INT16_MAX : static_cast<SQLSMALLINT>(units);
        }
        if (state != nullptr) {
            for (int i = 0; i < kBaseSqlstateUnits; ++i)
                state[i] = static_cast<char>(stateW[i]);
            state[kBaseSqlstateUnits - 1] = 0;
            if (connHandle->env != nullptr && connHandle->env->odbc2Mode != 0)
                connHandle->diagnostics.mapSqlStateToOdbc2(state);
        }
    }
    return rc;
}

// Bytes of one character unit in a code page used for wide text.
int64_t unitBytesOf(int64_t cp) noexcept
{
    if (cp == kCodePageUtf32BE || cp == kCodePageUtf32LE)
        return 4;
    if (cp == kCodePageUtf16BE || cp == kCodePageUtf16LE || cp == kCodePageUtf16)
        return 2;
    return 1;
}

// Converted copies of the load's five text arguments; all are freed with it.
struct LoadTexts {
    static constexpr int kCount = 5;
    uint16_t* wide[kCount] = {};
    bool owned[kCount] = {};

    LoadTexts() noexcept = default;
    LoadTexts(const LoadTexts&) = delete;
    LoadTexts& operator=(const LoadTexts&) = delete;
    ~LoadTexts()
    {
        for (int i = 0; i < kCount; ++i)
            if (owned[i])
                ramFree(wide[i]);
    }

    // 0, or 1 after the conversion's diagnostic.
    [[nodiscard]] int convert(int i, BaseConnection* conn, int64_t cp, const char* text) noexcept
    {
        if (text == nullptr)
            return 0;
        BaseTextContext context{&conn->icuCache, conn->driverTextMode, conn->appCodePage, 4, 1};
        int64_t produced = 0;
        // Wide text in a code page other than UTF-16LE still ends with a
        // zero unit of that code page's width, not with a zero byte.
        int64_t length = baseTerminatedLength(text, baseCodePageUnitWidth(cp));
        if (baseAllocWideFromCp(context, cp, text, length, &wide[i], &produced) != 0)
            return 1;
        owned[i] = true;
        return 0;
    }
};

[[nodiscard]] SQLRETURN loadTable(SQLHDBC handle, const void* const texts[LoadTexts::kCount], bool wideForm,
                                  SQLBIGINT errorTolerance, SQLBIGINT warningTolerance, SQLBIGINT firstRecord,
                                  SQLBIGINT recordCount, SQLBIGINT readBufferKb) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr)
        return notConnected(connHandle, kBaseApiLoadTable);
    LoadTexts args;
    SQLRETURN rc = conn->runApi(kBaseApiLoadTable, [&]() noexcept {
        bool passThrough = wideForm && conn->wideCharCodePage == kCodePageUtf16LE;
        int64_t cp = wideForm ? conn->wideCharCodePage : conn->appCodePage;
        for (int i = 0; i < LoadTexts::kCount; ++i) {
            if (passThrough)
                args.wide[i] = static_cast<uint16_t*>(const_cast<void*>(texts[i]));
            else if (args.convert(i, conn, cp, static_cast<const char*>(texts[i])) != 0)
                return SQL_ERROR;
        }
        int16_t loaded =
            conn->loadTableFromFile(args.wide[0], args.wide[1], errorTolerance, warningTolerance, args.wide[2],
                                    args.wide[3], args.wide[4], firstRecord, recordCount, readBufferKb);
        return loaded == 0 ? SQL_SUCCESS : SQL_ERROR;
    });
    return settle(rc, &connHandle->diagnostics);
}

[[nodiscard]] SQLRETURN exportTable(SQLHDBC handle, const char* table, const uint16_t* tableW, const char* file,
                                    const uint16_t* fileW, int64_t codePage, SQLBIGINT errorTolerance,
                                    SQLBIGINT warningTolerance, const char* log, const uint16_t* logW) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr)
        return notConnected(connHandle, kBaseApiExportTable);
    SQLRETURN rc = conn->runApi(kBaseApiExportTable, [&]() noexcept {
        return gBulkOperations != nullptr ? gBulkOperations->exportTable(conn, table, tableW, file, fileW, codePage,
                                                                         errorTolerance, warningTolerance, log, logW)
                                          : conn->exportTableToFile(table, tableW, file, fileW, codePage,
                                                                    errorTolerance, warningTolerance, log, logW);
    });
    return settle(rc, &connHandle->diagnostics);
}

[[nodiscard]] SQLRETURN validateTable(SQLHDBC handle, const char* table, const uint16_t* tableW,
                                      const char* description, const uint16_t* descriptionW, char* messages,
                                      uint16_t* messagesW, SQLINTEGER bufferLength, SQLINTEGER* messageCount) noexcept
{
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    BaseConnection* conn = connHandle->current;
    if (conn == nullptr)
        return notConnected(connHandle, kBaseApiValidateTable);
    if (messageCount != nullptr)
        *messageCount = 0;
    SQLRETURN rc = conn->runApi(kBaseApiValidateTable, [&]() noexcept {
        return gBulkOperations != nullptr
                   ? gBulkOperations->validateTable(conn, table, tableW, description, descriptionW, messages, messagesW,
                                                    bufferLength, messageCount)
                   : conn->validateTableFromFile(table, tableW, description, descriptionW, messages, messagesW,
                                                 bufferLength, messageCount);
    });
    return settle(rc, &connHandle->diagnostics);
}

}  // namespace

void baseSetBulkOperations(const BaseBulkOperations* ops) noexcept
{
    gBulkOperations = ops;
}

int16_t BaseConnection::loadTableFromFileBody(const uint16_t* table, const uint16_t* dataFile, int64_t errorTolerance,
                                              int64_t warningTolerance, const uint16_t* description,
                                              const uint16_t* log, const uint16_t* discard, int64_t firstRecord,
                                              int64_t recordCount, int64_t readBufferKb) noexcept
{
    if (gBulkOperations == nullptr || gBulkOperations->loadTableBody == nullptr) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    return gBulkOperations->loadTableBody(this, table, dataFile, errorTolerance, warningTolerance, description, log,
                                          discard, firstRecord, recordCount, readBufferKb) != 0
               ? 1
               : 0;
}

int16_t baseBulkExportResultSet(BaseStatement* stmt, const uint16_t* fileName, int64_t codePage, int64_t errorTolerance,
                                int64_t warningTolerance, const uint16_t* logName) noexcept
{
    if (gBulkOperations == nullptr || gBulkOperations->exportResultSet == nullptr) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    return gBulkOperations->exportResultSet(stmt, fileName, codePage, errorTolerance, warningTolerance, logName) != 0
               ? 1
               : 0;
}

extern "C" {

__attribute__((visibility("default"))) SQLRETURN GetBulkDiagRecW(SQLSMALLINT type, SQLHANDLE handle,
                                                                 SQLSMALLINT recNumber, SQLWCHAR* sqlstate,
                                                                 SQLINTEGER* native, SQLWCHAR* message,
                                                                 SQLSMALLINT bufferLength, SQLSMALLINT* textLength)
{
    if (type != SQL_HANDLE_DBC)
        return SQL_INVALID_HANDLE;
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    int64_t cp = connHandle->current != nullptr ? connHandle->current->wideCharCodePage : kCodePageUtf16LE;
    if (cp == kCodePageUtf16LE)
        return SQLGetDiagRecW(type, handle, recNumber, sqlstate, native, message, bufferLength, textLength);
    int64_t unit = unitBytesOf(cp);
    return bulkDiagConverted(connHandle, recNumber, reinterpret_cast<char*>(sqlstate), native, message,
                             bufferLength > 0 ? static_cast<int64_t>(bufferLength) * unit : 0, unit, textLength, cp);
}

__attribute__((visibility("default"))) SQLRETURN GetBulkDiagRec(SQLSMALLINT type, SQLHANDLE handle,
                                                                SQLSMALLINT recNumber, SQLCHAR* sqlstate,
                                                                SQLINTEGER* native, SQLCHAR* message,
                                                                SQLSMALLINT bufferLength, SQLSMALLINT* textLength)
{
    if (type != SQL_HANDLE_DBC)
        return SQL_INVALID_HANDLE;
    BaseStubConnection* connHandle = connOf(handle);
    if (connHandle == nullptr)
        return SQL_INVALID_HANDLE;
    int64_t cp = connHandle->current != nullptr ? connHandle->current->appCodePage : kCodePageLatin1;
    return bulkDiagConverted(connHandle, recNumber, reinterpret_cast<char*>(sqlstate), native, message,
                             bufferLength > 0 ? bufferLength : 0, 1, textLength, cp);
}

__attribute__((visibility("default"))) SQLRETURN ExportTableToFile(SQLHDBC handle, const SQLCHAR* table,
                                                                   const SQLCHAR* file, SQLINTEGER codePage,
                                                                   SQLBIGINT errorTolerance, SQLBIGINT warningTolerance,
                                                                   const SQLCHAR* log)
{
    return exportTable(handle, reinterpret_cast<const char*>(table), nullptr, reinterpret_cast<const char*>(file),
                       nullptr, codePage, errorTolerance, warningTolerance, reinterpret_cast<const char*>(log),
                       nullptr);
}

__attribute__((visibility("default"))) SQLRETURN ExportTableToFileW(SQLHDBC handle, const SQLWCHAR* table,
                                                                    const SQLWCHAR* file, SQLBIGINT codePage,
                                                                    SQLBIGINT errorTolerance,
                                                                    SQLBIGINT warningTolerance, const SQLWCHAR* log)
{
    return exportTable(handle, nullptr, table, nullptr, file, codePage, errorTolerance, warningTolerance, nullptr, log);
}

__attribute__((visibility("default"))) SQLRETURN ValidateTableFromFile(SQLHDBC handle, const SQLCHAR* table,
                                                                       const SQLCHAR* description, SQLCHAR* messages,
                                                                       SQLINTEGER bufferLength,
                                                                       SQLINTEGER* messageCount)
{
    return validateTable(handle, reinterpret_cast<const char*>(table), nullptr,
                         reinterpret_cast<const char*>(description), nullptr, reinterpret_cast<char*>(messages),
                         nullptr, bufferLength, messageCount);
}

__attribute__((visibility("default"))) SQLRETURN ValidateTableFromFileW(SQLHDBC handle, const SQLWCHAR* table,
                                                                        const SQLWCHAR* description, SQLWCHAR* messages,
                                                                        SQLINTEGER bufferLength,
                                                                        SQLINTEGER* messageCount)
{
    return validateTable(handle, nullptr, table, nullptr, description, nullptr, messages, bufferLength, messageCount);
}

__attribute__((visibility("default"))) SQLRETURN
LoadTableFromFile(SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* dataFile, SQLBIGINT errorTolerance,
                  SQLBIGINT warningTolerance, const SQLCHAR* description, const SQLCHAR* log, const SQLCHAR* discard,
                  SQLBIGINT firstRecord, SQLBIGINT recordCount, SQLBIGINT readBufferKb)
{
    const void* texts[LoadTexts::kCount] = {table, dataFile, description, log, discard};
    return loadTable(handle, texts, false, errorTolerance, warningTolerance, firstRecord, recordCount, readBufferKb);
}

__attribute__((visibility("default"))) SQLRETURN
LoadTableFromFileW(SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* dataFile, SQLBIGINT errorTolerance,
                   SQLBIGINT warningTolerance, const SQLWCHAR* description, const SQLWCHAR* log,
                   const SQLWCHAR* discard, SQLBIGINT firstRecord, SQLBIGINT recordCount, SQLBIGINT readBufferKb)
{
    const void* texts[LoadTexts::kCount] = {table, dataFile, description, log, discard};
    return loadTable(handle, texts, true, errorTolerance, warningTolerance, firstRecord, recordCount, readBufferKb);
}

}  // extern "C"
