// Data at execution: SQLParamData names the parameter whose value the
// application sends next, SQLPutData collects it piece by piece, and the
// finished value goes to the driver before the execution goes on.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// What a value of an SQL type without a size of its own may collect.
constexpr int64_t kPutDataDefaultLimit = 4096;
// Bytes one character may take in the application's text: four in UTF-8,
// and four in UTF-16 (a pair of surrogates).
constexpr int64_t kMaxBytesPerCharacter = 4;
// The first room collected data gets; it doubles as pieces arrive.
constexpr int64_t kPutDataFirstRoom = 256;

bool isTextOrBinaryCType(int16_t t) noexcept
{
    return t == SQL_C_CHAR || t == SQL_C_WCHAR || t == SQL_C_BINARY;
}

int64_t saturatingTimes(int64_t a, int64_t b) noexcept
{
    if (a <= 0)
        return 0;
    return a > INT64_MAX / b ? INT64_MAX : a * b;
}

// The text marker of parameter n (counted with the return value).
uint16_t markerOf(const BaseStatement* stmt, uint16_t n) noexcept
{
    return stmt->returnValueParam ? static_cast<uint16_t>(n - 1) : n;
}

bool odbc2(const BaseStatement* stmt) noexcept
{
    const BaseConnection* conn = stmt->connection;
    return conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode == 1;
}

// Appends "(parameter n)" to the last diagnostic of the call.
void noteParameter(uint16_t n) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr || list->recordCount() == 0)
        return;
    baseAnnotateDiagnostics(list->recordCount() - 1, MSG_PARAMETER_VALUE_FAILED, n);
}

}  // namespace

int64_t BaseStatement::putDataLimit(const BaseRecord* ipdRec, int16_t cType) const noexcept
{
    // The sizes a binding gives count characters for text and bytes for
    // binary data; the pieces come in bytes of the C type. Each limit is
    // turned into bytes of the C type, so that a value of as many
    // characters as the binding allows always fits.
    const auto length = static_cast<int64_t>(ipdRec->length > INT64_MAX ? INT64_MAX : ipdRec->length);
    const int64_t hexWidth = cType == SQL_C_WCHAR ? 4 : cType == SQL_C_CHAR ? 2 : 1;
    switch (ipdRec->conciseType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR: return length == 0 ? kPutDataDefaultLimit : saturatingTimes(length, kMaxBytesPerCharacter);
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: return ipdRec->dataAtExecLimit;
    case SQL_LONGVARBINARY:
        return ipdRec->dataAtExecLimit == 0 ? 0 : saturatingTimes(ipdRec->dataAtExecLimit, hexWidth);
    case SQL_BINARY:
    case SQL_VARBINARY: return length == 0 ? kPutDataDefaultLimit : saturatingTimes(length, hexWidth);
    default: return kPutDataDefaultLimit;
    }
}

void BaseStatement::dropPutData() noexcept
{
    BaseIPDRecord* rec = getIpdRecord(needDataParam);
    if (rec != nullptr) {
        ramFree(rec->dataAtExecBuffer);
        rec->dataAtExecBuffer = nullptr;
        rec->dataAtExecLength = 0;
    }
    putDataCapacity = 0;
}

int16_t BaseStatement::putData(void* data, int64_t length) noexcept
{
    return runFunction(SQL_API_SQLPUTDATA, [&]() -> int16_t {
        return setPosDataAtExec ? setPosPutData(data, length) : putDataCore(data, length);
    });
}

