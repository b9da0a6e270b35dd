// SQLGetInfo: the framework's base table, the table searches, the resolver
// that adds what the connection's state and settings change, and
// SQLGetInfoW on a physical connection and before one exists.
#include "odbc/baseinfo.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <iterator>

#include "convert/basestring.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "kadrivername.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basecursorcaps.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basepool.h"
#include "platform/bos.h"
#include "platform/bosname.h"

namespace {

// The base table: the framework's answers for every ODBC info type it
// knows, and the driver's private ones (1012 to 1027).
constexpr BaseInfoEntry kBaseEntries[] = {
    {SQL_MAX_DRIVER_CONNECTIONS, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_CONCURRENT_ACTIVITIES, 0, nullptr, kBaseInfoShort},
    {SQL_DRIVER_VER, 0, KA_DRIVER_VERSION_W, kBaseInfoText},
    {SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT, nullptr, kBaseInfoInt},
    {SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL1, nullptr, kBaseInfoShort},
    {SQL_ROW_UPDATES, 0, u"N", kBaseInfoText},
    {SQL_ODBC_SAG_CLI_CONFORMANCE, SQL_OSCC_COMPLIANT, nullptr, kBaseInfoShort},
    {SQL_SERVER_NAME, 0, u"", kBaseInfoText},
    {SQL_SEARCH_PATTERN_ESCAPE, 0, u"\\", kBaseInfoText},
    {SQL_ODBC_SQL_CONFORMANCE, 0, nullptr, kBaseInfoShort},
    {SQL_DBMS_NAME, 20101, nullptr, kBaseInfoResource},
    {SQL_ACCESSIBLE_TABLES, 0, u"N", kBaseInfoText},
    {SQL_ACCESSIBLE_PROCEDURES, 0, u"N", kBaseInfoText},
    {SQL_PROCEDURES, 0, u"Y", kBaseInfoText},
    {SQL_CONCAT_NULL_BEHAVIOR, SQL_CB_NON_NULL, nullptr, kBaseInfoShort},
    {SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_PRESERVE, nullptr, kBaseInfoShort},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_PRESERVE, nullptr, kBaseInfoShort},
    {SQL_DATA_SOURCE_READ_ONLY, 0, u"N", kBaseInfoText},
    {SQL_EXPRESSIONS_IN_ORDERBY, 0, u"N", kBaseInfoText},
    {SQL_IDENTIFIER_CASE, SQL_IC_UPPER, nullptr, kBaseInfoShort},
    {SQL_IDENTIFIER_QUOTE_CHAR, 0, u" ", kBaseInfoText},
    {SQL_MAX_CURSOR_NAME_LEN, 26, nullptr, kBaseInfoShort},
    {SQL_MAX_SCHEMA_NAME_LEN, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_PROCEDURE_NAME_LEN, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_CATALOG_NAME_LEN, 0, nullptr, kBaseInfoShort},
    {SQL_MULT_RESULT_SETS, 0, u"N", kBaseInfoText},
    {SQL_MULTIPLE_ACTIVE_TXN, 0, u"Y", kBaseInfoText},
    {SQL_OUTER_JOINS, 0, u"Y", kBaseInfoText},
    {SQL_SCHEMA_TERM, 20102, nullptr, kBaseInfoResource},
    {SQL_PROCEDURE_TERM, 20105, nullptr, kBaseInfoResource},
    {SQL_CATALOG_NAME_SEPARATOR, 0, u".", kBaseInfoText},
    {SQL_CATALOG_TERM, 20104, nullptr, kBaseInfoResource},
    {SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES, nullptr, kBaseInfoInt},
    {SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY, nullptr, kBaseInfoInt},
    {SQL_TABLE_TERM, 20106, nullptr, kBaseInfoResource},
    {SQL_TXN_CAPABLE, SQL_TC_DML, nullptr, kBaseInfoShort},
    {SQL_CONVERT_FUNCTIONS, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BIGINT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BINARY, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_BIT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_CHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_DATE, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_DECIMAL, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_DOUBLE, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_FLOAT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_INTEGER, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_LONGVARCHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_NUMERIC, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_REAL, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_SMALLINT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TIME, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TIMESTAMP, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_TINYINT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_VARBINARY, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_VARCHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_LONGVARBINARY, 0, nullptr, kBaseInfoInt},
    {SQL_INTEGRITY, 0, u"N", kBaseInfoText},
    {SQL_CORRELATION_NAME, SQL_CN_ANY, nullptr, kBaseInfoShort},
    {SQL_NON_NULLABLE_COLUMNS, SQL_NNC_NON_NULL, nullptr, kBaseInfoShort},
    {SQL_DRIVER_ODBC_VER, 0, u"03.52", kBaseInfoText},
    {SQL_LOCK_TYPES, 0, nullptr, kBaseInfoInt},
    {SQL_POSITIONED_STATEMENTS, SQL_PS_POSITIONED_DELETE | SQL_PS_POSITIONED_UPDATE | SQL_PS_SELECT_FOR_UPDATE, nullptr,
     kBaseInfoInt},
    {SQL_GETDATA_EXTENSIONS, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND, nullptr, kBaseInfoInt},
    {SQL_BOOKMARK_PERSISTENCE, 0, nullptr, kBaseInfoInt},
    {SQL_STATIC_SENSITIVITY, 0, nullptr, kBaseInfoInt},
    {SQL_FILE_USAGE, 0, nullptr, kBaseInfoShort},
    {SQL_NULL_COLLATION, SQL_NC_LOW, nullptr, kBaseInfoShort},
    {SQL_ALTER_TABLE, SQL_AT_ADD_COLUMN, nullptr, kBaseInfoInt},
    {SQL_COLUMN_ALIAS, 0, u"N", kBaseInfoText},
    {SQL_GROUP_BY, SQL_GB_GROUP_BY_CONTAINS_SELECT, nullptr, kBaseInfoShort},
    {SQL_KEYWORDS, 0, u"", kBaseInfoText},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, 0, u"Y", kBaseInfoText},
    {SQL_SCHEMA_USAGE,
     SQL_SU_DML_STATEMENTS | SQL_SU_PROCEDURE_INVOCATION | SQL_SU_TABLE_DEFINITION | SQL_SU_INDEX_DEFINITION |
         SQL_SU_PRIVILEGE_DEFINITION,
     nullptr, kBaseInfoInt},
    {SQL_CATALOG_USAGE, SQL_CU_DML_STATEMENTS, nullptr, kBaseInfoInt},
    {SQL_QUOTED_IDENTIFIER_CASE, SQL_IC_SENSITIVE, nullptr, kBaseInfoShort},
    {SQL_SPECIAL_CHARACTERS, 0, u"", kBaseInfoText},
    {SQL_SUBQUERIES, SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN | SQL_SQ_QUANTIFIED | SQL_SQ_CORRELATED_SUBQUERIES,
     nullptr, kBaseInfoInt},
    {SQL_UNION, SQL_U_UNION | SQL_U_UNION_ALL, nullptr, kBaseInfoInt},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_COLUMNS_IN_INDEX, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_COLUMNS_IN_SELECT, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_COLUMNS_IN_TABLE, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_INDEX_SIZE, 0, nullptr, kBaseInfoLimit},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, 0, u"N", kBaseInfoText},
    {SQL_MAX_ROW_SIZE, 0, nullptr, kBaseInfoLimit},
    {SQL_MAX_STATEMENT_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_MAX_TABLES_IN_SELECT, 0, nullptr, kBaseInfoShort},
    {SQL_MAX_CHAR_LITERAL_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_TIMEDATE_ADD_INTERVALS, 0, nullptr, kBaseInfoInt},
    {SQL_TIMEDATE_DIFF_INTERVALS, 0, nullptr, kBaseInfoInt},
    {SQL_NEED_LONG_DATA_LEN, 0, u"Y", kBaseInfoText},
    {SQL_MAX_BINARY_LITERAL_LEN, 0, nullptr, kBaseInfoLimit},
    {SQL_LIKE_ESCAPE_CLAUSE, 0, u"N", kBaseInfoText},
    {SQL_CATALOG_LOCATION, SQL_CL_START, nullptr, kBaseInfoShort},
    {SQL_OJ_CAPABILITIES, SQL_OJ_LEFT | SQL_OJ_NESTED | SQL_OJ_INNER, nullptr, kBaseInfoInt},
    {SQL_ACTIVE_ENVIRONMENTS, 0, nullptr, kBaseInfoShort},
    {SQL_ALTER_DOMAIN, 0, nullptr, kBaseInfoInt},
    {SQL_SQL_CONFORMANCE, SQL_SC_SQL92_ENTRY, nullptr, kBaseInfoInt},
    {SQL_DATETIME_LITERALS, 0, nullptr, kBaseInfoInt},
    {SQL_BATCH_ROW_COUNT, 0, nullptr, kBaseInfoInt},
    {SQL_BATCH_SUPPORT, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_WCHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_INTERVAL_DAY_TIME, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_INTERVAL_YEAR_MONTH, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_WLONGVARCHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CONVERT_WVARCHAR, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_ASSERTION, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_CHARACTER_SET, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_COLLATION, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_DOMAIN, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_SCHEMA, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_TABLE, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_TRANSLATION, 0, nullptr, kBaseInfoInt},
    {SQL_CREATE_VIEW, SQL_CV_CREATE_VIEW, nullptr, kBaseInfoInt},
    {SQL_DROP_ASSERTION, 0, nullptr, kBaseInfoInt},
    {SQL_DROP_CHARACTER_SET, 0, nullptr, kBaseInfoInt},
    {SQL_DROP_COLLATION, 0, nullptr, kBaseInfoInt},
    {SQL_DROP_DOMAIN, 0, nullptr, kBaseInfoInt},
    {SQL_DROP_SCHEMA, 0, nullptr, kBaseInfoInt},
    {SQL_DROP_TABLE, SQL_DT_DROP_TABLE, nullptr, kBaseInfoInt},
    {SQL_DROP_TRANSLATION, 0, nullptr, kBaseInfoInt},
    {SQL_DROP_VIEW, SQL_DV_DROP_VIEW, nullptr, kBaseInfoInt},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0, nullptr, kBaseInfoInt},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0, nullptr, kBaseInfoInt},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT, nullptr, kBaseInfoInt},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, SQL_CA2_MAX_ROWS_SELECT | SQL_CA2_MAX_ROWS_CATALOG, nullptr, kBaseInfoInt},
    {SQL_INDEX_KEYWORDS, SQL_IK_ASC | SQL_IK_DESC, nullptr, kBaseInfoInt},
    {SQL_INFO_SCHEMA_VIEWS, 0, nullptr, kBaseInfoInt},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, 0, nullptr, kBaseInfoInt},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, 0, nullptr, kBaseInfoInt},
    {SQL_ODBC_INTERFACE_CONFORMANCE, SQL_OIC_CORE, nullptr, kBaseInfoInt},
    {SQL_PARAM_ARRAY_ROW_COUNTS, SQL_PARC_NO_BATCH, nullptr, kBaseInfoInt},
    {SQL_PARAM_ARRAY_SELECTS, SQL_PAS_NO_SELECT, nullptr, kBaseInfoInt},
    {SQL_SQL92_DATETIME_FUNCTIONS, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_GRANT, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_PREDICATES, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_REVOKE, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_ROW_VALUE_CONSTRUCTOR, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_STRING_FUNCTIONS, 0, nullptr, kBaseInfoInt},
    {SQL_SQL92_VALUE_EXPRESSIONS, 0, nullptr, kBaseInfoInt},
    {SQL_STANDARD_CLI_CONFORMANCE, SQL_SCC_XOPEN_CLI_VERSION1 | SQL_SCC_ISO92_CLI, nullptr, kBaseInfoInt},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, 0, nullptr, kBaseInfoInt},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, 0, nullptr, kBaseInfoInt},
    {SQL_AGGREGATE_FUNCTIONS, SQL_AF_ALL, nullptr, kBaseInfoInt},
    {SQL_DDL_INDEX, SQL_DI_CREATE_INDEX | SQL_DI_DROP_INDEX, nullptr, kBaseInfoInt},
    {SQL_INSERT_STATEMENT, SQL_IS_INSERT_LITERALS | SQL_IS_INSERT_SEARCHED | SQL_IS_SELECT_INTO, nullptr, kBaseInfoInt},
    {1012, 0, u"", kBaseInfoText},
    {1013, 0, u"", kBaseInfoText},
    {1014, 0, u"", kBaseInfoText},
    {1015, 0, u"", kBaseInfoText},
    {1016, 0, u"_0123456789", kBaseInfoText},
    {1018, 0, u"", kBaseInfoText},
    {1019, 0, u"_0123456789", kBaseInfoText},
    {1020, 0, nullptr, kBaseInfoShort},
    {1021, 65535, nullptr, kBaseInfoShort},
    {1022, 0, nullptr, kBaseInfoShort},
    {1023, 0, u"FOR UPDATE OF", kBaseInfoText},
    {1024, 1, nullptr, kBaseInfoShort},
    {1025, 0, nullptr, kBaseInfoInt},
    {1026, 0, nullptr, kBaseInfoShort},
    {1027, 0, u"", kBaseInfoText},
    {SQL_XOPEN_CLI_YEAR, 0, u"1995", kBaseInfoText},
    {SQL_CURSOR_SENSITIVITY, SQL_INSENSITIVE, nullptr, kBaseInfoInt},
    {SQL_DESCRIBE_PARAMETER, 0, u"N", kBaseInfoText},
    {SQL_COLLATION_SEQ, 0, u"", kBaseInfoText},
    {SQL_MAX_IDENTIFIER_LEN, 0, nullptr, kBaseInfoShort},
    {SQL_ASYNC_MODE, 0, nullptr, kBaseInfoInt},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 0, nullptr, kBaseInfoLimit},
};

