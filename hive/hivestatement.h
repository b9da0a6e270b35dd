// The HiveServer2 statement: the driver's form of BaseStatement, made on a
// HiveConnection by SQLAllocHandle.
#pragma once

#include "odbc/basestmt.h"

class BaseConnection;

class HiveStatement : public BaseStatement {
public:
    explicit HiveStatement(BaseConnection* connection) noexcept;
    ~HiveStatement() override;
};