int16_t BaseStatement::putDataCore(void* data, int64_t length) noexcept
{
    if (statementState != kBaseStmtMustPutData && statementState != kBaseStmtPuttingData) {
        basePostError(kBaseIdxSequence);
        return SQL_ERROR;
    }
    // A native SetPos operation collects the value of its bound column;
    // everything else the value of the parameter asked for.
    const bool column = setPosDataAtExec;
    const uint16_t n = column ? setPosColumn : needDataParam;
    BaseIXDRecord* ipdRec = nullptr;
    const BaseAXDRecord* apdRec = nullptr;
    if (column) {
        ipdRec = ird != nullptr ? ird->irdRecord(n) : nullptr;
        apdRec = ardRecord(n);
    } else {
        BaseIPDRecord* param = getIpdRecord(n);
        ipdRec = param;
        apdRec = param != nullptr ? param->apdRecord() : nullptr;
    }
    if (ipdRec == nullptr || apdRec == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return SQL_ERROR;
    }
    const int16_t sqlType = ipdRec->conciseType;
    int16_t cType = apdRec->conciseType;
    if (cType == SQL_C_DEFAULT)
        cType = baseDefaultCType(sqlType, 0);
    const bool putting = statementState == kBaseStmtPuttingData;
    if (putting && (length == SQL_NULL_DATA || ipdRec->dataAtExecLength == SQL_NULL_DATA)) {
        basePostError(MSG_SQLSTATE_CONCATENATE_NULL);
        return SQL_ERROR;
    }
    // A value of fixed size has the size of its C type, whatever length
    // came with it.
    const int64_t fixed = baseFixedCTypeSize(cType);
    if (!isTextOrBinaryCType(cType) && fixed != 0 && length != SQL_NULL_DATA)
        length = fixed;
    if (length < SQL_NULL_DATA) {
        if (length != SQL_NTS || !isTextOrBinaryCType(cType)) {
            basePostErrorMsg(kBaseIdxBadLength, MSG_PARAMETER_LENGTH_INVALID)
                ->addParamUnsigned(n)
                ->addParamSigned(length);
            return SQL_ERROR;
        }
        length = data != nullptr ? baseTerminatedLength(data, cType == SQL_C_WCHAR ? 2 : 1) : 0;
    }
    if (length > 0 && data == nullptr) {
        basePostErrorMsg(kBaseIdxNullPointer, MSG_PARAMETER_PUT_WITHOUT_DATA)
            ->addParamSigned(length)
            ->addParamUnsigned(n);
        return SQL_ERROR;
    }
    if (!isTextOrBinaryCType(cType) && putting) {
        // A value of fixed size comes whole, once.
        basePostError(MSG_SQLSTATE_NON_CHARACTER_IN_PIECES);
        return SQL_ERROR;
    }
    if (!isTextOrBinaryCType(cType) && !column) {
        if (setParamValue(markerOf(this, n), data, length, 0) != 0) {
            noteParameter(n);
            return SQL_ERROR;
        }
        ipdRec->dataAtExecLength = length == SQL_NULL_DATA ? SQL_NULL_DATA : 0;
        statementState = kBaseStmtPuttingData;
        return SQL_SUCCESS;
    }
    const int64_t collected = ipdRec->dataAtExecLength;
    const int64_t limit = putDataLimit(ipdRec, cType);
    if (length != SQL_NULL_DATA && limit != 0 && length > limit - collected) {
        const bool cut = odbc2(this) && connection != nullptr && !connection->truncationIsError;
        if (!cut) {
            basePostErrorMsg(kBaseIdxRightTruncation, MSG_PARAMETER_DATA_TOO_LONG)
                ->addParamUnsigned(n)
                ->addParamSigned(limit);
            return SQL_ERROR;
        }
        basePostWarning(kBaseIdxTruncated);
        length = limit - collected;
    }
    const bool streamed = !column && connection != nullptr && connection->streamsLongData &&
                          (sqlType == SQL_LONGVARBINARY || sqlType == SQL_WLONGVARCHAR || sqlType == SQL_LONGVARCHAR);
    if (streamed) {
        if (setParamValue(markerOf(this, n), data, length, putting ? 2 : 1) != 0) {
            noteParameter(n);
            return SQL_ERROR;
        }
    } else if (length > 0) {
        // The room grows with the pieces: a large limit costs nothing until
        // the data is there.
        if (collected + length > putDataCapacity || ipdRec->dataAtExecBuffer == nullptr) {
            int64_t room = putDataCapacity > 0 ? putDataCapacity : kPutDataFirstRoom;
            while (room < collected + length)
                room = room > INT64_MAX / 2 ? INT64_MAX : room * 2;
            if (limit != 0 && room > limit)
                room = limit;
            void* block = ipdRec->dataAtExecBuffer;
            if (ramRealloc(&block, static_cast<size_t>(room)) != 0)
                return SQL_ERROR;
            ipdRec->dataAtExecBuffer = static_cast<uint8_t*>(block);
            putDataCapacity = room;
        }
        std::memcpy(ipdRec->dataAtExecBuffer + collected, data, static_cast<size_t>(length));
    }
    ipdRec->dataAtExecLength = length == SQL_NULL_DATA ? SQL_NULL_DATA : collected + length;
    statementState = kBaseStmtPuttingData;
    return SQL_SUCCESS;
}