// The private feature mask answered while attribute 1139 is on.
constexpr uint64_t kPrivateFeatureMask = 7;

// The byte-wise views of a capability word (basecursorcaps.h): the
// unlock bit in its second byte, the static cursor's widening bit in its
// third byte.
constexpr uint64_t kCapUnlock = kBaseCapLockUnlock >> 8;
constexpr uint64_t kCapStaticWide = kBaseCapStaticEmulated >> kBaseCapEmulatedShift;
// What a widened static cursor adds to its attributes, and the bits of the
// connection's own emulated attributes it takes over.
constexpr uint32_t kStaticWideAttrs1 = SQL_CA1_NEXT | SQL_CA1_ABSOLUTE | SQL_CA1_RELATIVE;
constexpr uint32_t kStaticEmulatedAttrs1 =
    SQL_CA1_POSITIONED_UPDATE | SQL_CA1_POSITIONED_DELETE | SQL_CA1_SELECT_FOR_UPDATE;
constexpr uint32_t kStaticWideAttrs2 = SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT;
constexpr uint32_t kStaticEmulatedAttrs2 = SQL_CA2_OPT_VALUES_CONCURRENCY | SQL_CA2_SIMULATE_TRY_UNIQUE;
// SQLGetInfo bits the emulation adds.
constexpr uint32_t kFetchBookmark = SQL_FD_FETCH_BOOKMARK;
constexpr uint32_t kFetchStatic =
    SQL_FD_FETCH_FIRST | SQL_FD_FETCH_LAST | SQL_FD_FETCH_PRIOR | SQL_FD_FETCH_ABSOLUTE | SQL_FD_FETCH_RELATIVE;
