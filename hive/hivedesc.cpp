// The Hive statement's descriptors and records, and the type rows and SQL
// types of the driver's type codes.
#include "hive/hivedesc.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "foundation/ram.h"
#include "hive/hivecommunicator.h"
#include "odbc/basestmt.h"

// ---- Records ----------------------------------------------------------------

HiveIRDRecord::~HiveIRDRecord()
{
    releaseReaders();
}

void HiveIRDRecord::releaseReaders() noexcept
{
    // A value streamed to SQLGetData may run through a reader's converter:
    // the statement lets it go before the reader does.
    BaseStatement* stmt = owner != nullptr ? owner->statement : nullptr;
    if (stmt != nullptr && stmt->getDataConverter != nullptr && (wireReader != nullptr || cacheReader != nullptr))
        stmt->releaseGetDataConverter();
    delete wireReader;
    delete cacheReader;
    wireReader = nullptr;
    cacheReader = nullptr;
    currentReader = nullptr;
    storage.release();
}

HiveIPDRecord::~HiveIPDRecord() = default;

void* HiveIPDRecord::driverExtension() const noexcept
{
    return const_cast<uint8_t*>(driverPart);
}

HiveCofCRecord::~HiveCofCRecord()
{
    if (driverPart.owned)
        ramFree(driverPart.buffer);
}

int16_t HiveCofCRecord::copyFrom(const BaseRecord& other) noexcept
{
    int16_t rc = BaseCofCRecord::copyFrom(other);
    if (const auto* from = dynamic_cast<const HiveCofCRecord*>(&other)) {
        driverPart.owned = from->driverPart.owned;
        driverPart.value = from->driverPart.value;
    }
    return rc;
}

void* HiveCofCRecord::driverExtension() const noexcept
{
    return const_cast<HiveCofCDriverPart*>(&driverPart);
}

// ---- Descriptors --------------------------------------------------------------

HiveIRD::HiveIRD(BaseStatement* stmt) noexcept : BaseIRD(stmt)
{
    adoptEmbedded(&record0);
}

HiveIRD::~HiveIRD()
{
    releaseEmbedded();
}

