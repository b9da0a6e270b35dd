// SQLGetTypeInfo: the result built from the connection's type table, or for
// a driver without one from the rows its getTypeInfoHook starts.
#include "catalog/basegtyp.h"

#include <sql.h>
#include <sqlext.h>

#include "catalog/basecata.h"
#include "catalog/catalogloop.h"
#include "catalog/catalogput.h"
#include "catalog/catalogtypes.h"
#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/basedescribe.h"
#include "odbc/baseerr.h"

namespace {

constexpr uint16_t kIdxInvalidSqlType = MSG_SQLSTATE_INVALID_SQL_DATA_TYPE;

int32_t connectionResource(void* context, uint32_t id, uint16_t* out, int32_t capacity) noexcept
{
    return static_cast<BaseConnection*>(context)->driverResourceStr(id, out, capacity);
}

TypeRowSettings settingsOf(BaseConnection* conn) noexcept
{
    TypeRowSettings s;
    if (conn == nullptr)
        return s;
    s.odbc2 = conn->env != nullptr && conn->env->odbc2Mode != 0;
    s.reportBinaryPrecision = conn->reportBinaryPrecision != 0;
    s.reverseTableOrder = (conn->workarounds2 & kBaseWa2TypeInfoReverseOrder) != 0;
    s.bracesForDateTimeLiterals = (conn->workarounds2 & kBaseWa2TypeInfoBraceLiterals) != 0;
    s.resourceText = connectionResource;
    s.resourceContext = conn;
    return s;
}

}  // namespace

BaseGetTypesInfoW::BaseGetTypesInfoW(BaseStatement* stmt) noexcept
    : CatalogHolder(stmt, kCatalogKindTypeInfo, kTypeInfoColumns)
{}

namespace {

// The result of SQLGetTypeInfo for dataType on the top of the statement's
// (empty) holder stack. 0, or 1.
int16_t buildTypeInfo(BaseCatalogStatement* stmt, int16_t dataType) noexcept
{
    BaseConnection* connection = stmt->connection;
    TypeRowSettings settings = settingsOf(connection);
    auto* holder = catalogPushHolder<BaseGetTypesInfoW>(stmt);
    if (holder == nullptr)
        return 1;
    const int16_t requested = typeInfoRequestedType(dataType, settings.odbc2);
    holder->dataType = requested;
    if (connection != nullptr && connection->typeTable != nullptr) {
        if (typeInfoCollectRows(&holder->rows, connection->typeTable, connection->typeTableCount, requested,
                                settings) != 0)
            return 1;
    } else {
        // A driver without a type table answers through its hook.
        if (stmt->getTypeInfoHook(requested) != 0)
            return 1;
        uint16_t position = 0;
        if (catalogReadDriverRows(
                stmt, holder->rows, []() noexcept { return new GetTypeRowInfo; },
                [&](GetTypeRowInfo* row) noexcept -> int16_t {
                    row->orderKey = static_cast<uint16_t>(position++ * 10);
                    row->numPrecRadix = kBaseNoDigits;
                    int32_t columnSize = 0;
                    if (stmt->getCatalogColumnValue(1, &row->typeName) != 0 ||
                        stmt->getCatalogColumnValue(2, &row->dataType) != 0 ||
                        stmt->getCatalogColumnValue(3, &columnSize) != 0 ||
                        stmt->getCatalogColumnValue(4, &row->literalPrefix) != 0 ||
                        stmt->getCatalogColumnValue(5, &row->literalSuffix) != 0 ||
                        stmt->getCatalogColumnValue(6, &row->createParams) != 0 ||
                        stmt->getCatalogColumnValue(7, &row->nullable) != 0 ||
                        stmt->getCatalogColumnValue(8, &row->caseSensitive) != 0 ||
                        stmt->getCatalogColumnValue(9, &row->searchable) != 0 ||
                        stmt->getCatalogColumnValue(10, &row->unsignedAttribute) != 0 ||
                        stmt->getCatalogColumnValue(11, &row->fixedPrecScale) != 0 ||
                        stmt->getCatalogColumnValue(12, &row->autoUnique) != 0 ||
                        stmt->getCatalogColumnValue(13, &row->localTypeName) != 0 ||
                        stmt->getCatalogColumnValue(14, &row->minimumScale) != 0 ||
                        stmt->getCatalogColumnValue(15, &row->maximumScale) != 0 ||
                        stmt->getCatalogColumnValue(18, &row->numPrecRadix) != 0 ||
                        stmt->getCatalogColumnValue(19, &row->intervalPrecision) != 0)
                        return 1;
                    row->columnSize = static_cast<uint32_t>(columnSize);
                    typeInfoFinishDriverRow(row, settings);
                    return row->matchesDataType(requested) == 0 ? 2 : 0;
                }) != 0)
            return 1;
        if (stmt->closeDriverResult() != 0)
            return 1;
    }
    if (holder->rows.count == 0) {
        TypeRequestCheck check = typeInfoCheckRequest(requested, settings.graphicTypesAsText);
        if (check != TypeRequestCheck::Valid) {
            basePostErrorMsg(kIdxInvalidSqlType, MSG_TYPE_INFO_UNKNOWN_TYPE)->addParamSigned(dataType);
            return 1;
        }
    }
    // The driver sees its rows once more before they are ordered.
    if (connection != nullptr && connection->typeInfoHook(&holder->rows, requested) != 0)
        return 1;
    if (stmt->bindCatalogColumns(kTypeInfoColumnCount, kTypeInfoColumns, -1) != 0)
        return 1;
    holder->rows.sortFlags = 0;
    if (holder->rows.count > 1 && holder->rows.sort() != 0)
        return 1;
    return stmt->finishCatalogExecute();
}

}  // namespace

int16_t BaseCatalogStatement::getTypeInfo(int16_t dataType) noexcept
{
    return catalogRunCall(this, SQL_API_SQLGETTYPEINFO, [&]() noexcept { return buildTypeInfo(this, dataType); });
}
