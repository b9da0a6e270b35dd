// Parameters and data at execution of the statement framework: the checks
// SQLBindParameter and the execute path make of a binding, SQLNumParams and
// SQLDescribeParam, and SQLParamData/SQLPutData in every order an
// application may call them, driven through the test statement, which
// records the values the framework hands over.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/connfixture.h"
#include "support/stmtfixture.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace {

using katest::W;

class Params : public katest::StmtFixture {
protected:
    std::string diagText(size_t i = 0) { return stmt->diagnostics.recordAt(i)->messageA(); }
    int16_t prepare(const char16_t* sql) { return stmt->prepare(W(sql), SQL_NTS); }
    int16_t bindText(uint16_t n, int16_t sqlType, uint64_t size, char* value, SQLLEN* indicator)
    {
        return stmt->bindParameter(n, SQL_PARAM_INPUT, SQL_C_CHAR, sqlType, size, 0, value, 64, indicator);
    }
};

TEST_F(Params, BindingChecksTheIoTypeAndTheOutputRulesOfTheConnection)
{
    ASSERT_EQ(prepare(u"insert into t values (?, ?)"), SQL_SUCCESS);
    char text[16] = "x";
    SQLLEN n = SQL_NTS;
    EXPECT_EQ(stmt->bindParameter(1, 3, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 16, &n), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_INVALID_PARAMETER_TYPE);
    EXPECT_EQ(stmt->bindParameter(0, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 16, &n), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
    // An output buffer of text needs a pointer.
    EXPECT_EQ(stmt->bindParameter(1, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, nullptr, 16, &n), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNullPointer);

    // A connection without output parameters: output is refused, input and
    // output is executed as input and marked so.
    conn->outputParamsSupported = false;
    conn->returnValueSupported = false;
    EXPECT_EQ(stmt->bindParameter(2, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 16, &n), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_INVALID_PARAMETER_TYPE);
    EXPECT_NE(diagText().find("Parameter 2 is bound for output"), std::string::npos) << diagText();
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 16, &n),
              SQL_SUCCESS);
    BaseIPDRecord* rec = stmt->ipd->ipdRecord(1);
    EXPECT_EQ(rec->paramType, SQL_PARAM_INPUT);
    EXPECT_EQ(rec->appParamType, SQL_PARAM_INPUT_OUTPUT);
    EXPECT_TRUE(stmt->nullOutputParams);
    // A buffer length of -1 makes an input parameter, with no check now.
    EXPECT_EQ(stmt->bindParameter(2, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, -1, &n), SQL_SUCCESS);
    EXPECT_EQ(stmt->ipd->ipdRecord(2)->paramType, SQL_PARAM_INPUT);
}

TEST_F(Params, AnInputOutputParameterRunAsInputComesBackNull)
{
    conn->outputParamsSupported = false;
    ASSERT_EQ(prepare(u"insert into t values (?)"), SQL_SUCCESS);
    char text[16] = "in";
    SQLLEN n = SQL_NTS;
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, 16, &n),
              SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 1u);
    EXPECT_EQ(stmt->executions[0][0].bytes, "in");
    EXPECT_EQ(n, SQL_NULL_DATA);
}

// A fixed-size value needs no length buffer: without one it is handed over
// at its type's size, as applications that bind numbers this way expect.
TEST_F(Params, FixedSizeValuesNeedNoLengthBuffer)
{
    ASSERT_EQ(prepare(u"select ? , ? , ?"), SQL_SUCCESS);
    SQLINTEGER i = 42;
    double d = 2.5;
    SQL_DATE_STRUCT date = {2020, 1, 31};
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &d, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(3, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &date, 0, nullptr),
              SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS) << diagText();
    ASSERT_EQ(stmt->executions.size(), 1u);
    ASSERT_EQ(stmt->executions[0].size(), 3u);
    EXPECT_EQ(stmt->executions[0][0].bytes.size(), sizeof i);
    EXPECT_EQ(stmt->executions[0][1].bytes.size(), sizeof d);
    EXPECT_EQ(stmt->executions[0][2].bytes.size(), sizeof date);
}

