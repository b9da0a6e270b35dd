// SQLColumnPrivileges' and SQLTablePrivileges' row orders and values.
#include "catalog/catalogprivs.h"

#include <sql.h>
#include <sqlext.h>

#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"

const BaseCatalogColumn kColumnPrivilegesColumns[kColumnPrivilegesColumnCount] = {
    {strUnits(u"TABLE_CAT"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_SCHEM"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"COLUMN_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"GRANTOR"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"GRANTEE"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"PRIVILEGE"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"IS_GRANTABLE"), SQL_VARCHAR, SQL_NULLABLE, 3},
};

const BaseCatalogColumn kTablePrivilegesColumns[kTablePrivilegesColumnCount] = {
    {strUnits(u"TABLE_CAT"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_SCHEM"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"TABLE_NAME"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"GRANTOR"), SQL_VARCHAR, SQL_NULLABLE, 128},
    {strUnits(u"GRANTEE"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"PRIVILEGE"), SQL_VARCHAR, SQL_NO_NULLS, 128},
    {strUnits(u"IS_GRANTABLE"), SQL_VARCHAR, SQL_NULLABLE, 3},
};

const char16_t* const kPrivilegeExpansion[] = {u"INSERT", u"UPDATE", u"REFERENCES", u"DELETE"};

namespace {

// Column privileges: TABLE_SCHEM, COLUMN_NAME, GRANTOR, GRANTEE, PRIVILEGE.
constexpr size_t kColSchem = 1;
constexpr size_t kColColumn = 3;
constexpr size_t kColGrantor = 4;
constexpr size_t kColGrantee = 5;
constexpr size_t kColPrivilege = 6;
// Table privileges: TABLE_CAT, TABLE_SCHEM, TABLE_NAME, GRANTEE, PRIVILEGE.
constexpr size_t kTabCat = 0;
constexpr size_t kTabSchem = 1;
constexpr size_t kTabName = 2;
constexpr size_t kTabGrantee = 4;
constexpr size_t kTabPrivilege = 5;

void freeAll(uint16_t** values, size_t n) noexcept
{
    for (size_t i = 0; i < n; ++i)
        ramFree(values[i]);
}

}  // namespace

bool privilegeIsAll(const uint16_t* privilege) noexcept
{
    return privilege != nullptr && strEqualW(privilege, strUnits(u"ALL")) != 0;
}

ColPrivsRowInfo::~ColPrivsRowInfo()
{
    freeAll(values, kColumnPrivilegesColumnCount);
}

int16_t ColPrivsRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const ColPrivsRowInfo&>(other);
    int16_t c = catalogCompareNames(values[kColColumn], b.values[kColColumn]);
    return c != 0 ? c : catalogCompareNames(values[kColPrivilege], b.values[kColPrivilege]);
}

CatalogCell ColPrivsRowInfo::cell(uint16_t column) const noexcept
{
    if (column < 1 || column > kColumnPrivilegesColumnCount)
        return CatalogCell::none();
    return CatalogCell::textValue(values[column - 1]);
}

uint16_t** ColPrivsRowInfo::field(uint16_t column) noexcept
{
    return column >= 1 && column <= kColumnPrivilegesColumnCount ? &values[column - 1] : nullptr;
}

bool ColPrivsRowInfo::markSystemGrantor() noexcept
{
    const uint16_t* schem = values[kColSchem];
    const uint16_t* grantee = values[kColGrantee];
    if (schem == nullptr || grantee == nullptr || strEqualW(schem, grantee) == 0)
        return true;
    ramFree(values[kColGrantor]);
    return catalogCopyText(strUnits(u"_SYSTEM"), &values[kColGrantor]);
}

TablePrivsRowInfo::~TablePrivsRowInfo()
{
    freeAll(values, kTablePrivilegesColumnCount);
}

int16_t TablePrivsRowInfo::compare(const KaObject& other) const
{
    const auto& b = static_cast<const TablePrivsRowInfo&>(other);
    // GRANTEE last, so that grants of one privilege to several grantees
    // come in a fixed order.
    for (size_t i : {kTabCat, kTabSchem, kTabName, kTabPrivilege, kTabGrantee}) {
        int16_t c = catalogCompareNames(values[i], b.values[i]);
        if (c != 0)
            return c;
    }
    return 0;
}

CatalogCell TablePrivsRowInfo::cell(uint16_t column) const noexcept
{
    if (column < 1 || column > kTablePrivilegesColumnCount)
        return CatalogCell::none();
    return CatalogCell::textValue(values[column - 1]);
}

uint16_t** TablePrivsRowInfo::field(uint16_t column) noexcept
{
    return column >= 1 && column <= kTablePrivilegesColumnCount ? &values[column - 1] : nullptr;
}
