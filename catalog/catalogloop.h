// The steps every catalog function of the statement shares around its own
// work: the call frame (entry, state check, reset on failure, exit), the
// loop over the driver's rows into row objects, and the end of a result
// (driver result closed, columns described, rows sorted, cursor open).
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "catalog/basecata.h"
#include "catalog/catalogcell.h"
#include "convert/basestring.h"
#include "odbc/basecatalog.h"

// The statement operation of a catalog function around its generic
// operation `body` (0 or 1): a failure leaves no result behind.
template <class Body>
int16_t catalogRunCall(BaseCatalogStatement* stmt, uint16_t api, Body body) noexcept
{
    return stmt->runFunction(api, [&]() -> int16_t {
        if (stmt->checkCatalogState() != 0)
            return SQL_ERROR;
        if (body() != 0) {
            (void)stmt->resetStatement();
            return SQL_ERROR;
        }
        return SQL_SUCCESS;
    });
}

// Rows of the driver's result into `rows`: each a new object from make(),
// appended before fill(row) reads its values; fill gives 0 to keep the row,
// 2 to drop it again, 1 on failure (posted). 0 at the end of the driver's
// result, or 1.
template <class Make, class Fill>
int16_t catalogReadDriverRows(BaseCatalogStatement* stmt, KaSortedArray& rows, Make make, Fill fill) noexcept
{
    for (;;) {
        int16_t end = 0;
        if (stmt->catalogFetchRow(&end) != 0)
            return 1;
        if (end != 0)
            return 0;
        auto* row = catalogAppendNew(rows, make());
        if (row == nullptr)
            return 1;
        int16_t verdict = fill(row);
        if (verdict == 1)
            return 1;
        if (verdict == 2) {
            --rows.count;
            delete row;
        }
    }
}

// The driver's result closed, the result described from its column table
// (catalogColumn as bindCatalogColumns takes it), the rows sorted into the
// function's order and the cursor opened. 0, or 1.
[[nodiscard]] inline int16_t catalogFinishResult(BaseCatalogStatement* stmt, BaseCatalogInfoW* holder, uint16_t count,
                                                 const BaseCatalogColumn* table, int16_t catalogColumn) noexcept
{
    if (stmt->closeDriverResult() != 0 || stmt->bindCatalogColumns(count, table, catalogColumn) != 0)
        return 1;
    holder->rows.sortFlags = 0;
    if (holder->rows.count > 1 && holder->rows.sort() != 0)
        return 1;
    return stmt->finishCatalogExecute();
}

// A number of the current row of the holder on top of the stack (a nested
// catalog result) read through its getData as cType, as the application
// would read it; nullValue for NULL. 0, or 1.
template <class T>
int16_t catalogReadNestedNumber(BaseStatement* stmt, uint16_t column, int16_t cType, T* value, T nullValue) noexcept
{
    int64_t indicator = 0;
    T v{};
    BaseOutString out(&v, static_cast<int64_t>(sizeof v), &indicator, nullptr);
    if (stmt->catalogInfoW == nullptr || stmt->catalogInfoW->getData(column, cType, &out) != 0)
        return 1;
    *value = indicator == SQL_NULL_DATA ? nullValue : v;
    return 0;
}

inline int16_t catalogReadNestedShort(BaseStatement* stmt, uint16_t column, int16_t* value, int16_t nullValue) noexcept
{
    return catalogReadNestedNumber(stmt, column, SQL_C_SSHORT, value, nullValue);
}

inline int16_t catalogReadNestedLong(BaseStatement* stmt, uint16_t column, int32_t* value, int32_t nullValue) noexcept
{
    return catalogReadNestedNumber(stmt, column, SQL_C_SLONG, value, nullValue);
}