constexpr uint32_t kBookmarkPersistence = SQL_BP_DELETE | SQL_BP_UPDATE;

// The info type of today for the two that an older numbering gave.
uint16_t currentInfoType(uint16_t infoType) noexcept
{
    if (infoType == kBaseInfoFileUsageOld)
        return SQL_FILE_USAGE;
    if (infoType == kBaseInfoKeywordsOld)
        return SQL_KEYWORDS;
    return infoType;
}

uint64_t lowByte(uint64_t word) noexcept
{
    return word & 0xFF;
}
uint64_t secondByte(uint64_t word) noexcept
{
    return (word >> 8) & 0xFF;
}
uint64_t thirdByte(uint64_t word) noexcept
{
    return (word >> 16) & 0xFF;
}

uint64_t textValue(const char16_t* text) noexcept
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text));
}

const uint16_t* textOf(uint64_t value) noexcept
{
    return reinterpret_cast<const uint16_t*>(static_cast<uintptr_t>(value));
}

// A new NUL-terminated copy, or null (out of memory posted).
uint16_t* copyText(const uint16_t* text) noexcept
{
    size_t n = strLenOrZeroW(text);
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

int16_t clampLength(int64_t length) noexcept
{
    return static_cast<int16_t>(length > INT16_MAX ? INT16_MAX : length);
}

// A number at the width of its kind; numbers are never cut.
void putNumber(uint64_t number, int32_t kind, void* value, int16_t* stringLength) noexcept
{
    if (kind == kBaseInfoShort) {
        auto n = static_cast<uint16_t>(number);
        if (value != nullptr)
            std::memcpy(value, &n, sizeof n);
        if (stringLength != nullptr)
            *stringLength = sizeof n;
        return;
    }
    auto n = static_cast<uint32_t>(number);
    if (value != nullptr)
        std::memcpy(value, &n, sizeof n);
    if (stringLength != nullptr)
        *stringLength = sizeof n;
}

// A UTF-16 text with its terminator; the length output is the full length
// in bytes, and a cut is SQL_SUCCESS_WITH_INFO with 01004.
int16_t putWide(const uint16_t* text, void* value, int16_t bufferLength, int16_t* stringLength) noexcept
{
    if (value != nullptr && bufferLength < 0) {
        basePostError(kBaseIdxBadLength);
        return SQL_ERROR;
    }
    int64_t full = 0;
    bool cut = baseCopyWideAnswer(text, value, bufferLength, &full);
    if (stringLength != nullptr)
        *stringLength = clampLength(full);
    if (!cut)
        return SQL_SUCCESS;
    basePostWarning(kBaseIdxTruncated);
    return SQL_SUCCESS_WITH_INFO;
}

// The driver's file name (base name and ".so") when no connection can give
// it.
void driverFileName(uint16_t* out, size_t units) noexcept
{
    char name[BOS_PATH_SIZE];
    out[0] = 0;
    if (!baseDriverBaseName(name, sizeof name - 4))
        return;
    std::strcat(name, ".so");
    if (KaLocalToUtf16(out, units, name) < 0)
        out[0] = 0;
}

constexpr size_t kNameUnits = 1024;

}  // namespace

