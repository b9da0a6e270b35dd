// SQLProcedures' and SQLProcedureColumns' result holders with their
// prepared names and patterns. The generic operations
// (catalog/baseprocs.cpp) keep the driver's rows that match the patterns;
// the Hive driver has no procedures.
#pragma once
#include <cstdint>

#include "odbc/basecatalog.h"

class BaseProceduresInfoW : public BaseCatalogInfoW {
public:
    explicit BaseProceduresInfoW(BaseStatement* stmt, const BaseCatalogColumn* columns) noexcept;
    ~BaseProceduresInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* schemaPattern = nullptr;
    uint16_t* procedureName = nullptr;
    uint16_t* procedurePattern = nullptr;
};

class BaseProcedureColumnsInfoW : public BaseCatalogInfoW {
public:
    explicit BaseProcedureColumnsInfoW(BaseStatement* stmt, const BaseCatalogColumn* columns) noexcept;
    ~BaseProcedureColumnsInfoW() override;
    [[nodiscard]] int16_t getData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override;

    uint16_t* catalogName = nullptr;
    uint16_t* schemaName = nullptr;
    uint16_t* schemaPattern = nullptr;
    uint16_t* procedureName = nullptr;
    uint16_t* procedurePattern = nullptr;
    uint16_t* columnName = nullptr;
    uint16_t* columnPattern = nullptr;
};