TEST_F(Params, NumParamsAndDescribeParamAnswerForThePreparedText)
{
    int16_t count = -1;
    ASSERT_EQ(stmt->numParams(&count), SQL_SUCCESS);
    EXPECT_EQ(count, 0);
    SQLSMALLINT type = 0;
    EXPECT_EQ(stmt->describeParam(1, &type, nullptr, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
    ASSERT_EQ(prepare(u"insert into t values (?, ?)"), SQL_SUCCESS);
    ASSERT_EQ(stmt->numParams(&count), SQL_SUCCESS);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(stmt->describeParam(3, &type, nullptr, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
}

// The execute path checks each binding before its value is used.
TEST_F(Params, ABindingThatCannotBeUsedFailsTheExecution)
{
    struct Case {
        int16_t cType;
        int16_t sqlType;
        uint64_t size;
        int16_t digits;
        uint16_t sqlstate;
    } cases[] = {
        {SQL_C_CHAR, SQL_VARCHAR, 0, 0, MSG_SQLSTATE_INVALID_PRECISION_OR_SCALE},
        {SQL_C_CHAR, SQL_DECIMAL, 0, 0, MSG_SQLSTATE_INVALID_PRECISION_OR_SCALE},
        {SQL_C_CHAR, SQL_DECIMAL, 10, -1, MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR},
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 20, 0, MSG_SQLSTATE_INVALID_PRECISION_OR_SCALE},
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 23, 4, MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR},
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 30, 10, MSG_SQLSTATE_INCONSISTENT_DESCRIPTOR},
        {SQL_C_TYPE_DATE, SQL_INTEGER, 0, 0, MSG_SQLSTATE_RESTRICTED_DATA_TYPE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sqlType << " " << c.size << " " << c.digits);
        ASSERT_EQ(prepare(u"insert into t values (?)"), SQL_SUCCESS);
        char value[32] = "2024-01-02 03:04:05";
        SQLLEN n = SQL_NTS;
        ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT, c.cType, c.sqlType, c.size, c.digits, value, 32, &n),
                  SQL_SUCCESS);
        EXPECT_EQ(stmt->execute(), SQL_ERROR);
        ASSERT_GE(stmt->diagnostics.recordCount(), 1u);
        EXPECT_EQ(state(), c.sqlstate);
        EXPECT_TRUE(stmt->executions.empty());
    }
    // A NULL needs no size; whole-second and fraction timestamps pass.
    ASSERT_EQ(prepare(u"insert into t values (?, ?, ?)"), SQL_SUCCESS);
    SQLLEN null = SQL_NULL_DATA;
    char stamp[32] = "2024-01-02 03:04:05.123";
    SQLLEN n = SQL_NTS;
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, nullptr, 0, &null), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 19, 0, stamp, 32, &n),
              SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 23, 3, stamp, 32, &n),
              SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 1u);
    EXPECT_EQ(stmt->executions[0][0].length, SQL_NULL_DATA);
}

// A long value comes in pieces through SQLParamData and SQLPutData and is
// handed over whole; the execution then goes on with the next marker.
TEST_F(Params, DataAtExecutionCollectsPiecesAndExecutes)
{
    ASSERT_EQ(prepare(u"insert into t values (?, ?, ?)"), SQL_SUCCESS);
    char first[8] = "first";
    SQLLEN firstLength = SQL_NTS;
    SQLLEN atExec = SQL_LEN_DATA_AT_EXEC(0);
    SQLLEN atExec2 = SQL_DATA_AT_EXEC;
    int token1 = 1, token2 = 2;
    ASSERT_EQ(bindText(1, SQL_VARCHAR, 10, first, &firstLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 0, 0, &token1, 0, &atExec),
              SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &token2, 0, &atExec2),
              SQL_SUCCESS);
    // Nothing can be put before a parameter was asked for.
    EXPECT_EQ(stmt->putData(const_cast<char*>("x"), 1), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
    EXPECT_EQ(stmt->paramData(nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);

    ASSERT_EQ(stmt->execute(), SQL_NEED_DATA);
    EXPECT_EQ(stmt->statementState, kBaseStmtNeedData);
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, &token1);
    // Three pieces, one of them given as SQL_NTS, larger than the first
    // room the collection gets.
    std::string big(1000, 'b');
    ASSERT_EQ(stmt->putData(const_cast<char*>("a'\\"), 3), SQL_SUCCESS);
    ASSERT_EQ(stmt->putData(big.data(), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->putData(const_cast<char*>("c"), 1), SQL_SUCCESS);
    // A NULL can only be the first piece.
    EXPECT_EQ(stmt->putData(nullptr, SQL_NULL_DATA), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_CONCATENATE_NULL);
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, &token2);
    int32_t number = 42;
    ASSERT_EQ(stmt->putData(&number, 0), SQL_SUCCESS);
    // A value of fixed size comes once.
    EXPECT_EQ(stmt->putData(&number, 0), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_NON_CHARACTER_IN_PIECES);
    ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtExecuted);
    ASSERT_EQ(stmt->executions.size(), 1u);
    const std::vector<katest::TestParam>& got = stmt->executions[0];
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bytes, "first");
    EXPECT_EQ(got[1].marker, 2);
    EXPECT_EQ(got[1].bytes, "a'\\" + big + "c");
    EXPECT_EQ(got[2].marker, 3);
    EXPECT_EQ(got[2].length, 4);
    // SQLParamData now belongs to no execution.
    EXPECT_EQ(stmt->paramData(&token), SQL_ERROR);
}

