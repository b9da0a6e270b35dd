// The descriptor ODBC functions of BaseDescriptor as the exports reach them
// on a descriptor that the driver cannot serve yet.
#include <sql.h>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"

namespace {

int16_t refuse(BaseDescriptor* desc) noexcept
{
    return baseRefuseCall(&desc->diagnostics, desc->connection);
}

}  // namespace

int16_t BaseDescriptor::copyDesc(BaseDescriptor*) noexcept
{
    return refuse(this);
}

int16_t BaseDescriptor::freeCheck() noexcept
{
    if (autoAllocated == 0)
        return 0;
    // A statement's own descriptors go with the statement.
    diagnostics.clear();
    KaErrorPushList(&diagnostics);
    basePostErrorMsg(kBaseIdxGeneralError, MSG_AUTOMATIC_DESCRIPTOR)->setSqlstate("HY017");
    KaErrorPopList();
    return SQL_ERROR;
}

int16_t BaseDescriptor::getDescField(int16_t, int16_t, void*, int32_t, int32_t*) noexcept
{
    return refuse(this);
}

int16_t BaseDescriptor::getDescRec(int16_t, uint16_t*, int16_t, int16_t*, int16_t*, int16_t*,
                                   int64_t*, int16_t*, int16_t*, int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseDescriptor::setDescField(int16_t, int16_t, void*, int32_t) noexcept
{
    return refuse(this);
}

int16_t BaseDescriptor::setDescRec(int16_t, int16_t, int16_t, int64_t, int16_t, int16_t, void*,
                                   int64_t*, int64_t*) noexcept
{
    return refuse(this);
}
