// The Hive statement's catalog listing: the rows its SQLTables and SQLColumns
// hooks produce from SHOW DATABASES, SHOW TABLES IN and DESCRIBE [FORMATTED]
// run on the statement itself, held until the framework has read them. Also
// the reading of a Hive column type text. Used by hive/hivecatalog.cpp and
// the statement (hive/hivestatement.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"

// Result columns a listing row carries at most (SQLColumns has 18).
constexpr uint16_t kHiveCatalogColumns = 18;

// One row of a listing: each result column a UTF-16 text, a number or NULL.
class HiveCatalogRow : public KaObject {
public:
    HiveCatalogRow() noexcept = default;
    ~HiveCatalogRow() override;

    // Takes the text (ramAlloc'd, may be null for NULL).
    void setText(uint16_t column, uint16_t* text) noexcept;
    void setNumber(uint16_t column, int32_t value) noexcept;

    uint16_t* text[kHiveCatalogColumns] = {};
    int32_t number[kHiveCatalogColumns] = {};
    bool isNumber[kHiveCatalogColumns] = {};
};

// The rows of the current listing and where the framework's reading stands.
class HiveCatalogListing {
public:
    HiveCatalogListing() noexcept;
    ~HiveCatalogListing();
    HiveCatalogListing(const HiveCatalogListing&) = delete;
    HiveCatalogListing& operator=(const HiveCatalogListing&) = delete;

    void clear() noexcept;
    // The row being read, or null.
    const HiveCatalogRow* current() const noexcept;

    KaArray rows;
    // 1-based number of the row the framework reads; 0 before the first.
    size_t position = 0;
    // A hook filled the listing: the catalog reads are answered from it.
    bool active = false;
    // One of the listing's own queries runs: the statement's hooks read the
    // server's rows.
    bool internalQuery = false;
};

// What a Hive column type text says: the type code (HIVE_TYPE_*), the type
// name without its parameters, and the numbers in "(p)" or "(p,s)" (0 where
// absent). Complex types keep their whole text as the name.
struct HiveColumnType {
    uint8_t code = 0;
    const char* name = nullptr;
    size_t nameLength = 0;
    int32_t precision = 0;
    int32_t scale = 0;
};
void hiveParseColumnType(const char* text, size_t length, HiveColumnType* out) noexcept;
