// The fake statement of the framework tests: its driver hooks answer from a
// scripted result held in memory (columns, rows of values, an affected-row
// count), and it records what the framework handed it (prepared texts,
// parameter values, executions). The connection and environment that make
// it serve the driver-manager tests through the driver library's test build.
// Used by the statement tests of tests/odbc and tests/driver.
#pragma once
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/datacvt.h"
#include "foundation/codepage.h"
#include "foundation/ram.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"
#include "sql/basesql.h"
#include "support/testconnection.h"

namespace katest {

// One result column as the driver describes it.
struct TestColumn {
    std::u16string name;
    int16_t sqlType = SQL_VARCHAR;
    uint64_t length = 0;
    int16_t precision = 0;
    int16_t scale = 0;
    int16_t nullable = SQL_NULLABLE;
};

// One value: its bytes in the conversion engine's kind (UTF-8 text, raw
// bytes, or a fixed-size number), or NULL.
struct TestValue {
    bool isNull = true;
    std::string bytes;
    int32_t kind = kBaseKindText;

    static TestValue null() { return {}; }
    static TestValue text(const std::string& utf8) { return {false, utf8, kBaseKindText}; }
    static TestValue binary(const std::string& raw) { return {false, raw, kBaseKindBinary}; }
    static TestValue integer(int32_t v)
    {
        return {false, std::string(reinterpret_cast<const char*>(&v), sizeof v), kBaseKindInteger};
    }
};

// What a text produces: columns and rows, or the rows it affected.
struct TestResult {
    std::vector<TestColumn> columns;
    std::vector<std::vector<TestValue>> rows;
    int64_t affected = 0;
    bool failExecute = false;  // the execution fails with HY000
};

// The results the driver-manager tests run, by text:
//   "select rows N"  N rows of (id INTEGER, name VARCHAR(20), wide
//                    WVARCHAR(20), data VARBINARY(8), note VARCHAR(10) that is
//                    NULL in even rows)
//   "select long N"  one row: a LONGVARCHAR of N characters mixing one- to
//                    four-byte UTF-8 and a LONGVARBINARY of N bytes
//   "fail ..."       the execution fails
//   anything else    no result; one row affected
// Answers false for a text that names a malformed count.
inline bool builtinTestResult(const std::u16string& sql, TestResult* out)
{
    *out = TestResult{};
    auto count = [&sql](size_t at, int64_t* n) {
        *n = 0;
        if (at >= sql.size())
            return false;
        for (size_t i = at; i < sql.size(); ++i) {
            if (sql[i] < u'0' || sql[i] > u'9')
                return false;
            *n = *n * 10 + (sql[i] - u'0');
        }
        return true;
    };
    const std::u16string rows = u"select rows ";
    const std::u16string longs = u"select long ";
    int64_t n = 0;
    if (sql.rfind(rows, 0) == 0) {
        if (!count(rows.size(), &n))
            return false;
        out->columns = {{u"id", SQL_INTEGER, 0, 10, 0, SQL_NO_NULLS},
                        {u"name", SQL_VARCHAR, 20, 0, 0, SQL_NULLABLE},
                        {u"wide", SQL_WVARCHAR, 20, 0, 0, SQL_NULLABLE},
                        {u"data", SQL_VARBINARY, 8, 0, 0, SQL_NULLABLE},
                        {u"note", SQL_VARCHAR, 10, 0, 0, SQL_NULLABLE}};
        for (int64_t i = 1; i <= n; ++i) {
            const std::string s = std::to_string(i);
            out->rows.push_back({TestValue::integer(static_cast<int32_t>(i)), TestValue::text("name-" + s),
                                 TestValue::text("\xc3\xbc-" + s),  // "ü-i"
                                 TestValue::binary(std::string{static_cast<char>(i), '\xff', '\0', '\x7f'}),
                                 i % 2 == 0 ? TestValue::null() : TestValue::text("odd")});
        }
        return true;
    }
    if (sql.rfind(longs, 0) == 0) {
        if (!count(longs.size(), &n))
            return false;
        // a, é, €, 😀: one to four bytes of UTF-8 each.
        static const char* const kPieces[] = {"a", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
        std::string text;
        std::string bytes;
        for (int64_t i = 0; i < n; ++i) {
            text += kPieces[i % 4];
            bytes.push_back(static_cast<char>(i % 251));
        }
        out->columns = {{u"text", SQL_LONGVARCHAR, static_cast<uint64_t>(n), 0, 0, SQL_NULLABLE},
                        {u"bin", SQL_LONGVARBINARY, static_cast<uint64_t>(n), 0, 0, SQL_NULLABLE}};
        out->rows.push_back({TestValue::text(text), TestValue::binary(bytes)});
        return true;
    }
    if (sql.rfind(u"fail", 0) == 0)
        out->failExecute = true;
    out->affected = 1;
    return true;
}

// A parameter value as the framework handed it over.
struct TestParam {
    uint16_t marker = 0;
    int64_t length = 0;
    std::string bytes;
};

class TestStatement : public BaseStatement {
public:
    explicit TestStatement(BaseConnection* conn) noexcept : BaseStatement(conn) {}

    // Where results come from: the built-in table unless a test sets its own.
    std::function<bool(const std::u16string&, TestResult*)> resolve = builtinTestResult;
    TestResult result;
    std::vector<std::u16string> prepared;
    std::vector<std::vector<TestParam>> executions;  // the parameters of each execution
    std::vector<TestParam> pending;
    int64_t cursor = 0;  // current row, from 1
    int fetchRowCalls = 0;
    // An execution fails when one of its parameter values is these bytes.
    std::string failingValue = "\xde\xad";

    int16_t prepareHook(BaseSqlStringW* text) noexcept override
    {
        std::u16string sql(reinterpret_cast<const char16_t*>(text->data), text->len);
        prepared.push_back(sql);
        if (!resolve(sql, &result)) {
            basePostErrorTextA(kBaseIdxGeneralError, 0, "the test statement knows no such text", 3);
            return 1;
        }
        return describeStatement();
    }

    int16_t executeHook() noexcept override
    {
        bool poisoned = false;
        for (const TestParam& p : pending)
            poisoned |= p.bytes == failingValue;
        executions.push_back(pending);
        pending.clear();
        cursor = 0;
        if (result.failExecute || poisoned) {
            basePostErrorTextA(kBaseIdxGeneralError, 0, "the scripted execution failed", 3);
            return 1;
        }
        return 0;
    }

    int16_t describeStatement() noexcept override
    {
        const auto n = static_cast<uint16_t>(result.columns.size());
        if (ird->setRecordCount(n) != 0)
            return 1;
        for (uint16_t i = 1; i <= n; ++i) {
            const TestColumn& c = result.columns[i - 1];
            BaseIRDRecord* rec = ird->irdRecord(i);
            rec->setConciseType(c.sqlType);
            rec->length = c.length;
            rec->precision = c.precision;
            rec->scale = c.scale;
            rec->nullable = c.nullable;
            rec->octetLength = baseIsVarLengthType(c.sqlType) ? static_cast<int64_t>(c.length) : 0;
            rec->searchable = SQL_PRED_SEARCHABLE;
            rec->dropName();
            rec->name = copyText(c.name);
            if (rec->name == nullptr)
                return 1;
        }
        resultColumnCount = n;
        resultDescribed = true;
        return 0;
    }

    int16_t fetchRow(int16_t* noMoreRows) noexcept override
    {
        ++fetchRowCalls;
        if (cursor >= static_cast<int64_t>(result.rows.size())) {
            *noMoreRows = 1;
            return 0;
        }
        ++cursor;
        *noMoreRows = 0;
        return 0;
    }

    int16_t positionRow(int64_t row, uint16_t* status, bool) noexcept override
    {
        if (row < 1 || row > static_cast<int64_t>(result.rows.size())) {
            *status = SQL_ROW_NOROW;
            return 0;
        }
        cursor = row;
        *status = SQL_ROW_SUCCESS;
        return 0;
    }

    int16_t getColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override
    {
        if (cursor < 1 || cursor > static_cast<int64_t>(result.rows.size()) || column < 1 ||
            column > result.rows[cursor - 1].size()) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
        const TestValue& v = result.rows[cursor - 1][column - 1];
        if (v.isNull)
            return out->setNull(1);
        return convertColumnValue(column, cType, out, v.bytes.data(), static_cast<int64_t>(v.bytes.size()), v.kind);
    }

    // With streamValues, character and binary values go out in pieces: a
    // converter from the statement's pools reads a memory source from its
    // pools over the value, as a driver's would.
    int16_t checkLongDataCache(uint16_t column, int16_t cType, KaDataSink* sink, int16_t* isNull, BaseIRDRecord*,
                               KaDataConverter** converter) noexcept override
    {
        *converter = nullptr;
        *isNull = 0;
        ++streamedValues;
        if (!streamValues || cursor < 1 || cursor > static_cast<int64_t>(result.rows.size()) || column < 1 ||
            column > result.rows[cursor - 1].size())
            return BaseStatement::checkLongDataCache(column, cType, sink, isNull, nullptr, converter);
        const TestValue& v = result.rows[cursor - 1][column - 1];
        if (v.isNull) {
            *isNull = 1;
            return 0;
        }
        // The pools the threading model names, which the framework gives
        // them back to.
        const bool shared = connection->threadModel != 0;
        KaMemorySource* source = shared ? connection->acquireMemorySource(v.bytes.data(), v.bytes.size())
                                        : acquireMemorySource(v.bytes.data(), v.bytes.size());
        if (source == nullptr)
            return 1;
        KaDataConverter* conv = nullptr;
        if (v.kind == kBaseKindBinary) {
            const bool hex = cType != SQL_C_BINARY;
            const int32_t form = hex ? KA_CVT_FORM_HEX : KA_CVT_FORM_BYTES;
            conv = shared ? connection->acquireBinaryConverter(source, sink, form, hex ? 1 : 0)
                          : makeBinaryConverter(source, sink, form, hex ? 1 : 0);
        } else {
            const int64_t to = cType == SQL_C_WCHAR ? kCodePageUtf16LE : charCodePage;
            conv = shared ? static_cast<KaDataConverter*>(
                                connection->acquireCharConverter(source, sink, kCodePageUtf8, to, 1))
                          : makeCharConverter(source, sink, kCodePageUtf8, to, 1);
        }
        if (conv == nullptr) {
            returnSource(source, source->kind);
            return 1;
        }
        conv->setLength(static_cast<int64_t>(v.bytes.size()), -1);
        *converter = conv;
        return 0;
    }
    bool streamValues = false;
    int streamedValues = 0;

    int16_t getRowCount(int64_t* count) noexcept override
    {
        *count = result.columns.empty() ? result.affected : -1;
        return 0;
    }

    int16_t setParamValue(uint16_t marker, const void* data, int64_t length, int32_t) noexcept override
    {
        TestParam p;
        p.marker = marker;
        p.length = length;
        if (data != nullptr && length > 0)
            p.bytes.assign(static_cast<const char*>(data), static_cast<size_t>(length));
        pending.push_back(p);
        return 0;
    }

private:
    static uint16_t* copyText(const std::u16string& text) noexcept
    {
        auto* out = static_cast<uint16_t*>(ramAlloc((text.size() + 1) * sizeof(uint16_t)));
        if (out == nullptr)
            return nullptr;
        std::memcpy(out, text.data(), text.size() * sizeof(uint16_t));
        out[text.size()] = 0;
        return out;
    }
};

// The fake connection whose statements are TestStatements; it offers a
// static cursor, which the test statement keeps in memory.
class TestStmtConnection : public TestConnection {
public:
    TestStmtConnection(BaseEnv* env, TestConnectionControl* control) noexcept : TestConnection(env, control) {}
    // The server's commit or rollback: always succeeds, and is counted.
    int16_t autocommitChange(int16_t) noexcept override
    {
        ++transactionsEnded;
        return 0;
    }
    int transactionsEnded = 0;
    // A link the server dropped: the connection still counts as connected,
    // but asks whether it is dead say it is.
    bool linkDead = false;
    int16_t getConnectAttrDefault(int32_t attribute, uint32_t* value) noexcept override
    {
        if (attribute == SQL_ATTR_CONNECTION_DEAD && linkDead) {
            *value = SQL_CD_TRUE;
            return 0;
        }
        return TestConnection::getConnectAttrDefault(attribute, value);
    }
    // A statement's cursor that could not be brought back after a
    // reconnect: counted.
    int16_t statementFailoverHook(BaseStatement*) noexcept override
    {
        ++failoversFailed;
        return 0;
    }
    int failoversFailed = 0;
    int16_t createStatement(BaseStatement** out) noexcept override
    {
        // The connect settles the cursor capabilities; the test statement
        // keeps a static cursor whatever they said.
        staticCursorOps |= 1;
        return makeStatement<TestStatement>(out, this);
    }
};

using TestStmtEnv = TestEnvOf<TestStmtConnection>;

}  // namespace katest
