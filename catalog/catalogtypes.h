// SQLGetTypeInfo's rows: one GetTypeRowInfo per type of the connection's
// type table that the request takes, ordered by the reported DATA_TYPE and
// then by the table's order, and the values of its 19 result columns. The
// statement operation (odbc/, through the catalog framework) builds the
// result with these; the Hive connection fills the table it reads.
#pragma once
#include <cstddef>
#include <cstdint>

#include "catalog/catalogcell.h"
#include "foundation/kaobject.h"

class KaSortedArray;
struct BaseCatalogColumn;
struct BaseTypeRow;

// The result columns of SQLGetTypeInfo.
constexpr uint16_t kTypeInfoColumnCount = 19;
extern const BaseCatalogColumn kTypeInfoColumns[kTypeInfoColumnCount];

// What shapes the rows besides the request: the application's ODBC version,
// REPORTBINARYPRECISION, the WORKAROUNDS2 bits that reverse the table order
// among rows of one type and that shorten the date-time literal prefixes to
// braces, and the driver's resource texts of the message numbers.
struct TypeRowSettings {
    bool odbc2 = false;
    bool reportBinaryPrecision = true;
    bool reverseTableOrder = false;
    bool bracesForDateTimeLiterals = false;
    bool graphicTypesAsText = false;
    // Text of resource message `id` into out (capacity units with the
    // terminator), its length; 0 when there is none.
    int32_t (*resourceText)(void* context, uint32_t id, uint16_t* out, int32_t capacity) = nullptr;
    void* resourceContext = nullptr;
};

class GetTypeRowInfo : public KaObject {
public:
    GetTypeRowInfo() noexcept = default;
    ~GetTypeRowInfo() override;
    GetTypeRowInfo(const GetTypeRowInfo&) = delete;
    GetTypeRowInfo& operator=(const GetTypeRowInfo&) = delete;

    // Reported DATA_TYPE, then the order key; never equal.
    int16_t compare(const KaObject& other) const override;
    // 1 when the requested type is 0 (all types) or the row's DATA_TYPE.
    [[nodiscard]] int16_t matchesDataType(int16_t requested) const noexcept;
    // The value of result column `column` (1 to 19).
    CatalogCell cell(uint16_t column) const noexcept;

    uint16_t orderKey = 0;
    uint16_t* typeName = nullptr;
    int16_t dataType = 0;
    int16_t reportedDataType = 0;
    uint32_t columnSize = 0;  // 0 reads NULL
    uint16_t* literalPrefix = nullptr;
    uint16_t* literalSuffix = nullptr;
    uint16_t* createParams = nullptr;
    int16_t nullable = 0;
    int16_t caseSensitive = 0;
    int16_t searchable = 0;
    int16_t unsignedAttribute = 0;
    int16_t fixedPrecScale = 0;
    int16_t autoUnique = 0;
    uint16_t* localTypeName = nullptr;
    int16_t minimumScale = 0;
    int16_t maximumScale = 0;
    int32_t numPrecRadix = 0;  // 32767 reads NULL
    int16_t intervalPrecision = 0;
};

// The type an ODBC 2 application means by 9, 10 and 11 (91, 92, 93);
// every other request unchanged.
int16_t typeInfoRequestedType(int16_t dataType, bool odbc2) noexcept;
// Appends a row for every table row the request takes (0: all), in table
// order. 0, or 1 after the out-of-memory diagnostic.
[[nodiscard]] int16_t typeInfoCollectRows(KaSortedArray* rows, const BaseTypeRow* table, size_t count,
                                          int16_t requested, const TypeRowSettings& settings) noexcept;
// A row read from a driver's own result: the reported DATA_TYPE of an
// ODBC 2 application and the REPORTBINARYPRECISION sizes, as the table rows
// get them.
void typeInfoFinishDriverRow(GetTypeRowInfo* row, const TypeRowSettings& settings) noexcept;
// Whether a request that found no row names a type at all: 0 valid (an
// empty result), or the reason it is refused.
enum class TypeRequestCheck : uint8_t {
    Valid,
    BelowRange,
    UnknownType,
};
TypeRequestCheck typeInfoCheckRequest(int16_t requested, bool graphicTypesAsText) noexcept;
