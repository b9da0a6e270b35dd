// What every catalog function's result holder shares: the prepared argument
// texts it owns, and getData for holders whose rows give each result column
// as a catalog cell. A function's holder adds only what is its own (its
// kind and result columns, a setting of the call, a cell its rows cannot
// give alone).
#pragma once
#include <cstdint>
#include <memory>

#include "catalog/catalogcell.h"
#include "catalog/catalogput.h"
#include "foundation/ram.h"
#include "odbc/basecatalog.h"
#include "odbc/basestmt.h"

// The plain names and search patterns prepareCatalogArgument made from a
// call's arguments (null: not given, or matching everything), freed with
// the holder. Each function fills the ones it takes; the drivers' hooks
// read them by name.
struct CatalogArguments {
    CatalogArguments() noexcept = default;
    ~CatalogArguments()
    {
        for (uint16_t* text : {catalogName, schemaName, tableName, columnName, procedureName, catalogPattern,
                               schemaPattern, tablePattern, columnPattern, procedurePattern, pkCatalogName,
                               pkSchemaName, pkTableName, fkCatalogName, fkSchemaName, fkTableName})
            ramFree(text);
    }
    CatalogArguments(const CatalogArguments&) = delete;
    CatalogArguments& operator=(const CatalogArguments&) = delete;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* tableName = nullptr;
    uint16_t* columnName = nullptr;
    uint16_t* procedureName = nullptr;
    uint16_t* catalogPattern = nullptr;
    uint16_t* schemaPattern = nullptr;
    uint16_t* tablePattern = nullptr;
    uint16_t* columnPattern = nullptr;
    uint16_t* procedurePattern = nullptr;
    // SQLForeignKeys names a primary-key table and a foreign-key table.
    uint16_t* pkCatalogName = nullptr;
    uint16_t* pkSchemaName = nullptr;
    uint16_t* pkTableName = nullptr;
    uint16_t* fkCatalogName = nullptr;
    uint16_t* fkSchemaName = nullptr;
    uint16_t* fkTableName = nullptr;
};

// A holder with its call's arguments.
class CatalogArgumentsHolder : public BaseCatalogInfoW, public CatalogArguments {
public:
    CatalogArgumentsHolder(BaseStatement* stmt, int32_t kind, const BaseCatalogColumn* columns) noexcept
        : BaseCatalogInfoW(stmt, kind, columns)
    {}
};

// A holder whose rows are Row objects that give the cell of each result
// column (Row::cell); NULL past the rows.
template <class Row>
class CatalogHolder : public CatalogArgumentsHolder {
public:
    using CatalogArgumentsHolder::CatalogArgumentsHolder;

    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override
    {
        const auto* row = static_cast<const Row*>(currentRowObject());
        return catalogPutCell(this, column, cType, out, row != nullptr ? cellOf(*row, column) : CatalogCell::none());
    }

protected:
    // The cell of `column` of `row`; a holder whose rows need more than the
    // column to give it (the connection's settings) overrides this.
    virtual CatalogCell cellOf(const Row& row, uint16_t column) const noexcept
    {
        if constexpr (requires { row.cell(column); })
            return row.cell(column);
        else
            return CatalogCell::none();
    }
};

// A new holder H(stmt, args...) pushed on the statement's holder stack,
// which owns it from then on; null when it could not be made or pushed.
template <class H, class... Args>
H* catalogPushHolder(BaseStatement* stmt, Args... args) noexcept
{
    std::unique_ptr<H> holder(new H(stmt, args...));
    if (holder == nullptr || stmt->pushColumnsInfo(holder.get()) != 0)
        return nullptr;
    return holder.release();
}
