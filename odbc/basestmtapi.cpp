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
#include "odbc/basestmt.h"

namespace {

// Inside the call frame, so that a refused call is locked, counted and
// reported as every other statement call.
int16_t refuse(BaseStatement* stmt) noexcept
{
    if (stmt->enterFunction(0) == 0) {
        BaseConnection* conn = stmt->connection;
        if (conn == nullptr || !conn->isConnected())
            basePostNotConnected();
        else
            basePostErrorMsg(kBaseIdxNotSupported, MSG_FUNCTION_NOT_AVAILABLE);
    }
    return stmt->exitFunction(SQL_ERROR);
}

}  // namespace

int16_t BaseStatement::bindCol(uint16_t, int16_t, void*, int64_t, int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::bindParameter(uint16_t, int16_t, int16_t, int16_t, uint64_t, int16_t, void*, int64_t,
                                     int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::bulkOperations(int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::cancel() noexcept
{
    return refuse(this);
}

int16_t BaseStatement::closeCursorApi() noexcept
{
    return refuse(this);
}

int16_t BaseStatement::colAttribute(uint16_t, uint16_t, void*, int16_t, int16_t*, int64_t*) noexcept
{
    return refuse(this);
}

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

int16_t BaseStatement::describeCol(uint16_t, uint16_t*, int16_t, int16_t*, int16_t*, uint64_t*, int16_t*,
                                   int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::describeParam(uint16_t, int16_t*, uint64_t*, int16_t*, int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::execDirect(const uint16_t*, int32_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::execute() noexcept
{
    return refuse(this);
}

int16_t BaseStatement::extendedFetch(uint16_t, int64_t, uint64_t*, uint16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::fetchScroll(int16_t, int64_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::fetch() noexcept
{
    return refuse(this);
}

int16_t BaseStatement::foreignKeys(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                   const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                   int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::freeStmt(uint16_t option) noexcept
{
    if (option != SQL_DROP)
        return refuse(this);
    if (enterFunction(SQL_API_SQLFREESTMT) != 0)
        return exitFunction(SQL_ERROR);
    const int16_t rc = exitFunction(SQL_SUCCESS);
    delete this;
    return rc;
}

int16_t BaseStatement::getData(uint16_t, int16_t, void*, int64_t, int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::getCursorName(uint16_t*, int16_t, int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::getStmtAttr(int32_t attribute, void* value, int32_t, int32_t* stringLength) noexcept
{
    // The statement's descriptor handles, which a driver manager asks for
    // as soon as the statement exists; the other attributes are refused.
    BaseDescriptor* desc = nullptr;
    switch (attribute) {
    case SQL_ATTR_APP_ROW_DESC: desc = currentArd; break;
    case SQL_ATTR_APP_PARAM_DESC: desc = currentApd; break;
    case SQL_ATTR_IMP_ROW_DESC: desc = ird; break;
    case SQL_ATTR_IMP_PARAM_DESC: desc = ipd; break;
    default: return refuse(this);
    }
    if (enterFunction(SQL_API_SQLGETSTMTATTR) != 0)
        return exitFunction(SQL_ERROR);
    if (value != nullptr)
        *static_cast<SQLHDESC*>(value) = desc;
    if (stringLength != nullptr)
        *stringLength = static_cast<int32_t>(sizeof(SQLHDESC));
    return exitFunction(SQL_SUCCESS);
}

int16_t BaseStatement::getTypeInfo(int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::moreResults() noexcept
{
    return refuse(this);
}

int16_t BaseStatement::numParams(int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::numResultCols(int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::paramData(void**) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::prepare(const uint16_t*, int32_t) noexcept
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

int16_t BaseStatement::putData(void*, int64_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::rowCountApi(int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setCursorName(const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setPos(uint64_t, uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setScrollOptions(uint16_t, int64_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::setStmtAttr(int32_t attribute, void* value, int32_t) noexcept
{
    // An application descriptor of the connection replaces the statement's
    // own (null gives it back); the other attributes are refused.
    if (attribute != SQL_ATTR_APP_ROW_DESC && attribute != SQL_ATTR_APP_PARAM_DESC)
        return refuse(this);
    if (enterFunction(SQL_API_SQLSETSTMTATTR) != 0)
        return exitFunction(SQL_ERROR);
    const bool rows = attribute == SQL_ATTR_APP_ROW_DESC;
    BaseAXD* chosen = rows ? implicitArd : implicitApd;
    if (value != nullptr) {
        auto* given = dynamic_cast<BaseAXD*>(static_cast<KaObject*>(value));
        const bool explicitOne = given != nullptr && given->autoAllocated == 0 && given->connection == connection;
        if (!explicitOne && given != static_cast<BaseDescriptor*>(chosen)) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_AUTOMATIC_DESCRIPTOR)->setSqlstate("HY017");
            return exitFunction(SQL_ERROR);
        }
        chosen = given;
    }
    {
        // Freeing an explicit descriptor reads the current ones under it.
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        if (rows) {
            if (currentArd != chosen)
                bindingsChanged = true;
            currentArd = chosen;
        } else {
            currentApd = chosen;
        }
    }
    return exitFunction(SQL_SUCCESS);
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
