// The result holders of the catalog functions, which the statement keeps on
// two stacks and reads in place of the driver's hooks while its result is a
// catalog result. The catalog layer derives each function's holder and row
// classes from these; the fetch core and SQLGetData reach them through the
// virtual operations declared here.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"
#include "foundation/kaowner.h"

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

// The texts of one catalog row, gathered while the row is read and kept
// together in one block of their total length: a result holds the texts of
// every row until it is read, and a block per text made the listing of a
// large warehouse spend its time in the allocator. Each text is gathered
// with the row field that is to point at it; keep() points the fields into
// the block. Texts that fit the inline stage cost no allocation until then.
class BaseCatalogRowTexts {
public:
    BaseCatalogRowTexts() noexcept = default;
    ~BaseCatalogRowTexts();
    BaseCatalogRowTexts(const BaseCatalogRowTexts&) = delete;
    BaseCatalogRowTexts& operator=(const BaseCatalogRowTexts&) = delete;

    // Text column `column` of the current row, read whole as
    // BaseStatement::readCatalogText reads it; NULL leaves *field null. 0, or 1.
    [[nodiscard]] int16_t read(BaseStatement* stmt, uint16_t column, bool nested, uint16_t** field) noexcept;
    // A text of `length` units (-3: up to the NUL) the row gives itself;
    // null text: NULL. 0, or 1.
    [[nodiscard]] int16_t add(const uint16_t* text, int64_t length, uint16_t** field) noexcept;
    // The i-th text gathered (null for NULL), valid until the next read or
    // add, and its units.
    const uint16_t* at(size_t i) const noexcept;
    int64_t lengthAt(size_t i) const noexcept;
    size_t count() const noexcept { return count_; }
    // The field the i-th text is to be kept for.
    void setField(size_t i, uint16_t** field) noexcept
    {
        if (i < count_)
            slots_[i].field = field;
    }
    // One exact-size block with every text gathered, each field pointed at
    // its own (NULL fields null), into *block (empty when every text was
    // NULL). The stage is empty again. 0, or 1 (the fields are left alone).
    [[nodiscard]] int16_t keep(RamPtr<uint16_t>* block) noexcept;
    // Empties the stage; the fields are left alone.
    void clear() noexcept;

    // The most texts one row gathers (SQLForeignKeys' has nine).
    static constexpr size_t kMaxTexts = 16;

private:
    // Room for `units` more units at the end of the stage, or null after
    // the out-of-memory diagnostic.
    uint16_t* reserve(int64_t units) noexcept;

    static constexpr size_t kInlineUnits = 8192;
    struct Slot {
        uint16_t** field;
        size_t offset;
        int64_t length;  // -1: NULL
    };
    Slot slots_[kMaxTexts];
    size_t count_ = 0;
    size_t used_ = 0;
    size_t capacity_ = kInlineUnits;
    uint16_t* spill_ = nullptr;
    uint16_t inline_[kInlineUnits];
};

// Deletes every element of a row array and empties it.
void baseCatalogDeleteRows(KaArray& rows) noexcept;
// Unit-by-unit length of a NUL-terminated UTF-16 text (0 for null).
int64_t baseCatalogTextLength(const uint16_t* text) noexcept;
// A new NUL-terminated copy of `length` units (-3: up to the NUL), or null
// after the out-of-memory diagnostic. *failed says which (may be null).
uint16_t* baseCatalogCopyText(const uint16_t* text, int64_t length) noexcept;
