// The TCLIService calls against Apache Thrift's own Python library: every
// request the driver writes is decoded by it, and the replies it writes
// (with unknown fields of every type, maps, sets, lists and nested structs
// mixed in) are read by the driver; server errors become diagnostics.
#include "hive/hivecommunicator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fakewire.h"
#include "wiredconn.h"
#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "hive/hiveservererror.h"
#include "support/diagscope.h"

namespace {

using katest::frame;
using katest::TB;

std::string peerScript()
{
    return katest::sourceRoot() + "/tests/hive/thriftpeer.py";
}

// The reply Apache Thrift writes for the case.
std::string peerReply(const std::string& name)
{
    return katest::runPeer("/usr/bin/python3 " + peerScript() + " reply " + name);
}

// What Apache Thrift decodes of the framed call.
std::string peerDecode(const std::string& method, const std::string& bytes)
{
    return katest::runPeerFed("/usr/bin/python3 " + peerScript() + " decode " + method, bytes, " 2>&1");
}

struct Column {
    std::string name;
    uint8_t type;
    int32_t first;
    int32_t second;
};

struct Columns : HiveColumnSink {
    uint32_t count = 99;
    std::vector<Column> got;
    int columnCount(uint32_t n) noexcept override
    {
        count = n;
        return 0;
    }
    int column(uint32_t, const char* name, size_t length, uint8_t type, int32_t first, int32_t second) noexcept override
    {
        got.push_back({std::string(name, length), type, first, second});
        return 0;
    }
};

class CallsTest : public katest::WiredConnection {
protected:
    void SetUp() override
    {
        WiredConnection::SetUp();
        useFrames();
    }
    void serve(const std::string& name)
    {
        std::string r = peerReply(name);
        ASSERT_GT(r.size(), 8u) << name;
        wire.serveIn(r, 7);
    }
    void openSession()
    {
        serve("opensession");
        int32_t server = 0;
        ASSERT_EQ(0, conn.readOpenSessionReply(&server));
    }
    void execute()
    {
        serve("execute");
        int32_t status = 0;
        int32_t hasResultSet = 0;
        double rows = 0;
        ASSERT_EQ(0, comm.readExecuteStatementReply(&status, &hasResultSet, &rows));
    }

