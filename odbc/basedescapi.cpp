// The descriptor ODBC functions of BaseDescriptor as the exports reach them
// on a descriptor that the driver cannot serve yet, and the application
// descriptor that SQLAllocHandle makes on a connection.
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

BaseAXDWR::BaseAXDWR(BaseConnection* conn) noexcept : BaseAXD(conn)
{
    autoAllocated = 0;
    // Record 0 with the application defaults (SQL_C_DEFAULT); a failure
    // leaves it absent, which the record accessors already allow for.
    (void)setRecordCount(0);
    if (conn != nullptr)
        conn->descriptors.addLast(this);
}

BaseAXDWR::~BaseAXDWR()
{
    if (connection == nullptr)
        return;
    KaNode* node = connection->descriptors.first();
    for (size_t i = 0; i < connection->descriptors.count && node != nullptr;
         ++i, node = node->next) {
        if (node == this) {
            connection->descriptors.remove(this);
            break;
        }
    }
}
