// Parameters: SQLBindParameter, SQLNumParams and SQLDescribeParam, the
// filling of the APD and IPD records a binding makes, the check of a
// binding before its value is used, and the mapping of a parameter number
// to its records.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/paramcvt.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// What the size workarounds put in place of 0 and of all ones.
constexpr uint64_t kDefaultZeroSize = 256;
constexpr uint64_t kDefaultAllOnesSize = 2000;
// Widest timestamp text: 20 characters and nine fractional digits.
constexpr int64_t kTimestampMaxSize = 29;
// Precision and scale the decimal workaround gives.
constexpr int16_t kWideDecimalPrecision = 40;
constexpr int16_t kWideDecimalScale = 20;
constexpr int16_t kZeroSizeDecimalPrecision = 15;
// Timestamp sizes: the fraction's digits come after 20 characters.
constexpr int64_t kTimestampFractionStart = 20;
constexpr int16_t kMaxFractionDigits = 9;

bool isCharOrBinarySqlType(int16_t t) noexcept
{
    switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY: return true;
    default: return false;
    }
}

bool isTextOrBinaryCType(int16_t t) noexcept
{
    return t == SQL_C_CHAR || t == SQL_C_WCHAR || t == SQL_C_BINARY;
}

int64_t odbcVersionOf(const BaseStatement* stmt) noexcept
{
    const BaseConnection* conn = stmt->connection;
    return conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode == 1 ? 2 : 3;
}

// The ODBC 2 date and time codes become the ODBC 3 ones.
int16_t odbc3DateType(int16_t t) noexcept
{
    switch (t) {
    case SQL_DATE: return SQL_TYPE_DATE;
    case SQL_TIME: return SQL_TYPE_TIME;
    case SQL_TIMESTAMP: return SQL_TYPE_TIMESTAMP;
    default: return t;
    }
}

// The interval code of a concise type, or 0.
int16_t intervalCodeOf(int16_t t) noexcept
{
    if (t >= SQL_TYPE_DATE && t <= SQL_TYPE_TIMESTAMP)
        return static_cast<int16_t>(t - SQL_TYPE_DATE + 1);
    if (t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND)
        return static_cast<int16_t>(t - SQL_INTERVAL_YEAR + 1);
    return 0;
}

// The leading precision of an interval from its column size and digits.
int64_t intervalPrecisionOf(int16_t t, uint64_t columnSize, int16_t digits) noexcept
{
    const auto size = static_cast<int64_t>(columnSize);
    switch (t) {
    case SQL_INTERVAL_SECOND: return digits > 0 ? size - (digits + 1) : size;
    case SQL_INTERVAL_YEAR_TO_MONTH:
    case SQL_INTERVAL_DAY_TO_HOUR:
    case SQL_INTERVAL_HOUR_TO_MINUTE: return size - 3;
    case SQL_INTERVAL_DAY_TO_MINUTE: return size - 6;
    case SQL_INTERVAL_DAY_TO_SECOND: return digits > 0 ? size - (digits + 10) : size - 9;
    case SQL_INTERVAL_HOUR_TO_SECOND: return digits > 0 ? size - (digits + 7) : size - 6;
    case SQL_INTERVAL_MINUTE_TO_SECOND: return digits > 0 ? size - (digits + 4) : size - 3;
    default: return size;
    }
}

// The byte width of a fixed-size C value, 0 for the others.
int64_t fixedCOctets(int16_t cType) noexcept
{
    switch (cType) {
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_C_BIT:
    case SQL_C_TINYINT: return 1;
    case SQL_C_USHORT:
    case SQL_C_SSHORT:
    case SQL_C_SHORT: return 2;
    case SQL_C_ULONG:
    case SQL_C_SLONG:
    case SQL_C_LONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_UBIGINT:
    case SQL_C_SBIGINT:
    case SQL_C_DOUBLE: return 8;
    case SQL_C_NUMERIC: return 19;
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TYPE_TIMESTAMP: return 16;
    default:
        if (cType >= SQL_C_INTERVAL_YEAR && cType <= SQL_C_INTERVAL_MINUTE_TO_SECOND)
            return 28;
        return 0;
    }
}

void setFixedSize(BaseIPDRecord* rec, int16_t precision, uint64_t length) noexcept
{
    rec->precision = precision;
    rec->length = length;
    rec->scale = 0;
}

}  // namespace

uint16_t BaseStatement::paramCount() const noexcept
{
    int64_t n = markerCount;
    if (returnValueParam && n > 0)
        --n;
    if (keyDescriptor != nullptr)
        n += keyDescriptor->count();
    return static_cast<uint16_t>(n > UINT16_MAX ? UINT16_MAX : n);
}

