// SQLProcedures' and SQLProcedureColumns' rows: procedures by catalog,
// schema and name; a procedure's columns with its return value first, then
// its parameters in order, then its result columns, numbered where the
// driver gave no ordinal, with the columns derived from the SQL type.
#pragma once
#include <cstdint>

#include "catalog/catalogcell.h"
#include "foundation/kaobject.h"

class BaseConnection;
struct BaseCatalogColumn;

// Characters of IS_NULLABLE kept from the driver.
constexpr int32_t kProcIsNullableUnits = 15;

class ProcsRowInfo : public KaObject {
public:
    ProcsRowInfo() noexcept = default;
    ~ProcsRowInfo() override;
    ProcsRowInfo(const ProcsRowInfo&) = delete;
    ProcsRowInfo& operator=(const ProcsRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    CatalogCell cell(uint16_t column) const noexcept;

    uint16_t* procedureCat = nullptr;
    uint16_t* procedureSchem = nullptr;
    uint16_t* procedureName = nullptr;
    uint16_t* remarks = nullptr;
    int16_t procedureType = 0;
};

// 1 return value, 2 parameters, 3 result columns, 4 unknown.
int16_t procColumnTypeRank(int16_t columnType) noexcept;

// The settings ProcColsRowInfo's derived columns read.
struct ProcColumnSettings {
    bool odbc2 = false;
    bool reportBinaryPrecision = true;
    // Answers COLUMN_SIZE (its typeColumnSize); null: the framework's table.
    BaseConnection* connection = nullptr;
};

class ProcColsRowInfo : public KaObject {
public:
    ProcColsRowInfo() noexcept = default;
    ~ProcColsRowInfo() override;
    ProcColsRowInfo(const ProcColsRowInfo&) = delete;
    ProcColsRowInfo& operator=(const ProcColsRowInfo&) = delete;

    int16_t compare(const KaObject& other) const override;
    CatalogCell cell(uint16_t column, const ProcColumnSettings& settings) const noexcept;
    // IS_NULLABLE from NULLABLE when the driver gave none: "NO", "YES" or
    // the empty text. false after the out-of-memory diagnostic.
    [[nodiscard]] bool defaultIsNullable() noexcept;

    uint16_t* procedureCat = nullptr;
    uint16_t* procedureSchem = nullptr;
    uint16_t* procedureName = nullptr;
    uint16_t* columnName = nullptr;
    int16_t columnType = 0;
    int16_t dataType = 0;
    uint16_t* typeName = nullptr;
    int32_t columnSize = 0;
    int32_t bufferLength = 0;
    int16_t decimalDigits = 0;
    int16_t numPrecRadix = 0;
    int16_t nullable = 0;
    uint16_t* remarks = nullptr;
    uint16_t* columnDef = nullptr;
    uint32_t ordinalKey = 0;  // ORDINAL_POSITION
    uint16_t* isNullable = nullptr;
};

// Numbers the kept rows of the driver's result in turn: a row without an
// ordinal gets its place among its procedure's rows (from 1, restarting
// whenever the procedure changes from one row to the next); a return value
// gets 0 and takes no place.
class ProcColumnCounter {
public:
    void number(ProcColsRowInfo* row) noexcept;

private:
    const ProcColsRowInfo* previous = nullptr;
    uint16_t count = 0;
};