int16_t BaseStatement::paramData(void** value) noexcept
{
    return runFunction(SQL_API_SQLPARAMDATA,
                       [&]() -> int16_t { return setPosDataAtExec ? setPosParamData(value) : paramDataCore(value); });
}

int16_t BaseStatement::paramDataCore(void** value) noexcept
{
    if (statementState != kBaseStmtNeedData && statementState != kBaseStmtPuttingData) {
        basePostError(kBaseIdxSequence);
        return SQL_ERROR;
    }
    if (statementState == kBaseStmtPuttingData) {
        const uint16_t n = needDataParam;
        BaseIPDRecord* ipdRec = getIpdRecord(n);
        BaseAXDRecord* apdRec = ipdRec != nullptr ? ipdRec->apdRecord() : nullptr;
        if (ipdRec == nullptr || apdRec == nullptr) {
            basePostError(kBaseIdxGeneralError);
            return SQL_ERROR;
        }
        const int16_t sqlType = ipdRec->conciseType;
        int16_t cType = apdRec->conciseType;
        if (cType == SQL_C_DEFAULT)
            cType = baseDefaultCType(sqlType, 0);
        if (isTextOrBinaryCType(cType)) {
            const bool streamed =
                connection != nullptr && connection->streamsLongData &&
                (sqlType == SQL_LONGVARBINARY || sqlType == SQL_WLONGVARCHAR || sqlType == SQL_LONGVARCHAR);
            static const uint8_t kNoBytes = 0;
            const void* bytes = ipdRec->dataAtExecBuffer != nullptr ? ipdRec->dataAtExecBuffer : &kNoBytes;
            const int16_t rc = streamed ? setParamValue(markerOf(this, n), nullptr, 0, 3)
                                        : setParamValue(markerOf(this, n), bytes, ipdRec->dataAtExecLength, 0);
            dropPutData();
            if (rc != 0) {
                noteParameter(n);
                return SQL_ERROR;
            }
        }
        ipdRec->savedParamType = ipdRec->paramType;
        ipdRec->savedConciseType = ipdRec->conciseType;
        ipdRec->savedPrecision = ipdRec->precision;
        ipdRec->savedScale = ipdRec->scale;
        int16_t needData = 0;
        if (executeCore(n, &needData, nullptr) != 0) {
            // The execution is over: the statement is back where it was
            // before SQLExecute.
            needDataParam = 0;
            statementState = kBaseStmtPrepared;
            if (executionMode != kBaseExecPrepared)
                static_cast<void>(resetStatement());
            return SQL_ERROR;
        }
        if (needData == 0) {
            needDataParam = 0;
            return SQL_SUCCESS;
        }
    }
    // The next parameter is asked for: its token is where the application
    // bound it, in the row being executed.
    BaseIPDRecord* next = getIpdRecord(needDataParam);
    BaseAXDRecord* apdRec = next != nullptr ? next->apdRecord() : nullptr;
    if (next == nullptr || apdRec == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return SQL_ERROR;
    }
    next->dataAtExecLength = 0;
    if (value != nullptr) {
        auto* token = static_cast<uint8_t*>(apdRec->dataPtr);
        const BaseAXD* apd = currentApd;
        if (token != nullptr && apd != nullptr && apd->bindType != SQL_PARAM_BIND_BY_COLUMN) {
            token += apd->bindType * currentParamRow;
            if (apd->bindOffsetPtr != nullptr)
                token += *apd->bindOffsetPtr;
        }
        *value = token;
    }
    statementState = kBaseStmtMustPutData;
    return SQL_NEED_DATA;
}
