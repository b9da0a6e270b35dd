#include "odbc/nativesql.h"

#include <sql.h>
#include <sqlext.h>

#include "foundation/kastringw.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "convert/basestring.h"
#include "sql/basesql.h"
#include "sql/hiveescape.h"
#include "sql/sqlpost.h"

namespace {

int16_t answer(BaseConnection& connection, BaseSqlStringW& text, uint16_t* out, int32_t outCapacity,
               int32_t* outLength) noexcept
{
    KaStringW terminated;
    if (terminated.assign(text.data, text.len) != 0)
        return SQL_ERROR;
    if (connection.fixQuotedLiterals(terminated.data, int64_t(terminated.len)) != 0)
        return SQL_ERROR;
    if (outLength != nullptr)
        *outLength = terminated.len > size_t(INT32_MAX) ? INT32_MAX : int32_t(terminated.len);
    if (out == nullptr)
        return SQL_SUCCESS;
    int64_t fullBytes = 0;
    if (!baseCopyWideAnswer(terminated.data, out, int64_t(outCapacity) * 2, &fullBytes))
        return SQL_SUCCESS;
    basePostWarning(kBaseIdxTruncated);
    return SQL_SUCCESS_WITH_INFO;
}

}  // namespace

int16_t baseNativeSqlW(BaseConnection& connection, const uint16_t* in, int32_t inLength, uint16_t* out,
                       int32_t outCapacity, int32_t* outLength) noexcept
{
    return connection.runApi(SQL_API_SQLNATIVESQL, [&]() noexcept -> int16_t {
        if (!connection.isConnected()) {
            basePostNotConnected();
            return SQL_ERROR;
        }
        if (in == nullptr || (inLength < 0 && inLength != SQL_NTS) || (out != nullptr && outCapacity < 0)) {
            basePostError(kBaseIdxBadLength);
            return SQL_ERROR;
        }
        // SQL text processing files its refusals by framework error index.
        sqlSetErrorPoster(basePostErrorMsg);
        BaseSqlStringW text(in, inLength);
        // The text goes the way a prepared statement's goes.
        uint32_t markers = 0;
        int32_t flags = 0;
        if (connection.preprocessSql(&text) != 0 || connection.translateEscapes(&text, 1, &markers, &flags) != 0)
            return SQL_ERROR;
        return answer(connection, text, out, outCapacity, outLength);
    });
}
