// Text from the server into every C type through baseConvertSqlToC: the
// first bytes pick the column's SQL type, the C type, the buffer length, the
// text's code page and the ODBC version; the rest is the value. The output
// buffer is exactly as large as the application's, so that any write past
// it is caught. Character and binary targets are then read in pieces, as
// SQLGetData reads long data, until the value is delivered.
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/number.h"
#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "fuzzfixture.h"

namespace {

const int16_t kSqlTypes[] = {SQL_CHAR,
                             SQL_VARCHAR,
                             SQL_LONGVARCHAR,
                             SQL_WCHAR,
                             SQL_WVARCHAR,
                             SQL_WLONGVARCHAR,
                             SQL_DECIMAL,
                             SQL_NUMERIC,
                             SQL_SMALLINT,
                             SQL_INTEGER,
                             SQL_REAL,
                             SQL_FLOAT,
                             SQL_DOUBLE,
                             SQL_BIT,
                             SQL_TINYINT,
                             SQL_BIGINT,
                             SQL_BINARY,
                             SQL_VARBINARY,
                             SQL_LONGVARBINARY,
                             SQL_TYPE_DATE,
                             SQL_TYPE_TIME,
                             SQL_TYPE_TIMESTAMP,
                             SQL_INTERVAL_YEAR,
                             SQL_INTERVAL_MONTH,
                             SQL_INTERVAL_DAY,
                             SQL_INTERVAL_HOUR,
                             SQL_INTERVAL_MINUTE,
                             SQL_INTERVAL_SECOND,
                             SQL_INTERVAL_YEAR_TO_MONTH,
                             SQL_INTERVAL_DAY_TO_HOUR,
                             SQL_INTERVAL_DAY_TO_MINUTE,
                             SQL_INTERVAL_DAY_TO_SECOND,
                             SQL_INTERVAL_HOUR_TO_MINUTE,
                             SQL_INTERVAL_HOUR_TO_SECOND,
                             SQL_INTERVAL_MINUTE_TO_SECOND,
                             SQL_GUID};

// C types and the room their fixed-size values take (0: the buffer length
// the application gives).
struct CType {
    int16_t type;
    size_t fixed;
};
const CType kCTypes[] = {{SQL_C_CHAR, 0},
                         {SQL_C_WCHAR, 0},
                         {SQL_C_BINARY, 0},
                         {SQL_C_DEFAULT, 0},
                         {SQL_C_NUMERIC, sizeof(SQL_NUMERIC_STRUCT)},
                         {SQL_C_LONG, 4},
                         {SQL_C_SHORT, 2},
                         {SQL_C_FLOAT, 4},
                         {SQL_C_DOUBLE, 8},
                         {SQL_C_BIT, 1},
                         {SQL_C_TINYINT, 1},
                         {SQL_C_STINYINT, 1},
                         {SQL_C_UTINYINT, 1},
                         {SQL_C_SSHORT, 2},
                         {SQL_C_USHORT, 2},
                         {SQL_C_SLONG, 4},
                         {SQL_C_ULONG, 4},
                         {SQL_C_SBIGINT, 8},
                         {SQL_C_UBIGINT, 8},
                         {SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT)},
                         {SQL_C_TYPE_TIME, sizeof(SQL_TIME_STRUCT)},
                         {SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)},
                         {SQL_C_INTERVAL_YEAR, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_MONTH, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_DAY, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_HOUR, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_MINUTE, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_SECOND, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_YEAR_TO_MONTH, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_DAY_TO_HOUR, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_DAY_TO_MINUTE, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_DAY_TO_SECOND, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_HOUR_TO_MINUTE, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_HOUR_TO_SECOND, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_INTERVAL_MINUTE_TO_SECOND, sizeof(SQL_INTERVAL_STRUCT)},
                         {SQL_C_GUID, sizeof(SQLGUID)}};

const int64_t kCodePages[] = {kCodePageUtf8, kCodePageUtf16LE, kCodePageLatin1, kCodePageUtf16BE};

// Pieces read of one value at most: a short buffer and a long value take
// many, but each delivers at least one character.
constexpr int kMaxPieces = 512;

struct Context {
    KaIcuCache cache;
    BaseConvertContext ctx;
    Context() { ctx.cache = &cache; }
    ~Context() { ramFree(ctx.convertBuffer); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

// The last call ended in the truncation warning alone: more is to come.
bool cutWithWarning() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    KaError* last = list != nullptr ? list->last() : nullptr;
    return list != nullptr && list->hasOnlyWarnings() && last != nullptr && last->isWarning();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::Input in(data, size);
    const int16_t sqlType = kSqlTypes[in.byte() % (sizeof kSqlTypes / sizeof *kSqlTypes)];
    const CType cType = kCTypes[in.byte() % (sizeof kCTypes / sizeof *kCTypes)];
    const int64_t bufferLength = in.byte();
    const uint8_t form = in.byte();
    const int64_t codePage = kCodePages[form % 4];
    std::vector<uint8_t> value(in.rest(), in.rest() + in.restSize());
    const void* src = value.empty() ? nullptr : value.data();
    const int64_t srcLength = int64_t(value.size());

    Context c;
    c.ctx.settings.odbc2 = (form & 4) != 0;
    c.ctx.charCodePage = (form & 8) != 0 ? kCodePageUtf8 : kCodePageLatin1;
    c.ctx.sqlType = sqlType;
    c.ctx.size = int64_t(form >> 4) * 3;
    c.ctx.scale = int16_t(form >> 5);
    c.ctx.codePage = codePage;
    c.ctx.cType = cType.type;
    c.ctx.column = 1;
    const size_t room = cType.fixed != 0 ? cType.fixed : size_t(bufferLength);
    {
        kafuzz::DiagnosticScope diagnostics;
        std::vector<uint8_t> buffer(room);
        int64_t length = 0;
        BaseOutString out(buffer.empty() ? nullptr : buffer.data(), bufferLength, &length, nullptr);
        c.ctx.out = &out;
        (void)baseConvertSqlToC(c.ctx, src, srcLength, kBaseKindText);
    }
    if (cType.fixed != 0)
        return 0;
    // Long data: each piece goes on where the last one stopped.
    c.ctx.offset = 0;
    c.ctx.pieceLength = 0;
    c.ctx.convertedLength = -1;
    for (int piece = 0; piece < kMaxPieces; ++piece) {
        kafuzz::DiagnosticScope diagnostics;
        std::vector<uint8_t> buffer(room);
        int64_t length = 0;
        BaseOutString out(buffer.empty() ? nullptr : buffer.data(), bufferLength, &length, nullptr);
        c.ctx.out = &out;
        if (baseConvertColumnValue(c.ctx, src, srcLength, kBaseKindText) != 0 || !cutWithWarning())
            break;
        const int64_t step = c.ctx.pieceLength != 0 ? c.ctx.pieceLength : bufferLength;
        c.ctx.pieceLength = 0;
        if (step <= 0)
            break;
        c.ctx.offset += step;
    }
    return 0;
}
