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
    HiveOperationStatus op;
    ASSERT_EQ(0, comm.getOperationStatus(&op));
    const int32_t state = op.state;
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
        {0, HIVE_TYPE_BOOLEAN},  {3, HIVE_TYPE_INT},     {7, HIVE_TYPE_STRING},  {8, HIVE_TYPE_TIMESTAMP},
        {15, HIVE_TYPE_DECIMAL}, {16, HIVE_TYPE_NULL},   {17, HIVE_TYPE_DATE},   {19, HIVE_TYPE_CHAR},
        {20, HIVE_TYPE_STRING},  {21, HIVE_TYPE_STRING}, {22, HIVE_TYPE_STRING}, {99, HIVE_TYPE_STRING},
        {-1, HIVE_TYPE_STRING},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.code, comm.typeCodeOfTypeId(c.id)) << c.id;
}

TEST_F(CallsTest, WithoutAnOperationNothingIsSent)
{
    HiveOperationStatus op;
    ASSERT_EQ(0, comm.getOperationStatus(&op));
    const int32_t state = op.state;
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

namespace {

// A reply as a tree of fields, so that any field the protocol requires can
// be left out or given another type.
struct Field {
    uint8_t type;
    int16_t id;
    // "TStruct.field" when TCLIService requires the field; empty otherwise.
    std::string required;
    // A plain value's bytes; a struct's fields; a list's struct elements.
    std::string value;
    std::vector<Field> fields;
    std::vector<std::vector<Field>> elements;
};

Field plain(uint8_t type, int16_t id, const std::string& required, const std::string& value)
{
    return {type, id, required, value, {}, {}};
}
Field branch(int16_t id, const std::string& required, std::vector<Field> fields)
{
    return {HIVE_T_STRUCT, id, required, "", std::move(fields), {}};
}
Field structList(int16_t id, const std::string& required, std::vector<std::vector<Field>> elements)
{
    return {HIVE_T_LIST, id, required, "", {}, std::move(elements)};
}

// What becomes of the field numbered damaged among the required ones.
enum class Damage { None, Drop, Retype };

struct Encoder {
    int damaged = -1;
    Damage damage = Damage::None;
    int seen = 0;
    std::string damagedName;

    void fields(TB& out, const std::vector<Field>& list)
    {
        for (const Field& f : list)
            field(out, f);
        out.stop();
    }
    void field(TB& out, const Field& f)
    {
        if (!f.required.empty() && seen++ == damaged) {
            damagedName = f.required;
            if (damage == Damage::Drop)
                return;
            // Another type under the same id, with a value of that type:
            // a reader passes it as a field it does not know.
            if (f.type == HIVE_T_STRING)
                out.field(HIVE_T_I32, f.id).i32(7);
            else
                out.field(HIVE_T_STRING, f.id).str("x");
            return;
        }
        out.field(f.type, f.id);
        if (f.type == HIVE_T_STRUCT) {
            fields(out, f.fields);
        } else if (f.type == HIVE_T_LIST && f.value.empty()) {
            out.i8(HIVE_T_STRUCT).i32(int32_t(f.elements.size()));
            for (const std::vector<Field>& e : f.elements)
                fields(out, e);
        } else {
            out.raw(f.value);
        }
    }
    std::string reply(const std::string& method, const std::vector<Field>& response)
    {
        TB out;
        out.msg(2, method).field(HIVE_T_STRUCT, 0);
        fields(out, response);
        out.stop();
        return katest::frame(out.s);
    }
};

int requiredCount(const std::vector<Field>& list)
{
    int n = 0;
    for (const Field& f : list) {
        n += f.required.empty() ? 0 : 1;
        n += requiredCount(f.fields);
        for (const std::vector<Field>& e : f.elements)
            n += requiredCount(e);
    }
    return n;
}

const std::string kGuid(16, '\x11');

Field status()
{
    return branch(1, "status", {plain(HIVE_T_I32, 1, "TStatus.statusCode", TB().i32(0).s)});
}

std::vector<Field> executeResponse()
{
    std::vector<Field> r = {
        status(),
        branch(
            2, "",
            {branch(1, "TOperationHandle.operationId",
                    {plain(HIVE_T_STRING, 1, "", TB().str(kGuid).s), plain(HIVE_T_STRING, 2, "", TB().str(kGuid).s)}),
             plain(HIVE_T_I32, 2, "TOperationHandle.operationType", TB().i32(0).s),
             plain(HIVE_T_BOOL, 3, "TOperationHandle.hasResultSet", TB().i8(1).s)}),
    };
    r[0].required = "TExecuteStatementResp.status";
    return r;
}

// A column described as a decimal with its qualifiers, typeId and
// qualifiers as given.
std::vector<Field> columnDesc(const std::string& name, int32_t typeId, const std::string& qualifiers)
{
    std::vector<Field> entry = {plain(HIVE_T_I32, 1, "TPrimitiveTypeEntry.type", TB().i32(typeId).s)};
    if (!qualifiers.empty())
        entry.push_back(branch(2, "", {plain(HIVE_T_MAP, 1, "TTypeQualifiers.qualifiers", qualifiers)}));
    return {
        plain(HIVE_T_STRING, 1, "TColumnDesc.columnName", TB().str(name).s),
        branch(2, "TColumnDesc.typeDesc", {structList(1, "TTypeDesc.types", {{branch(1, "", entry)}})}),
        plain(HIVE_T_I32, 3, "TColumnDesc.position", TB().i32(1).s),
    };
}

std::string qualifierMap(const std::vector<std::pair<std::string, int32_t>>& entries)
{
    TB out;
    out.i8(HIVE_T_STRING).i8(HIVE_T_STRUCT).i32(int32_t(entries.size()));
    for (const auto& [key, v] : entries)
        out.str(key).field(HIVE_T_I32, 1).i32(v).stop();
    return out.s;
}

std::vector<Field> metadataResponse(std::vector<std::vector<Field>> columns)
{
    std::vector<Field> r = {status(), branch(2, "", {structList(1, "TTableSchema.columns", std::move(columns))})};
    r[0].required = "TGetResultSetMetadataResp.status";
    return r;
}

// One TI32Value in a TColumnValue union.
std::vector<Field> i32Value(int32_t v)
{
    return {branch(4, "", {plain(HIVE_T_I32, 1, "", TB().i32(v).s)})};
}

std::vector<Field> fetchRowsResponse(std::vector<std::vector<Field>> rows)
{
    std::vector<Field> r = {
        status(),
        plain(HIVE_T_BOOL, 2, "", TB().i8(0).s),
        branch(3, "",
               {plain(HIVE_T_I64, 1, "TRowSet.startRowOffset", TB().i64(0).s),
                structList(2, "TRowSet.rows", std::move(rows))}),
    };
    r[0].required = "TFetchResultsResp.status";
    return r;
}

std::vector<Field> fetchColumnsResponse()
{
    std::vector<Field> r = {
        status(),
        branch(3, "",
               {plain(HIVE_T_I64, 1, "TRowSet.startRowOffset", TB().i64(0).s), structList(2, "TRowSet.rows", {}),
                structList(
                    3, "",
                    {{branch(4, "",
                             {plain(HIVE_T_LIST, 1, "TI32Column.values", TB().i8(HIVE_T_I32).i32(2).i32(1).i32(2).s),
                              plain(HIVE_T_STRING, 2, "", TB().i32(0).s)})}})}),
    };
    r[0].required = "TFetchResultsResp.status";
    return r;
}

// A response of its status and the fields given.
std::vector<Field> statusResponse(const std::string& name, std::vector<Field> more)
{
    std::vector<Field> r = {status()};
    r[0].required = name + ".status";
    r.insert(r.end(), more.begin(), more.end());
    return r;
}

class DamagedRepliesTest : public CallsTest {
protected:
    // Serves the reply and runs the call that reads it; 0 or 1.
    int run(const std::string& method, const std::string& reply)
    {
        wire.chunks.clear();
        conn.readBuffer.resetFrame();
        wire.serveIn(reply, 7);
        int32_t status = 0;
        int32_t hasResultSet = 0;
        double rowCount = 0;
        uint32_t rows = 0;
        int32_t more = 0;
        HiveOperationStatus op;
        if (method == "ExecuteStatement")
            return comm.readExecuteStatementReply(&status, &hasResultSet, &rowCount);
        if (method == "GetResultSetMetadata")
            return comm.getResultSetMetadata(150000, -1, &columns);
        // Both calls need an operation to ask about.
        comm.operationHandle[0] = HIVE_T_STRING;
        if (method == "GetOperationStatus")
            return comm.getOperationStatus(&op);
        if (method == "CloseOperation")
            return comm.closeOperation();
        return comm.readFetchResultsReply(&rows, &more);
    }
    // The call refuses the reply with a link failure whose text holds words
    // (a call may add its own record after it).
    void expectRefused(const std::string& method, const std::string& reply, const std::string& words)
    {
        const size_t before = diags.size();
        EXPECT_EQ(1, run(method, reply));
        std::string all;
        bool found = false;
        for (size_t i = before; i < diags.size(); ++i) {
            all += diags.text(i) + "\n";
            found = found ||
                    (diags.index(i) == MSG_SQLSTATE_LINK_FAILURE && diags.text(i).find(words) != std::string::npos &&
                     diags.text(i).find("does not follow the Thrift protocol") != std::string::npos);
        }
        EXPECT_TRUE(found) << all;
    }

    Columns columns;
};

TEST_F(DamagedRepliesTest, EachRequiredFieldLeftOutOrRetypedIsNamedAsMissing)
{
    const std::string decimal = qualifierMap({{"precision", 10}, {"scale", 2}});
    struct Reply {
        const char* method;
        std::vector<Field> response;
    };
    const Reply replies[] = {
        {"ExecuteStatement", executeResponse()},
        {"GetResultSetMetadata", metadataResponse({columnDesc("price", 15, decimal)})},
        {"FetchResults", fetchRowsResponse({{structList(1, "", {i32Value(1)})}})},
        {"FetchResults", fetchColumnsResponse()},
        {"GetOperationStatus", statusResponse("TGetOperationStatusResp", {plain(HIVE_T_I32, 2, "", TB().i32(2).s)})},
        {"CloseOperation", statusResponse("TCloseOperationResp", {})},
    };
    for (const Reply& r : replies) {
        SCOPED_TRACE(r.method);
        // Whole, the reply is read.
        Encoder whole;
        EXPECT_EQ(0, run(r.method, whole.reply(r.method, r.response))) << diags.text(diags.size() - 1);
        const int n = requiredCount(r.response);
        ASSERT_GT(n, 0);
        for (int i = 0; i < n; ++i) {
            for (Damage d : {Damage::Drop, Damage::Retype}) {
                Encoder damaged;
                damaged.damaged = i;
                damaged.damage = d;
                const std::string reply = damaged.reply(r.method, r.response);
                SCOPED_TRACE(damaged.damagedName + (d == Damage::Drop ? " dropped" : " retyped"));
                if (d == Damage::Retype && damaged.damagedName.rfind("TStatus.", 0) == 0) {
                    // A status field of another type is refused as such.
                    const size_t before = diags.size();
                    EXPECT_EQ(1, run(r.method, reply));
                    ASSERT_LT(before, diags.size());
                    EXPECT_EQ("Protocol error.", diags.text(before));
                    continue;
                }
                expectRefused(r.method, reply, damaged.damagedName + " missing");
            }
        }
    }
}

TEST_F(DamagedRepliesTest, OptionalFieldsMayBeLeftOut)
{
    // An execute may answer without an operation handle; a type needs no
    // qualifiers.
    std::vector<Field> bare = {branch(1, "", {plain(HIVE_T_I32, 1, "", TB().i32(0).s)})};
    Encoder e;
    EXPECT_EQ(0, run("ExecuteStatement", e.reply("ExecuteStatement", bare)));
    EXPECT_EQ(0,
              run("GetResultSetMetadata", e.reply("GetResultSetMetadata", metadataResponse({columnDesc("n", 3, "")}))));
    // A column comment, an optional field of TColumnDesc, is passed.
    std::vector<Field> commented = columnDesc("n", 3, "");
    commented.push_back(plain(HIVE_T_STRING, 4, "", TB().str("a comment").s));
    EXPECT_EQ(0, run("GetResultSetMetadata", e.reply("GetResultSetMetadata", metadataResponse({commented}))));
    EXPECT_EQ(0u, diags.size()) << diags.text(0);
}

TEST_F(DamagedRepliesTest, ASuccessWithoutItsSchemaOrRowSetIsRefused)
{
    // Metadata and rows are asked only of a result set: a reply that
    // succeeds without them leaves the result unknown, not empty.
    auto statusOf = [](int32_t code) {
        return std::vector<Field>{branch(1, "", {plain(HIVE_T_I32, 1, "", TB().i32(code).s)})};
    };
    std::vector<Field> columnsDropped = fetchColumnsResponse();
    columnsDropped[1].fields.pop_back();
    struct Case {
        const char* method;
        std::vector<Field> response;
        int32_t style;
        const char* words;
    };
    const Case cases[] = {
        {"GetResultSetMetadata", statusOf(HIVE_STATUS_SUCCESS), HIVE_RESULT_COLUMN_WISE,
         "TGetResultSetMetadataResp.schema missing"},
        {"GetResultSetMetadata", statusOf(HIVE_STATUS_SUCCESS_WITH_INFO), HIVE_RESULT_ROW_WISE,
         "TGetResultSetMetadataResp.schema missing"},
        {"FetchResults", statusOf(HIVE_STATUS_SUCCESS), HIVE_RESULT_ROW_WISE, "TFetchResultsResp.results missing"},
        {"FetchResults", statusOf(HIVE_STATUS_SUCCESS), HIVE_RESULT_COLUMN_WISE, "TFetchResultsResp.results missing"},
        {"FetchResults", columnsDropped, HIVE_RESULT_COLUMN_WISE, "TRowSet.columns missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        conn.readBuffer.resultStyle = c.style;
        Encoder e;
        expectRefused(c.method, e.reply(c.method, c.response), c.words);
    }
    // Without a failed status neither is due; a row-wise block of no rows
    // has no columns list and ends the rows.
    for (int32_t code : {HIVE_STATUS_ERROR, HIVE_STATUS_INVALID_HANDLE}) {
        for (const char* method : {"GetResultSetMetadata", "FetchResults"}) {
            SCOPED_TRACE(std::string(method) + " " + std::to_string(code));
            const size_t before = diags.size();
            Encoder e;
            static_cast<void>(run(method, e.reply(method, statusOf(code))));
            for (size_t i = before; i < diags.size(); ++i)
                EXPECT_EQ(std::string::npos, diags.text(i).find("missing")) << diags.text(i);
        }
    }
    conn.readBuffer.resultStyle = HIVE_RESULT_ROW_WISE;
    Encoder e;
    uint32_t rows = 7;
    int32_t more = 7;
    wire.chunks.clear();
    conn.readBuffer.resetFrame();
    wire.serveIn(e.reply("FetchResults", fetchRowsResponse({})), 7);
    EXPECT_EQ(0, comm.readFetchResultsReply(&rows, &more));
    EXPECT_EQ(0u, rows);
    EXPECT_EQ(0, more);
}

TEST_F(DamagedRepliesTest, BytesLeftInTheFrameAfterTheReplyAreRefused)
{
    // A list whose count was lowered still parses: what the server meant
    // is found only in the bytes its frame still holds after the message.
    auto padded = [](const std::string& framed, size_t extra) {
        return katest::frame(framed.substr(4) + std::string(extra, '\0'));
    };
    struct Reply {
        const char* method;
        std::vector<Field> response;
    };
    const Reply replies[] = {
        {"ExecuteStatement", executeResponse()},
        {"GetResultSetMetadata", metadataResponse({columnDesc("n", 3, "")})},
        {"GetOperationStatus", statusResponse("TGetOperationStatusResp", {plain(HIVE_T_I32, 2, "", TB().i32(2).s)})},
        {"CloseOperation", statusResponse("TCloseOperationResp", {})},
        {"FetchResults", fetchRowsResponse({})},
    };
    HiveNetReadBuffer& in = conn.readBuffer;
    for (const Reply& r : replies) {
        for (size_t extra : {1u, 40u}) {
            SCOPED_TRACE(std::string(r.method) + " " + std::to_string(extra));
            in.failed = 0;
            Encoder e;
            const std::string whole = e.reply(r.method, r.response);
            EXPECT_EQ(0, run(r.method, padded(whole, 0))) << diags.text(diags.size() - 1);
            expectRefused(r.method, padded(whole, extra), std::to_string(extra) + " bytes after the reply's message");
            // The wire is out of step: the next call is refused.
            EXPECT_NE(0, in.failed);
        }
    }
    // The end of a block of rows, read as the rows are stepped through.
    in.failed = 0;
    Encoder e;
    const std::string rows = e.reply("FetchResults", fetchRowsResponse({{structList(1, "", {i32Value(1)})}}));
    for (size_t extra : {0u, 3u}) {
        SCOPED_TRACE(extra);
        ASSERT_EQ(0, run("FetchResults", padded(rows, extra)));
        ASSERT_EQ(0, in.skip(HIVE_T_STRUCT));
        ASSERT_EQ(0, comm.skipByte());
        const size_t before = diags.size();
        EXPECT_EQ(extra == 0 ? 0 : 1, comm.endReply());
        if (extra != 0) {
            ASSERT_LT(before, diags.size());
            EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, diags.index(before));
            EXPECT_NE(std::string::npos, diags.text(before).find("3 bytes after the reply's message"));
        }
    }
}

TEST_F(DamagedRepliesTest, TypesAndQualifiersOutOfRangeAreRefused)
{
    struct Case {
        int32_t typeId;
        std::vector<std::pair<std::string, int32_t>> qualifiers;
        const char* words;
    };
    const Case cases[] = {
        {-1, {}, "type id outside TTypeId"},
        {23, {}, "type id outside TTypeId"},
        {0x10000003, {}, "type id outside TTypeId"},
        {15, {{"precision", 0}, {"scale", 0}}, "decimal precision out of range"},
        {15, {{"precision", 39}, {"scale", 2}}, "decimal precision out of range"},
        {15, {{"precision", 10}, {"scale", 11}}, "decimal scale out of range"},
        {15, {{"scale", 11}, {"precision", 10}}, "decimal scale out of range"},
        {15, {{"precision", 10}, {"scale", -1}}, "negative type qualifier"},
        {18, {{"characterMaximumLength", 0}}, "character length out of range"},
        {19, {{"characterMaximumLength", 70000}}, "character length out of range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.typeId) + " " + c.words);
        Encoder e;
        const std::string q = c.qualifiers.empty() ? "" : qualifierMap(c.qualifiers);
        expectRefused("GetResultSetMetadata",
                      e.reply("GetResultSetMetadata", metadataResponse({columnDesc("c", c.typeId, q)})), c.words);
    }
    // The edges of the ranges are answers a server gives.
    const Case edges[] = {
        {22, {}, ""},
        {15, {{"precision", 38}, {"scale", 38}}, ""},
        {15, {{"precision", 1}, {"scale", 0}}, ""},
        {18, {{"characterMaximumLength", 65535}}, ""},
        {19, {{"characterMaximumLength", 1}}, ""},
    };
    for (const Case& c : edges) {
        SCOPED_TRACE(c.typeId);
        Encoder e;
        const std::string q = c.qualifiers.empty() ? "" : qualifierMap(c.qualifiers);
        EXPECT_EQ(0, run("GetResultSetMetadata",
                         e.reply("GetResultSetMetadata", metadataResponse({columnDesc("c", c.typeId, q)}))));
    }
}

TEST_F(DamagedRepliesTest, BlocksWhoseColumnCountsDisagreeAreRefused)
{
    Encoder e;
    // Described with one column.
    ASSERT_EQ(0,
              run("GetResultSetMetadata", e.reply("GetResultSetMetadata", metadataResponse({columnDesc("n", 3, "")}))));
    // A first row of two columns.
    expectRefused("FetchResults",
                  e.reply("FetchResults", fetchRowsResponse({{structList(1, "", {i32Value(1), i32Value(2)})}})),
                  "a block of 2 columns for a result described with 1");
    // A column-wise block of two columns.
    std::vector<Field> columnWise = fetchColumnsResponse();
    columnWise[1].fields[2].elements.push_back(columnWise[1].fields[2].elements[0]);
    expectRefused("FetchResults", e.reply("FetchResults", columnWise),
                  "a block of 2 columns for a result described with 1");
    // A later row of another length than the first.
    ASSERT_EQ(0, run("FetchResults",
                     e.reply("FetchResults", fetchRowsResponse({{structList(1, "", {i32Value(1)})},
                                                                {structList(1, "", {i32Value(1), i32Value(2)})}}))));
    HiveNetReadBuffer& in = conn.readBuffer;
    ASSERT_EQ(0, in.skip(HIVE_T_STRUCT));
    ASSERT_EQ(0, comm.skipByte());
    const size_t before = diags.size();
    EXPECT_EQ(1, comm.nextRow());
    ASSERT_LT(before, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, diags.index(before));
    EXPECT_NE(std::string::npos, diags.text(before).find("another number of columns"));
}

}  // namespace

namespace {

TEST_F(CallsTest, AfterAWireFailureNothingMoreIsSentAndEveryCallSaysWhy)
{
    struct Case {
        const char* name;
        std::function<void(katest::FakeWire&)> breakWire;
        const char* words;
    };
    const Case cases[] = {
        {"a request cut short", [](katest::FakeWire& w) { w.failWrites = 1; }, "could not be sent whole"},
        {"a reply cut short",
         [](katest::FakeWire& w) {
             // The header arrives, then the link goes.
             const std::string header = TB().msg(2, "ExecuteStatement").s;
             w.serve(katest::frame(header + std::string(30, '\0')).substr(0, 4 + header.size()));
         },
         "failed in the middle of a reply"},
        {"a frame length refused", [](katest::FakeWire& w) { w.serve(TB().i32(-16).s); }, "could not follow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0, conn.writeBuffer.attach(&conn, &wire));
        ASSERT_EQ(0, conn.readBuffer.attach(&conn, &wire));
        useFrames();
        wire.failWrites = 0;
        wire.chunks.clear();
        memset(comm.operationHandle, 0, sizeof comm.operationHandle);
        c.breakWire(wire);
        const uint16_t text[] = {'S', 'E', 'L', 'E', 'C', 'T', ' ', '1'};
        int32_t status = 0;
        int32_t hasResultSet = 0;
        double rows = 0;
        EXPECT_NE(0,
                  comm.executeStatement(text, 8, 0) || comm.readExecuteStatementReply(&status, &hasResultSet, &rows));
        EXPECT_TRUE(conn.unusable());
        comm.operationHandle[0] = HIVE_T_STRING;
        // Later calls: refused before a byte goes out, each with its record.
        wire.failWrites = 0;
        const int writes = wire.writes;
        for (int call = 0; call < 2; ++call) {
            const size_t before = diags.size();
            EXPECT_EQ(1, comm.requestNextBatch(HIVE_RESULT_ROW_WISE));
            ASSERT_EQ(before + 1, diags.size());
            EXPECT_EQ(MSG_SQLSTATE_LINK_FAILURE, diags.index(before));
            EXPECT_NE(std::string::npos, diags.text(before).find(c.words)) << diags.text(before);
            EXPECT_NE(std::string::npos, diags.text(before).find("must be reconnected")) << diags.text(before);
        }
        // A close has nothing left to do; the handle goes.
        const size_t before = diags.size();
        EXPECT_EQ(0, comm.closeOperation());
        EXPECT_FALSE(comm.hasOperation());
        EXPECT_EQ(before, diags.size());
        EXPECT_EQ(writes, wire.writes);
    }
}

}  // namespace