const BaseInfoTable kBaseInfoTable = {static_cast<int16_t>(std::size(kBaseEntries)), nullptr, kBaseEntries};

bool findInfo(const BaseInfoTable* table, uint16_t infoType, uint64_t* value, int32_t* kind) noexcept
{
    for (; table != nullptr; table = table->next) {
        int32_t low = 0;
        int32_t high = table->count - 1;
        while (low <= high) {
            int32_t mid = (low + high) / 2;
            const BaseInfoEntry& entry = table->entries[mid];
            if (entry.infoType == infoType) {
                *value = entry.kind == kBaseInfoText ? textValue(entry.text) : entry.value;
                *kind = entry.kind;
                return true;
            }
            if (entry.infoType < infoType)
                low = mid + 1;
            else
                high = mid - 1;
        }
    }
    return false;
}

void lookupInfo(const BaseInfoTable* table, uint16_t infoType, uint64_t* value, int32_t* kind) noexcept
{
    if (table != nullptr && findInfo(table, infoType, value, kind))
        return;
    if (table != &kBaseInfoTable && findInfo(&kBaseInfoTable, infoType, value, kind))
        return;
    *kind = kBaseInfoNotFound;
}

int32_t infoKindOf(uint16_t infoType) noexcept
{
    switch (infoType) {
    case SQL_DATABASE_NAME:
    case SQL_DBMS_VER:
    case SQL_USER_NAME: return kBaseInfoText;
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_NUMERIC_FUNCTIONS:
    case SQL_STRING_FUNCTIONS:
    case SQL_SYSTEM_FUNCTIONS:
    case SQL_TIMEDATE_FUNCTIONS:
    case SQL_TXN_ISOLATION_OPTION: return kBaseInfoInt;
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_USER_NAME_LEN: return kBaseInfoShort;
    default: break;
    }
    uint64_t value = 0;
    int32_t kind = kBaseInfoNotFound;
    if (!findInfo(&kBaseInfoTable, infoType, &value, &kind))
        return kBaseInfoNotFound;
    // A resource text is a text to the caller.
    return kind == kBaseInfoResource ? kBaseInfoText : kind;
}

