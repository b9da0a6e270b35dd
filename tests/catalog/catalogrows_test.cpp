// The rows of SQLGetTypeInfo, SQLStatistics, SQLSpecialColumns, the key,
// procedure and privilege functions: their ODBC orders (through the sorted
// array's one sort, as the catalog results use it) and the values of their
// derived columns.
#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/catalogkeys.h"
#include "catalog/catalogprivs.h"
#include "catalog/catalogprocs.h"
#include "catalog/catalogspecial.h"
#include "catalog/catalogstats.h"
#include "catalog/catalogtypes.h"
#include "foundation/kaarray.h"
#include "foundation/kastr.h"
#include "odbc/baseconn.h"

namespace {

const uint16_t* u(const char16_t* s)
{
    return reinterpret_cast<const uint16_t*>(s);
}

uint16_t* dup(const char16_t* s)
{
    return s == nullptr ? nullptr : strDupNW(u(s), strLenW(u(s)));
}

std::u16string text(const CatalogCell& c)
{
    EXPECT_EQ(c.kind, CatalogCellKind::Text);
    return c.text == nullptr ? std::u16string() : std::u16string(reinterpret_cast<const char16_t*>(c.text));
}

bool isNull(const CatalogCell& c)
{
    return c.kind == CatalogCellKind::Null;
}

int32_t num(const CatalogCell& c)
{
    EXPECT_NE(c.kind, CatalogCellKind::Null);
    EXPECT_NE(c.kind, CatalogCellKind::Text);
    return c.number;
}

// A row array as the catalog results keep them: owning, appended to, sorted
// once.
struct Rows {
    KaSortedArray array;
    Rows() { array.flags |= KaArray::ownsElements; }
    template <class T>
    T* at(size_t i)
    {
        return static_cast<T*>(array.at(i));
    }
    void sort() { ASSERT_EQ(array.sort(), 0); }
};

BaseTypeRow typeRow(const char16_t* name, int16_t type, uint32_t size)
{
    BaseTypeRow r{};
    r.name = u(name);
    r.sqlType = type;
    r.columnSize = size;
    r.nullable = SQL_NULLABLE;
    r.searchable = SQL_SEARCHABLE;
    return r;
}

int32_t resourceText(void*, uint32_t id, uint16_t* out, int32_t capacity)
{
    std::u16string t = id == 20111 ? u"precision,scale" : (id == 20131 ? u"double" : u"");
    if (t.empty() || int32_t(t.size()) >= capacity)
        return 0;
    std::copy(t.begin(), t.end(), out);
    out[t.size()] = 0;
    return int32_t(t.size());
}

std::vector<std::u16string> typeNames(Rows& rows)
{
    std::vector<std::u16string> names;
    for (size_t i = 0; i < rows.array.count; ++i)
        names.push_back(text(rows.at<GetTypeRowInfo>(i)->cell(1)));
    return names;
}

// The table order matters among rows of one type: three string rows, as
// the Hive table has them, with other types between.
std::vector<BaseTypeRow> hiveLikeTable()
{
    std::vector<BaseTypeRow> t = {
        typeRow(u"double", SQL_DOUBLE, 15),
        typeRow(u"string", SQL_VARCHAR, 32767),
        typeRow(u"int", SQL_INTEGER, 10),
        typeRow(u"varchar", SQL_VARCHAR, 65355),
        typeRow(u"timestamp", SQL_TYPE_TIMESTAMP, 29),
        typeRow(u"float", SQL_REAL, 7),
        typeRow(u"boolean", SQL_BIT, 1),
        typeRow(u"decimal", SQL_DECIMAL, 38),
    };
    t[4].literalPrefix = u(u"{ts '");
    t[4].literalSuffix = u(u"'}");
    t[4].maximumScale = 9;
    t[2].minimumScale = 5;  // ignored: an integer's scale is 0
    t[7].createParamsMessage = 20111;
    t[7].maximumScale = 38;
    t[0].localNameMessage = 20131;
    return t;
}

TEST(CatalogTypeRows, AllTypesByReportedTypeKeepingTableOrderOrReversed)
{
    std::vector<BaseTypeRow> table = hiveLikeTable();
    struct Case {
        bool reverse;
        std::vector<std::u16string> names;
    } cases[] = {
        {false, {u"boolean", u"decimal", u"int", u"float", u"double", u"string", u"varchar", u"timestamp"}},
        {true, {u"boolean", u"decimal", u"int", u"float", u"double", u"varchar", u"string", u"timestamp"}},
    };
    for (const Case& c : cases) {
        TypeRowSettings settings;
        settings.reverseTableOrder = c.reverse;
        Rows rows;
        ASSERT_EQ(typeInfoCollectRows(&rows.array, table.data(), table.size(), SQL_ALL_TYPES, settings), 0);
        rows.sort();
        EXPECT_EQ(typeNames(rows), c.names) << "reverse " << c.reverse;
    }
}

TEST(CatalogTypeRows, OneTypeAndTheOdbc2Timestamp)
{
    std::vector<BaseTypeRow> table = hiveLikeTable();
    TypeRowSettings odbc3;
    Rows varchars;
    ASSERT_EQ(typeInfoCollectRows(&varchars.array, table.data(), table.size(), SQL_VARCHAR, odbc3), 0);
    EXPECT_EQ(typeNames(varchars), (std::vector<std::u16string>{u"string", u"varchar"}));

    // ODBC 3 asking for 11 finds nothing; ODBC 2 means the timestamp row.
    Rows none;
    ASSERT_EQ(typeInfoCollectRows(&none.array, table.data(), table.size(), typeInfoRequestedType(SQL_TIMESTAMP, false),
                                  odbc3),
              0);
    EXPECT_EQ(none.array.count, 0u);
    TypeRowSettings odbc2;
    odbc2.odbc2 = true;
    Rows ts;
    ASSERT_EQ(
        typeInfoCollectRows(&ts.array, table.data(), table.size(), typeInfoRequestedType(SQL_TIMESTAMP, true), odbc2),
        0);
    ASSERT_EQ(ts.array.count, 1u);
    auto* row = ts.at<GetTypeRowInfo>(0);
    EXPECT_EQ(num(row->cell(2)), SQL_TIMESTAMP);
    EXPECT_EQ(num(row->cell(16)), SQL_DATETIME);
    EXPECT_EQ(num(row->cell(17)), SQL_CODE_TIMESTAMP);
    EXPECT_EQ(num(row->cell(15)), 9);
    EXPECT_EQ(text(row->cell(4)), u"{ts '");
}

TEST(CatalogTypeRows, BinaryPrecisionBracesAndDerivedColumns)
{
    std::vector<BaseTypeRow> table = hiveLikeTable();
    struct Case {
        bool rbp;
        int32_t doubleSize, realSize, radix;
    } cases[] = {{true, 53, 24, 2}, {false, 15, 7, 10}};
    for (const Case& c : cases) {
        TypeRowSettings settings;
        settings.reportBinaryPrecision = c.rbp;
        settings.bracesForDateTimeLiterals = true;
        settings.resourceText = resourceText;
        Rows rows;
        ASSERT_EQ(typeInfoCollectRows(&rows.array, table.data(), table.size(), SQL_ALL_TYPES, settings), 0);
        rows.sort();
        for (size_t i = 0; i < rows.array.count; ++i) {
            auto* r = rows.at<GetTypeRowInfo>(i);
            std::u16string name = text(r->cell(1));
            if (name == u"double") {
                EXPECT_EQ(num(r->cell(3)), c.doubleSize);
                EXPECT_EQ(num(r->cell(18)), c.radix);
                EXPECT_EQ(text(r->cell(13)), u"double");
            } else if (name == u"float") {
                EXPECT_EQ(num(r->cell(3)), c.realSize);
            } else if (name == u"int") {
                EXPECT_EQ(num(r->cell(14)), 0) << "an integer's scale whatever the table says";
                EXPECT_EQ(num(r->cell(10)), 0);
                EXPECT_EQ(num(r->cell(18)), 10);
                EXPECT_TRUE(isNull(r->cell(13)));
            } else if (name == u"string") {
                EXPECT_TRUE(isNull(r->cell(14)));
                EXPECT_TRUE(isNull(r->cell(10)));
                EXPECT_TRUE(isNull(r->cell(18)));
                EXPECT_TRUE(isNull(r->cell(4))) << "the table gave no prefix";
            } else if (name == u"boolean") {
                EXPECT_TRUE(isNull(r->cell(10))) << "BIT is not numeric here";
                EXPECT_TRUE(isNull(r->cell(12)));
            } else if (name == u"timestamp") {
                EXPECT_EQ(text(r->cell(4)), u"{");
                EXPECT_EQ(text(r->cell(5)), u"}");
                EXPECT_EQ(num(r->cell(15)), 9);
            } else if (name == u"decimal") {
                EXPECT_EQ(text(r->cell(6)), u"precision,scale");
                EXPECT_EQ(num(r->cell(15)), 38);
                EXPECT_TRUE(isNull(r->cell(19)));
            }
        }
    }
}

TEST(CatalogTypeRows, RequestsThatFindNoRow)
{
    struct Case {
        int16_t type;
        bool graphic;
        TypeRequestCheck check;
    } cases[] = {
        {SQL_VARCHAR, false, TypeRequestCheck::Valid},
        {SQL_TYPE_TIME, false, TypeRequestCheck::Valid},
        {SQL_INTERVAL_DAY_TO_SECOND, false, TypeRequestCheck::Valid},
        {SQL_WCHAR, false, TypeRequestCheck::Valid},
        {SQL_GUID, false, TypeRequestCheck::Valid},
        {SQL_TIMESTAMP, false, TypeRequestCheck::UnknownType},
        {50, false, TypeRequestCheck::UnknownType},
        {SQL_ALL_TYPES, false, TypeRequestCheck::UnknownType},
        {-95, false, TypeRequestCheck::UnknownType},
        {-95, true, TypeRequestCheck::Valid},
        {-100, false, TypeRequestCheck::BelowRange},
        {-99, false, TypeRequestCheck::UnknownType},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typeInfoCheckRequest(c.type, c.graphic), c.check) << c.type;
}

StatRowInfo* statRow(Rows& rows, int16_t collation, int16_t type, int16_t nonUnique, const char16_t* index,
                     int16_t ordinal, const char16_t* column)
{
    auto* r = new StatRowInfo(collation);
    r->type = type;
    r->nonUnique = nonUnique;
    r->indexName = dup(index);
    r->ordinalPosition = ordinal;
    r->columnName = dup(column);
    r->tableName = dup(u"t");
    EXPECT_EQ(rows.array.append(r), 0);
    return r;
}

TEST(CatalogStatisticsRows, TableRowWhereNullsSortAndIndexOrder)
{
    for (int16_t collation : {int16_t(SQL_NC_END), int16_t(SQL_NC_LOW)}) {
        Rows rows;
        statRow(rows, collation, SQL_INDEX_OTHER, 1, u"by_name", 1, u"name");
        statRow(rows, collation, SQL_TABLE_STAT, 0, nullptr, 0, nullptr);
        statRow(rows, collation, SQL_INDEX_OTHER, 0, u"pk", 2, u"b");
        statRow(rows, collation, SQL_INDEX_CLUSTERED, 1, u"a_first", 1, u"x");
        statRow(rows, collation, SQL_INDEX_OTHER, 0, u"pk", 1, u"a");
        rows.sort();
        std::vector<std::u16string> order;
        for (size_t i = 0; i < rows.array.count; ++i) {
            CatalogCell c = rows.at<StatRowInfo>(i)->cell(kStatisticsColumnNameColumn);
            order.push_back(isNull(c) ? u"<table>" : text(c));
        }
        std::vector<std::u16string> indexes = {u"a", u"b", u"x", u"name"};
        std::vector<std::u16string> expected;
        if (collation == SQL_NC_LOW)
            expected.push_back(u"<table>");
        expected.insert(expected.end(), indexes.begin(), indexes.end());
        if (collation == SQL_NC_END)
            expected.push_back(u"<table>");
        EXPECT_EQ(order, expected) << "collation " << collation;
    }
}

TEST(CatalogStatisticsRows, UniqueFilterAndTheTableRowsNulls)
{
    Rows rows;
    StatRowInfo* table = statRow(rows, SQL_NC_END, SQL_TABLE_STAT, 0, nullptr, 0, nullptr);
    StatRowInfo* other = statRow(rows, SQL_NC_END, SQL_INDEX_OTHER, 1, u"i", 1, u"c");
    StatRowInfo* unique = statRow(rows, SQL_NC_END, SQL_INDEX_OTHER, 0, u"u", 1, u"c");
    EXPECT_TRUE(table->passesUnique(SQL_INDEX_UNIQUE));
    EXPECT_FALSE(other->passesUnique(SQL_INDEX_UNIQUE));
    EXPECT_TRUE(other->passesUnique(SQL_INDEX_ALL));
    EXPECT_TRUE(unique->passesUnique(SQL_INDEX_UNIQUE));
    EXPECT_EQ(num(table->cell(7)), SQL_TABLE_STAT);
    EXPECT_EQ(text(table->cell(3)), u"t");
    for (uint16_t c : {1, 2, 4, 5, 6, 8, 9, 10, 11, 12, 13})
        EXPECT_TRUE(isNull(table->cell(c))) << c;
    EXPECT_EQ(num(other->cell(4)), 1);
}

SpecialRowInfo* indexColumn(Rows& rows, const char16_t* index, const char16_t* column)
{
    auto* r = new SpecialRowInfo;
    r->scope = SQL_SCOPE_SESSION;
    r->indexName = dup(index);
    r->columnName = dup(column);
    EXPECT_EQ(rows.array.append(r), 0);
    return r;
}

SpecialColumnFacts facts(const char16_t* name, int16_t nullable)
{
    SpecialColumnFacts f;
    f.name = u(name);
    f.dataType = SQL_INTEGER;
    f.typeName = u(u"int");
    f.columnSize = 10;
    f.bufferLength = 4;
    f.decimalDigits = 0;
    f.nullable = nullable;
    return f;
}

std::vector<std::u16string> specialColumns(Rows& rows)
{
    std::vector<std::u16string> names;
    for (size_t i = 0; i < rows.array.count; ++i)
        names.push_back(text(rows.at<SpecialRowInfo>(i)->cell(2)));
    return names;
}

TEST(CatalogSpecialRows, FirstUsableUniqueIndexIsKept)
{
    struct Case {
        const char* what;
        int16_t bNullable;
        uint16_t nullableArgument;
        bool cExists;
        std::vector<std::u16string> expected;
    } cases[] = {
        {"not-null columns: the first index", SQL_NO_NULLS, SQL_NO_NULLS, true, {u"a", u"b"}},
        {"a nullable column drops its index", SQL_NULLABLE, SQL_NO_NULLS, true, {u"c"}},
        {"nullable columns allowed", SQL_NULLABLE, SQL_NULLABLE, true, {u"a", u"b"}},
        {"no usable index: empty", SQL_NULLABLE, SQL_NO_NULLS, false, {}},
    };
    for (const Case& c : cases) {
        Rows rows;
        indexColumn(rows, u"pk", u"a");
        indexColumn(rows, u"pk", u"b");
        indexColumn(rows, u"alt", u"c");
        ASSERT_EQ(specialApplyColumn(&rows.array, facts(u"a", SQL_NO_NULLS), c.nullableArgument), 0);
        ASSERT_EQ(specialApplyColumn(&rows.array, facts(u"b", c.bNullable), c.nullableArgument), 0);
        if (c.cExists) {
            ASSERT_EQ(specialApplyColumn(&rows.array, facts(u"c", SQL_NO_NULLS), c.nullableArgument), 0);
        }
        specialKeepFirstIndex(&rows.array);
        EXPECT_EQ(specialColumns(rows), c.expected) << c.what;
    }
}

TEST(CatalogSpecialRows, AnIndexWithAMissingColumnIsNotReportedInPart)
{
    Rows rows;
    indexColumn(rows, u"pk", u"a");
    indexColumn(rows, u"pk", u"gone");
    indexColumn(rows, u"alt", u"c");
    ASSERT_EQ(specialApplyColumn(&rows.array, facts(u"a", SQL_NO_NULLS), SQL_NO_NULLS), 0);
    ASSERT_EQ(specialApplyColumn(&rows.array, facts(u"c", SQL_NO_NULLS), SQL_NO_NULLS), 0);
    specialKeepFirstIndex(&rows.array);
    ASSERT_EQ(specialColumns(rows), std::vector<std::u16string>{u"c"});
    auto* r = rows.at<SpecialRowInfo>(0);
    EXPECT_EQ(num(r->cell(1)), SQL_SCOPE_SESSION);
    EXPECT_EQ(text(r->cell(4)), u"int");
    EXPECT_EQ(num(r->cell(5)), 10);
    EXPECT_EQ(num(r->cell(8)), SQL_PC_NOT_PSEUDO);
    SpecialRowInfo blank;
    EXPECT_TRUE(isNull(blank.cell(5)));
    EXPECT_TRUE(isNull(blank.cell(6)));
    EXPECT_TRUE(isNull(blank.cell(7)));
}

TEST(CatalogKeyRows, KeySequenceOrderAndDeleteRuleByVersion)
{
    Rows rows;
    for (int16_t seq : {2, 1, 3}) {
        auto* r = new PrimaryRowInfo;
        r->keySeq = seq;
        ASSERT_EQ(rows.array.append(r), 0);
    }
    rows.sort();
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(num(rows.at<PrimaryRowInfo>(i)->cell(5)), int32_t(i + 1));

    ForeignRowInfo fk;
    fk.updateRule = SQL_RESTRICT;
    fk.deleteRule = SQL_RESTRICT;
    EXPECT_EQ(num(fk.cell(10, false)), SQL_RESTRICT);
    EXPECT_EQ(num(fk.cell(11, false)), SQL_NO_ACTION);
    fk.deleteRule = SQL_NO_ACTION;
    EXPECT_EQ(num(fk.cell(11, true)), SQL_RESTRICT);
    fk.deleteRule = SQL_CASCADE;
    EXPECT_EQ(num(fk.cell(11, true)), SQL_CASCADE);
    ForeignRowInfo unread;
    EXPECT_TRUE(isNull(unread.cell(10, false)));
    EXPECT_TRUE(isNull(unread.cell(11, false)));
    EXPECT_TRUE(isNull(unread.cell(14, false)));
}

TEST(CatalogKeyRows, ForeignKeysByPrimaryThenForeignTable)
{
    struct Key {
        const char16_t* pkTable;
        const char16_t* fkTable;
        int16_t seq;
    } keys[] = {{u"p", u"orders", 2}, {u"p", u"lines", 1}, {u"p", u"orders", 1}, {u"a", u"zeta", 1}};
    Rows rows;
    for (const Key& k : keys) {
        auto* r = new ForeignRowInfo;
        r->pkTableName = dup(k.pkTable);
        r->fkTableName = dup(k.fkTable);
        r->keySeq = k.seq;
        ASSERT_EQ(rows.array.append(r), 0);
    }
    rows.sort();
    std::vector<std::u16string> got;
    for (size_t i = 0; i < rows.array.count; ++i) {
        auto* r = rows.at<ForeignRowInfo>(i);
        got.push_back(text(r->cell(3, false)) + u"." + text(r->cell(7, false)) +
                      char16_t(u'0' + num(r->cell(9, false))));
    }
    EXPECT_EQ(got, (std::vector<std::u16string>{u"a.zeta1", u"p.lines1", u"p.orders1", u"p.orders2"}));
}

ProcColsRowInfo* procColumn(const char16_t* proc, const char16_t* column, int16_t columnType, uint32_t ordinal = 0)
{
    auto* r = new ProcColsRowInfo;
    r->procedureName = dup(proc);
    r->columnName = dup(column);
    r->columnType = columnType;
    r->ordinalKey = ordinal;
    return r;
}

std::vector<std::u16string> procOrder(Rows& rows)
{
    ProcColumnSettings s;
    std::vector<std::u16string> got;
    for (size_t i = 0; i < rows.array.count; ++i) {
        auto* r = rows.at<ProcColsRowInfo>(i);
        got.push_back(text(r->cell(3, s)) + u"." + text(r->cell(4, s)) + char16_t(u'0' + num(r->cell(18, s))));
    }
    return got;
}

TEST(CatalogProcedureRows, NumberingWithoutOrdinalsAndTheOrder)
{
    Rows rows;
    ProcColumnCounter counter;
    for (auto* r : {procColumn(u"p", u"rc", SQL_RETURN_VALUE), procColumn(u"p", u"in", SQL_PARAM_INPUT),
                    procColumn(u"p", u"out", SQL_PARAM_OUTPUT), procColumn(u"p", u"col", SQL_RESULT_COL)}) {
        counter.number(r);
        ASSERT_EQ(rows.array.append(r), 0);
    }
    rows.sort();
    EXPECT_EQ(procOrder(rows), (std::vector<std::u16string>{u"p.rc0", u"p.in1", u"p.out2", u"p.col3"}));
}

TEST(CatalogProcedureRows, InterleavedProceduresRestartTheCounter)
{
    Rows rows;
    ProcColumnCounter counter;
    for (auto* r : {procColumn(u"q", u"x", SQL_PARAM_INPUT), procColumn(u"p", u"a", SQL_PARAM_INPUT),
                    procColumn(u"q", u"y", SQL_PARAM_INPUT), procColumn(u"q", u"z", SQL_RESULT_COL),
                    procColumn(u"p", u"b", SQL_PARAM_INPUT, 7)}) {
        counter.number(r);
        ASSERT_EQ(rows.array.append(r), 0);
    }
    rows.sort();
    // x and y both get 1: the sort leaves such twins in no fixed order.
    std::vector<std::u16string> got = procOrder(rows);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], u"p.a1");
    EXPECT_EQ(got[1], u"p.b7");
    EXPECT_TRUE((got[2] == u"q.x1" && got[3] == u"q.y1") || (got[2] == u"q.y1" && got[3] == u"q.x1"));
    EXPECT_EQ(got[4], u"q.z2");
}

