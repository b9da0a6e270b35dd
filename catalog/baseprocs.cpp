// SQLProcedures and SQLProcedureColumns: the statement operations, the
// generic operations over the driver's procedure hooks (patterns applied
// here, parameters numbered where the driver gave no ordinal), and the
// holders' column values.
#include "catalog/baseprocs.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "catalog/basecata.h"
#include "catalog/catalogloop.h"
#include "catalog/catalogprocs.h"
#include "catalog/catalogput.h"
#include "convert/basestring.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"

namespace {

ProcColumnSettings settingsOf(BaseConnection* conn) noexcept
{
    ProcColumnSettings s;
    s.connection = conn;
    if (conn != nullptr) {
        s.odbc2 = conn->env != nullptr && conn->env->odbc2Mode != 0;
        s.reportBinaryPrecision = conn->reportBinaryPrecision != 0;
    }
    return s;
}

const BaseCatalogColumn* proceduresTable(const BaseConnection* conn, uint16_t* count) noexcept
{
    *count = conn != nullptr ? conn->proceduresColumnCount : kBaseProceduresColumnCount;
    return conn != nullptr ? conn->proceduresColumns : kBaseProceduresColumns;
}

const BaseCatalogColumn* procedureColumnsTable(const BaseConnection* conn, uint16_t* count) noexcept
{
    *count = conn != nullptr ? conn->procedureColumnsColumnCount : kBaseProcedureColumnsColumnCount;
    return conn != nullptr ? conn->procedureColumnsColumns : kBaseProcedureColumnsColumns;
}

}  // namespace

BaseProceduresInfoW::BaseProceduresInfoW(BaseStatement* stmt, const BaseCatalogColumn* table) noexcept
    : CatalogHolder(stmt, kCatalogKindProcedures, table)
{}

BaseProcedureColumnsInfoW::BaseProcedureColumnsInfoW(BaseStatement* stmt, const BaseCatalogColumn* table) noexcept
    : CatalogHolder(stmt, kCatalogKindProcedureColumns, table)
{}

CatalogCell BaseProcedureColumnsInfoW::cellOf(const ProcColsRowInfo& row, uint16_t column) const noexcept
{
    return row.cell(column, settingsOf(statement->connection));
}

int16_t BaseCatalogStatement::procedures(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                         int16_t schemaLength, const uint16_t* procedure,
                                         int16_t procedureLength) noexcept
{
    return catalogRunCall(this, SQL_API_SQLPROCEDURES, [&]() noexcept {
        return proceduresInternal(catalog, catalogLength, schema, schemaLength, procedure, procedureLength);
    });
}

int16_t BaseCatalogStatement::proceduresInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                                 int16_t schemaLength, const uint16_t* procedure,
                                                 int16_t procedureLength) noexcept
{
    uint16_t count = 0;
    const BaseCatalogColumn* table = proceduresTable(connection, &count);
    auto* holder = catalogPushHolder<BaseProceduresInfoW>(this, table);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, &holder->schemaPattern) !=
            0 ||
        prepareCatalogArgument(procedure, procedureLength, kCatalogInfoProcedure, &holder->procedureName,
                               &holder->procedurePattern) != 0)
        return 1;
    if (proceduresHook() != 0)
        return 1;
    if (catalogReadDriverRows(
            this, holder->rows, []() noexcept { return new ProcsRowInfo; },
            [&](ProcsRowInfo* row) noexcept -> int16_t {
                if (getCatalogColumnValue(1, &row->procedureCat) != 0 ||
                    getCatalogColumnValue(2, &row->procedureSchem) != 0 ||
                    getCatalogColumnValue(3, &row->procedureName) != 0 ||
                    getCatalogColumnValue(7, &row->remarks) != 0 || getCatalogColumnValue(8, &row->procedureType) != 0)
                    return 1;
                return matchName(row->procedureSchem, holder->schemaPattern, 0) != 0 &&
                               matchName(row->procedureName, holder->procedurePattern, 1) != 0
                           ? 0
                           : 2;
            }) != 0)
        return 1;
    return catalogFinishResult(this, holder, count, table, 0);
}

