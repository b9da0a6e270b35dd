// The HiveServer2 driver's SQLGetInfo answers, its SQLGetFunctions answers
// and its few connection-attribute rules: the table the framework searches
// first, the answers that depend on the server and the options, the
// functions the driver does not offer.
#include "hive/hiveinfo.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <iterator>

#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "kadrivername.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "transport/basesocket.h"

namespace {

// Words the server's SQL reserves beyond the ODBC ones.
constexpr char16_t kHiveKeywords[] =
    u"ABSOLUTE,ACTION,ADA,ADD,ADMIN,AFTER,ALL,ALLOCATE,ALTER,ANALYZE,AND,ANY,ARCHIVE,ARE,ARRAY,BIGINT,BINARY,"
    u"BOOLEAN,BUCKET,BUCKETS,CLUSTER,CLUSTERED,COLLECTION,COLUMNS,COMMENT,DATA,DATETIME,DELIMITED,DIRECTORY,"
    u"DISTRIBUTE,EXPLAIN,EXTENDED,FIELDS,FORMAT,FUNCTION,INPATH,INPUTFORMAT,ITEMS,KEYS,LIMIT,LINES,LOAD,LOCATION,"
    u"MAP,MSCK,OUT,OUTPUTFORMAT,OVERWRITE,PARTITION,PARTITIONED,PARTITIONS,REDUCE,REGEXP,RENAME,REPLACE,RLIKE,ROW,"
    u"SEQUENCEFILE,SERDE,SERDEPROPERTIES,SHOW,SORT,SORTED,STORED,STRING,TABLES,TABLESAMPLE,TBLPROPERTIES,"
    u"TERMINATED,TEXTFILE,TINYINT,TRANSFORM";

constexpr BaseInfoEntry kHiveEntries[] = {
    {SQL_DRIVER_VER, 0, nullptr, kBaseInfoDriver},
    {SQL_ODBC_API_CONFORMANCE, 1, nullptr, kBaseInfoShort},
    {SQL_SERVER_NAME, 0, nullptr, kBaseInfoDriver},
    {SQL_DBMS_NAME, 0, nullptr, kBaseInfoDriver},
    {SQL_DBMS_VER, 0, nullptr, kBaseInfoDriver},
    {SQL_CONCAT_NULL_BEHAVIOR, 0, nullptr, kBaseInfoShort},
    {SQL_DATA_SOURCE_READ_ONLY, 0, nullptr, kBaseInfoDriver},
    {SQL_DEFAULT_TXN_ISOLATION, 0, nullptr, kBaseInfoDriver},
    {SQL_EXPRESSIONS_IN_ORDERBY, 0, u"Y", kBaseInfoText},
    {SQL_IDENTIFIER_CASE, 2, nullptr, kBaseInfoShort},
    {SQL_IDENTIFIER_QUOTE_CHAR, 0, u"`", kBaseInfoText},
    {SQL_MAX_COLUMN_NAME_LEN, 128, nullptr, kBaseInfoShort},
    {SQL_MAX_SCHEMA_NAME_LEN, 128, nullptr, kBaseInfoShort},
    {SQL_MAX_CATALOG_NAME_LEN, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_TABLE_NAME_LEN, 128, nullptr, kBaseInfoShort},
    {SQL_MULTIPLE_ACTIVE_TXN, 0, u"N", kBaseInfoText},
    {SQL_SCHEMA_TERM, 0, u"Database", kBaseInfoText},
    {SQL_SCROLL_CONCURRENCY, 1, nullptr, kBaseInfoInt},
    {SQL_TXN_CAPABLE, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_FUNCTIONS, 3, nullptr, kBaseInfoInt},
    {SQL_NUMERIC_FUNCTIONS, 8388591, nullptr, kBaseInfoInt},
    {SQL_STRING_FUNCTIONS, 344063, nullptr, kBaseInfoInt},
    {SQL_SYSTEM_FUNCTIONS, 6, nullptr, kBaseInfoInt},
    {SQL_TIMEDATE_FUNCTIONS, 1998823, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BIGINT, 160728, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BINARY, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BIT, 160728, nullptr, kBaseInfoInt},
    {SQL_CONVERT_CHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_DECIMAL, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_FLOAT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_INTEGER, 160728, nullptr, kBaseInfoInt},
    {SQL_CONVERT_LONGVARCHAR, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_NUMERIC, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_REAL, 160728, nullptr, kBaseInfoInt},
    {SQL_CONVERT_SMALLINT, 160728, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TIMESTAMP, 144152, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TINYINT, 160728, nullptr, kBaseInfoInt},
    {SQL_CONVERT_VARBINARY, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_VARCHAR, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_LONGVARBINARY, 0, nullptr, kBaseInfoInt},
    {SQL_TXN_ISOLATION_OPTION, 1, nullptr, kBaseInfoInt},
    {SQL_NON_NULLABLE_COLUMNS, 0, nullptr, kBaseInfoShort},
    {SQL_POSITIONED_STATEMENTS, 0, nullptr, kBaseInfoInt},
    {SQL_GETDATA_EXTENSIONS, 0, nullptr, kBaseInfoDriver},
    {SQL_ALTER_TABLE, 0, nullptr, kBaseInfoInt},
    {SQL_COLUMN_ALIAS, 0, u"Y", kBaseInfoText},
    {SQL_KEYWORDS, 0, kHiveKeywords, kBaseInfoText},
    {SQL_SCHEMA_USAGE, 29, nullptr, kBaseInfoInt},
    {SQL_CATALOG_USAGE, 0, nullptr, kBaseInfoInt},
    {SQL_QUOTED_IDENTIFIER_CASE, 2, nullptr, kBaseInfoShort},
    {SQL_SUBQUERIES, 0, nullptr, kBaseInfoInt},
    {SQL_UNION, 2, nullptr, kBaseInfoInt},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, 0, u"Y", kBaseInfoText},
    {SQL_MAX_ROW_SIZE, 2147483647, nullptr, kBaseInfoLimit},
    {SQL_MAX_STATEMENT_LEN, 2147483647, nullptr, kBaseInfoLimit},
    {SQL_MAX_CHAR_LITERAL_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_TIMEDATE_ADD_INTERVALS, 16, nullptr, kBaseInfoInt},
    {SQL_TIMEDATE_DIFF_INTERVALS, 16, nullptr, kBaseInfoInt},
    {SQL_NEED_LONG_DATA_LEN, 0, u"N", kBaseInfoText},
    {SQL_MAX_BINARY_LITERAL_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_LIKE_ESCAPE_CLAUSE, 0, u"N", kBaseInfoText},
    {SQL_OJ_CAPABILITIES, 23, nullptr, kBaseInfoLimit},
    {SQL_CREATE_SCHEMA, 1, nullptr, kBaseInfoInt},
    {SQL_CREATE_TABLE, 1, nullptr, kBaseInfoInt},
    {SQL_DROP_SCHEMA, 7, nullptr, kBaseInfoInt},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, 1, nullptr, kBaseInfoInt},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, 2177, nullptr, kBaseInfoInt},
    {SQL_INDEX_KEYWORDS, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_DATETIME_FUNCTIONS, 7, nullptr, kBaseInfoInt},
    {SQL_SQL92_PREDICATES, 7687, nullptr, kBaseInfoInt},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 344, nullptr, kBaseInfoInt},
    {SQL_SQL92_STRING_FUNCTIONS, 9, nullptr, kBaseInfoInt},
    {SQL_SQL92_VALUE_EXPRESSIONS, 7, nullptr, kBaseInfoInt},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, 6273, nullptr, kBaseInfoInt},
    {SQL_INSERT_STATEMENT, 2, nullptr, kBaseInfoInt},
    {SQL_DESCRIBE_PARAMETER, 0, nullptr, kBaseInfoDriver},
    {SQL_MAX_IDENTIFIER_LEN, 128, nullptr, kBaseInfoShort},
};

