// The statement object: the members the conversion engine reads.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"

class BaseConnection;

class BaseStatement : public KaObject {
public:
    explicit BaseStatement(BaseConnection* connection) noexcept;
    ~BaseStatement() override;

    BaseConnection* connection;
    int64_t charCodePage;  // code page of SQL_C_CHAR data
};
