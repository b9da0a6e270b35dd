// Shared pieces of the value-conversion tests: a connection and statement
// with their descriptors, output buffers surrounded by guard bytes, and
// helpers that turn values into the bytes a conversion reads or writes.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "convert/basecvt.h"
#include "convert/textcvt.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestring.h"
#include "odbc/basestmt.h"
#include "support/diagscope.h"

namespace cvttest {

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 16;

// An output buffer with guard bytes on both sides; the bytes inside start as
// a fill pattern so that untouched bytes can be told apart.
struct Guarded {
    std::vector<uint8_t> bytes;
    size_t size;

    explicit Guarded(size_t n, uint8_t fill = 0x5A) : bytes(n + 2 * kGuardBytes, kGuard), size(n)
    {
        std::memset(bytes.data() + kGuardBytes, fill, n);
    }
    uint8_t* data() { return bytes.data() + kGuardBytes; }
    std::string str(size_t n) { return std::string(reinterpret_cast<char*>(data()), n); }
    bool guardsIntact() const
    {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (bytes[i] != kGuard || bytes[kGuardBytes + size + i] != kGuard)
                return false;
        return true;
    }
};

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

// The statement and its connection, as a driver sets them up for a result.
struct Stmt {
    BaseEnv env{15};
    BaseConnection conn{&env};
    BaseStatement stmt{&conn};

    explicit Stmt(int64_t appCodePage = kCpUtf8)
    {
        conn.appCodePage = appCodePage;
        stmt.charCodePage = appCodePage;
        EXPECT_EQ(stmt.createDescriptors(), 0);
    }

    void setOdbc2(bool on) { env.odbc2Mode = on ? 1 : 0; }

    // Describes result column n.
    BaseIRDRecord* column(int64_t n, int16_t sqlType, int64_t size, int16_t scale = 0,
                          int64_t cp = kCpUtf8, bool isUnsigned = false)
    {
        if (stmt.ird->count() < n) {
            EXPECT_EQ(stmt.ird->setRecordCount(n), 0);
        }
        BaseIRDRecord* rec = stmt.ird->irdRecord(n);
        rec->conciseType = sqlType;
        if (baseIsVarLengthType(sqlType))
            rec->length = static_cast<uint64_t>(size);
        else
            rec->precision = static_cast<int16_t>(size);
        rec->scale = scale;
        rec->setCodePage(cp);
        rec->flags = isUnsigned ? kBaseRecUnsigned : 0;
        return rec;
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

}  // namespace cvttest
