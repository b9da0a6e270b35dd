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

// The scalar functions of the escape clauses the server's SQL has.
constexpr uint32_t kNumericFunctions =
    SQL_FN_NUM_ABS | SQL_FN_NUM_ACOS | SQL_FN_NUM_ASIN | SQL_FN_NUM_ATAN | SQL_FN_NUM_CEILING | SQL_FN_NUM_COS |
    SQL_FN_NUM_COT | SQL_FN_NUM_EXP | SQL_FN_NUM_FLOOR | SQL_FN_NUM_LOG | SQL_FN_NUM_MOD | SQL_FN_NUM_SIGN |
    SQL_FN_NUM_SIN | SQL_FN_NUM_SQRT | SQL_FN_NUM_TAN | SQL_FN_NUM_PI | SQL_FN_NUM_RAND | SQL_FN_NUM_DEGREES |
    SQL_FN_NUM_LOG10 | SQL_FN_NUM_POWER | SQL_FN_NUM_RADIANS | SQL_FN_NUM_ROUND;
constexpr uint32_t kStringFunctions = SQL_FN_STR_CONCAT | SQL_FN_STR_INSERT | SQL_FN_STR_LEFT | SQL_FN_STR_LTRIM |
                                      SQL_FN_STR_LENGTH | SQL_FN_STR_LOCATE | SQL_FN_STR_LCASE | SQL_FN_STR_REPEAT |
                                      SQL_FN_STR_REPLACE | SQL_FN_STR_RIGHT | SQL_FN_STR_RTRIM | SQL_FN_STR_SUBSTRING |
                                      SQL_FN_STR_UCASE | SQL_FN_STR_ASCII | SQL_FN_STR_LOCATE_2 | SQL_FN_STR_SPACE;
constexpr uint32_t kTimeDateFunctions = SQL_FN_TD_NOW | SQL_FN_TD_CURDATE | SQL_FN_TD_DAYOFMONTH | SQL_FN_TD_MONTH |
                                        SQL_FN_TD_QUARTER | SQL_FN_TD_WEEK | SQL_FN_TD_YEAR | SQL_FN_TD_CURTIME |
                                        SQL_FN_TD_HOUR | SQL_FN_TD_MINUTE | SQL_FN_TD_SECOND | SQL_FN_TD_TIMESTAMPADD |
                                        SQL_FN_TD_TIMESTAMPDIFF | SQL_FN_TD_CURRENT_DATE | SQL_FN_TD_CURRENT_TIME |
                                        SQL_FN_TD_CURRENT_TIMESTAMP | SQL_FN_TD_EXTRACT;
constexpr uint32_t kDatetimeFunctions = SQL_SDF_CURRENT_DATE | SQL_SDF_CURRENT_TIME | SQL_SDF_CURRENT_TIMESTAMP;
// What the server's casts turn a number or character value into ...
constexpr uint32_t kCastConversions = SQL_CVT_INTEGER | SQL_CVT_SMALLINT | SQL_CVT_REAL | SQL_CVT_DOUBLE |
                                      SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR | SQL_CVT_BIT | SQL_CVT_TINYINT |
                                      SQL_CVT_BIGINT | SQL_CVT_TIMESTAMP;
// ... and a timestamp into.
constexpr uint32_t kTimestampConversions = SQL_CVT_INTEGER | SQL_CVT_SMALLINT | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR |
                                           SQL_CVT_BIT | SQL_CVT_TINYINT | SQL_CVT_TIMESTAMP;
// Statements a schema (database) name may qualify names in.
constexpr uint32_t kSchemaUsage =
    SQL_SU_DML_STATEMENTS | SQL_SU_TABLE_DEFINITION | SQL_SU_INDEX_DEFINITION | SQL_SU_PRIVILEGE_DEFINITION;
constexpr uint32_t kOuterJoins = SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_FULL | SQL_OJ_NOT_ORDERED;
constexpr uint32_t kJoinOperators =
    SQL_SRJO_FULL_OUTER_JOIN | SQL_SRJO_INNER_JOIN | SQL_SRJO_LEFT_OUTER_JOIN | SQL_SRJO_RIGHT_OUTER_JOIN;
