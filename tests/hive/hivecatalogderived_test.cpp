// The helpers of the Hive statistics and special-columns hooks: the pattern
// that matches one plain name exactly, and the type-table row that says
// whether a column of a Hive type is searchable.
#include "hive/hivecatalogderived.h"

#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <string>

#include "catalog/catalognames.h"
#include "foundation/ram.h"
#include "odbc/baseconn.h"

namespace {

const uint16_t* u(const char16_t* s)
{
    return reinterpret_cast<const uint16_t*>(s);
}

TEST(HiveExactPattern, MatchesOnlyTheNameItself)
{
    struct Case {
        const char16_t* name;
        const char16_t* pattern;
        const char16_t* other;  // a name the plain text would match as a pattern
    } cases[] = {
        {u"t_1", u"t\\_1", u"tx1"},
        {u"100%", u"100\\%", u"1000"},
        {u"a\\b", u"a\\\\b", u"ab"},
        {u"\u00fcmlaut", u"\u00fcmlaut", u"umlaut"},
    };
    for (const Case& c : cases) {
        bool failed = true;
        uint16_t* p = hiveExactPattern(u(c.name), u'\\', &failed);
        ASSERT_FALSE(failed);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(p)), std::u16string(c.pattern));
        EXPECT_TRUE(catalogMatchName(u(c.name), p, u'\\', false));
        EXPECT_FALSE(catalogMatchName(u(c.other), p, u'\\', false));
        ramFree(p);
    }
    bool failed = true;
    EXPECT_EQ(hiveExactPattern(nullptr, u'\\', &failed), nullptr);
    EXPECT_FALSE(failed);
}

BaseTypeRow row(const char16_t* name, int16_t type, int16_t searchable)
{
    BaseTypeRow r{};
    r.name = u(name);
    r.sqlType = type;
    r.searchable = searchable;
    return r;
}

TEST(HiveSpecialTypeRow, ByNameAndTypeThenNameThenType)
{
    const BaseTypeRow table[] = {
        row(u"string", SQL_WLONGVARCHAR, SQL_SEARCHABLE), row(u"string", SQL_WVARCHAR, SQL_SEARCHABLE),
        row(u"varchar", SQL_WVARCHAR, SQL_SEARCHABLE),    row(u"timestamp", SQL_TYPE_TIMESTAMP, SQL_PRED_NONE),
        row(u"decimal", SQL_DECIMAL, SQL_SEARCHABLE),
    };
    struct Case {
        const char16_t* typeName;
        int16_t dataType;
        const BaseTypeRow* expected;
    } cases[] = {
        {u"string", SQL_WVARCHAR, &table[1]},
        {u"STRING", SQL_WLONGVARCHAR, &table[0]},
        {u"varchar(20)", SQL_WVARCHAR, &table[2]},
        {u"decimal(10,2)", SQL_DECIMAL, &table[4]},
        {u"timestamp", SQL_TYPE_TIMESTAMP, &table[3]},
        {u"string", SQL_VARCHAR, &table[0]},       // the name decides when the type differs
        {u"array<int>", SQL_WVARCHAR, &table[1]},  // read as its text
        {u"binary", SQL_BINARY, nullptr},          // nothing describes it
    };
    for (const Case& c : cases)
        EXPECT_EQ(hiveSpecialTypeRow(table, std::size(table), u(c.typeName), c.dataType), c.expected)
            << std::string(c.typeName, c.typeName + std::char_traits<char16_t>::length(c.typeName));
    EXPECT_EQ(hiveSpecialTypeRow(nullptr, 0, u(u"int"), SQL_INTEGER), nullptr);
}

}  // namespace