// ---- The resolver ---------------------------------------------------------

int16_t BaseConnection::getInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind, int32_t* allocated) noexcept
{
    *allocated = 0;
    *value = 0;
    *kind = kBaseInfoNotFound;
    auto text = [&](const char16_t* t) noexcept {
        *value = textValue(t);
        *kind = kBaseInfoText;
        return static_cast<int16_t>(0);
    };
    auto number = [&](uint64_t n, int32_t k) noexcept {
        *value = n;
        *kind = k;
        return static_cast<int16_t>(0);
    };
    // The number another info type resolves to; -1 when it fails or is no
    // number.
    auto resolved = [this](uint16_t other) noexcept -> int64_t {
        uint64_t v = 0;
        int32_t k = 0;
        int32_t owned = 0;
        KaDiagMark mark;
        int16_t failed = getInfoValue(other, &v, &k, &owned);
        if (owned != 0)
            ramFree(const_cast<uint16_t*>(textOf(v)));
        // A failed look-up only decides which answer applies: its
        // diagnostics are not the caller's.
        while (failed != 0 && mark.posted() != 0)
            mark.list()->discardLast();
        if (failed != 0 || !baseInfoIsNumber(k))
            return -1;
        return static_cast<int64_t>(v);
    };
    switch (infoType) {
    case SQL_DATA_SOURCE_NAME:
        *value = textValue(dsnNameW != nullptr ? reinterpret_cast<const char16_t*>(dsnNameW) : u"");
        *kind = kBaseInfoText;
        return 0;
    case SQL_SERVER_NAME:
        if (serverNameBehavior == 1 && serverTextW != nullptr) {
            uint16_t* copy = copyText(serverTextW);
            if (copy == nullptr)
                return 1;
            *allocated = 1;
            *value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy));
            *kind = kBaseInfoText;
            return 0;
        }
        break;
    case SQL_DATABASE_NAME:
        if ((workarounds & kBaseWaNoDatabaseWithoutCatalogs) != 0 && resolved(SQL_MAX_CATALOG_NAME_LEN) == 0)
            return text(u"");
        break;
    case SQL_ACCESSIBLE_PROCEDURES:
    case SQL_PROCEDURES:
        if (resolved(SQL_MAX_PROCEDURE_NAME_LEN) == 0)
            return text(u"N");
        break;
    case SQL_PROCEDURE_TERM:
        if (resolved(SQL_MAX_PROCEDURE_NAME_LEN) == 0)
            return text(u"");
        break;
    case SQL_SCHEMA_TERM:
        if (resolved(SQL_MAX_SCHEMA_NAME_LEN) == 0)
            return text(u"");
        break;
    case SQL_SCHEMA_USAGE:
        if (resolved(SQL_MAX_SCHEMA_NAME_LEN) == 0)
            return number(0, kBaseInfoInt);
        break;
    case SQL_CATALOG_NAME_SEPARATOR:
    case SQL_CATALOG_TERM:
        if (resolved(SQL_MAX_CATALOG_NAME_LEN) == 0)
            return text(u"");
        break;
    case SQL_CATALOG_USAGE:
        if (resolved(SQL_MAX_CATALOG_NAME_LEN) == 0)
            return number(0, kBaseInfoInt);
        break;
    case SQL_CATALOG_LOCATION:
        if (resolved(SQL_MAX_CATALOG_NAME_LEN) == 0)
            return number(0, kBaseInfoShort);
        break;
    case SQL_LOCK_TYPES: {
        uint64_t locks = 0;
        for (uint64_t word : {dynamicCursorOps, keysetCursorOps, staticCursorOps}) {
            if ((lowByte(word) & kBaseCapLockNoChange) != 0 || (thirdByte(word) & kBaseCapLockNoChange) != 0)
                locks |= SQL_LCK_NO_CHANGE;
            if ((lowByte(word) & kBaseCapLockExclusive) != 0)
                locks |= SQL_LCK_EXCLUSIVE;
            if ((secondByte(word) & kCapUnlock) != 0)
                locks |= SQL_LCK_UNLOCK;
        }
        return number(locks, kBaseInfoInt);
    }
    case SQL_POS_OPERATIONS: {
        uint64_t ops = 0;
        for (uint64_t word : {staticCursorOps, dynamicCursorOps, keysetCursorOps}) {
            uint64_t bits = lowByte(word) | thirdByte(word);
            if ((bits & kBaseCapDelete) != 0)
                ops |= SQL_POS_DELETE;
            if ((bits & kBaseCapPosition) != 0)
                ops |= SQL_POS_POSITION;
            if ((bits & kBaseCapUpdate) != 0)
                ops |= SQL_POS_UPDATE;
            if ((bits & kBaseCapAdd) != 0)
                ops |= SQL_POS_ADD;
            if ((bits & kBaseCapRefresh) != 0)
                ops |= SQL_POS_REFRESH;
        }
        if (((lowByte(forwardCursorOps) | thirdByte(forwardCursorOps)) & kBaseCapAdd) != 0)
            ops |= SQL_POS_ADD;
        return number(ops, kBaseInfoInt);
    }
    case kBaseInfoThreadModel: return number(static_cast<uint64_t>(threadModel), kBaseInfoShort);
    case kBaseInfoPrivateFeature:
        if (attribute1139 != 0)
            return number(kPrivateFeatureMask, kBaseInfoInt);
        basePostError(kBaseIdxNotSupported);
        return 1;
    case SQL_CATALOG_NAME: {
        int64_t length = resolved(SQL_MAX_CATALOG_NAME_LEN);
        return text(length > 0 ? u"Y" : u"N");
    }
    default: break;
    }

    // The general look-up.
    if ((infoFlags & kBaseInfoAllByDriver) != 0) {
        *kind = kBaseInfoDriver;
    } else if (infoType == SQL_MAX_CATALOG_NAME_LEN && useLongQualifiers != 0) {
        return number(kBaseInfoLongQualifierLength, kBaseInfoShort);
    } else if (infoType == SQL_SCROLL_CONCURRENCY) {
        // Only the driver says what concurrency its cursors offer; the base
        // table's value is no default for it.
        if (!findInfo(driverInfoTable, infoType, value, kind)) {
            bool locks = (infoFlags & kBaseInfoLockConcurrency) != 0;
            return number(locks ? SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK : SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES,
                          kBaseInfoInt);
        }
    } else {
        lookupInfo(driverInfoTable, infoType, value, kind);
    }

    if (*kind == kBaseInfoDriver) {
        *kind = kBaseInfoNotFound;
        *value = 0;
        if (driverInfoValue(infoType, value, kind) != 0)
            return 1;
        if (*kind == kBaseInfoText)
            *allocated = 1;
    }
    if (*kind == kBaseInfoNotFound) {
        switch (infoType) {
        case SQL_DATABASE_NAME:
            if (databaseNameW != nullptr)
                return text(reinterpret_cast<const char16_t*>(databaseNameW));
            // The driver may know the database its session works in.
            if (driverInfoValue(infoType, value, kind) != 0)
                return 1;
            if (*kind == kBaseInfoText) {
                *allocated = 1;
                return 0;
            }
            return text(u"");
        case SQL_MAX_USER_NAME_LEN: return getInfoValue(SQL_MAX_SCHEMA_NAME_LEN, value, kind, allocated);
        case SQL_USER_NAME:
            // The user name is read by SQLGetInfo itself, decrypted only
            // into the application's buffer.
            basePostError(kBaseIdxGeneralError);
            return 1;
        default: basePostError(kBaseIdxNotSupported); return 1;
        }
    }
    if (*kind == kBaseInfoResource) {
        uint16_t resource[kBaseResourceTextUnits];
        resource[0] = 0;
        getResourceString(static_cast<uint32_t>(*value), resource);
        uint16_t* copy = copyText(resource);
        if (copy == nullptr)
            return 1;
        *allocated = 1;
        *value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy));
        *kind = kBaseInfoText;
        return 0;
    }
    if (infoType == SQL_MAX_CATALOG_NAME_LEN && (workarounds & kBaseWaNoCatalogs) != 0)
        return number(0, kBaseInfoShort);
    if (infoType == SQL_MAX_DRIVER_CONNECTIONS && (workarounds & kBaseWaSingleConnection) != 0 && *value == 0)
        *value = 1;
    if (infoType == SQL_MAX_DRIVER_CONNECTIONS && pooled != 0) {
        // A pooled connection answers for its pool: the connections it
        // holds.
        BasePoolCounts counts{};
        BaseConnPoolManager* manager = basePoolManager();
        if (manager != nullptr && manager->countsOf(this, &counts))
            *value = static_cast<uint64_t>(counts.connections);
    }
    if (infoType == SQL_SCROLL_OPTIONS && (infoFlags & kBaseInfoStaticCursors) != 0)
        *value |= SQL_SO_STATIC;
    return 0;
}