BaseIPDRecord* BaseStatement::getIpdRecord(uint16_t n) noexcept
{
    if (n == 0)
        return nullptr;
    if (static_cast<int64_t>(n - 1) < markerCount)
        return ipd != nullptr ? ipd->ipdRecord(n) : nullptr;
    if (keyDescriptor == nullptr)
        return nullptr;
    return static_cast<BaseIPDRecord*>(keyDescriptor->record(n - 1 - markerCount));
}

void BaseStatement::fillParamRecords(bool downgraded, int16_t ioType, int16_t cType, int16_t sqlType,
                                     uint64_t columnSize, int16_t digits, void* value, int64_t bufferLength,
                                     int64_t* indicator, BaseAXDRecord* apdRec, BaseIPDRecord* ipdRec) noexcept
{
    const uint64_t wa = connection != nullptr ? connection->workarounds : 0;
    const uint64_t wa2 = connection != nullptr ? connection->workarounds2 : 0;

    ipdRec->setConciseType(sqlType);
    ipdRec->intervalCode = intervalCodeOf(sqlType);
    if (sqlType >= SQL_INTERVAL_YEAR && sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND)
        ipdRec->intervalPrecision = intervalPrecisionOf(sqlType, columnSize, digits);
    ipdRec->length = 0;
    ipdRec->precision = 0;
    ipdRec->scale = 0;
    ipdRec->appPrecision = 0;
    ipdRec->appScale = 0;
    switch (sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        if ((wa & kBaseWaDecimalAsWide) != 0) {
            ipdRec->precision = kWideDecimalPrecision;
            ipdRec->scale = kWideDecimalScale;
        } else if (columnSize == 0 && (wa & kBaseWaZeroSizeDefaults) != 0) {
            ipdRec->precision = kZeroSizeDecimalPrecision;
            ipdRec->scale = 0;
        } else {
            ipdRec->precision = static_cast<int16_t>(columnSize);
            ipdRec->scale = digits;
        }
        break;
    case SQL_TYPE_TIME:
        ipdRec->precision = static_cast<int16_t>(columnSize);
        ipdRec->scale = digits;
        break;
    case SQL_TYPE_TIMESTAMP:
        if ((wa2 & kBaseWa2TimestampFromTypeTable) != 0) {
            // The framework's type table keeps no sizes: the whole-second
            // timestamp every server takes.
            ipdRec->precision = 19;
            ipdRec->scale = 0;
        } else {
            ipdRec->precision = static_cast<int16_t>(columnSize);
            ipdRec->scale = digits;
        }
        break;
    default: {
        uint64_t size = columnSize;
        if ((wa & (kBaseWaZeroSizeDefaults | kBaseWaAllOnesSizeDefault)) != 0 && isCharOrBinarySqlType(sqlType)) {
            if (size == 0 && (wa & kBaseWaZeroSizeDefaults) != 0)
                size = kDefaultZeroSize;
            else if (size == UINT64_MAX && (wa & kBaseWaAllOnesSizeDefault) != 0)
                size = kDefaultAllOnesSize;
        }
        ipdRec->length = size;
        ipdRec->columnSize = static_cast<int64_t>(size);
        ipdRec->precision = static_cast<int16_t>(size & 0xFFFF);
        ipdRec->scale = digits;
        break;
    }
    }
    ipdRec->appPrecision = ipdRec->precision;
    ipdRec->appScale = ipdRec->scale;
    ipdRec->appParamType = ioType;
    ipdRec->downgraded = downgraded ? 1 : 0;
    ipdRec->paramType = downgraded ? static_cast<int16_t>(SQL_PARAM_INPUT) : ioType;
    ipdRec->checked = 0;
    if (downgraded)
        nullOutputParams = true;

    apdRec->setConciseType(cType);
    apdRec->intervalCode = intervalCodeOf(cType);
    apdRec->appConciseType = cType;
    apdRec->dataPtr = value;
    apdRec->octetLengthPtr = indicator;
    apdRec->indicatorPtr = indicator;
    apdRec->precision = static_cast<int16_t>(bufferLength & 0xFFFF);
    apdRec->scale = digits;
    apdRec->octetLength = bufferLength;
}

