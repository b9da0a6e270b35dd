// The base bodies of the physical connection's driver hooks that the
// framework answers itself where a driver adds nothing, and the escape host
// through which the escape walk reaches the connection's hooks.
#include <sql.h>
#include <sqlext.h>

#include "convert/basecvt.h"
#include "foundation/kaarray.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/kavalueparser.h"
#include "sql/basesql.h"
#include "sql/escape.h"

namespace {

// The escape walk of sql/ asks its host; this host hands each question to
// the connection's hooks, so a driver overrides them on its connection.
class ConnectionEscapeHost : public KaEscapeHost {
public:
    explicit ConnectionEscapeHost(BaseConnection& owner) noexcept : connection(owner) {}

    int dispatchEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind, uint32_t code) noexcept override
    {
        return connection.dispatchEscape(*this, body, out, kind, code);
    }
    int translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind, uint32_t code) noexcept override
    {
        return connection.translateEscape(body, out, kind, code);
    }
    int translateOuterJoin(KaScannerW& scanner, KaTokenW& token, KaEscapeWriter& writer, uint64_t* bodyLength,
                           int32_t mode, int32_t joinKind, const uint16_t* leftText,
                           uint64_t leftLength) noexcept override
    {
        return connection.translateOuterJoin(*this, scanner, token, writer, bodyLength, mode, joinKind, leftText,
                                             leftLength);
    }

private:
    BaseConnection& connection;
};

}  // namespace

int32_t baseTypeColumnSize(int16_t sqlType, int32_t size, int32_t qualifier, int32_t binaryPrecision) noexcept
{
    switch (sqlType) {
    case SQL_INTEGER:
    case SQL_TYPE_DATE: return 10;
    case SQL_SMALLINT: return 5;
    case SQL_FLOAT:
    case SQL_DOUBLE: return binaryPrecision != 0 ? 53 : 15;
    case SQL_REAL: return binaryPrecision != 0 ? 24 : 7;
    case kBaseSqlVariant: return 8000;
    case SQL_GUID: return 36;
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 3;
    // Qualifier 2 is a stored description, whose size stands; otherwise the
    // digits of a 64-bit number, one more when its sign counts.
    case SQL_BIGINT: return qualifier == 2 ? size : qualifier == 0 ? 19 : 20;
    default: return size;
    }
}

int16_t BaseConnection::translateEscapes(BaseSqlStringW* text, int32_t forNativeSql, uint32_t* markers,
                                         int32_t* flags) noexcept
{
    ConnectionEscapeHost host(*this);
    int32_t returnParameter = 0;
    int32_t callKind = 0;
    if (::translateEscapes(host, *text, forNativeSql, markers, &returnParameter, &callKind) != 0)
        return 1;
    *flags = returnParameter != 0 ? 1 : 0;
    return 0;
}

int16_t BaseConnection::translateOuterJoin(KaEscapeHost& host, KaScannerW& scanner, KaTokenW& token,
                                           KaEscapeWriter& writer, uint64_t* bodyLength, int32_t mode, int32_t joinKind,
                                           const uint16_t* leftText, uint64_t leftLength) noexcept
{
    return static_cast<int16_t>(host.KaEscapeHost::translateOuterJoin(scanner, token, writer, bodyLength, mode,
                                                                      joinKind, leftText, leftLength));
}

int16_t BaseConnection::translateEscape(const KaEscapeBody&, KaStringW&, EscapeKind, uint32_t) noexcept
{
    basePostErrorMsg(kBaseIdxGeneralError, MSG_ESCAPE_NO_SERVER_FORM);
    return 1;
}

int16_t BaseConnection::translateEscapeA(const char*, size_t, KaString&, int32_t, uint32_t) noexcept
{
    basePostErrorMsg(kBaseIdxGeneralError, MSG_ESCAPE_NO_SERVER_FORM);
    return 1;
}

int32_t BaseConnection::convertHook(int16_t) noexcept
{
    return 0;
}

int16_t BaseConnection::columnsHook() noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 0;
}

int16_t BaseConnection::resetHook() noexcept
{
    return 0;
}

int64_t BaseConnection::defaultSendBufferSize() noexcept
{
    return -1;
}

int64_t BaseConnection::defaultReceiveBufferSize() noexcept
{
    return -1;
}

int16_t BaseConnection::statementFailoverHook(BaseStatement*) noexcept
{
    return 0;
}

int16_t BaseConnection::addResourceString(const uint16_t*, uint32_t* id) noexcept
{
    if (id != nullptr)
        *id = 0;
    basePostError(kBaseIdxGeneralError)->appendText(" addResourceString");
    return 1;
}

int32_t BaseConnection::typeColumnSize(int16_t sqlType, int32_t size, const uint16_t*, int32_t qualifier,
                                       int32_t binaryPrecision) noexcept
{
    return baseTypeColumnSize(sqlType, size, qualifier, binaryPrecision);
}

int16_t BaseConnection::fixQuotedLiterals(uint16_t*, int64_t) noexcept
{
    return 0;
}

int16_t BaseConnection::columnsWideTypes(int32_t, const uint16_t*) noexcept
{
    return 1;
}

int16_t BaseConnection::typeInfoHook(KaSortedArray*, int16_t) noexcept
{
    return 0;
}

int16_t BaseConnection::dispatchEscape(KaEscapeHost& host, const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                                       uint32_t code) noexcept
{
    return static_cast<int16_t>(host.KaEscapeHost::dispatchEscape(body, out, kind, code));
}

int16_t BaseConnection::reservedHook() noexcept
{
    return 0;
}
