// The base bodies of the statement's driver hooks: what a statement does
// where its driver adds nothing. Hooks whose work a driver must supply, and
// those of framework parts not built yet, refuse with the not-capable
// diagnostic so that a partial driver stays usable and says what it lacks.
#include <cstdint>

#include "convert/basecvt.h"
#include "odbc/basedesc.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "odbc/basecatalog.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "odbc/bulkapi.h"

namespace {

const uint16_t kNullLiteral[] = {u'N', u'U', u'L', u'L', 0};

int16_t notCapable() noexcept
{
    basePostError(kBaseIdxNotSupported);
    return 1;
}

}  // namespace

// The export's body lives in the bulk layer above, installed at load.
int16_t BaseStatement::exportResultSet(int32_t, const uint16_t* fileName, int64_t codePage, int32_t descField1,
                                       int32_t descField2, int32_t, const uint16_t* logFileName) noexcept
{
    return baseBulkExportResultSet(this, fileName, codePage, descField1, descField2, logFileName);
}

int16_t BaseStatement::bulkIntegerCType(int16_t, int16_t*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::bulkColumnCodePage(uint16_t, int64_t*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::addBulkMessage(int64_t, uint16_t, uint16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::validateBulkColumn(uint16_t, int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::bulkLoadPrepare() noexcept
{
    return notCapable();
}

int16_t BaseStatement::bulkLoadFinish(uint64_t) noexcept
{
    return 0;
}

int16_t BaseStatement::defaultSchemaName(uint16_t*, int16_t, int16_t*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::sortCatalogRows(BaseCatalogInfoW* holder) noexcept
{
    holder->rows.sortFlags = 0;
    return holder->rows.count > 1 ? holder->rows.sort() : 0;
}

int16_t BaseStatement::selectProcedureColumnRows(CatalogResult*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::prepareNarrowHook(BaseSqlString*) noexcept
{
    basePostErrorMsg(kBaseIdxGeneralError, MSG_FUNCTION_NOT_AVAILABLE);
    return 1;
}

int16_t BaseStatement::prepareHook(BaseSqlStringW*) noexcept
{
    basePostErrorMsg(kBaseIdxGeneralError, MSG_FUNCTION_NOT_AVAILABLE);
    return 1;
}

int16_t BaseStatement::executeHook() noexcept
{
    return notCapable();
}

int16_t BaseStatement::describeParamHook(uint16_t, int16_t*, uint64_t*, int16_t*, int16_t*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::moreResultsHook(int16_t* noMoreResults) noexcept
{
    if (noMoreResults != nullptr)
        *noMoreResults = 1;
    return 0;
}

int16_t BaseStatement::buildSearchCondition(BaseStatement*, BaseSqlStringW*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::columnsInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                       const uint16_t*, int16_t) noexcept
{
    return notCapable();
}

// A driver that gives no columns hook has no columns to list: the call
// fails, without a diagnostic of its own.
int16_t BaseStatement::columnsHook() noexcept
{
    return 1;
}

int16_t BaseStatement::specialColumnsInternal(uint16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                              const uint16_t*, int16_t, uint16_t, uint16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::specialColumnsHook(int16_t* noAnswer) noexcept
{
    *noAnswer = 1;
    return 0;
}

int16_t BaseStatement::statisticsInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                          uint16_t, uint16_t, int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::statisticsHook(int16_t) noexcept
{
    return 1;
}

int16_t BaseStatement::tablesInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                      const uint16_t*, int16_t, int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::tablesNarrowHook(const char*, int16_t) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

int16_t BaseStatement::tablesHook(const uint16_t*, int16_t) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

int16_t BaseStatement::columnPrivilegesInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                                int16_t, const uint16_t*, int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::columnPrivilegesHook() noexcept
{
    return 1;
}

int16_t BaseStatement::foreignKeysInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*, int16_t,
                                           const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                           int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::foreignKeysHook() noexcept
{
    return 1;
}

int16_t BaseStatement::primaryKeysInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                           int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::primaryKeysHook() noexcept
{
    return 1;
}

int16_t BaseStatement::procedureColumnsInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                                int16_t, const uint16_t*, int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::procedureColumnsHook() noexcept
{
    return 1;
}

int16_t BaseStatement::proceduresInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                          int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::proceduresHook() noexcept
{
    return 1;
}

int16_t BaseStatement::tablePrivilegesInternal(const uint16_t*, int16_t, const uint16_t*, int16_t, const uint16_t*,
                                               int16_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::tablePrivilegesHook() noexcept
{
    return 1;
}

int16_t BaseStatement::getTypeInfoHook(int16_t) noexcept
{
    return 1;
}

int16_t BaseStatement::prepareFetch(int16_t, int64_t) noexcept
{
    return 0;
}

int16_t BaseStatement::setPosHook(uint64_t, uint16_t, uint16_t) noexcept
{
    return 2;
}

int16_t BaseStatement::fetchRow(int16_t*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::positionRow(int64_t, uint16_t*, bool) noexcept
{
    return notCapable();
}

// The static cursor cache's hooks are the framework's own: odbc/basestatic.cpp.

int16_t BaseStatement::getColumnData(uint16_t, int16_t, BaseOutString*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::checkColumnCType(int16_t sqlType, uint16_t, BaseIRDRecord* record) noexcept
{
    const int16_t cType = baseDefaultCType(sqlType, 0);
    if (cType != SQL_C_CHAR || record == nullptr)
        return cType;
    // Text the narrow code page cannot carry as it stands is given wide.
    const int64_t cp = record->codePageAbs != 0 ? record->codePageAbs : kCodePageUtf8;
    return cp != charCodePage ? static_cast<int16_t>(SQL_C_WCHAR) : cType;
}

int16_t BaseStatement::columnDataAvailable(uint16_t, bool, int16_t, bool, int32_t) noexcept
{
    return 1;
}

int16_t BaseStatement::getRowCount(int64_t*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::colAttributeHook(uint16_t, uint16_t, BaseOutString*, int64_t*) noexcept
{
    basePostError(kBaseIdxBadDescField);
    return 1;
}

// A statement whose driver describes nothing produces no result set.
int16_t BaseStatement::describeStatement() noexcept
{
    resultColumnCount = 0;
    resultDescribed = true;
    return 0;
}

int16_t BaseStatement::validateBinding(uint16_t) noexcept
{
    return 0;
}

int16_t BaseStatement::bindColHook() noexcept
{
    return 0;
}

int16_t BaseStatement::setParamValue(uint16_t, const void*, int64_t, int32_t) noexcept
{
    return notCapable();
}

const uint16_t* BaseStatement::nullLiteral() noexcept
{
    return kNullLiteral;
}

int16_t BaseStatement::appendLiteral(int16_t, const uint16_t*, int64_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::appendParamText(int16_t, const uint16_t*, int64_t) noexcept
{
    return notCapable();
}

int16_t BaseStatement::bindParameterHook(uint16_t) noexcept
{
    return 0;
}

int16_t BaseStatement::spareParamHook() noexcept
{
    return 0;
}

int16_t BaseStatement::resetParamsHook(int32_t) noexcept
{
    return 0;
}

int16_t BaseStatement::closeCursorHook() noexcept
{
    return 0;
}

int16_t BaseStatement::freeResultsHook(bool) noexcept
{
    return 0;
}

const uint16_t* BaseStatement::cursorNameText() noexcept
{
    return cursorName;
}

int16_t BaseStatement::cancelAsync() noexcept
{
    return 1;
}

void BaseStatement::cancelRunning() noexcept {}

int16_t BaseStatement::setPosAbort() noexcept
{
    return 0;
}

int16_t BaseStatement::setPosDelete() noexcept
{
    return notCapable();
}

int16_t BaseStatement::setPosAddExecute() noexcept
{
    return notCapable();
}

int16_t BaseStatement::setPosUpdateBegin() noexcept
{
    return notCapable();
}

int16_t BaseStatement::setPosAddBegin() noexcept
{
    return notCapable();
}

int16_t BaseStatement::setPosValidateBookmark(int64_t, bool, uint16_t) noexcept
{
    return 0;
}

int16_t BaseStatement::setPosColumnData(uint16_t, const BaseSetPosValue*) noexcept
{
    return notCapable();
}

int16_t BaseStatement::setPosUpdateExecute() noexcept
{
    return notCapable();
}

int16_t BaseStatement::beginMultiRowInsert() noexcept
{
    return 0;
}

int16_t BaseStatement::checkLongDataCache(uint16_t, int16_t, KaDataSink*, int16_t* isNull, BaseIRDRecord*,
                                          KaDataConverter**) noexcept
{
    if (isNull != nullptr)
        *isNull = 0;
    return notCapable();
}

const uint16_t* BaseStatement::extraCatalogColumns(int32_t) noexcept
{
    return nullptr;
}

int16_t BaseStatement::bulkLoadBatch() noexcept
{
    return 0;
}

int16_t BaseStatement::canDescribeProcParams() noexcept
{
    return 0;
}
