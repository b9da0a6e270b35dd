// The result holders of the catalog functions, which the statement keeps on
// two stacks and reads in place of the driver's hooks while its result is a
// catalog result. The catalog layer derives each function's holder and row
// classes from these; the fetch core and SQLGetData reach them through the
// virtual operations declared here.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"

class BaseIRD;
class BaseOutString;
class BaseStatement;
struct BaseCatalogColumn;

// CatalogKind: which catalog function made a holder; the driver's hooks and
// the statement framework dispatch on it.
constexpr int32_t kCatalogKindTypeInfo = 0;
constexpr int32_t kCatalogKindColumnPrivileges = 1;
constexpr int32_t kCatalogKindColumns = 2;
constexpr int32_t kCatalogKindForeignKeys = 3;
constexpr int32_t kCatalogKindPrimaryKeys = 4;
constexpr int32_t kCatalogKindProcedureColumns = 5;
constexpr int32_t kCatalogKindProcedures = 6;
constexpr int32_t kCatalogKindSpecialColumns = 7;
constexpr int32_t kCatalogKindStatistics = 8;
constexpr int32_t kCatalogKindTablePrivileges = 9;
constexpr int32_t kCatalogKindTables = 10;

// A catalog result's rows are as many as the server has tables or columns:
// the array doubles as it grows (growStep 0), so appending stays linear.
constexpr size_t kCatalogRowGrowStep = 0;

// fetchNext's end flag and setPosition's status.
constexpr int16_t kCatalogRowAvailable = 0;
constexpr int16_t kCatalogNoRow = 3;

// The value of a 32-bit catalog cell that stands for NULL.
constexpr int32_t kCatalogNullLong = INT32_MIN;
// The value of a 16-bit cell (decimal digits, radix) that stands for NULL.
constexpr int16_t kCatalogNullShort = 32767;

// The holder the application reads: the function's rows, sorted once when
// the result is complete. Deleting a holder deletes its rows and every
// holder below it, and puts back the IRD it saved.
class BaseCatalogInfoW : public KaObject {
public:
    BaseCatalogInfoW(BaseStatement* stmt, int32_t kind, const BaseCatalogColumn* columns) noexcept;
    ~BaseCatalogInfoW() override;

    // *end := 0 and the next row becomes current, or 1 past the last row; 0.
    [[nodiscard]] virtual int16_t fetchNext(int16_t* end) noexcept;
    // Row `row` (0: before the first) becomes current, *status 0; a row
    // beyond the result leaves the position and gives kCatalogNoRow; 0.
    [[nodiscard]] virtual int16_t setPosition(int64_t row, int16_t* status) noexcept;
    // Result column `column` of the current row into out as cType; 0, or 1.
    [[nodiscard]] virtual int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept = 0;

    // The row object of the current row, or null.
    KaObject* currentRowObject() const noexcept;

    // What getData implementations hand out: text (UTF-16, null for NULL),
    // a 16-bit or 32-bit number of result column `column` as cType.
    [[nodiscard]] int16_t putText(uint16_t column, int16_t cType, BaseOutString* out, const uint16_t* text) noexcept;
    [[nodiscard]] int16_t putShort(uint16_t column, int16_t cType, BaseOutString* out, int16_t value) noexcept;
    [[nodiscard]] int16_t putLong(uint16_t column, int16_t cType, BaseOutString* out, int32_t value) noexcept;
    // NULL: SQL_NULL_DATA, and the start of the buffer zeroed as wide as the
    // C type's terminator or value; 22002 without an indicator.
    [[nodiscard]] int16_t putNull(int16_t cType, BaseOutString* out) noexcept;

    BaseStatement* statement;
    int32_t kind;
    const BaseCatalogColumn* columns;
    KaSortedArray rows;
    BaseCatalogInfoW* next = nullptr;
    BaseIRD* savedIrd = nullptr;
    uint32_t currentRow = 0;
    uint16_t savedColumnCount = 0;
};

// The narrow twin, for drivers whose hooks take narrow text; no driver of
// this system has such hooks, so it only carries rows and refuses reads.
class BaseCatalogInfo : public KaObject {
public:
    BaseCatalogInfo(BaseStatement* stmt, int32_t kind) noexcept;
    ~BaseCatalogInfo() override;

    [[nodiscard]] virtual int16_t fetchNext(int16_t* end) noexcept;
    [[nodiscard]] virtual int16_t setPosition(int64_t row, int16_t* status) noexcept;
    // Posts the general error: narrow holders are never read.
    [[nodiscard]] virtual int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept;

    BaseStatement* statement;
    int32_t kind;
    KaSortedArray rows;
    BaseCatalogInfo* next = nullptr;
    BaseIRD* savedIrd = nullptr;
    uint32_t currentRow = 0;
    uint16_t savedColumnCount = 0;
};

// Deletes every element of a row array and empties it.
void baseCatalogDeleteRows(KaArray& rows) noexcept;
// Unit-by-unit length of a NUL-terminated UTF-16 text (0 for null).
int64_t baseCatalogTextLength(const uint16_t* text) noexcept;
// A new NUL-terminated copy of `length` units (-3: up to the NUL), or null
// after the out-of-memory diagnostic. *failed says which (may be null).
uint16_t* baseCatalogCopyText(const uint16_t* text, int64_t length) noexcept;