// Conversions the server's casts make from character data: integer,
// smallint, real, double, varchar, long varchar, bit, tinyint, bigint and
// timestamp.
constexpr uint32_t kCharConversions = SQL_CVT_INTEGER | SQL_CVT_SMALLINT | SQL_CVT_REAL | SQL_CVT_DOUBLE |
                                      SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR | SQL_CVT_BIT | SQL_CVT_TINYINT |
                                      SQL_CVT_BIGINT | SQL_CVT_TIMESTAMP;
// SQLGetData reaches any column in any order while the long-data cache
// holds earlier ones.
constexpr uint32_t kGetDataCached = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
constexpr uint32_t kGetDataUncached = SQL_GD_ANY_COLUMN | SQL_GD_BOUND;
// TransactionMode that accepts transactions (and ignores them).
constexpr int32_t kTransactionsIgnored = 1;

// An owned UTF-16 copy of a narrow text, widened byte by byte; null after
// the diagnostic.
uint16_t* widenCopy(const char* text) noexcept
{
    size_t n = text != nullptr ? std::strlen(text) : 0;
    auto* copy = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (copy == nullptr) {
        basePostError(kBaseIdxOutOfMemory);
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i)
        copy[i] = static_cast<unsigned char>(text[i]);
    copy[n] = 0;
    return copy;
}

uint16_t* wideCopy(const uint16_t* text) noexcept
{
    size_t n = 0;
    if (text != nullptr)
        while (text[n] != 0)
            ++n;
    auto* copy = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (copy == nullptr) {
        basePostError(kBaseIdxOutOfMemory);
        return nullptr;
    }
    if (n != 0)
        std::memcpy(copy, text, n * 2);
    copy[n] = 0;
    return copy;
}

// 1 when the link is gone: no socket, or a transport that is not connected.
uint32_t linkDead(const BaseSocket* socket) noexcept
{
    return socket == nullptr || socket->transport == nullptr || socket->transport->connected == 0 ? SQL_CD_TRUE
                                                                                                  : SQL_CD_FALSE;
}

}  // namespace

