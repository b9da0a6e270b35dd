// The statement-level ODBC functions of BaseStatement as the exports reach
// them on a statement that the driver cannot run yet: each refuses with a
// diagnostic on the statement's list. SQL_DROP frees the statement.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "foundation/ram.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "sql/basesql.h"

namespace {

// Inside the call frame, so that a refused call is locked, counted and
// reported as every other statement call.
int16_t refuse(BaseStatement* stmt) noexcept
{
    return stmt->runFunction(0, [&]() -> int16_t {
        BaseConnection* conn = stmt->connection;
        if (conn == nullptr || !conn->isConnected())
            basePostNotConnected();
        else
            basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
        return SQL_ERROR;
    });
}

}  // namespace

int16_t BaseStatement::columnPrivileges(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                        const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::columns(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                               const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::foreignKeys(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                   const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                   int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::getTypeInfo(int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::primaryKeys(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                   int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::procedureColumns(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                        const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::procedures(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::specialColumns(uint16_t, const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                      int16_t, uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::statistics(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                  uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::tablePrivileges(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                       int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::tables(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                              const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}
