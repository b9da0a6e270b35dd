// Column binding: SQLBindCol fills or clears a record of the statement's
// ARD, and unbinding all columns for SQLFreeStmt(SQL_UNBIND).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "convert/basecvt.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {}  // namespace

int64_t baseFixedCTypeSize(int16_t cType) noexcept
{
    switch (cType) {
    case SQL_C_GUID: return kBaseGuidSize;
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_C_BIT:
    case SQL_C_TINYINT: return 1;
    case SQL_C_USHORT:
    case SQL_C_SSHORT:
    case SQL_C_SHORT: return 2;
    case SQL_C_ULONG:
    case SQL_C_SLONG:
    case SQL_C_LONG: return 4;
    case SQL_C_UBIGINT:
    case SQL_C_SBIGINT: return 8;
    case SQL_C_FLOAT: return 4;
    case SQL_C_DOUBLE: return 8;
    // The ODBC 2 forms have the same structures as the ODBC 3 ones.
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE:
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return kBaseDateSize;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return kBaseTimestampSize;
    case SQL_C_NUMERIC: return kBaseNumericSize;
    default: break;
    }
    if (baseIntervalCodeOfCType(cType) != 0)
        return kBaseIntervalSize;
    return 0;
}

int16_t BaseStatement::bindCol(uint16_t column, int16_t cType, void* value, int64_t bufferLength,
                               int64_t* indicator) noexcept
{
    return runFunction(SQL_API_SQLBINDCOL, [&]() -> int16_t {
        BaseConnection* conn = connection;
        // Column 0 binds the bookmark, which every cursor has (forward-only
        // ones the row number); it is delivered while bookmarks are on.
        if (value != nullptr && bufferLength < 0) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        if (currentArd == nullptr || ensureDescriptorRecords(column, 2) != 0)
            return SQL_ERROR;
        BaseAXDRecord* rec = currentArd->axdRecord(column);
        if (rec == nullptr) {
            basePostError(kBaseIdxGeneralError);
            return SQL_ERROR;
        }
        bindingsChanged = true;
        currentArd->freeValidated();
        if (value == nullptr) {
            if (bindColHook() != 0)
                return SQL_ERROR;
            rec->dataPtr = nullptr;
            highestBoundColumn = 0;
            for (int64_t i = currentArd->count(); i >= 1; --i) {
                const BaseAXDRecord* r = currentArd->axdRecord(i);
                if (r != nullptr && r->dataPtr != nullptr) {
                    highestBoundColumn = static_cast<uint16_t>(i);
                    break;
                }
            }
            return SQL_SUCCESS;
        }
        const bool odbc2 = conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode == 1;
        if ((odbc2 || (conn != nullptr && (conn->workarounds2 & kBaseWa2MapOdbc2DateTypes) != 0)) &&
            cType >= SQL_C_DATE && cType <= SQL_C_TIMESTAMP)
            cType = static_cast<int16_t>(cType + (SQL_C_TYPE_DATE - SQL_C_DATE));
        // Every fixed-size type strides by its own size, whatever the buffer
        // length said; the others by the buffer length.
        const int64_t fixed = baseFixedCTypeSize(cType);
        const int64_t octets = fixed != 0 ? fixed : bufferLength;
        rec->setConciseType(cType);
        if (cType >= SQL_C_TYPE_DATE && cType <= SQL_C_TYPE_TIMESTAMP)
            rec->intervalCode = static_cast<int16_t>(cType - SQL_C_TYPE_DATE + 1);
        else if (baseIntervalCodeOfCType(cType) != 0)
            rec->intervalCode = static_cast<int16_t>(baseIntervalCodeOfCType(cType));
        rec->appConciseType = cType;
        rec->dataPtr = value;
        rec->octetLengthPtr = indicator;
        rec->indicatorPtr = indicator;
        rec->octetLength = octets;
        rec->precision = static_cast<int16_t>(octets & 0xffff);
        if (column > highestBoundColumn)
            highestBoundColumn = column;
        return SQL_SUCCESS;
    });
}

int16_t BaseStatement::unbindAll() noexcept
{
    releaseSharedColumns();
    if (bindColHook() != 0)
        return 1;
    if (currentArd != nullptr) {
        for (int64_t i = 0; i <= currentArd->count(); ++i) {
            BaseAXDRecord* r = currentArd->axdRecord(i);
            if (r == nullptr)
                continue;
            r->dataPtr = nullptr;
            r->numericScaling1 = 0;
            r->numericScaling2 = 0;
            r->precisionSet = 0;
            r->scaleSet = 0;
        }
    }
    highestBoundColumn = 0;
    bindingsChanged = false;
    return 0;
}
