// The catalog framework: the statement class that answers the catalog
// functions by building their whole result in memory from the rows the
// driver's hooks start, and the argument preparation and name matching the
// functions and the drivers share. A driver's statement derives from
// BaseCatalogStatement and overrides the hooks (hive/hivecatalog.cpp).
#pragma once
#include <cstdint>

#include "odbc/basecatalog.h"
#include "odbc/basestmt.h"

// SQLGetInfo types that give the longest name of each catalog argument.
constexpr uint16_t kCatalogInfoCatalog = 34;    // SQL_MAX_CATALOG_NAME_LEN
constexpr uint16_t kCatalogInfoSchema = 32;     // SQL_MAX_SCHEMA_NAME_LEN
constexpr uint16_t kCatalogInfoTable = 35;      // SQL_MAX_TABLE_NAME_LEN
constexpr uint16_t kCatalogInfoColumn = 30;     // SQL_MAX_COLUMN_NAME_LEN
constexpr uint16_t kCatalogInfoProcedure = 33;  // SQL_MAX_PROCEDURE_NAME_LEN

// The buffer of one name read from a driver row: 128 units and the NUL.
constexpr int64_t kCatalogNameBytes = 258;

class BaseCatalogStatement : public BaseStatement {
public:
    explicit BaseCatalogStatement(BaseConnection* connection) noexcept;
    ~BaseCatalogStatement() override;

    // ---- The statement operations of the exported catalog functions ----------
    [[nodiscard]] int16_t columns(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                  int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                  const uint16_t* column, int16_t columnLength) noexcept override;
    [[nodiscard]] int16_t tables(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                 int16_t schemaLength, const uint16_t* table, int16_t tableLength, const uint16_t* type,
                                 int16_t typeLength) noexcept override;

