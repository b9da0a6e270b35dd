// Shared pieces of the value-conversion tests: a stand-in for the statement
// that fills the engine's conversion context and keeps its long-data state
// between the pieces of a value, the GUID every test converts, and helpers
// that turn values into the bytes a conversion reads or writes.
#pragma once
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/paramcvt.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "support/diagscope.h"
#include "support/guarded.h"

namespace cvttest {

using Guarded = katest::Guarded<>;

template <typename T>
std::string bytesOf(const T& v)
{
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

inline std::string u16le(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

// What the statement does for the engine, without a connection: one
// conversion context with its own converters, filled per call and kept
// between the pieces of a value.
struct Stmt {
    KaIcuCache cache;
    BaseConvertContext ctx;

    explicit Stmt(int64_t appCodePage = kCodePageUtf8)
    {
        ctx.charCodePage = appCodePage;
        ctx.cache = &cache;
    }
    ~Stmt() { ramFree(ctx.convertBuffer); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    void setOdbc2(bool on) { ctx.settings.odbc2 = on; }

    // Describes the value as its implementation record would.
    void describe(int16_t sqlType, int64_t size, int16_t scale = 0, int64_t cp = kCodePageUtf8, bool isUnsigned = false)
    {
        ctx.sqlType = sqlType;
        ctx.size = size;
        ctx.scale = scale;
        ctx.codePage = cp;
        ctx.unsignedFlag = isUnsigned;
    }

    // A new column value, as the statement starts one.
    void resetLongData()
    {
        ctx.offset = 0;
        ctx.pieceLength = 0;
        ctx.convertedLength = -1;
    }

    // After a piece, as the statement after SQLGetData: when the piece
    // ended with the truncation warning the offset moves on (by the piece
    // length the engine noted, else by `available`) and 1 is returned.
    int advanceLongData(int64_t available)
    {
        KaErrorList* list = KaErrorCurrentList();
        KaError* last = list != nullptr ? list->last() : nullptr;
        bool goesOn = list != nullptr && list->hasOnlyWarnings() && last != nullptr &&
                      last->sqlstateMsg == MSG_SQLSTATE_STRING_RIGHT_TRUNCATED;
        int64_t step = ctx.pieceLength != 0 ? ctx.pieceLength : available;
        ctx.pieceLength = 0;
        if (!goesOn)
            return 0;
        if (step > 0)
            ctx.offset += step;
        return 1;
    }

    // A described value of the server's into `out` as cType.
    int16_t sqlToC(int16_t sqlType, int64_t size, int16_t scale, bool isUnsigned, int16_t cType, BaseOutString* out,
                   const void* src, int64_t srcLength, int32_t srcKind, int64_t srcCodePage)
    {
        describe(sqlType, size, scale, srcCodePage, isUnsigned);
        ctx.cType = cType;
        ctx.out = out;
        return baseConvertSqlToC(ctx, src, srcLength, srcKind);
    }

    // An application value of cType into dstKind for the described SQL type.
    int16_t cToSql(int16_t cType, int64_t size, int16_t scale, bool isUnsigned, const void* src, int64_t srcLength,
                   int16_t sqlType, int32_t dstKind, int64_t dstCodePage, void* dst, int64_t* produced, int64_t dstSize)
    {
        describe(sqlType, size, scale, dstCodePage, isUnsigned);
        ctx.cType = cType;
        return baseConvertCToSql(ctx, src, srcLength, dstKind, dst, produced, dstSize);
    }
};

// SQLSTATEs of the records of a scope, in posting order, comma-separated,
// warnings included.
inline std::string states(katest::DiagScope& d)
{
    std::string out;
    for (size_t i = 0; i < d.size(); ++i) {
        if (!out.empty())
            out += ",";
        out += katest::sqlstate(d.at(i));
    }
    return out;
}

// ODBC date, time and timestamp structures from their fields.
inline SQL_DATE_STRUCT date(int y, int m, int d)
{
    SQL_DATE_STRUCT v{};
    v.year = static_cast<SQLSMALLINT>(y);
    v.month = static_cast<SQLUSMALLINT>(m);
    v.day = static_cast<SQLUSMALLINT>(d);
    return v;
}

inline SQL_TIME_STRUCT time(int h, int m, int s)
{
    SQL_TIME_STRUCT v{};
    v.hour = static_cast<SQLUSMALLINT>(h);
    v.minute = static_cast<SQLUSMALLINT>(m);
    v.second = static_cast<SQLUSMALLINT>(s);
    return v;
}

inline SQL_TIMESTAMP_STRUCT stamp(int y, int mo, int d, int h, int mi, int s, unsigned f)
{
    SQL_TIMESTAMP_STRUCT v{};
    v.year = static_cast<SQLSMALLINT>(y);
    v.month = static_cast<SQLUSMALLINT>(mo);
    v.day = static_cast<SQLUSMALLINT>(d);
    v.hour = static_cast<SQLUSMALLINT>(h);
    v.minute = static_cast<SQLUSMALLINT>(mi);
    v.second = static_cast<SQLUSMALLINT>(s);
    v.fraction = f;
    return v;
}

// The GUID the conversion tests convert, and its text.
inline SQLGUID guidValue()
{
    SQLGUID g{};
    g.Data1 = 0x12345678;
    g.Data2 = 0x9ABC;
    g.Data3 = 0xDEF0;
    const uint8_t d4[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    std::memcpy(g.Data4, d4, 8);
    return g;
}

constexpr char kGuidText[] = "12345678-9ABC-DEF0-0123-456789ABCDEF";

}  // namespace cvttest