constexpr uint32_t kPredicates =
    SQL_SP_EXISTS | SQL_SP_ISNOTNULL | SQL_SP_ISNULL | SQL_SP_LIKE | SQL_SP_IN | SQL_SP_BETWEEN | SQL_SP_COMPARISON;
// Read-only results whose length SQL_ATTR_MAX_ROWS bounds, catalog results
// too; a static cursor also counts its rows exactly.
constexpr uint32_t kCursorAttributes2 =
    SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_MAX_ROWS_CATALOG;

constexpr BaseInfoEntry kHiveEntries[] = {
    {SQL_DRIVER_VER, 0, nullptr, kBaseInfoDriver},
    {SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL1, nullptr, kBaseInfoShort},
    {SQL_SERVER_NAME, 0, nullptr, kBaseInfoDriver},
    {SQL_DBMS_NAME, 0, nullptr, kBaseInfoDriver},
    {SQL_DBMS_VER, 0, nullptr, kBaseInfoDriver},
    {SQL_CONCAT_NULL_BEHAVIOR, SQL_CB_NULL, nullptr, kBaseInfoShort},
    {SQL_DATA_SOURCE_READ_ONLY, 0, nullptr, kBaseInfoDriver},
    {SQL_DEFAULT_TXN_ISOLATION, 0, nullptr, kBaseInfoDriver},
    {SQL_EXPRESSIONS_IN_ORDERBY, 0, u"Y", kBaseInfoText},
    {SQL_IDENTIFIER_CASE, SQL_IC_LOWER, nullptr, kBaseInfoShort},
    {SQL_IDENTIFIER_QUOTE_CHAR, 0, u"`", kBaseInfoText},
    {SQL_MAX_COLUMN_NAME_LEN, kHiveMaxNameLength, nullptr, kBaseInfoShort},
    {SQL_MAX_SCHEMA_NAME_LEN, kHiveMaxNameLength, nullptr, kBaseInfoShort},
    {SQL_MAX_CATALOG_NAME_LEN, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_TABLE_NAME_LEN, kHiveMaxNameLength, nullptr, kBaseInfoShort},
    {SQL_MULTIPLE_ACTIVE_TXN, 0, u"N", kBaseInfoText},
    {SQL_SCHEMA_TERM, 0, u"Database", kBaseInfoText},
    {SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY, nullptr, kBaseInfoInt},
    {SQL_TXN_CAPABLE, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_FUNCTIONS, SQL_FN_CVT_CONVERT | SQL_FN_CVT_CAST, nullptr, kBaseInfoInt},
    {SQL_NUMERIC_FUNCTIONS, kNumericFunctions, nullptr, kBaseInfoInt},
    {SQL_STRING_FUNCTIONS, kStringFunctions, nullptr, kBaseInfoInt},
    {SQL_SYSTEM_FUNCTIONS, SQL_FN_SYS_DBNAME | SQL_FN_SYS_IFNULL, nullptr, kBaseInfoInt},
    {SQL_TIMEDATE_FUNCTIONS, kTimeDateFunctions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BIGINT, kCastConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BINARY, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BIT, kCastConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_CHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_DECIMAL, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_FLOAT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_INTEGER, kCastConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_LONGVARCHAR, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_NUMERIC, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_REAL, kCastConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_SMALLINT, kCastConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TIMESTAMP, kTimestampConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TINYINT, kCastConversions, nullptr, kBaseInfoInt},
    {SQL_CONVERT_VARBINARY, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_VARCHAR, 0, nullptr, kBaseInfoDriver},
    {SQL_CONVERT_LONGVARBINARY, 0, nullptr, kBaseInfoInt},
    {SQL_TXN_ISOLATION_OPTION, SQL_TXN_READ_UNCOMMITTED, nullptr, kBaseInfoInt},
    {SQL_NON_NULLABLE_COLUMNS, SQL_NNC_NULL, nullptr, kBaseInfoShort},
    {SQL_POSITIONED_STATEMENTS, 0, nullptr, kBaseInfoInt},
    {SQL_GETDATA_EXTENSIONS, 0, nullptr, kBaseInfoDriver},
    {SQL_ALTER_TABLE, 0, nullptr, kBaseInfoInt},
    {SQL_COLUMN_ALIAS, 0, u"Y", kBaseInfoText},
    {SQL_KEYWORDS, 0, kHiveKeywords, kBaseInfoText},
    {SQL_SCHEMA_USAGE, kSchemaUsage, nullptr, kBaseInfoInt},
    {SQL_CATALOG_USAGE, 0, nullptr, kBaseInfoInt},
    {SQL_QUOTED_IDENTIFIER_CASE, SQL_IC_LOWER, nullptr, kBaseInfoShort},
    {SQL_SUBQUERIES, 0, nullptr, kBaseInfoInt},
    {SQL_UNION, SQL_U_UNION_ALL, nullptr, kBaseInfoInt},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, 0, u"Y", kBaseInfoText},
    {SQL_MAX_ROW_SIZE, INT32_MAX, nullptr, kBaseInfoLimit},
    {SQL_MAX_STATEMENT_LEN, INT32_MAX, nullptr, kBaseInfoLimit},
    {SQL_MAX_CHAR_LITERAL_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_TIMEDATE_ADD_INTERVALS, SQL_FN_TSI_DAY, nullptr, kBaseInfoInt},
    {SQL_TIMEDATE_DIFF_INTERVALS, SQL_FN_TSI_DAY, nullptr, kBaseInfoInt},
    {SQL_NEED_LONG_DATA_LEN, 0, u"N", kBaseInfoText},
    {SQL_MAX_BINARY_LITERAL_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_LIKE_ESCAPE_CLAUSE, 0, u"N", kBaseInfoText},
    {SQL_OJ_CAPABILITIES, kOuterJoins, nullptr, kBaseInfoLimit},
    {SQL_CREATE_SCHEMA, SQL_CS_CREATE_SCHEMA, nullptr, kBaseInfoInt},
    {SQL_CREATE_TABLE, SQL_CT_CREATE_TABLE, nullptr, kBaseInfoInt},
    {SQL_DROP_SCHEMA, SQL_DS_DROP_SCHEMA | SQL_DS_RESTRICT | SQL_DS_CASCADE, nullptr, kBaseInfoInt},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT, nullptr, kBaseInfoInt},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, kCursorAttributes2, nullptr, kBaseInfoInt},
    {SQL_INDEX_KEYWORDS, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_DATETIME_FUNCTIONS, kDatetimeFunctions, nullptr, kBaseInfoInt},
    {SQL_SQL92_PREDICATES, kPredicates, nullptr, kBaseInfoInt},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, kJoinOperators, nullptr, kBaseInfoInt},
    {SQL_SQL92_STRING_FUNCTIONS, SQL_SSF_CONVERT | SQL_SSF_SUBSTRING, nullptr, kBaseInfoInt},
    {SQL_SQL92_VALUE_EXPRESSIONS, SQL_SVE_CASE | SQL_SVE_CAST | SQL_SVE_COALESCE, nullptr, kBaseInfoInt},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, kCursorAttributes2 | SQL_CA2_CRC_EXACT, nullptr, kBaseInfoInt},
    {SQL_INSERT_STATEMENT, SQL_IS_INSERT_SEARCHED, nullptr, kBaseInfoInt},
    {SQL_DESCRIBE_PARAMETER, 0, nullptr, kBaseInfoDriver},
    {SQL_MAX_IDENTIFIER_LEN, kHiveMaxNameLength, nullptr, kBaseInfoShort},
};

// SQLGetData reaches any column in any order while the long-data cache
// holds earlier ones.
constexpr uint32_t kGetDataCached = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
constexpr uint32_t kGetDataUncached = SQL_GD_ANY_COLUMN | SQL_GD_BOUND;

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
        return number(transactionMode == HIVE_TRANSACTIONS_IGNORED ? SQL_TXN_READ_UNCOMMITTED : 0, kBaseInfoInt);
    case SQL_TXN_CAPABLE:
        return number(transactionMode == HIVE_TRANSACTIONS_IGNORED ? SQL_TC_ALL : SQL_TC_NONE, kBaseInfoShort);
    case SQL_CONVERT_LONGVARCHAR:
    case SQL_CONVERT_VARCHAR: return number(kCastConversions, kBaseInfoInt);
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
    if ((autocommitOff && transactionMode != HIVE_TRANSACTIONS_IGNORED) || attribute == SQL_ATTR_PACKET_SIZE) {
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
