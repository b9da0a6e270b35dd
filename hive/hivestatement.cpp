// The HiveServer2 statement.
#include "hive/hivestatement.h"

HiveStatement::HiveStatement(BaseConnection* connection) noexcept : BaseStatement(connection) {}

HiveStatement::~HiveStatement() = default;
