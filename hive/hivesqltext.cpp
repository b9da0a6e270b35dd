// The Hive connection's handling of statement texts before they are
// prepared: the rewriter under the connection's options, and escape
// clauses in HiveQL's form.
#include "hive/hiveconnection.h"
#include "sql/basesql.h"
#include "sql/hiveescape.h"
#include "sql/hiverewrite.h"

int16_t HiveConnection::preprocessSql(BaseSqlStringW* text) noexcept
{
    HiveRewriteOptions options;
    options.enableSqlParser = enableSqlParser != 0 ? 1 : 0;
    options.removeColumnQualifiers = removeColumnQualifiers != 0 ? 1 : 0;
    options.quoteAliases = quoteAliases != 0 ? 1 : 0;
    options.parseDelimitedIds = parseDelimitedIds != 0 ? 1 : 0;
    return hivePreprocessSql(*text, options) != 0 ? 1 : 0;
}

int16_t HiveConnection::translateEscapes(BaseSqlStringW* text, int32_t forNativeSql, uint32_t* markers,
                                         int32_t* flags) noexcept
{
    HiveEscapeTranslator hive;
    int32_t returnParameter = 0;
    int32_t callKind = 0;
    if (::translateEscapes(hive, *text, forNativeSql, markers, &returnParameter, &callKind) != 0)
        return 1;
    *flags = returnParameter != 0 ? 1 : 0;
    return 0;
}