TEST_F(Params, DataAtExecutionLimitsCountBytesOfTheCType)
{
    // A VARCHAR of 3 characters takes a value of 3 four-byte UTF-8
    // characters; a VARBINARY of 2 bytes takes 4 hexadecimal digits of
    // text, not 5.
    ASSERT_EQ(prepare(u"insert into t values (?, ?)"), SQL_SUCCESS);
    SQLLEN atExec = SQL_DATA_AT_EXEC;
    SQLLEN atExec2 = SQL_DATA_AT_EXEC;
    int t1 = 1, t2 = 2;
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 3, 0, &t1, 0, &atExec), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindParameter(2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARBINARY, 2, 0, &t2, 0, &atExec2), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_NEED_DATA);
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    const std::string faces = "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80";
    ASSERT_EQ(stmt->putData(const_cast<char*>(faces.data()), int64_t(faces.size())), SQL_SUCCESS);
    EXPECT_EQ(stmt->putData(const_cast<char*>("x"), 1), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxRightTruncation);
    EXPECT_NE(diagText().find("exceeds the 12 bytes"), std::string::npos) << diagText();
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    ASSERT_EQ(stmt->putData(const_cast<char*>("AB"), 2), SQL_SUCCESS);
    ASSERT_EQ(stmt->putData(const_cast<char*>("CD"), 2), SQL_SUCCESS);
    EXPECT_EQ(stmt->putData(const_cast<char*>("E"), 1), SQL_ERROR);
    EXPECT_EQ(stmt->putData(const_cast<char*>("E"), -7), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadLength);
    ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 1u);
    EXPECT_EQ(stmt->executions[0][0].bytes, faces);
    EXPECT_EQ(stmt->executions[0][1].bytes, "ABCD");
}

TEST_F(Params, ANullPutAloneMakesTheParameterNull)
{
    ASSERT_EQ(prepare(u"insert into t values (?)"), SQL_SUCCESS);
    SQLLEN atExec = SQL_DATA_AT_EXEC;
    int t1 = 1;
    ASSERT_EQ(stmt->bindParameter(1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0, &t1, 0, &atExec), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_NEED_DATA);
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    ASSERT_EQ(stmt->putData(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
    EXPECT_EQ(stmt->putData(const_cast<char16_t*>(u"x"), 2), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_CONCATENATE_NULL);
    ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 1u);
    EXPECT_EQ(stmt->executions[0][0].length, SQL_NULL_DATA);
}

// In an array of parameter rows bound row-wise, each row asks for its own
// value, and the token points into that row.
TEST_F(Params, DataAtExecutionInAParameterArrayAsksRowByRow)
{
    struct Row {
        int32_t id;
        SQLLEN idLength;
        char tag[4];
        SQLLEN tagLength;
    } rows[3] = {};
    for (int i = 0; i < 3; ++i) {
        rows[i].id = 10 + i;
        rows[i].idLength = 0;
        rows[i].tagLength = SQL_DATA_AT_EXEC;
    }
    ASSERT_EQ(prepare(u"insert into t values (?, ?)"), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<void*>(sizeof(Row)), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(
        stmt->bindParameter(1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &rows[0].id, 0, &rows[0].idLength),
        SQL_SUCCESS);
    ASSERT_EQ(
        stmt->bindParameter(2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, rows[0].tag, 4, &rows[0].tagLength),
        SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_NEED_DATA);
    for (int i = 0; i < 3; ++i) {
        void* token = nullptr;
        ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA) << i;
        EXPECT_EQ(token, rows[i].tag) << i;
        const std::string piece = "row" + std::to_string(i);
        ASSERT_EQ(stmt->putData(const_cast<char*>(piece.data()), int64_t(piece.size())), SQL_SUCCESS);
    }
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(stmt->executions[i].size(), 2u);
        EXPECT_EQ(stmt->executions[i][1].bytes, "row" + std::to_string(i));
    }
}

}  // namespace
