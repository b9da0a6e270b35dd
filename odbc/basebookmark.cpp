// Bookmarks the framework emulates as row numbers: where a cursor can have
// them, the bookmark column (column 0) described as a BIGINT, and its value
// for SQLGetData, bound columns and SQL_GET_BOOKMARK. A forward-only cursor
// has them too: the number of the row it delivered.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>

#include "convert/basestring.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basecursorcaps.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"

namespace {

constexpr int64_t kBookmarkBytes = 8;
// The precision of a BIGINT.
constexpr int64_t kBookmarkDigits = 19;

}  // namespace

bool BaseStatement::bookmarksServed() const noexcept
{
    const int64_t type = attributeValues[kBaseAttrCursorType];
    if (type == SQL_CURSOR_FORWARD_ONLY)
        return true;
    const BaseConnection* c = connection;
    if (c == nullptr)
        return false;
    const uint64_t caps = type == SQL_CURSOR_STATIC          ? c->staticCursorOps
                          : type == SQL_CURSOR_KEYSET_DRIVEN ? c->keysetCursorOps
                          : type == SQL_CURSOR_DYNAMIC       ? c->dynamicCursorOps
                                                             : 0;
    return (caps & (kBaseCapBookmarks | kBaseCapEmulatedBookmarks)) != 0;
}

void BaseStatement::describeBookmarkColumn() noexcept
{
    BaseIRDRecord* bookmark = ird != nullptr ? ird->irdRecord(0) : nullptr;
    if (bookmark == nullptr || bookmark->conciseType == SQL_BIGINT)
        return;
    bookmark->setConciseType(SQL_BIGINT);
    bookmark->octetLength = kBookmarkBytes;
    bookmark->precision = kBookmarkBytes;
    bookmark->scale = 0;
}

int16_t BaseStatement::getBookmarkData(int16_t cType, BaseOutString* out, int64_t rowInRowset) noexcept
{
    const int64_t row = currentRow + rowInRowset;
    // The row number in the C types an application reads a bookmark or a
    // BIGINT in; the conversion engine serves result columns from 1 on.
    switch (cType) {
    case SQL_C_VARBOOKMARK: (void)out->putBytes(&row, kBookmarkBytes, false, 0); return 0;
    case SQL_C_DEFAULT:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
        // A fixed-size type fills its buffer whatever length came with it.
        out->bufferLength = kBookmarkBytes;
        (void)out->putBytes(&row, kBookmarkBytes, false, 0);
        return 0;
    case SQL_C_SLONG:
    case SQL_C_LONG: {
        if (row > INT32_MAX) {
            basePostError(kBaseIdxOutOfRange);
            return 1;
        }
        const auto narrow = static_cast<int32_t>(row);
        out->bufferLength = sizeof narrow;
        (void)out->putBytes(&narrow, sizeof narrow, false, 0);
        return 0;
    }
    case SQL_C_CHAR:
    case SQL_C_WCHAR: {
        char digits[kBookmarkDigits + 2];
        const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(row));
        if (cType == SQL_C_CHAR) {
            (void)out->putText(digits, n, true, 1);
        } else {
            uint16_t wide[kBookmarkDigits + 2];
            for (int k = 0; k < n; ++k)
                wide[k] = static_cast<uint16_t>(digits[k]);
            (void)out->putWideText(wide, static_cast<int64_t>(n) * 2, true, 2, false);
        }
        return 0;
    }
    default: basePostError(MSG_SQLSTATE_RESTRICTED_DATA_TYPE); return 1;
    }
}