int16_t BaseStatement::validateParamBinding(uint16_t n, BaseAXDRecord* apdRec, BaseIPDRecord* ipdRec,
                                            bool rowGiven) noexcept
{
    ipdRec->checked = 1;
    const int16_t sqlType = ipdRec->conciseType;
    if (apdRec->conciseType == SQL_C_DEFAULT) {
        apdRec->setConciseType(baseDefaultCType(sqlType, 0));
    } else if (baseCheckCToSql(n, apdRec->conciseType, sqlType) != 0) {
        return 1;
    }
    switch (sqlType) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        if (ipdRec->scale < 0) {
            basePostErrorMsg(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR, MSG_PARAMETER_SCALE_NEGATIVE)->addParamUnsigned(n);
            return 1;
        }
        if (ipdRec->precision == 0) {
            basePostErrorMsg(MSG_SQLSTATE_INVALID_PRECISION_OR_SCALE, MSG_PARAMETER_SIZE_MISSING)->addParamUnsigned(n);
            return 1;
        }
        break;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY: {
        if (rowGiven && apdRec->octetLengthPtr != nullptr) {
            const BaseAXD* apd = currentApd;
            const int64_t rowSize = apd != nullptr ? apd->bindType : 0;
            const int64_t offset = apd != nullptr && apd->bindOffsetPtr != nullptr ? *apd->bindOffsetPtr : 0;
            const int64_t step = rowSize != SQL_PARAM_BIND_BY_COLUMN ? rowSize : kBaseLengthElementSize;
            // Row-wise arrays need not align their length elements.
            int64_t element = 0;
            std::memcpy(&element,
                        reinterpret_cast<const uint8_t*>(apdRec->octetLengthPtr) + offset + currentParamRow * step,
                        sizeof element);
            if (element == SQL_NULL_DATA)
                break;
        }
        if (ipdRec->length == 0) {
            basePostErrorMsg(MSG_SQLSTATE_INVALID_PRECISION_OR_SCALE, MSG_PARAMETER_SIZE_MISSING)->addParamUnsigned(n);
            return 1;
        }
        break;
    }
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_LONGVARBINARY: {
        if (connection == nullptr)
            break;
        uint64_t limit = 0;
        int32_t kind = 0;
        int32_t allocated = 0;
        const uint16_t info = sqlType == SQL_LONGVARBINARY ? SQL_MAX_BINARY_LITERAL_LEN : SQL_MAX_CHAR_LITERAL_LEN;
        const KaDiagMark mark;
        if (connection->getInfoValue(info, &limit, &kind, &allocated) != 0) {
            // Without the limit nothing is cut.
            mark.drop();
            break;
        }
        if (limit != 0 && limit < ipdRec->length) {
            ipdRec->length = limit;
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_PARAMETER_LITERAL_CUT)
                ->addParamUnsigned(n)
                ->addParamUnsigned(limit);
        }
        break;
    }
    case SQL_BIT: setFixedSize(ipdRec, 1, 1); break;
    case SQL_TINYINT: setFixedSize(ipdRec, 3, 1); break;
    case SQL_SMALLINT: setFixedSize(ipdRec, 5, 2); break;
    case SQL_INTEGER: setFixedSize(ipdRec, 10, 8); break;
    case SQL_BIGINT: setFixedSize(ipdRec, 20, 8); break;
    case SQL_REAL: setFixedSize(ipdRec, 7, 4); break;
    case SQL_FLOAT:
    case SQL_DOUBLE: setFixedSize(ipdRec, 15, 8); break;
    case SQL_GUID: setFixedSize(ipdRec, 36, 16); break;
    case SQL_TYPE_TIMESTAMP: {
        if (ipdRec->scale < 0) {
            basePostError(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR);
            return 1;
        }
        const int64_t p = ipdRec->precision;
        if (ipdRec->scale == 0) {
            if (p == 13)
                ipdRec->scale = -4;
            else if (p == 16)
                ipdRec->scale = -2;
            else if (p > kTimestampFractionStart && p <= kTimestampMaxSize)
                ipdRec->scale = static_cast<int16_t>(p - kTimestampFractionStart);
            else if (p != 19) {
                basePostErrorMsg(MSG_SQLSTATE_INVALID_PRECISION_OR_SCALE, MSG_PARAMETER_TIMESTAMP_PRECISION)
                    ->addParamUnsigned(n)
                    ->addParamSigned(p);
                return 1;
            }
        } else if (ipdRec->scale > kMaxFractionDigits || p != ipdRec->scale + kTimestampFractionStart) {
            basePostErrorMsg(MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR, MSG_PARAMETER_TIMESTAMP_SCALE)
                ->addParamUnsigned(n)
                ->addParamSigned(p)
                ->addParamSigned(ipdRec->scale);
            return 1;
        }
        break;
    }
    default: break;
    }
    const int64_t octets = fixedCOctets(apdRec->conciseType);
    if (octets != 0)
        apdRec->octetLength = octets;
    return 0;
}

