// The statement-level ODBC functions of BaseStatement as the exports reach
// them on a statement that the driver cannot run yet: each refuses with a
// diagnostic on the statement's list. SQL_DROP frees the statement.
#include <sql.h>

#include <cstring>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basestmt.h"

namespace {

int16_t refuse(BaseStatement* stmt) noexcept
{
    return baseRefuseCall(&stmt->diagnostics, stmt->connection);
}

}  // namespace

int16_t BaseStatement::bindCol(uint16_t, int16_t, void*, int64_t, int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::bindParameter(uint16_t, int16_t, int16_t, int16_t, uint64_t, int16_t, void*,
                                     int64_t, int64_t*) noexcept
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

int16_t BaseStatement::colAttribute(uint16_t, uint16_t, void*, int16_t, int16_t*,
                                    int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::columnPrivileges(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                        const uint16_t*, int16_t, const uint16_t*,
                                        int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::columns(const uint16_t*, int16_t, const uint16_t*, int16_t,
                               const uint16_t*, int16_t, const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::describeCol(uint16_t, uint16_t*, int16_t, int16_t*, int16_t*, uint64_t*,
                                   int16_t*, int16_t*) noexcept
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

int16_t BaseStatement::foreignKeys(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                   const uint16_t*, int16_t, const uint16_t*, int16_t,
                                   const uint16_t*, int16_t, const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::freeStmt(uint16_t option) noexcept
{
    if (option != SQL_DROP)
        return refuse(this);
    if (connection != nullptr) {
        KaNode* node = connection->statements.first();
        for (size_t i = 0; i < connection->statements.count && node != nullptr;
             ++i, node = node->next) {
            if (node == this) {
                connection->statements.remove(this);
                break;
            }
        }
    }
    delete this;
    return SQL_SUCCESS;
}

int16_t BaseStatement::getData(uint16_t, int16_t, void*, int64_t, int64_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::getCursorName(uint16_t*, int16_t, int16_t*) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::getStmtAttr(int32_t, void*, int32_t, int32_t*) noexcept
{
    return refuse(this);
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

int16_t BaseStatement::primaryKeys(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                   const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::procedureColumns(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                        const uint16_t*, int16_t, const uint16_t*,
                                        int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::procedures(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                  const uint16_t*, int16_t) noexcept
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

int16_t BaseStatement::setStmtAttr(int32_t, void*, int32_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::specialColumns(uint16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                      const uint16_t*, int16_t, uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::statistics(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                  const uint16_t*, int16_t, uint16_t, uint16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::tablePrivileges(const uint16_t*, int16_t, const uint16_t*, int16_t,
                                       const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::tables(const uint16_t*, int16_t, const uint16_t*, int16_t,
                              const uint16_t*, int16_t, const uint16_t*, int16_t) noexcept
{
    return refuse(this);
}

int16_t BaseStatement::initStatement() noexcept
{
    if (connection == nullptr)
        return 1;
    connection->statements.addLast(this);
    return 0;
}