TEST(CatalogProcedureRows, DerivedColumnsByType)
{
    ProcColumnSettings s;
    ProcColsRowInfo interval;
    interval.dataType = SQL_INTERVAL_DAY_TO_SECOND;
    EXPECT_EQ(num(interval.cell(15, s)), SQL_INTERVAL);
    EXPECT_EQ(num(interval.cell(16, s)), 10);
    EXPECT_TRUE(isNull(interval.cell(17, s)));

    ProcColsRowInfo varchar;
    varchar.dataType = SQL_VARCHAR;
    varchar.columnSize = 40;
    varchar.decimalDigits = 3;
    EXPECT_TRUE(isNull(varchar.cell(10, s))) << "a VARCHAR has no decimal digits";
    EXPECT_EQ(num(varchar.cell(8, s)), 40);
    EXPECT_EQ(num(varchar.cell(17, s)), 40);
    EXPECT_TRUE(isNull(varchar.cell(11, s)));

    ProcColsRowInfo integer;
    integer.dataType = SQL_INTEGER;
    integer.decimalDigits = 4;
    EXPECT_EQ(num(integer.cell(10, s)), 0);
    EXPECT_EQ(num(integer.cell(8, s)), 10);
    EXPECT_EQ(num(integer.cell(9, s)), 4);

    ProcColsRowInfo date;
    date.dataType = SQL_TYPE_DATE;
    EXPECT_EQ(num(date.cell(6, s)), SQL_TYPE_DATE);
    ProcColumnSettings odbc2;
    odbc2.odbc2 = true;
    EXPECT_EQ(num(date.cell(6, odbc2)), SQL_DATE);
    EXPECT_EQ(num(date.cell(15, odbc2)), SQL_DATETIME);

    struct Case {
        int16_t nullable;
        const char16_t* expected;
    } cases[] = {{SQL_NO_NULLS, u"NO"}, {SQL_NULLABLE, u"YES"}, {SQL_NULLABLE_UNKNOWN, u""}};
    for (const Case& c : cases) {
        ProcColsRowInfo r;
        r.nullable = c.nullable;
        ASSERT_TRUE(r.defaultIsNullable());
        EXPECT_EQ(text(r.cell(19, s)), c.expected);
    }
}

