// The descriptor ODBC functions of BaseDescriptor as the exports reach them
// on a descriptor that the driver cannot serve yet.
#include <sql.h>
#include <sqlext.h>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"

namespace {

// Inside the descriptor's entry and exit, so that a refused call is locked
// and reported as every other descriptor call.
int16_t refuse(BaseDescriptor* desc, uint16_t apiId) noexcept
{
    desc->enter(apiId);
    BaseConnection* conn = desc->connection;
    if (conn == nullptr || !conn->isConnected())
        basePostNotConnected();
    else
        basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    return desc->leave(SQL_ERROR);
}

}  // namespace

int16_t BaseDescriptor::copyDesc(BaseDescriptor*) noexcept
{
    return refuse(this, SQL_API_SQLCOPYDESC);
}

int16_t BaseDescriptor::freeCheck() noexcept
{
    if (autoAllocated == 0)
        return 0;
    // A statement's own descriptors go with the statement.
    enter(SQL_API_SQLFREEHANDLE);
    basePostErrorMsg(kBaseIdxGeneralError, MSG_AUTOMATIC_DESCRIPTOR)->setSqlstate("HY017");
    return leave(SQL_ERROR);
}

int16_t BaseDescriptor::getDescField(int16_t, int16_t, void*, int32_t, int32_t*) noexcept
{
    return refuse(this, SQL_API_SQLGETDESCFIELD);
}

int16_t BaseDescriptor::getDescRec(int16_t, uint16_t*, int16_t, int16_t*, int16_t*, int16_t*, int64_t*, int16_t*,
                                   int16_t*, int16_t*) noexcept
{
    return refuse(this, SQL_API_SQLGETDESCREC);
}

int16_t BaseDescriptor::setDescField(int16_t, int16_t, void*, int32_t) noexcept
{
    return refuse(this, SQL_API_SQLSETDESCFIELD);
}

int16_t BaseDescriptor::setDescRec(int16_t, int16_t, int16_t, int64_t, int16_t, int16_t, void*, int64_t*,
                                   int64_t*) noexcept
{
    return refuse(this, SQL_API_SQLSETDESCREC);
}