BaseRecord* HiveIRD::newRecord(int64_t) noexcept
{
    auto* rec = new HiveIRDRecord();
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

HiveIPD::HiveIPD(BaseStatement* stmt) noexcept : BaseIPD(stmt)
{
    adoptEmbedded(&record0);
}

HiveIPD::~HiveIPD()
{
    releaseEmbedded();
}

BaseRecord* HiveIPD::newRecord(int64_t n) noexcept
{
    auto* rec = new HiveIPDRecord();
    if (rec == nullptr)
        return nullptr;
    rec->owner = this;
    rec->apdIndex = static_cast<int16_t>(n);
    return rec;
}

HiveCofC::HiveCofC(BaseStatement* stmt) noexcept : BaseCofC(stmt) {}

HiveCofC::~HiveCofC() = default;

BaseRecord* HiveCofC::newRecord(int64_t) noexcept
{
    auto* rec = new HiveCofCRecord();
    if (rec != nullptr)
        rec->owner = this;
    return rec;
}

// ---- Type codes -----------------------------------------------------------------

namespace {

// Local type names of the type rows, by message number.
enum : uint16_t {
    kTypeMsgString = 20124,
    kTypeMsgTinyint = 20125,
    kTypeMsgSmallint = 20126,
    kTypeMsgInt = 20127,
    kTypeMsgBigint = 20128,
    kTypeMsgBoolean = 20129,
    kTypeMsgFloat = 20130,
    kTypeMsgDouble = 20131,
    kTypeMsgTimestamp = 20132,
    kTypeMsgBinary = 20133,
    kTypeMsgVarchar = 20134,
    kTypeMsgDate = 20135,
    kTypeMsgChar = 20136,
    kTypeMsgDecimal = 20137,
    kTypeMsgUserDefined = 20138,
    kTypeMsgArray = 20139,
    kTypeMsgNull = 20140,
    kTypeMsgMap = 20141,
    kTypeMsgStruct = 20142,
    kTypeMsgUnion = 20143,
};

// Create-parameter texts of the varchar and decimal rows.
constexpr uint16_t kCreateParamsLength = 20108;
constexpr uint16_t kCreateParamsPrecisionScale = 20111;
// Largest column size a type row gives.
constexpr int32_t kTypeSizeUnbounded = 2147483647;
constexpr int32_t kTypeSizeComplex = 134217727;
// The varchar row's size, as servers report it.
constexpr int32_t kTypeSizeVarchar = 65355;

#define KA_U16(text) const_cast<uint16_t*>(reinterpret_cast<const uint16_t*>(u##text))

// The rows the connection's type table starts with and the fixed rows that
// stand in for the rest; a string row is the table's first "string" row.
// Fields: name, message, SQL type, size, prefix, suffix, create parameters,
// nullable, searchable, flags, minimum and maximum scale.
const BaseTypeInfoBlock kRowString = {KA_U16("string"),
                                      kTypeMsgString,
                                      SQL_LONGVARCHAR,
                                      kTypeSizeUnbounded,
                                      KA_U16("'"),
                                      KA_U16("'"),
                                      0,
                                      SQL_NULLABLE,
                                      SQL_SEARCHABLE,
                                      kBaseRecCaseSensitive,
                                      0,
                                      0,
                                      0};
const BaseTypeInfoBlock kRowTinyint = {KA_U16("tinyint"),
                                       kTypeMsgTinyint,
                                       SQL_TINYINT,
                                       3,
                                       nullptr,
                                       KA_U16("Y"),
                                       0,
                                       SQL_NULLABLE,
                                       SQL_SEARCHABLE,
                                       0,
                                       0,
                                       0,
                                       0};
const BaseTypeInfoBlock kRowSmallint = {KA_U16("smallint"),
                                        kTypeMsgSmallint,
                                        SQL_SMALLINT,
                                        5,
                                        nullptr,
                                        KA_U16("S"),
                                        0,
                                        SQL_NULLABLE,
                                        SQL_SEARCHABLE,
                                        0,
                                        0,
                                        0,
                                        0};
const BaseTypeInfoBlock kRowInt = {KA_U16("int"), kTypeMsgInt,    SQL_INTEGER, 10, nullptr, nullptr, 0,
                                   SQL_NULLABLE,  SQL_SEARCHABLE, 0,           0,  0,       0};
const BaseTypeInfoBlock kRowBigint = {KA_U16("bigint"),
                                      kTypeMsgBigint,
                                      SQL_BIGINT,
                                      19,
                                      nullptr,
                                      KA_U16("L"),
                                      0,
                                      SQL_NULLABLE,
                                      SQL_SEARCHABLE,
                                      0,
                                      0,
                                      0,
                                      0};
const BaseTypeInfoBlock kRowBoolean = {KA_U16("boolean"), kTypeMsgBoolean,     SQL_BIT, 1, nullptr, nullptr, 0,
                                       SQL_NULLABLE,      SQL_ALL_EXCEPT_LIKE, 0,       0, 0,       0};
const BaseTypeInfoBlock kRowFloat = {KA_U16("float"), kTypeMsgFloat,  SQL_REAL, 24, nullptr, nullptr, 0,
                                     SQL_NULLABLE,    SQL_SEARCHABLE, 0,        0,  0,       0};
const BaseTypeInfoBlock kRowDouble = {KA_U16("double"), kTypeMsgDouble, SQL_DOUBLE, 53, nullptr, nullptr, 0,
                                      SQL_NULLABLE,     SQL_SEARCHABLE, 0,          0,  0,       0};
const BaseTypeInfoBlock kRowTimestamp = {KA_U16("timestamp"),
                                         kTypeMsgTimestamp,
                                         SQL_TYPE_TIMESTAMP,
                                         29,
                                         KA_U16("{ts '"),
                                         KA_U16("'}"),
                                         0,
                                         SQL_NULLABLE,
                                         SQL_SEARCHABLE,
                                         0,
                                         0,
                                         9,
                                         0};
const BaseTypeInfoBlock kRowNull = {KA_U16("null"), kTypeMsgNull,   SQL_CHAR, 1, nullptr, nullptr, 0,
                                    SQL_NULLABLE,   SQL_SEARCHABLE, 0,        0, 0,       0};
const BaseTypeInfoBlock kRowVarchar = {KA_U16("varchar"),
                                       kTypeMsgVarchar,
                                       SQL_VARCHAR,
                                       kTypeSizeVarchar,
                                       KA_U16("'"),
                                       KA_U16("'"),
                                       kCreateParamsLength,
                                       SQL_NULLABLE,
                                       SQL_SEARCHABLE,
                                       kBaseRecCaseSensitive,
                                       0,
                                       0,
                                       0};
const BaseTypeInfoBlock kRowDate = {KA_U16("date"),
                                    kTypeMsgDate,
                                    SQL_TYPE_DATE,
                                    10,
                                    KA_U16("{d'"),
                                    KA_U16("'}"),
                                    0,
                                    SQL_NULLABLE,
                                    SQL_SEARCHABLE,
                                    0,
                                    0,
                                    6,
                                    0};
const BaseTypeInfoBlock kRowChar = {KA_U16("char"),
                                    kTypeMsgChar,
                                    SQL_CHAR,
                                    255,
                                    KA_U16("'"),
                                    KA_U16("'"),
                                    kCreateParamsLength,
                                    SQL_NULLABLE,
                                    SQL_SEARCHABLE,
                                    kBaseRecCaseSensitive,
                                    0,
                                    0,
                                    0};
const BaseTypeInfoBlock kRowBinary = {KA_U16("binary"),
                                      kTypeMsgBinary,
                                      SQL_VARBINARY,
                                      kTypeSizeUnbounded,
                                      nullptr,
                                      nullptr,
                                      0,
                                      SQL_NULLABLE,
                                      SQL_UNSEARCHABLE,
                                      0,
                                      0,
                                      0,
                                      0};
const BaseTypeInfoBlock kRowDecimal = {
    KA_U16("decimal"), kTypeMsgDecimal, SQL_DECIMAL, 38, nullptr, nullptr, kCreateParamsPrecisionScale,
    SQL_NULLABLE,      SQL_SEARCHABLE,  0,           0,  38,      0};
const BaseTypeInfoBlock kRowArray = {KA_U16("array"),
                                     kTypeMsgArray,
                                     SQL_WVARCHAR,
                                     kTypeSizeUnbounded,
                                     nullptr,
                                     nullptr,
                                     0,
                                     SQL_NULLABLE,
                                     SQL_SEARCHABLE,
                                     0,
                                     0,
                                     0,
                                     0};
const BaseTypeInfoBlock kRowMap = {KA_U16("map"),
                                   kTypeMsgMap,
                                   SQL_WVARCHAR,
                                   kTypeSizeComplex,
                                   nullptr,
                                   nullptr,
                                   0,
                                   SQL_NULLABLE,
                                   SQL_SEARCHABLE,
                                   0,
                                   0,
                                   0,
                                   0};
const BaseTypeInfoBlock kRowStruct = {KA_U16("struct"),
                                      kTypeMsgStruct,
                                      SQL_WVARCHAR,
                                      kTypeSizeComplex,
                                      nullptr,
                                      nullptr,
                                      0,
                                      SQL_NULLABLE,
                                      SQL_SEARCHABLE,
                                      0,
                                      0,
                                      0,
                                      0};
const BaseTypeInfoBlock kRowUnion = {KA_U16("uniontype"),
                                     kTypeMsgUnion,
                                     SQL_WVARCHAR,
                                     kTypeSizeComplex,
                                     nullptr,
                                     nullptr,
                                     0,
                                     SQL_NULLABLE,
                                     SQL_SEARCHABLE,
                                     0,
                                     0,
                                     0,
                                     0};
const BaseTypeInfoBlock kRowUserDefined = {KA_U16("user defined type"),
                                           kTypeMsgUserDefined,
                                           SQL_VARCHAR,
                                           kTypeSizeUnbounded,
                                           KA_U16("'"),
                                           KA_U16("'"),
                                           0,
                                           SQL_NULLABLE,
                                           SQL_SEARCHABLE,
                                           kBaseRecCaseSensitive,
                                           0,
                                           0,
                                           0};
// Text: a timestamp of nine fraction digits, a blank and the longest zone
// name of the time zone database.
const BaseTypeInfoBlock kRowTimestampLocalTz = {KA_U16("timestamp with local time zone"),
                                                0,
                                                SQL_WVARCHAR,
                                                kHiveTimestampLocalTzText,
                                                KA_U16("'"),
                                                KA_U16("'"),
                                                0,
                                                SQL_NULLABLE,
                                                SQL_SEARCHABLE,
                                                0,
                                                0,
                                                0,
                                                0};

#undef KA_U16

}  // namespace

int16_t hiveSqlTypeOf(uint16_t code, int16_t stringDescribeType) noexcept
{
    switch (code) {
    case HIVE_TYPE_BOOLEAN: return SQL_BIT;
    case HIVE_TYPE_TINYINT: return SQL_TINYINT;
    case HIVE_TYPE_SMALLINT: return SQL_SMALLINT;
    case HIVE_TYPE_INT: return SQL_INTEGER;
    case HIVE_TYPE_BIGINT: return SQL_BIGINT;
    case HIVE_TYPE_FLOAT: return SQL_REAL;
    case HIVE_TYPE_DOUBLE: return SQL_DOUBLE;
    case HIVE_TYPE_DATE: return SQL_TYPE_DATE;
    case HIVE_TYPE_TIMESTAMP: return SQL_TYPE_TIMESTAMP;
    case HIVE_TYPE_BINARY: return SQL_VARBINARY;
    case HIVE_TYPE_DECIMAL: return SQL_DECIMAL;
    case HIVE_TYPE_VARCHAR: return SQL_WVARCHAR;
    case HIVE_TYPE_CHAR: return SQL_WCHAR;
    default: return code <= HIVE_TYPE_CHAR ? stringDescribeType : SQL_WVARCHAR;
    }
}

const BaseTypeInfoBlock* hiveFindTypeRow(uint16_t code) noexcept
{
    switch (code) {
    case HIVE_TYPE_UNKNOWN:
    case HIVE_TYPE_STRING: return &kRowString;
    case HIVE_TYPE_BOOLEAN: return &kRowBoolean;
    case HIVE_TYPE_TINYINT: return &kRowTinyint;
    case HIVE_TYPE_SMALLINT: return &kRowSmallint;
    case HIVE_TYPE_INT: return &kRowInt;
    case HIVE_TYPE_BIGINT: return &kRowBigint;
    case HIVE_TYPE_FLOAT: return &kRowFloat;
    case HIVE_TYPE_DOUBLE: return &kRowDouble;
    case HIVE_TYPE_DATE: return &kRowDate;
    case HIVE_TYPE_TIMESTAMP: return &kRowTimestamp;
    case HIVE_TYPE_ARRAY:
    case HIVE_TYPE_ARRAY_ALT: return &kRowArray;
    case HIVE_TYPE_MAP: return &kRowMap;
    case HIVE_TYPE_STRUCT: return &kRowStruct;
    case HIVE_TYPE_BINARY: return &kRowBinary;
    case HIVE_TYPE_UNION: return &kRowUnion;
    case HIVE_TYPE_USER_DEFINED: return &kRowUserDefined;
    case HIVE_TYPE_DECIMAL: return &kRowDecimal;
    case HIVE_TYPE_DATETIME:
    case HIVE_TYPE_UNKNOWN_LATE:
    case HIVE_TYPE_NULL: return &kRowNull;
    case HIVE_TYPE_VARCHAR: return &kRowVarchar;
    case HIVE_TYPE_CHAR: return &kRowChar;
    default: return nullptr;
    }
}

const BaseTypeInfoBlock* hiveTextTypeRow(int32_t typeId) noexcept
{
    return typeId == kHiveTypeIdTimestampLocalTz ? &kRowTimestampLocalTz : nullptr;
}

const BaseTypeInfoBlock* hiveTextTypeRowNamed(const char* name, size_t length) noexcept
{
    const BaseTypeInfoBlock* row = &kRowTimestampLocalTz;
    size_t i = 0;
    for (; i < length && row->typeName[i] != 0; ++i) {
        const char c = name[i] >= 'A' && name[i] <= 'Z' ? char(name[i] + ('a' - 'A')) : name[i];
        if (uint16_t(static_cast<uint8_t>(c)) != row->typeName[i])
            return nullptr;
    }
    return i == length && row->typeName[i] == 0 ? row : nullptr;
}