    // ---- The generic operations ----------------------------------------------
    [[nodiscard]] int16_t columnsInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                          int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                          const uint16_t* column, int16_t columnLength) noexcept override;
    [[nodiscard]] int16_t tablesInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                         int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                         const uint16_t* type, int16_t typeLength, int16_t internal) noexcept override;

    // ---- Shared by the functions and the drivers' hooks -----------------------
    // One name argument (length -3: NUL-terminated) into a plain name and,
    // when `pattern` is given, a search pattern: unquoted, folded under
    // SQL_ATTR_METADATA_ID, checked against the SQLGetInfo limit `infoType`.
    // Both stay null for a null argument, and for a lone "%" pattern that
    // matches everything. The strings are the caller's (ramFree). 0, or 1.
    [[nodiscard]] int16_t prepareCatalogArgument(const uint16_t* value, int16_t length, uint16_t infoType,
                                                 uint16_t** name, uint16_t** pattern) noexcept;
    // 1 when `name` matches `argument` (a pattern, or a plain name with
    // SQL_ATTR_METADATA_ID on), case-blind unless the connection's
    // identifiers are case-sensitive; a null argument matches everything.
    // tableFlag: the name is a table name.
    int16_t matchName(const uint16_t* name, const uint16_t* argument, int16_t tableFlag) noexcept;
    // Column `column` of the current row as NUL-terminated UTF-16 into
    // `buffer` of `bytes` bytes (longer text is cut to fit), *length its units
    // or -1 for NULL. nested: the row is that of a catalog holder pushed
    // above (read through its getData), else the driver's. 0, or 1.
    [[nodiscard]] int16_t getColumnString(uint16_t column, uint16_t* buffer, int64_t bytes, int16_t* length,
                                          bool nested) noexcept;
    // The longest name SQLGetInfo `infoType` allows, and the first unit of a
    // text answer (the identifier quote, the search-pattern escape). 0, or 1.
    [[nodiscard]] int16_t catalogInfoNumber(uint16_t infoType, uint64_t* value) noexcept;
    [[nodiscard]] int16_t catalogInfoUnit(uint16_t infoType, uint16_t* unit) noexcept;
    // True while SQL_ATTR_METADATA_ID is on.
    bool metadataId() const noexcept;

    // ---- Type information, statistics, special columns, keys, procedures
    // and privileges (catalog/basegtyp.cpp, basestat.cpp, basespec.cpp,
    // basekeys.cpp, baseprocs.cpp, baseprivs.cpp) ---------------------------
    [[nodiscard]] int16_t getTypeInfo(int16_t dataType) noexcept override;
    [[nodiscard]] int16_t statistics(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                     int16_t schemaLength, const uint16_t* table, int16_t tableLength, uint16_t unique,
                                     uint16_t reserved) noexcept override;
    [[nodiscard]] int16_t statisticsInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                             int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                             uint16_t unique, uint16_t reserved, int16_t hookFlag) noexcept override;
    [[nodiscard]] int16_t specialColumns(uint16_t identifierType, const uint16_t* catalog, int16_t catalogLength,
                                         const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                         int16_t tableLength, uint16_t scope, uint16_t nullable) noexcept override;
    [[nodiscard]] int16_t specialColumnsInternal(uint16_t identifierType, const uint16_t* catalog,
                                                 int16_t catalogLength, const uint16_t* schema, int16_t schemaLength,
                                                 const uint16_t* table, int16_t tableLength, uint16_t scope,
                                                 uint16_t nullable) noexcept override;
    [[nodiscard]] int16_t primaryKeys(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                      int16_t schemaLength, const uint16_t* table,
                                      int16_t tableLength) noexcept override;
    [[nodiscard]] int16_t primaryKeysInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                              int16_t schemaLength, const uint16_t* table,
                                              int16_t tableLength) noexcept override;
    [[nodiscard]] int16_t foreignKeys(const uint16_t* pkCatalog, int16_t pkCatalogLength, const uint16_t* pkSchema,
                                      int16_t pkSchemaLength, const uint16_t* pkTable, int16_t pkTableLength,
                                      const uint16_t* fkCatalog, int16_t fkCatalogLength, const uint16_t* fkSchema,
                                      int16_t fkSchemaLength, const uint16_t* fkTable,
                                      int16_t fkTableLength) noexcept override;
    [[nodiscard]] int16_t foreignKeysInternal(const uint16_t* pkCatalog, int16_t pkCatalogLength,
                                              const uint16_t* pkSchema, int16_t pkSchemaLength, const uint16_t* pkTable,
                                              int16_t pkTableLength, const uint16_t* fkCatalog, int16_t fkCatalogLength,
                                              const uint16_t* fkSchema, int16_t fkSchemaLength, const uint16_t* fkTable,
                                              int16_t fkTableLength) noexcept override;
    [[nodiscard]] int16_t procedures(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                     int16_t schemaLength, const uint16_t* procedure,
                                     int16_t procedureLength) noexcept override;
    [[nodiscard]] int16_t proceduresInternal(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                             int16_t schemaLength, const uint16_t* procedure,
                                             int16_t procedureLength) noexcept override;
    [[nodiscard]] int16_t procedureColumns(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                           int16_t schemaLength, const uint16_t* procedure, int16_t procedureLength,
                                           const uint16_t* column, int16_t columnLength) noexcept override;
    [[nodiscard]] int16_t procedureColumnsInternal(const uint16_t* catalog, int16_t catalogLength,
                                                   const uint16_t* schema, int16_t schemaLength,
                                                   const uint16_t* procedure, int16_t procedureLength,
                                                   const uint16_t* column, int16_t columnLength) noexcept override;
    [[nodiscard]] int16_t columnPrivileges(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                           int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                           const uint16_t* column, int16_t columnLength) noexcept override;
    [[nodiscard]] int16_t columnPrivilegesInternal(const uint16_t* catalog, int16_t catalogLength,
                                                   const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                                   int16_t tableLength, const uint16_t* column,
                                                   int16_t columnLength) noexcept override;
    [[nodiscard]] int16_t tablePrivileges(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                          int16_t schemaLength, const uint16_t* table,
                                          int16_t tableLength) noexcept override;
    [[nodiscard]] int16_t tablePrivilegesInternal(const uint16_t* catalog, int16_t catalogLength,
                                                  const uint16_t* schema, int16_t schemaLength, const uint16_t* table,
                                                  int16_t tableLength) noexcept override;
};
