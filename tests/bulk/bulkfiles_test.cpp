// The shared rules of the bulk file set: names derived from a data file
// name (the same for writer and reader), the LOB numbering and its bound,
// the datatype words both ways, the escaping of description text and the
// quoting of table names put into queries.
#include "bulk/bulkfiles.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/u16.h"

namespace {

TEST(BulkFiles, DescriptionAndLobNamesFollowTheDataFileName)
{
    struct Case {
        const char* data;
        const char* description;
        const char* lob;
    };
    const Case cases[] = {
        {"/data/t.csv", "/data/t.xml", "/data/t_000001.lob"},
        {"/data/t", "/data/t.xml", "/data/t_000001.lob"},
        {"/data/t.a.b", "/data/t.a.xml", "/data/t.a_000001.lob"},
        {"/data.d/t", "/data.d/t.xml", "/data.d/t_000001.lob"},
        {"/data/.hidden", "/data/.hidden.xml", "/data/.hidden_000001.lob"},
        {"rel.csv", "rel.xml", "rel_000001.lob"},
    };
    katest::ErrorScope scope;
    for (const Case& c : cases) {
        char out[KA_BULK_PATH_SIZE];
        ASSERT_EQ(0, bulkDescriptionName(c.data, out));
        EXPECT_STREQ(c.description, out) << c.data;
        ASSERT_EQ(0, bulkLobFileName(c.data, 1, out));
        EXPECT_STREQ(c.lob, out) << c.data;
    }
    char out[KA_BULK_PATH_SIZE];
    ASSERT_EQ(0, bulkLegacyDescriptionName("/d/orders.CSV", out));
    EXPECT_STREQ("/d/orders.xml", out);
    ASSERT_EQ(0, bulkLegacyDescriptionName("/d/orders.csv.bak", out));
    EXPECT_STREQ("/d/orders.csv.bak.xml", out);
}

TEST(BulkFiles, LobNumbersTakeSevenDigitsAndNoMore)
{
    katest::ErrorScope scope;
    char out[KA_BULK_PATH_SIZE];
    ASSERT_EQ(0, bulkLobFileName("t.csv", 999999, out));
    EXPECT_STREQ("t_999999.lob", out);
    ASSERT_EQ(0, bulkLobFileName("t.csv", 1000000, out));
    EXPECT_STREQ("t_1000000.lob", out);
    ASSERT_EQ(0, bulkLobFileName("t.csv", KA_BULK_MAX_LOB_NUMBER, out));
    EXPECT_STREQ("t_9999999.lob", out);
    EXPECT_EQ(1, bulkLobFileName("t.csv", KA_BULK_MAX_LOB_NUMBER + 1, out));
    ASSERT_EQ(1u, scope.size());
    EXPECT_EQ(MSG_BULK_LOB_COUNT_EXCEEDED, scope.native(0));
    // A name that leaves no room for the suffix is refused, not cut.
    std::string longName(KA_BULK_PATH_SIZE - 4, 'n');
    EXPECT_EQ(1, bulkDescriptionName(longName.c_str(), out));
    EXPECT_EQ(MSG_BULK_FILE_NAME_TOO_LONG, scope.native(1));
}

TEST(BulkFiles, DatatypeWordsBothWays)
{
    struct Case {
        int64_t code;
        const char* word;
        const char* signedWord;
    };
    const Case cases[] = {
        {SQL_CHAR, "CHAR", "CHAR"},
        {SQL_WLONGVARCHAR, "UNICODE_LONGVARCHAR", "UNICODE_LONGVARCHAR"},
        {SQL_NUMERIC, "DECIMAL", "DECIMAL"},
        {SQL_FLOAT, "SINGLE_PRECISION", "SINGLE_PRECISION"},
        {SQL_TYPE_TIMESTAMP, "DATETIME", "DATETIME"},
        {SQL_C_ULONG, "INTEGER", "UNSIGNED INTEGER"},
        {SQL_C_SLONG, "INTEGER", "SIGNED INTEGER"},
        {SQL_C_UTINYINT, "TINYINT", "UNSIGNED TINYINT"},
        {SQL_GUID, "GUID", "GUID"},
        {SQL_INTERVAL_DAY_TO_SECOND, "INTERVAL_DAY_TO_SECOND", "INTERVAL_DAY_TO_SECOND"},
        {9999, "UNKNOWN", "UNKNOWN"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.word, bulkDataTypeName(c.code, 0)) << c.code;
        EXPECT_STREQ(c.signedWord, bulkDataTypeName(c.code, 1)) << c.code;
    }
    EXPECT_TRUE(bulkSameDataType(SQL_C_ULONG, SQL_C_SLONG));
    EXPECT_FALSE(bulkSameDataType(SQL_C_ULONG, SQL_C_SBIGINT));
    EXPECT_EQ(SQL_C_UBIGINT, bulkIntegerType(SQL_BIGINT, true));
    EXPECT_EQ(SQL_C_SSHORT, bulkIntegerType(SQL_SMALLINT, false));
    EXPECT_EQ(SQL_VARCHAR, bulkIntegerType(SQL_VARCHAR, true));

    struct Word {
        const char16_t* text;
        bool found;
        int64_t code;
    };
    const Word words[] = {
        {u"varchar", true, SQL_VARCHAR},
        {u"UNSIGNED_INTEGER", true, SQL_C_ULONG},
        {u"Double_Precision", true, SQL_DOUBLE},
        {u"UNKNOWN", false, 0},
        {u"IN", false, 0},
        {u"VARCHARS", false, 0},
    };
    for (const Word& w : words) {
        std::u16string text = w.text;
        int64_t code = 0;
        EXPECT_EQ(w.found, bulkDataTypeFromWord(reinterpret_cast<const uint16_t*>(text.data()), text.size(), &code))
            << katest::narrow(text);
        if (w.found) {
            EXPECT_EQ(w.code, code);
        }
    }
}

TEST(BulkFiles, DescriptionTextIsEscaped)
{
    KaString out;
    const char name[] = "a<b & \"c\" 'd'>";
    ASSERT_EQ(0, bulkAppendXmlEscaped(out, name, sizeof name - 1));
    EXPECT_EQ("a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;", std::string(out.data, out.len));
}

// The names a quoted table argument stands for, read the way the server
// reads back-quoted names joined by dots; false when anything else is there.
bool onlyBackQuotedNames(const std::u16string& sql, std::vector<std::u16string>* names)
{
    size_t i = 0;
    while (true) {
        if (i >= sql.size() || sql[i] != u'`')
            return false;
        std::u16string name;
        for (++i;; ++i) {
            if (i >= sql.size())
                return false;
            if (sql[i] == u'`') {
                if (i + 1 < sql.size() && sql[i + 1] == u'`')
                    ++i;
                else
                    break;
            }
            name += sql[i];
        }
        names->push_back(name);
        ++i;
        if (i == sql.size())
            return true;
        if (sql[i] != u'.')
            return false;
        ++i;
    }
}

TEST(BulkFiles, TableNamesAreQuotedPartByPart)
{
    struct Case {
        const char16_t* table;
        const char16_t* quoted;
        std::vector<std::u16string> names;
    };
    const Case cases[] = {
        {u"people", u"`people`", {u"people"}},
        {u"db.people", u"`db`.`people`", {u"db", u"people"}},
        {u"`my.db`.t", u"`my.db`.`t`", {u"my.db", u"t"}},
        {u"\"x\".y", u"`x`.`y`", {u"x", u"y"}},
        {u"\"a\"\"b\".\"c`d\"", u"`a\"b`.`c``d`", {u"a\"b", u"c`d"}},
        {u"a`b", u"`a``b`", {u"a`b"}},
        {u"`a``b`.c", u"`a``b`.`c`", {u"a`b", u"c"}},
        {u"a\"b.c\"", u"`a\"b.c\"`", {u"a\"b.c\""}},
        // Hostile names: whatever follows a closing quote stays inside the
        // name.
        {u"t; DROP TABLE t", u"`t; DROP TABLE t`", {u"t; DROP TABLE t"}},
        {u"`people` UNION SELECT * FROM `people`",
         u"```people`` UNION SELECT * FROM ``people```",
         {u"`people` UNION SELECT * FROM `people`"}},
        {u"`people`--", u"```people``--`", {u"`people`--"}},
        {u"db.`people` WHERE 1=1", u"`db`.```people`` WHERE 1=1`", {u"db", u"`people` WHERE 1=1"}},
        {u"`a`\nDROP TABLE a", u"```a``\nDROP TABLE a`", {u"`a`\nDROP TABLE a"}},
        {u"\"people\" UNION SELECT 1", u"`\"people\" UNION SELECT 1`", {u"\"people\" UNION SELECT 1"}},
        // A back-slash escapes a double quote in the server's strings: the
        // name must not be left in double quotes.
        {u"\"a\\\".x\" UNION SELECT 1 --", u"`a\\`.`x\" UNION SELECT 1 --`", {u"a\\", u"x\" UNION SELECT 1 --"}},
        {u"`unclosed", u"```unclosed`", {u"`unclosed"}},
        {u"`", u"````", {u"`"}},
        {u"t'--", u"`t'--`", {u"t'--"}},
        {u"``", u"``", {u""}},
    };
    for (const Case& c : cases) {
        std::u16string table = c.table;
        KaStringW out;
        ASSERT_EQ(0, bulkQuoteTableName(reinterpret_cast<const uint16_t*>(table.data()), table.size(), out));
        std::u16string quoted(reinterpret_cast<const char16_t*>(out.data), out.len);
        EXPECT_EQ(std::u16string(c.quoted), quoted) << katest::narrow(table);
        std::vector<std::u16string> names;
        EXPECT_TRUE(onlyBackQuotedNames(quoted, &names)) << katest::narrow(table);
        EXPECT_EQ(c.names, names) << katest::narrow(table);
    }
}

}  // namespace