// ---- SQLGetInfoW ------------------------------------------------------------

int16_t BaseConnection::getInfoValue(uint16_t infoType, void* value, int16_t bufferLength,
                                     int16_t* stringLength) noexcept
{
    infoType = currentInfoType(infoType);
    uint64_t answer = 0;
    int32_t kind = kBaseInfoNotFound;
    int32_t allocated = 0;
    if (getInfoValue(infoType, &answer, &kind, &allocated) != 0)
        return SQL_ERROR;
    // A text made for this answer may hold a secret: wiped when it goes.
    RamWipedPtr<uint16_t> made;
    if (allocated != 0) {
        auto* owned = const_cast<uint16_t*>(textOf(answer));
        made.reset(owned, strLenOrZeroW(owned) * 2);
    }
    int16_t rc = SQL_SUCCESS;
    if (baseInfoIsNumber(kind)) {
        uint64_t keyset = thirdByte(keysetCursorOps);
        uint64_t dynamic = thirdByte(dynamicCursorOps);
        uint64_t stat = thirdByte(staticCursorOps);
        auto emulated = [](uint64_t byte) noexcept {
            uint64_t add = 0;
            if ((byte & kBaseCapUpdate) != 0)
                add |= SQL_CA1_POS_UPDATE;
            if ((byte & kBaseCapDelete) != 0)
                add |= SQL_CA1_POS_DELETE;
            if ((byte & kBaseCapRefresh) != 0)
                add |= SQL_CA1_POS_REFRESH;
            if ((byte & kBaseCapPosition) != 0)
                add |= SQL_CA1_POS_POSITION;
            if ((byte & kBaseCapAdd) != 0)
                add |= SQL_CA1_BULK_ADD;
            if ((byte & kBaseCapLockNoChange) != 0)
                add |= SQL_CA1_LOCK_NO_CHANGE;
            if ((byte & kBaseCapBookmarks) != 0)
                add |= SQL_CA1_BOOKMARK;
            return add;
        };
        bool anyBookmarks = ((keyset | dynamic | stat) & kBaseCapBookmarks) != 0;
        switch (infoType) {
        case SQL_KEYSET_CURSOR_ATTRIBUTES1: answer |= emulated(keyset); break;
        case SQL_DYNAMIC_CURSOR_ATTRIBUTES1: answer |= emulated(dynamic); break;
        case SQL_STATIC_CURSOR_ATTRIBUTES1:
            answer |= emulated(stat);
            if ((stat & kCapStaticWide) != 0)
                answer |= kStaticWideAttrs1 | (emulatedCursorAttrs & kStaticEmulatedAttrs1);
            break;
        case SQL_STATIC_CURSOR_ATTRIBUTES2:
            if ((stat & kCapStaticWide) != 0)
                answer |= kStaticWideAttrs2 | (emulatedCursorAttrs & kStaticEmulatedAttrs2);
            break;
        case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1:
            if ((thirdByte(forwardCursorOps) & kBaseCapAdd) != 0)
                answer |= SQL_CA1_BULK_ADD;
            break;
        case SQL_BOOKMARK_PERSISTENCE:
            if (anyBookmarks)
                answer |= kBookmarkPersistence;
            break;
        case SQL_FETCH_DIRECTION:
            if (anyBookmarks || (thirdByte(forwardCursorOps) & kBaseCapBookmarks) != 0)
                answer |= kFetchBookmark;
            if ((infoFlags & kBaseInfoStaticCursors) != 0)
                answer |= kFetchStatic;
            break;
        case SQL_MAX_CONCURRENT_ACTIVITIES:
            if ((workarounds2 & kBaseWa2NoActivityLimit) != 0)
                answer = 0;
            break;
        case SQL_MAX_DRIVER_CONNECTIONS:
            if (answer == 1 && (workarounds & (kBaseWaNoConnectionLimit | kBaseWaSingleConnection)) != 0)
                answer = 0;
            break;
        case SQL_CURSOR_COMMIT_BEHAVIOR:
        case SQL_CURSOR_ROLLBACK_BEHAVIOR:
            if ((workarounds & kBaseWaKeepPrepared) != 0 && answer == SQL_CB_DELETE)
                answer = SQL_CB_CLOSE;
            break;
        case kBaseInfoPrivateSwitch:
            if (attribute1139 == 0) {
                basePostError(kBaseIdxNotSupported);
                return SQL_ERROR;
            }
            break;
        default: break;
        }
        putNumber(answer, kind, value, stringLength);
        return SQL_SUCCESS;
    }

    const uint16_t* text = textOf(answer);
    if (infoType == SQL_MULT_RESULT_SETS && (workarounds2 & kBaseWa2NoMultipleResults) != 0 && text != nullptr &&
        text[0] == u'Y' && text[1] == 0)
        text = reinterpret_cast<const uint16_t*>(u"N");
    bool privateText = infoType > kBaseInfoPrivateTextsAbove && infoType != SQL_XOPEN_CLI_YEAR &&
                       infoType != SQL_DESCRIBE_PARAMETER && infoType != SQL_CATALOG_NAME &&
                       infoType != SQL_COLLATION_SEQ;
    if (privateText && (infoFlags & kBaseInfoPrivateTextsNarrow) != 0) {
        if (value != nullptr && bufferLength < 0) {
            rc = SQL_ERROR;
            basePostError(kBaseIdxBadLength);
        } else {
            int64_t produced = 0;
            int32_t truncated = 0;
            if (baseConvertTextToBuffer(kCodePageUtf16LE, text, static_cast<int64_t>(strLenOrZeroW(text)) * 2,
                                        appCodePage, value, value != nullptr ? bufferLength : 0, 1, &produced,
                                        &truncated, &icuCache) != 0) {
                rc = SQL_ERROR;
            } else {
                if (stringLength != nullptr)
                    *stringLength = clampLength(produced);
                if (truncated != 0 && value != nullptr) {
                    basePostWarning(kBaseIdxTruncated);
                    rc = SQL_SUCCESS_WITH_INFO;
                }
            }
        }
    } else {
        rc = putWide(text, value, bufferLength, stringLength);
    }
    return rc;
}

