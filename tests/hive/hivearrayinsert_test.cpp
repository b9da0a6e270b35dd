// The Hive array insert's own pieces: the VALUES form given back for the
// SQL parser's one-row INSERT ... SELECT, and the ExecuteStatement of a
// batch as Apache Thrift decodes it.
#include "hive/hivearrayinsert.h"

#include <gtest/gtest.h>

#include <string>

#include "fakewire.h"
#include "wiredconn.h"
#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "sql/basesql.h"
#include "sql/hiverewrite.h"
#include "support/diagscope.h"
#include "support/hs2process.h"

namespace {

std::u16string u16(const std::string& ascii)
{
    return {ascii.begin(), ascii.end()};
}

std::string narrow(const KaStringW& text)
{
    return {text.data, text.data + text.len};
}

TEST(HiveInsertValuesText, TheParsersOneRowFormTurnsBackIntoValues)
{
    struct Case {
        std::string application;  // as the application wrote it
        std::string expected;     // the batch template's text
    } cases[] = {
        {"INSERT INTO t VALUES (?, ?)", "INSERT INTO TABLE  t  VALUES (?, ?)"},
        {"insert into db.tab values ('a,b', ?, f(?, 1))", "insert into TABLE  db.tab  VALUES ('a,b', ?, f(?, 1))"},
        {"INSERT INTO TABLE t VALUES (?)", "INSERT INTO TABLE  t  VALUES (?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.application);
        const std::u16string app = u16(c.application);
        BaseSqlStringW text(reinterpret_cast<const uint16_t*>(app.data()), static_cast<int64_t>(app.size()));
        ASSERT_EQ(0, text.makeOwned());
        ASSERT_EQ(0, hivePreprocessSql(text, HiveRewriteOptions{}));
        // The parser did rewrite it.
        ASSERT_NE(std::string::npos, std::string(text.data, text.data + text.len).find("TEMP_ALIAS"));
        KaStringW out;
        ASSERT_EQ(0, hiveInsertValuesText(text.data, text.len, &out));
        EXPECT_EQ(c.expected, narrow(out));
    }
}

TEST(HiveInsertValuesText, OtherTextsAreCopiedAsTheyAre)
{
    const char* texts[] = {
        "INSERT INTO t VALUES (?, ?)",
        // Not the parser's form: the subquery names another table.
        "INSERT INTO TABLE t SELECT ? FROM (SELECT COUNT(*) FROM u) TEMP_ALIAS",
        "SELECT 1 FROM (SELECT COUNT(*) FROM t) TEMP_ALIAS",
        ") TEMP_ALIAS",
        "",
    };
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        const std::u16string text = u16(t);
        KaStringW out;
        ASSERT_EQ(0, hiveInsertValuesText(reinterpret_cast<const uint16_t*>(text.data()), text.size(), &out));
        EXPECT_EQ(t, narrow(out));
    }
}

class BatchMessage : public katest::WiredConnection {
protected:
    void SetUp() override
    {
        WiredConnection::SetUp();
        useFrames();
        const std::string reply =
            katest::runPeer("/usr/bin/python3 " + katest::sourceRoot() + "/tests/hive/thriftpeer.py reply opensession");
        ASSERT_GT(reply.size(), 8u);
        wire.serve(reply);
        int32_t server = 0;
        ASSERT_EQ(0, conn.readOpenSessionReply(&server));
    }
};

TEST_F(BatchMessage, ABatchIsTheSingleRowExecuteStatementWithItsRunAsyncInTheRequest)
{
    const std::string text = "INSERT INTO t VALUES('O\\'Brien','caf\xc3\xa9 \xf0\x9f\x98\x80'),('\\\\','\\u0000')";
    for (int32_t runAsync : {0, 1}) {
        SCOPED_TRACE(runAsync);
        wire.written.clear();
        ASSERT_EQ(0, hiveWriteExecuteUtf8(&conn, text.data(), text.size(), runAsync));
        const std::string decoded = katest::runPeerFed("/usr/bin/python3 " + katest::sourceRoot() +
                                                           "/tests/hive/thriftpeer.py decode ExecuteStatement",
                                                       wire.written, " 2>&1");
        EXPECT_NE(std::string::npos, decoded.find("rest=0")) << decoded;
        EXPECT_NE(std::string::npos, decoded.find(runAsync != 0 ? "runAsync=True" : "runAsync=False")) << decoded;
        EXPECT_NE(std::string::npos, decoded.find("confOverlay={}")) << decoded;
        EXPECT_NE(std::string::npos, decoded.find("statement=\"INSERT INTO t VALUES('O\\\\'Brien','caf\xc3\xa9 "))
            << decoded;
    }
}

}  // namespace