int16_t BaseCatalogStatement::procedureColumns(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                               int16_t schemaLength, const uint16_t* procedure, int16_t procedureLength,
                                               const uint16_t* column, int16_t columnLength) noexcept
{
    return catalogRunCall(this, SQL_API_SQLPROCEDURECOLUMNS, [&]() noexcept {
        return procedureColumnsInternal(catalog, catalogLength, schema, schemaLength, procedure, procedureLength,
                                        column, columnLength);
    });
}

int16_t BaseCatalogStatement::procedureColumnsInternal(const uint16_t* catalog, int16_t catalogLength,
                                                       const uint16_t* schema, int16_t schemaLength,
                                                       const uint16_t* procedure, int16_t procedureLength,
                                                       const uint16_t* column, int16_t columnLength) noexcept
{
    uint16_t count = 0;
    const BaseCatalogColumn* table = procedureColumnsTable(connection, &count);
    auto* holder = catalogPushHolder<BaseProcedureColumnsInfoW>(this, table);
    if (holder == nullptr)
        return 1;
    if (prepareCatalogArgument(catalog, catalogLength, kCatalogInfoCatalog, &holder->catalogName, nullptr) != 0 ||
        prepareCatalogArgument(schema, schemaLength, kCatalogInfoSchema, &holder->schemaName, &holder->schemaPattern) !=
            0 ||
        prepareCatalogArgument(procedure, procedureLength, kCatalogInfoProcedure, &holder->procedureName,
                               &holder->procedurePattern) != 0 ||
        prepareCatalogArgument(column, columnLength, kCatalogInfoColumn, &holder->columnName, &holder->columnPattern) !=
            0)
        return 1;
    if (procedureColumnsHook() != 0)
        return 1;
    ProcColumnCounter counter;
    if (catalogReadDriverRows(
            this, holder->rows, []() noexcept { return new ProcColsRowInfo; },
            [&](ProcColsRowInfo* row) noexcept -> int16_t {
                int32_t ordinal = 0;
                if (getCatalogColumnValue(1, &row->procedureCat) != 0 ||
                    getCatalogColumnValue(2, &row->procedureSchem) != 0 ||
                    getCatalogColumnValue(3, &row->procedureName) != 0 ||
                    getCatalogColumnValue(4, &row->columnName) != 0 ||
                    getCatalogColumnValue(5, &row->columnType) != 0 || getCatalogColumnValue(6, &row->dataType) != 0 ||
                    getCatalogColumnValue(7, &row->typeName) != 0 || getCatalogColumnValue(8, &row->columnSize) != 0 ||
                    getCatalogColumnValue(9, &row->bufferLength) != 0 ||
                    getCatalogColumnValue(10, &row->decimalDigits) != 0 ||
                    getCatalogColumnValue(11, &row->numPrecRadix) != 0 ||
                    getCatalogColumnValue(12, &row->nullable) != 0 || getCatalogColumnValue(13, &row->remarks) != 0 ||
                    getCatalogColumnValue(14, &row->columnDef) != 0 || getCatalogColumnValue(18, &ordinal) != 0)
                    return 1;
                if (matchName(row->procedureSchem, holder->schemaPattern, 0) == 0 ||
                    matchName(row->procedureName, holder->procedurePattern, 1) == 0 ||
                    matchName(row->columnName, holder->columnPattern, 0) == 0)
                    return 2;
                row->ordinalKey = ordinal > 0 ? static_cast<uint32_t>(ordinal) : 0;
                counter.number(row);
                uint16_t* isNullable = nullptr;
                if (readCatalogText(19, &isNullable, false) != 0)
                    return 1;
                if (isNullable == nullptr)
                    return row->defaultIsNullable() ? 0 : 1;
                // At most the 15 characters of "YES", "NO" or "".
                if (baseCatalogTextLength(isNullable) > kProcIsNullableUnits)
                    isNullable[kProcIsNullableUnits] = 0;
                row->isNullable = isNullable;
                return 0;
            }) != 0)
        return 1;
    if (closeDriverResult() != 0 || bindCatalogColumns(count, table, 0) != 0)
        return 1;
    if (sortCatalogRows(holder) != 0)
        return 1;
    return finishCatalogExecute();
}