TEST(CatalogProcedureRows, ProceduresBySchemaThenName)
{
    Rows rows;
    const char16_t* names[][2] = {{u"s2", u"a"}, {u"s1", u"b"}, {nullptr, u"z"}, {u"s1", u"a"}};
    for (auto& n : names) {
        auto* r = new ProcsRowInfo;
        r->procedureSchem = dup(n[0]);
        r->procedureName = dup(n[1]);
        ASSERT_EQ(rows.array.append(r), 0);
    }
    rows.sort();
    std::vector<std::u16string> got;
    for (size_t i = 0; i < rows.array.count; ++i)
        got.push_back(text(rows.at<ProcsRowInfo>(i)->cell(3)));
    EXPECT_EQ(got, (std::vector<std::u16string>{u"z", u"a", u"b", u"a"}));
    EXPECT_TRUE(isNull(rows.at<ProcsRowInfo>(0)->cell(4)));
    EXPECT_EQ(num(rows.at<ProcsRowInfo>(0)->cell(8)), 0);
}

TEST(CatalogPrivilegeRows, OrderAllAndTheSystemGrantor)
{
    EXPECT_TRUE(privilegeIsAll(u(u"ALL")));
    EXPECT_FALSE(privilegeIsAll(u(u"all")));
    EXPECT_FALSE(privilegeIsAll(nullptr));

    Rows rows;
    const char16_t* grants[][2] = {{u"c", u"UPDATE"}, {u"b", u"SELECT"}, {u"c", u"INSERT"}};
    for (auto& g : grants) {
        auto* r = new ColPrivsRowInfo;
        *r->field(2) = dup(u"s");
        *r->field(4) = dup(g[0]);
        *r->field(5) = dup(u"owner");
        *r->field(6) = dup(u"s");
        *r->field(kColumnPrivilegesPrivilegeColumn) = dup(g[1]);
        ASSERT_TRUE(r->markSystemGrantor());
        ASSERT_EQ(rows.array.append(r), 0);
    }
    rows.sort();
    std::vector<std::u16string> got;
    for (size_t i = 0; i < rows.array.count; ++i) {
        auto* r = rows.at<ColPrivsRowInfo>(i);
        got.push_back(text(r->cell(4)) + u":" + text(r->cell(7)));
        EXPECT_EQ(text(r->cell(5)), u"_SYSTEM");
    }
    EXPECT_EQ(got, (std::vector<std::u16string>{u"b:SELECT", u"c:INSERT", u"c:UPDATE"}));

    ColPrivsRowInfo other;
    *other.field(2) = dup(u"s");
    *other.field(5) = dup(u"owner");
    *other.field(6) = dup(u"someone");
    ASSERT_TRUE(other.markSystemGrantor());
    EXPECT_EQ(text(other.cell(5)), u"owner");
    EXPECT_TRUE(isNull(other.cell(1)));
    EXPECT_EQ(other.field(9), nullptr);

    Rows tables;
    const char16_t* tgrants[][3] = {
        {u"t2", u"DELETE", u"bob"}, {u"t1", u"UPDATE", u"bob"}, {u"t1", u"DELETE", u"zed"}, {u"t1", u"DELETE", u"amy"}};
    for (auto& g : tgrants) {
        auto* r = new TablePrivsRowInfo;
        *r->field(3) = dup(g[0]);
        *r->field(5) = dup(g[2]);
        *r->field(kTablePrivilegesPrivilegeColumn) = dup(g[1]);
        ASSERT_EQ(tables.array.append(r), 0);
    }
    tables.sort();
    std::vector<std::u16string> tgot;
    for (size_t i = 0; i < tables.array.count; ++i) {
        auto* r = tables.at<TablePrivsRowInfo>(i);
        tgot.push_back(text(r->cell(3)) + u":" + text(r->cell(6)) + u":" + text(r->cell(5)));
    }
    EXPECT_EQ(tgot,
              (std::vector<std::u16string>{u"t1:DELETE:amy", u"t1:DELETE:zed", u"t1:UPDATE:bob", u"t2:DELETE:bob"}));
}

}  // namespace