    HiveCommunicatorHS2 comm{nullptr, &conn};
};

TEST_F(CallsTest, RepliesWithUnknownFieldsOfEveryTypeAreRead)
{
    openSession();
    EXPECT_EQ(1, conn.sessionOpen);
    EXPECT_EQ(0, memcmp(conn.sessionHandle, "\x0C\x00\x01\x0B\x00\x01\x00\x00\x00\x10", 10));
    EXPECT_EQ(0, conn.sessionHandle[10]);
    EXPECT_EQ(15, conn.sessionHandle[25]);
    EXPECT_EQ(0, conn.sessionHandle[49]);

    serve("execute");
    int32_t status = 0;
    int32_t hasResultSet = 0;
    double rows = 0;
    ASSERT_EQ(0, comm.readExecuteStatementReply(&status, &hasResultSet, &rows));
    EXPECT_EQ(HIVE_STATUS_SUCCESS_WITH_INFO, status);
    EXPECT_EQ(1, hasResultSet);
    EXPECT_TRUE(comm.hasOperation());
    EXPECT_EQ(100, comm.operationHandle[30]);
    // The warning the status carried, by its text.
    ASSERT_EQ(1u, diags.size());
    EXPECT_TRUE(diags.warning(0));
    EXPECT_EQ(MSG_SQLSTATE_SYNTAX_ERROR, diags.index(0));

    serve("getinfo");
    char text[32];
    uint8_t kind = 0;
    size_t length = 0;
    ASSERT_EQ(0, comm.getInfo(18, text, sizeof text, &kind, &length));
    EXPECT_STREQ("Apache Hive", text);
    EXPECT_EQ(HIVE_T_STRING, kind);

    serve("opstatus");
    int32_t state = -1;
    ASSERT_EQ(0, comm.getOperationStatus(&state));
    EXPECT_EQ(HIVE_OP_RUNNING, state);

    serve("closeop");
    ASSERT_EQ(0, comm.closeOperation());
    EXPECT_FALSE(comm.hasOperation());
    EXPECT_EQ(1u, diags.size());
}

TEST_F(CallsTest, MetadataGivesNamesTypesAndQualifiersAndRowsPerFetch)
{
    execute();
    serve("metadata");
    Columns cols;
    ASSERT_EQ(0, comm.getResultSetMetadata(150000, -1, &cols));
    ASSERT_EQ(3u, cols.count);
    ASSERT_EQ(3u, cols.got.size());
    EXPECT_EQ("col", cols.got[0].name);
    EXPECT_EQ(HIVE_TYPE_INT, cols.got[0].type);
    EXPECT_EQ(-1, cols.got[0].first);
    EXPECT_EQ("price", cols.got[1].name);
    EXPECT_EQ(HIVE_TYPE_DECIMAL, cols.got[1].type);
    EXPECT_EQ(10, cols.got[1].first);
    EXPECT_EQ(2, cols.got[1].second);
    // An interval type the 20-entry table does not hold comes as text.
    EXPECT_EQ(HIVE_TYPE_STRING, cols.got[2].type);
    EXPECT_EQ(50000, comm.rowsPerFetch);

    serve("metadata");
    ASSERT_EQ(0, comm.getResultSetMetadata(150000, 100, &cols));
    EXPECT_EQ(100, comm.rowsPerFetch);
}

TEST_F(CallsTest, AResultWithoutColumnsHasNoDivisionAndNoColumns)
{
    execute();
    serve("metadata-empty");
    Columns cols;
    ASSERT_EQ(0, comm.getResultSetMetadata(1000, -1, &cols));
    EXPECT_EQ(0u, cols.count);
    EXPECT_TRUE(cols.got.empty());
    EXPECT_GE(comm.rowsPerFetch, 1);
}

TEST_F(CallsTest, FetchedRowsAreSteppedThroughAndTheReplyConsumed)
{
    execute();
    serve("fetch-empty");
    uint32_t rows = 9;
    int32_t more = 9;
    ASSERT_EQ(0, comm.readFetchResultsReply(&rows, &more));
    EXPECT_EQ(0u, rows);
    EXPECT_EQ(0, more);

    serve("fetch-rows");
    ASSERT_EQ(0, comm.readFetchResultsReply(&rows, &more));
    ASSERT_EQ(3u, rows);
    ASSERT_EQ(2, comm.blockColumnCount);
    HiveNetReadBuffer& in = conn.readBuffer;
    for (uint32_t r = 0; r < rows; ++r) {
        if (r > 0) {
            ASSERT_EQ(0, comm.nextRow());
        }
        // The first value: a TColumnValue union holding TI32Value.
        uint8_t t = 0;
        int16_t id = 0;
        ASSERT_EQ(0, in.readFieldBegin(&t, &id));
        ASSERT_EQ(HIVE_T_STRUCT, t);
        ASSERT_EQ(0, in.readFieldBegin(&t, &id));
        ASSERT_EQ(HIVE_T_I32, t);
        int32_t v = -1;
        ASSERT_EQ(0, in.readI32(&v));
        EXPECT_EQ(int32_t(r), v);
        ASSERT_EQ(0, in.skipBytes(2));  // the ends of the value and the union
        ASSERT_EQ(0, in.skip(HIVE_T_STRUCT));
        ASSERT_EQ(0, comm.skipByte());
    }
    ASSERT_EQ(0, comm.endReply());
    EXPECT_EQ(in.frameEnd, in.readPos);
}

TEST_F(CallsTest, ServerErrorsBecomeDiagnosticsWithTheServersText)
{
    serve("opensession-error");
    int32_t server = 0;
    EXPECT_NE(0, conn.readOpenSessionReply(&server));
    EXPECT_EQ(0, conn.sessionOpen);
    ASSERT_EQ(1u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_TABLE_NOT_FOUND, diags.index(0));
    EXPECT_NE(std::string::npos, diags.text(0).find("Table not found: nope"));

    serve("execute-error");
    int32_t status = 0;
    int32_t hasResultSet = 0;
    double rows = 0;
    EXPECT_NE(0, comm.readExecuteStatementReply(&status, &hasResultSet, &rows));
    EXPECT_EQ(HIVE_STATUS_ERROR, status);
    ASSERT_EQ(2u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_SYNTAX_ERROR, diags.index(1));
    EXPECT_FALSE(diags.warning(1));

    serve("exception");
    EXPECT_NE(0, comm.readExecuteStatementReply(&status, &hasResultSet, &rows));
    ASSERT_EQ(3u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_TABLE_NOT_FOUND, diags.index(2));
    EXPECT_NE(std::string::npos, diags.text(2).find("Table not found in catalog"));
}

// A TStatus inside an ExecuteStatement reply, built by hand.
std::string statusReply(const std::string& statusFields)
{
    return frame(TB().msg(HIVE_MSG_REPLY, "ExecuteStatement")
                     .field(HIVE_T_STRUCT, 0)
                     .field(HIVE_T_STRUCT, 1)
                     .raw(statusFields)
                     .stop()
                     .stop()
                     .stop()
                     .s);
}

TEST_F(CallsTest, StatusRecordsWithBadLengthsAreRefused)
{
    struct Case {
        std::string fields;
        uint16_t index;
        uint16_t message;
    } cases[] = {
        // A SQLSTATE of four characters.
        {TB().field(HIVE_T_I32, 1).i32(3).field(HIVE_T_STRING, 3).str("4200").s, MSG_SQLSTATE_GENERAL_ERROR,
         MSG_THRIFT_STATUS_PROTOCOL_ERROR},
        // A message length below -1.
        {TB().field(HIVE_T_I32, 1).i32(3).field(HIVE_T_STRING, 5).i32(-7).s, MSG_SQLSTATE_GENERAL_ERROR,
         MSG_THRIFT_STATUS_PROTOCOL_ERROR},
        // A message far longer than the frame: no allocation of it, and the
        // missing bytes end the reading.
        {TB().field(HIVE_T_I32, 1).i32(3).field(HIVE_T_STRING, 5).i32(0x7FFFFFFF).s, MSG_SQLSTATE_LINK_FAILURE, 0},
        // An error without a message.
        {TB().field(HIVE_T_I32, 1).i32(3).s, MSG_SQLSTATE_GENERAL_ERROR, MSG_SERVER_ERROR_WITHOUT_MESSAGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ASSERT_EQ(0, conn.readBuffer.attach(&conn, &wire));
        conn.readBuffer.framed = 1;
        wire.chunks.clear();
        wire.serve(statusReply(c.fields));
        size_t before = diags.size();
        int32_t status = 0;
        int32_t hasResultSet = 0;
        double rows = 0;
        EXPECT_NE(0, comm.readExecuteStatementReply(&status, &hasResultSet, &rows));
        ASSERT_EQ(before + 1, diags.size());
        EXPECT_EQ(c.index, diags.index(before));
    }
}

TEST_F(CallsTest, RequestsDecodeInApacheThrift)
{
    openSession();
    execute();
    const auto* text = reinterpret_cast<const uint16_t*>(u"SELECT '\u00e9\U0001F600'");
    const auto* any = reinterpret_cast<const uint16_t*>(u"%");
    const int32_t types[7] = {1, 1, 0, 0, 0, 0, 1};
    struct Case {
        const char* method;
        std::function<int()> compose;
        std::vector<std::string> expect;
    } cases[] = {
        {"OpenSession",
         [&] { return conn.writeOpenSession(7, "bob", 3); },
         {"client_protocol=7", "'hive.server2.proxy.user': 'bob'", "seqid=0"}},
        {"CloseSession", [&] { return conn.writeCloseSession(); }, {"seqid=1", "guid=b'\\x00\\x01\\x02"}},
        {"GetResultSetMetadata",
         [&] {
             HiveNetWriteBuffer& w = conn.writeBuffer;
             // Only the request: the reply is not read here.
             return hiveWriteCallBegin(w, "GetResultSetMetadata", 0) || w.writeFieldStop() || w.writeFieldStop() ||
                    w.flush();
         },
         {"rest=0"}},
        {"FetchResults",
         [&] { return comm.requestNextBatch(HIVE_RESULT_ROW_WISE); },
         {"orientation=0", "maxRows=10000", "hasResultSet=True", "operationType=0"}},
        {"FetchResults",
         [&] { return comm.requestNextBatch(HIVE_RESULT_COLUMN_WISE); },
         {"orientation=0", "maxRows=10000", "secret=b'defghijklmnopqrs'"}},
        {"GetInfo", [&] { return 0; }, {"infoType=18"}},
        {"GetTables",
         [&] { return comm.getTables(any, 1, any, 1, types); },
         {"tableTypes=['TABLE', 'MANAGED_TABLE', 'EXTERNAL_TABLE', 'VIEW', 'VIRTUAL_VIEW', "
          "'SYNONYM']",
          "catalogName=''", "schemaName='%'"}},
        {"GetColumns", [&] { return comm.getColumns(any, 1, any, 1, any, 1); }, {"columnName='%'"}},
        {"GetSchemas", [&] { return comm.getSchemas(any, 1); }, {"schemaName='%'"}},
        {"GetTypeInfo", [&] { return comm.getTypeInfo(); }, {"sessionHandle="}},
        // Without an operation to close first, only the request goes out.
        {"ExecuteStatement",
         [&] {
             memset(comm.operationHandle, 0, kHiveOperationHandleBytes);
             return comm.executeStatement(text, 12, 1);
         },
         {"statement=\"SELECT '\xc3\xa9\xf0\x9f\x98\x80'\"", "runAsync=True", "confOverlay={}"}},
        {"ExecuteStatement", [&] { return comm.executeStatement(text, 12, 0); }, {"runAsync=False"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        wire.written.clear();
        if (std::string(c.method) == "GetInfo") {
            // The request only: compose as getInfo does, without its reply.
            HiveNetWriteBuffer& w = conn.writeBuffer;
            ASSERT_EQ(0, hiveWriteCallBegin(w, "GetInfo", 0) || conn.writeSessionHandle(1) ||
                             w.writeFieldBegin(HIVE_T_I32, 2) || w.writeI32(18) || w.writeFieldStop() ||
                             w.writeFieldStop() || w.flush());
        } else {
            ASSERT_EQ(0, c.compose());
        }
        std::string decoded = peerDecode(c.method, wire.written);
        EXPECT_NE(std::string::npos, decoded.find("rest=0")) << decoded;
        EXPECT_NE(std::string::npos, decoded.find("type=1")) << decoded;
        for (const std::string& e : c.expect)
            EXPECT_NE(std::string::npos, decoded.find(e)) << e << "\n" << decoded;
    }
}

TEST_F(CallsTest, TypeIdsMapToTypeCodesAndNewerOnesAreKnown)
{
    struct Case {
        int32_t id;
        uint8_t code;
    } cases[] = {
        {0, HIVE_TYPE_BOOLEAN},  {3, HIVE_TYPE_INT},     {7, HIVE_TYPE_STRING},     {8, HIVE_TYPE_TIMESTAMP},
        {15, HIVE_TYPE_DECIMAL}, {16, HIVE_TYPE_NULL},   {17, HIVE_TYPE_DATE},      {19, HIVE_TYPE_CHAR},
        {20, HIVE_TYPE_STRING},  {21, HIVE_TYPE_STRING}, {22, HIVE_TYPE_STRING}, {99, HIVE_TYPE_STRING},
        {-1, HIVE_TYPE_STRING},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.code, comm.typeCodeOfTypeId(c.id)) << c.id;
}

TEST_F(CallsTest, WithoutAnOperationNothingIsSent)
{
    int32_t state = -1;
    ASSERT_EQ(0, comm.getOperationStatus(&state));
    EXPECT_EQ(HIVE_OP_FINISHED, state);
    ASSERT_EQ(0, comm.closeOperation());
    EXPECT_EQ(0, wire.writes);
}

TEST(ServerErrorText, KeywordsChooseTheSqlstate)
{
    struct Case {
        const char* text;
        uint16_t index;
    } cases[] = {
        {"org.apache.hadoop.hive.ql.parse.parseexception line 1", MSG_SQLSTATE_SYNTAX_ERROR},
        {"Table not found 'x'", MSG_SQLSTATE_TABLE_NOT_FOUND},
        {"Table x already exists", MSG_SQLSTATE_TABLE_EXISTS},
        {"Cannot insert into target table because column number/types are different 'x': "
         "Table insclause-0 has 2 columns, but query has 3 columns.",
         MSG_SQLSTATE_INSERT_VALUE_LIST_MISMATCH},
        {"Cannot insert into target table because column number/types are different", MSG_SQLSTATE_GENERAL_ERROR},
        {"cannot resolve '`x`' given input columns", MSG_SQLSTATE_COLUMN_NOT_FOUND},
        {"Invalid index", MSG_SQLSTATE_INDEX_NOT_FOUND},
        {"org.apache.spark.sql.catalyst.expressions.Foo", MSG_SQLSTATE_SERVER_ANALYSIS_ERROR},
        {"\xc3\xa9t\xc3\xa9 PaRsE ErRoR", MSG_SQLSTATE_SYNTAX_ERROR},
        {"something else", MSG_SQLSTATE_GENERAL_ERROR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.index, hiveServerTextIndex(c.text, strlen(c.text))) << c.text;
    EXPECT_EQ(MSG_SQLSTATE_TABLE_NOT_FOUND, mapHiveErrorCode(10001));
    EXPECT_EQ(MSG_SQLSTATE_COLUMN_NOT_FOUND, mapHiveErrorCode(10004));
    EXPECT_EQ(MSG_SQLSTATE_DEGREE_MISMATCH, mapHiveErrorCode(10089));
    EXPECT_EQ(MSG_SQLSTATE_GENERAL_ERROR, mapHiveErrorCode(40000));
}

}  // namespace