int16_t BaseStatement::bindParameter(uint16_t param, int16_t ioType, int16_t cType, int16_t sqlType,
                                     uint64_t columnSize, int16_t digits, void* value, int64_t bufferLength,
                                     int64_t* indicator) noexcept
{
    return runFunction(SQL_API_SQLBINDPARAMETER, [&]() -> int16_t {
        if (param == 0) {
            basePostError(kBaseIdxBadDescIndex);
            return SQL_ERROR;
        }
        if (ioType != SQL_PARAM_INPUT && ioType != SQL_PARAM_INPUT_OUTPUT && ioType != SQL_PARAM_OUTPUT) {
            basePostError(MSG_SQLSTATE_INVALID_PARAMETER_TYPE);
            return SQL_ERROR;
        }
        bool output = ioType != SQL_PARAM_INPUT;
        if (output && bufferLength > 0 && value == nullptr) {
            const int16_t resolved = cType == SQL_C_DEFAULT ? baseDefaultCType(sqlType, 0) : cType;
            if (isTextOrBinaryCType(resolved)) {
                basePostError(kBaseIdxNullPointer);
                return SQL_ERROR;
            }
        }
        if (bufferLength == -1) {
            ioType = SQL_PARAM_INPUT;
            output = false;
        }
        bool downgraded = false;
        BaseConnection* conn = connection;
        if (output && conn != nullptr && !conn->outputParamsSupported) {
            if (ioType == SQL_PARAM_OUTPUT && !(param == 1 && conn->returnValueSupported)) {
                basePostErrorMsg(MSG_SQLSTATE_INVALID_PARAMETER_TYPE, MSG_PARAMETER_OUTPUT_UNSUPPORTED)
                    ->addParamUnsigned(param);
                return SQL_ERROR;
            }
            if (ioType == SQL_PARAM_INPUT_OUTPUT)
                downgraded = true;
        }
        BaseAXD* apd = currentApd;
        if (apd == nullptr || ipd == nullptr) {
            basePostError(kBaseIdxGeneralError);
            return SQL_ERROR;
        }
        apd->hiddenRecords = 0;
        if ((apd->count() < param && apd->setRecordCount(param) != 0) ||
            (ipd->count() < param && ipd->setRecordCount(param) != 0))
            return SQL_ERROR;
        if (odbcVersionOf(this) == 2) {
            cType = odbc3DateType(cType);
            sqlType = odbc3DateType(sqlType);
        }
        if (bindParameterHook(param) != 0)
            return SQL_ERROR;
        BaseAXDRecord* apdRec = apd->axdRecord(param);
        BaseIPDRecord* ipdRec = ipd->ipdRecord(param);
        if (apdRec == nullptr || ipdRec == nullptr) {
            basePostError(kBaseIdxGeneralError);
            return SQL_ERROR;
        }
        fillParamRecords(downgraded, ioType, cType, sqlType, columnSize, digits, value, bufferLength, indicator, apdRec,
                         ipdRec);
        // The application changed a binding: the statement checks it again.
        apd->freeValidated();
        if (ipdRec->paramType != SQL_PARAM_INPUT && ipdRec->checked == 0 &&
            validateParamBinding(param, apdRec, ipdRec, false) != 0)
            return SQL_ERROR;
        if (!preparedSinceExecute && conn != nullptr && (conn->workarounds & kBaseWaResetParamsOnRebind) != 0 &&
            resetParamsHook(0) != 0)
            return SQL_ERROR;
        return SQL_SUCCESS;
    });
}

int16_t BaseStatement::numParams(int16_t* count) noexcept
{
    return runFunction(SQL_API_SQLNUMPARAMS, [&]() -> int16_t {
        if (count != nullptr)
            *count = static_cast<int16_t>(markerCount);
        return SQL_SUCCESS;
    });
}

int16_t BaseStatement::describeParam(uint16_t param, int16_t* dataType, uint64_t* size, int16_t* digits,
                                     int16_t* nullable) noexcept
{
    return runFunction(SQL_API_SQLDESCRIBEPARAM, [&]() -> int16_t {
        if (statementState == kBaseStmtAllocated) {
            basePostError(kBaseIdxSequence);
            return SQL_ERROR;
        }
        const int64_t known = static_cast<int64_t>(paramCount()) + (returnValueParam ? 1 : 0);
        if (param == 0 || param > known) {
            basePostError(kBaseIdxBadDescIndex);
            return SQL_ERROR;
        }
        // Procedure-call parameters are described only by drivers that can;
        // none here asks for it.
        if (describeParamHook(param, dataType, size, digits, nullable) != 0)
            return SQL_ERROR;
        return SQL_SUCCESS;
    });
}
