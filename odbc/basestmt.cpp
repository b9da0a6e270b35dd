// The statement object.
#include "odbc/basestmt.h"

#include "convert/textcvt.h"

BaseStatement::BaseStatement(BaseConnection* conn) noexcept
    : connection(conn), charCodePage(kCpLatin1)
{
}

BaseStatement::~BaseStatement() = default;