const BaseInfoTable kHiveInfoTable = {static_cast<int16_t>(std::size(kHiveEntries)), nullptr, kHiveEntries};

int16_t HiveConnection::driverInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind) noexcept
{
    auto text = [&](uint16_t* copy) noexcept -> int16_t {
        if (copy == nullptr)
            return 1;
        *value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy));
        *kind = kBaseInfoText;
        return 0;
    };
    auto number = [&](uint64_t n, int32_t k) noexcept -> int16_t {
        *value = n;
        *kind = k;
        return 0;
    };
    auto flag = [&](int32_t on) noexcept { return text(widenCopy(on != 0 ? "Y" : "N")); };
    switch (infoType) {
    case SQL_DRIVER_VER: return text(wideCopy(reinterpret_cast<const uint16_t*>(KA_DRIVER_VERSION_W)));
    case SQL_SERVER_NAME: return text(wideCopy(hostName));
    case SQL_DBMS_NAME:
        if (dbmsNameText[0] == 0) {
            uint16_t name[kBaseResourceTextUnits];
            name[0] = 0;
            getResourceString(MSG_DBMS_PRODUCT_NAME, name);
            return text(wideCopy(name));
        }
        return text(widenCopy(dbmsNameText));
    case SQL_DBMS_VER: return text(widenCopy(dbmsVersion));
    case SQL_DATABASE_NAME:
        // The session works in "default" unless Database named another.
        if (databaseName == nullptr || databaseName[0] == 0)
            return text(widenCopy("default"));
        return text(wideCopy(databaseName));
    case SQL_DATA_SOURCE_READ_ONLY: return flag(dataSourceReadOnly);
    case SQL_DEFAULT_TXN_ISOLATION:
        return number(transactionMode == kTransactionsIgnored ? SQL_TXN_READ_UNCOMMITTED : 0, kBaseInfoInt);
    case SQL_TXN_CAPABLE:
        return number(transactionMode == kTransactionsIgnored ? SQL_TC_ALL : SQL_TC_NONE, kBaseInfoShort);
    case SQL_CONVERT_LONGVARCHAR:
    case SQL_CONVERT_VARCHAR: return number(kCharConversions, kBaseInfoInt);
    case SQL_CONVERT_VARBINARY: return number(0, kBaseInfoInt);
    case SQL_GETDATA_EXTENSIONS: return number(longDataCache != 0 ? kGetDataCached : kGetDataUncached, kBaseInfoInt);
    case SQL_DESCRIBE_PARAMETER: return flag(enableDescribeParam);
    default: return 0;
    }
}

int16_t HiveConnection::getConnectAttrDefault(int32_t attribute, void* value, int32_t bufferLength,
                                              int32_t* outLength) noexcept
{
    if (attribute == SQL_ATTR_PACKET_SIZE) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    if (attribute == SQL_ATTR_CONNECTION_DEAD) {
        uint32_t dead = linkDead(socket);
        if (value != nullptr)
            std::memcpy(value, &dead, sizeof dead);
        if (outLength != nullptr)
            *outLength = sizeof dead;
        return 0;
    }
    return BaseConnection::getConnectAttrDefault(attribute, value, bufferLength, outLength);
}

int16_t HiveConnection::getConnectAttrDefault(int32_t attribute, uint32_t* value) noexcept
{
    if (attribute == SQL_ATTR_CONNECTION_DEAD) {
        *value = linkDead(socket);
        return 0;
    }
    return BaseConnection::getConnectAttrDefault(attribute, value);
}

int16_t HiveConnection::setConnectAttrDefault(int32_t attribute, void* value, int32_t length) noexcept
{
    bool autocommitOff = attribute == SQL_ATTR_AUTOCOMMIT && reinterpret_cast<intptr_t>(value) == SQL_AUTOCOMMIT_OFF;
    if ((autocommitOff && transactionMode != kTransactionsIgnored) || attribute == SQL_ATTR_PACKET_SIZE) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    return BaseConnection::setConnectAttrDefault(attribute, value, length);
}

int16_t HiveConnection::functionSupported(uint16_t functionId, uint16_t* supported) noexcept
{
    switch (functionId) {
    case SQL_API_SQLBROWSECONNECT:
    case SQL_API_SQLPROCEDURECOLUMNS:
    case SQL_API_SQLPROCEDURES:
    case SQL_API_SQLTABLEPRIVILEGES: *supported = SQL_FALSE; break;
    // Offered only where a cursor type positions or refreshes rows, or
    // changes them under a concurrency the driver offers.
    case SQL_API_SQLBULKOPERATIONS:
    case SQL_API_SQLSETPOS: *supported = baseSetPosOffered(this, functionId) ? SQL_TRUE : SQL_FALSE; break;
    case SQL_API_SQLDESCRIBEPARAM: *supported = enableDescribeParam != 0 ? SQL_TRUE : SQL_FALSE; break;
    default: *supported = SQL_TRUE; break;
    }
    return 0;
}