int16_t BaseConnection::getInfo(uint16_t infoType, void* value, int16_t bufferLength, int16_t* stringLength) noexcept
{
    return runApi(SQL_API_SQLGETINFO, [&]() noexcept -> int16_t {
        if (infoType == SQL_DRIVER_NAME) {
            uint16_t name[kNameUnits];
            name[0] = 0;
            if (driverLibraryName(name, kNameUnits) != 0)
                return SQL_ERROR;
            return putWide(name, value, bufferLength, stringLength);
        }
        if (infoType == SQL_IDENTIFIER_QUOTE_CHAR && (workarounds2 & kBaseWa2BackQuote) != 0)
            return putWide(reinterpret_cast<const uint16_t*>(u"`"), value, bufferLength, stringLength);
        if (infoType != SQL_USER_NAME)
            return getInfoValue(infoType, value, bufferLength, stringLength);
        uint64_t answer = 0;
        int32_t kind = kBaseInfoNotFound;
        lookupInfo(driverInfoTable, infoType, &answer, &kind);
        if (kind == kBaseInfoDriver) {
            answer = 0;
            kind = kBaseInfoNotFound;
            if (driverInfoValue(infoType, &answer, &kind) != 0)
                return SQL_ERROR;
            auto* text = const_cast<uint16_t*>(textOf(answer));
            if (kind != kBaseInfoText || text == nullptr) {
                basePostError(kBaseIdxGeneralError);
                return SQL_ERROR;
            }
            RamWipedPtr<uint16_t> name(text, strLenOrZeroW(text) * 2);
            return putWide(name.get(), value, bufferLength, stringLength);
        }
        // Decrypted only for the copy into the application's buffer; the
        // holder wipes it when it goes.
        KaMemoryBuffer plain;
        plain.state = KA_MEMBUF_PLAIN;
        if (userId.length != 0 && getUserId(plain) != 0)
            return SQL_ERROR;
        const uint16_t* name = userId.length != 0 ? plain.data : reinterpret_cast<const uint16_t*>(u"");
        return putWide(name, value, bufferLength, stringLength);
    });
}

