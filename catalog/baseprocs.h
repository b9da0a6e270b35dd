// SQLProcedures' and SQLProcedureColumns' result holders with their
// prepared names and patterns. The generic operations
// (catalog/baseprocs.cpp) keep the driver's rows that match the patterns;
// the Hive driver has no procedures.
#pragma once
#include <cstdint>

#include "catalog/catalogholder.h"
#include "catalog/catalogprocs.h"

class BaseProceduresInfoW : public CatalogHolder<ProcsRowInfo> {
public:
    BaseProceduresInfoW(BaseStatement* stmt, const BaseCatalogColumn* columns) noexcept;
};

class BaseProcedureColumnsInfoW : public CatalogHolder<ProcColsRowInfo> {
public:
    BaseProcedureColumnsInfoW(BaseStatement* stmt, const BaseCatalogColumn* columns) noexcept;

protected:
    // The derived columns follow the connection's settings.
    CatalogCell cellOf(const ProcColsRowInfo& row, uint16_t column) const noexcept override;
};