int16_t BaseConnection::driverInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind) noexcept
{
    return 0;
}

// ---- Before a physical connection exists -------------------------------------

int16_t baseGetInfoW(BaseStubConnection* handle, uint16_t infoType, void* value, int16_t bufferLength,
                     int16_t* stringLength) noexcept
{
    return handle->runApi(SQL_API_SQLGETINFO, [&]() noexcept -> int16_t {
        infoType = currentInfoType(infoType);
        uint64_t answer = 0;
        int32_t kind = kBaseInfoNotFound;
        lookupInfo(&kBaseInfoTable, infoType, &answer, &kind);
        if (baseInfoIsNumber(kind)) {
            putNumber(answer, kind, value, stringLength);
            return SQL_SUCCESS;
        }
        uint16_t text[kNameUnits];
        text[0] = 0;
        if (kind == kBaseInfoText) {
            return putWide(textOf(answer), value, bufferLength, stringLength);
        } else if (kind == kBaseInfoResource) {
            errLoadMessageW(text, kNameUnits, static_cast<uint16_t>(answer));
        } else if (infoType == SQL_DRIVER_NAME) {
            driverFileName(text, kNameUnits);
        } else if (infoType != SQL_DATA_SOURCE_NAME && infoType != SQL_DATABASE_NAME && infoType != SQL_USER_NAME) {
            // Nothing is known of this info type: refused as after a
            // connect, rather than answered with an empty text.
            basePostError(kBaseIdxNotSupported);
            return SQL_ERROR;
        }
        return putWide(text, value, bufferLength, stringLength);
    });
}
