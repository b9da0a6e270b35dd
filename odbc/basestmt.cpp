// The statement object: construction, its descriptors, the long-data state
// of the value being read, the conversion context and the entries into the
// conversion engine, and the text-conversion wrappers.
#include "odbc/basecatalog.h"
#include "odbc/basestmt.h"

#include <sql.h>
#include <sqlext.h>

#include "convert/basediag.h"
#include "convert/datacvt.h"
#include "convert/basestring.h"
#include "convert/paramcvt.h"
#include "convert/textcvt.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/basehandles.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basedesc.h"
#include "odbc/basestatic.h"
#include "sql/basesql.h"

namespace {

// Grow step of the argument stack.
constexpr size_t kAsyncStackGrowStep = 16;
// The statement's locks do nothing while the application said it uses no
// threads.
int32_t baseStatementLocksOff(const BaseConnection* conn) noexcept
{
    return conn != nullptr && conn->handle != nullptr && conn->handle->lockingOff() ? 1 : 0;
}

// ODBC's defaults of the statement attributes a statement keeps.
void baseDefaultStmtAttrs(int64_t* values) noexcept
{
    values[kBaseAttrCursorType] = SQL_CURSOR_FORWARD_ONLY;
    values[kBaseAttrConcurrency] = SQL_CONCUR_READ_ONLY;
    values[kBaseAttrRowsetSize] = 1;
    values[kBaseAttrUseBookmarks] = SQL_UB_OFF;
    values[kBaseAttrCursorSensitivity] = SQL_UNSPECIFIED;
    // SQL_ATTR_RETRIEVE_DATA is on.
    values[kBaseAttrFlags] = kBaseStmtFlagRetrieveData;
}

// The description of a value by its implementation record.
void describe(BaseConvertContext* ctx, const BaseIXDRecord& rec) noexcept
{
    ctx->sqlType = rec.conciseType;
    ctx->size = baseDescribedSize(rec.conciseType, rec.length, rec.precision);
    ctx->scale = rec.scale;
    ctx->unsignedFlag = rec.isUnsigned();
    ctx->codePage = rec.codePage;
}

// The precision and scale of an application record, for SQL_C_NUMERIC.
void takeAppRecord(BaseConvertContext* ctx, const BaseAXDRecord* rec) noexcept
{
    ctx->hasAppRecord = rec != nullptr;
    if (rec == nullptr)
        return;
    ctx->appScaleRequested = rec->numericScaleRequested();
    ctx->appPrecision = rec->precision;
    ctx->appScale = rec->scale;
}

}  // namespace

BaseStatement::BaseStatement(BaseConnection* conn) noexcept
    : eventSlots{}, hashSkip(0), rowsFetched(0), rowsHashed(0), lastApiId(0), failoverState(0), replayDone(0),
      savedState(0), replayable(1), sinkPools{}, sourcePools{}, converterPools{}, sinkCounts{}, sourceCounts{},
      converterCounts{}, attributeValues{}, furtherAttributeValues{}, connection(conn), diagnosticsInUse(&diagnostics),
      cursorName(nullptr), executionMode(kBaseExecNone), statementState(kBaseStmtAllocated), resultColumnCount(0),
      lastRowCache(-1), statementKind(0), objectKind(0), refersToCursor(0), escapeResult(0), resultDescribed(false),
      bindingsChanged(false), reentryPending(false), extendedFetchMode(false), apiId(-1), getDataConverter(nullptr),
      statementLock(baseStatementLocksOff(conn), kKaLockPlain), cancelLock(baseStatementLocksOff(conn), kKaLockPlain),
      cancelRequested(0), extendedFetchStatusArray(nullptr), rowCount(-1), procedureIpd(nullptr),
      reentrySqlText(nullptr), threadRecordId(kBaseNoThread), threadRecord(nullptr),
      charCodePage(conn != nullptr ? conn->appCodePage : kCodePageLatin1), convertBuffer(nullptr), convertBufferSize(0),
      convertedLength(-1), getDataReturned(0), pieceLengthOverride(0), currentParamRow(0), markerCount(0),
      returnValueParam(false), currentApd(nullptr), currentArd(nullptr), ipd(nullptr), ird(nullptr),
      implicitApd(nullptr), implicitArd(nullptr), keyDescriptor(nullptr)
{
    (void)baseHandleAdd(static_cast<KaObject*>(this), BaseHandleKind::statement);
    asyncArgumentStack.growStep = kAsyncStackGrowStep;
    baseDefaultStmtAttrs(attributeValues);
    if (conn == nullptr)
        return;
    // The connection's defaults for its statements: the QueryTimeout
    // option, then the statement attributes SQLSetConnectAttr set (those
    // kept in descriptors wait for the descriptors, made later).
    if (conn->queryTimeoutSupported != 0)
        setDescriptorBackedAttr(SQL_ATTR_QUERY_TIMEOUT, conn->queryTimeout);
    for (size_t i = 0; i < conn->defaultStmtAttrCount; ++i)
        setDescriptorBackedAttr(conn->defaultStmtAttrs[i].attribute, conn->defaultStmtAttrs[i].value);
    {
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        conn->statements.addLast(this);
        // With failover on, the statement's allocation is an event to replay.
        if (conn->failoverMode != 0)
            eventSlots[kBaseReplayAllocatedLevel] =
                conn->addBufferedEvent(kBaseEventStmtState, kBaseReplayAllocatedLevel + 1, 0, 0, 0, this);
    }
}

BaseStatement::~BaseStatement()
{
    baseHandleRemove(static_cast<KaObject*>(this));
    if (connection != nullptr) {
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        baseUnlinkNode(&connection->statements, this);
        connection->removeBufferedEvents(this);
    }
    // The holders may put back an IRD they saved: before the IRD goes.
    freeCatalogInfo();
    ramFree(cursorName);
    ramFree(convertBuffer);
    ramFree(reentrySqlText);
    ramFree(savedSqlText);
    delete sqlTextCopy;
    // Select failover's checksums, row reader and parameter copy.
    releaseResultHash();
    ramFree(rowReaderBuffer);
    freeSavedApd();
    releaseGetDataConverter();
    ramFree(getDataStage);
    releaseSharedColumns();
    delete implicitArd;
    delete implicitApd;
    delete ird;
    delete ipd;
    delete procedureIpd;
    if (threadRecord != nullptr)
        threadRecord->release();
    emptyPools();
    delete rowCache;
}

int16_t BaseStatement::createDescriptors() noexcept
{
    if (implicitArd == nullptr && (implicitArd = new BaseAXDWR(connection, 1)) == nullptr)
        return 1;
    if (implicitApd == nullptr) {
        implicitApd = new BaseAXDWR(connection, 1);
        if (implicitApd == nullptr)
            return 1;
        implicitApd->isAPD = 1;
    }
    if (ipd == nullptr && createIPD(&ipd) != 0)
        return 1;
    if (ird == nullptr && createIRD(&ird) != 0)
        return 1;
    {
        // Freeing an explicit descriptor reads every statement's current
        // ones under this lock.
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        if (currentArd == nullptr)
            currentArd = implicitArd;
        if (currentApd == nullptr)
            currentApd = implicitApd;
    }
    if (procedureIpd == nullptr && createIPD(&procedureIpd) != 0)
        return 1;
    return 0;
}

int16_t baseMakeStatement(BaseConnection* conn, BaseStatement** out) noexcept
{
    if (out == nullptr)
        return 1;
    *out = nullptr;
    auto* stmt = new BaseStatement(conn);
    if (stmt == nullptr)
        return 1;
    if (stmt->initStatement() != 0) {
        delete stmt;
        return 1;
    }
    *out = stmt;
    return 0;
}

int16_t BaseStatement::createIRD(BaseIRD** out) noexcept
{
    *out = new BaseIRDWR(this);
    return *out != nullptr ? 0 : 1;
}

int16_t BaseStatement::createIPD(BaseIPD** out) noexcept
{
    *out = new BaseIPDWR(this);
    return *out != nullptr ? 0 : 1;
}

int16_t BaseStatement::createCofC(BaseCofC** out) noexcept
{
    *out = new BaseCofC(this);
    return *out != nullptr ? 0 : 1;
}

int16_t BaseStatement::initStatement() noexcept
{
    if (connection == nullptr)
        return 1;
    return createDescriptors();
}

int16_t BaseStatement::enterHook() noexcept
{
    return 0;
}

int16_t BaseStatement::exitHook() noexcept
{
    return 0;
}

int16_t BaseStatement::rebindConverterCache(BaseConnection* newConnection) noexcept
{
    // A value being read in pieces goes on with the new connection's
    // converter cache when the statements share their connection's; the
    // simple character kind keeps no cache.
    if (getDataConverter == nullptr || newConnection == nullptr || newConnection->threadModel == 0)
        return 0;
    const int32_t kind = getDataConverter->kind;
    if (kind == KA_CVT_CHAR || kind == KA_CVT_CHAR_INPUT)
        static_cast<KaCharConverterBase*>(getDataConverter)->pool = &newConnection->icuCache;
    return 0;
}

KaIcuCache* BaseStatement::charConversionContext() noexcept
{
    if (connection != nullptr && connection->threadModel != 0)
        return &connection->icuCache;
    return &icuCache;
}

int32_t BaseStatement::convertText(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                                   int64_t dstSize, int64_t* produced, int32_t* truncated, int32_t blankTail) noexcept
{
    return baseConvertText(srcCp, src, srcLen, dstCp, dst, dstSize, produced, truncated, charConversionContext(),
                           blankTail);
}

int32_t BaseStatement::convertTextToBuffer(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                                           int64_t dstSize, int32_t fullLength, int64_t* produced,
                                           int32_t* truncated) noexcept
{
    return baseConvertTextToBuffer(srcCp, src, srcLen, dstCp, dst, dstSize, fullLength, produced, truncated,
                                   charConversionContext());
}

void BaseStatement::resetLongData() noexcept
{
    releaseGetDataConverter();
    convertedLength = -1;
    getDataReturned = 0;
    pieceLengthOverride = 0;
}

uint8_t* BaseStatement::growConvertBuffer(int64_t size) noexcept
{
    return baseGrowBuffer(&convertBuffer, &convertBufferSize, size);
}

bool BaseStatement::pieceFollows() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    KaError* last = list != nullptr ? list->last() : nullptr;
    return list != nullptr && list->hasOnlyWarnings() && last != nullptr &&
           last->sqlstateMsg == MSG_SQLSTATE_STRING_RIGHT_TRUNCATED &&
           last->nativeCode != MSG_VALUE_CUT_AT_SOURCE;  // a value cut at its source has no more pieces
}

int32_t BaseStatement::advanceLongData(int64_t available) noexcept
{
    if (!pieceFollows()) {
        pieceLengthOverride = 0;
        return 0;
    }
    int64_t step = pieceLengthOverride != 0 ? pieceLengthOverride : available;
    if (step > 0)
        getDataReturned += step;
    pieceLengthOverride = 0;
    return 1;
}

void BaseStatement::notePiece(bool cut, int64_t delivered) noexcept
{
    pieceLengthOverride = basePieceLength(cut, delivered);
}

BaseIPDRecord* BaseStatement::getParamIPDRecord(uint16_t param) noexcept
{
    if (param == 0)
        return nullptr;
    int64_t i = returnValueParam ? param : param - 1;
    if (i < markerCount)
        return ipd != nullptr ? ipd->ipdRecord(i + 1) : nullptr;
    if (keyDescriptor == nullptr)
        return nullptr;
    return static_cast<BaseIPDRecord*>(keyDescriptor->record(i - markerCount));
}

void BaseStatement::annotateParamRowErrors(size_t first, KaErrorList* list, uint64_t number) noexcept
{
    baseAnnotateParamRow(first, list, number);
}

BaseAXDRecord* BaseStatement::ardRecord(uint16_t column) const noexcept
{
    if (currentArd == nullptr || column > currentArd->count())
        return nullptr;
    return currentArd->axdRecord(column);
}

// ---- Value conversion -----------------------------------------------------------------

void baseConvertSettingsOf(const BaseStatement* stmt, BaseConvertSettings* out) noexcept
{
    if (stmt == nullptr) {
        *out = BaseConvertSettings{};
        return;
    }
    *out = stmt->conversionSettings;
    const BaseConnection* conn = stmt->connection;
    if (conn == nullptr)
        return;
    if (conn->wideCharCodePage != 0) {
        out->wideCodePage = conn->wideCharCodePage;
        out->wideTermWidth = baseCodePageUnitWidth(conn->wideCharCodePage);
    }
    out->sharedCache = conn->threadModel != 0;
    out->workarounds = conn->workarounds;
    out->timestampTruncationBehavior = conn->timestampTruncationBehavior;
    out->doubleToStringPrecision = conn->doubleToStringPrecision;
    out->roundingMode = conn->roundingMode;
    out->allowHH24 = conn->allowHH24 != 0;
    out->allowTime24 = conn->allowTime24 != 0;
    // A column size in characters cannot bound text measured in bytes of
    // the target's code page (two per character in UTF-16): with the switch
    // on, a parameter's column size no longer cuts its text.
    out->columnSizeAsCharacter = out->columnSizeAsCharacter || conn->columnSizeAsCharacter != 0;
    if (conn->doubleToStringPrecision != 0)
        out->floatTextWidth = conn->doubleToStringPrecision + kBaseFloatTextExtra;
    if (conn->env != nullptr)
        out->odbc2 = conn->env->odbc2Mode == 1;
    // The conversion engine sits below the connection, so it reaches the
    // driver's hook through a plain function and the connection's address.
    if (out->convertHook == nullptr)
        out->convertHook = [](void* connection, int16_t sqlType) noexcept {
            return static_cast<BaseConnection*>(connection)->convertHook(sqlType);
        };
    if (out->hookConnection == nullptr)
        out->hookConnection = stmt->connection;
}

void BaseStatement::conversionContext(BaseConvertContext* ctx) noexcept
{
    *ctx = BaseConvertContext{};
    if (fetchDiagnostics != nullptr)
        ctx->settings = fetchSettings;
    else
        baseConvertSettingsOf(this, &ctx->settings);
    statementPart(ctx);
}

void BaseStatement::statementPart(BaseConvertContext* ctx) noexcept
{
    ctx->charCodePage = charCodePage;
    ctx->cache = charConversionContext();
    ctx->diagnostics = fetchDiagnostics;
    ctx->offset = getDataReturned;
    ctx->pieceLength = pieceLengthOverride;
    ctx->convertBuffer = convertBuffer;
    ctx->convertBufferSize = convertBufferSize;
    ctx->convertedLength = convertedLength;
}

void BaseStatement::keepLongData(const BaseConvertContext& ctx) noexcept
{
    // The engine may have grown the buffer: the old one is gone already.
    convertBuffer = ctx.convertBuffer;
    convertBufferSize = ctx.convertBufferSize;
    convertedLength = ctx.convertedLength;
    pieceLengthOverride = ctx.pieceLength;
}

int16_t BaseStatement::columnContext(uint16_t column, int16_t cType, BaseConvertContext* ctx) noexcept
{
    const BaseIRDRecord* rec = ird != nullptr && column != 0 ? ird->irdRecord(column) : nullptr;
    if (rec == nullptr) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    conversionContext(ctx);
    describe(ctx, *rec);
    ctx->cType = cType;
    ctx->column = column;
    return 0;
}

int16_t BaseStatement::convertColumnValue(uint16_t column, int16_t cType, BaseOutString* out, const void* src,
                                          int64_t srcLength, int32_t srcKind, KaIcuCache* converters) noexcept
{
    if (fetchDiagnostics != nullptr)
        return convertFetchedValue(column, cType, out, src, srcLength, srcKind, converters);
    BaseConvertContext ctx;
    if (columnContext(column, cType, &ctx) != 0)
        return 1;
    if (converters != nullptr)
        ctx.cache = converters;
    ctx.out = out;
    // Only the numeric structure takes anything from the ARD record.
    if (cType == SQL_C_NUMERIC)
        takeAppRecord(&ctx, ardRecord(column));
    const int16_t rc = baseConvertColumnValue(ctx, src, srcLength, srcKind);
    keepLongData(ctx);
    return rc;
}

int16_t BaseStatement::convertFetchedValue(uint16_t column, int16_t cType, BaseOutString* out, const void* src,
                                           int64_t srcLength, int32_t srcKind, KaIcuCache* converters) noexcept
{
    const BaseIRDRecord* rec = ird != nullptr && column != 0 ? ird->irdRecord(column) : nullptr;
    if (rec == nullptr) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    // The fetch's context with this value's part written over the last
    // one's: every field a value sets is set here.
    BaseConvertContext& ctx = fetchContext;
    statementPart(&ctx);
    if (converters != nullptr)
        ctx.cache = converters;
    describe(&ctx, *rec);
    ctx.cType = cType;
    ctx.out = out;
    ctx.column = column;
    ctx.param = 0;
    ctx.paramRow = 0;
    ctx.hasAppRecord = false;
    ctx.appScaleRequested = false;
    ctx.appPrecision = 0;
    ctx.appScale = 0;
    if (cType == SQL_C_NUMERIC)
        takeAppRecord(&ctx, ardRecord(column));
    const int16_t rc = baseConvertColumnValue(ctx, src, srcLength, srcKind);
    keepLongData(ctx);
    return rc;
}

int16_t BaseStatement::convertOutputParam(uint16_t param, const void* value, int64_t length, int32_t srcKind) noexcept
{
    BaseIPDRecord* ipdRec = getParamIPDRecord(param);
    if (ipdRec == nullptr) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    BaseAXDRecord* apd = ipdRec->apdRecord();
    if (apd == nullptr || apd->dataPtr == nullptr)
        return 0;
    const int64_t rowSize = currentApd != nullptr ? currentApd->bindType : 0;
    const int64_t row = currentParamRow;
    apd->applyBindOffset(rowSize, row);
    // NULL goes into the indicator first, a value's length into the octet
    // length first, with the indicator as its not-null flag.
    int64_t* lengthPtr = nullptr;
    int64_t* flagPtr = nullptr;
    if (length == SQL_NULL_DATA) {
        lengthPtr = apd->indicatorPtr != nullptr ? apd->indicatorPtr : apd->octetLengthPtr;
    } else {
        lengthPtr = apd->octetLengthPtr != nullptr ? apd->octetLengthPtr : apd->indicatorPtr;
        flagPtr = apd->indicatorPtr != lengthPtr ? apd->indicatorPtr : nullptr;
    }
    BaseOutString out(apd->dataPtr, apd->octetLength, lengthPtr, flagPtr);
    BaseConvertContext ctx;
    conversionContext(&ctx);
    describe(&ctx, *ipdRec);
    ctx.cType = ipdRec->cType();
    ctx.out = &out;
    ctx.param = param;
    ctx.paramRow = static_cast<uint64_t>(row) + 1;
    const int16_t rc = baseConvertOutputParam(ctx, value, length, srcKind);
    keepLongData(ctx);
    apd->removeBindOffset(rowSize, row);
    return rc;
}

int16_t BaseStatement::convertParamValue(uint16_t param, const void* src, int64_t srcLength, int32_t dstKind, void* dst,
                                         int64_t dstSize, int64_t* produced) noexcept
{
    const BaseIPDRecord* ipdRec = getParamIPDRecord(param);
    if (ipdRec == nullptr) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    BaseConvertContext ctx;
    conversionContext(&ctx);
    describe(&ctx, *ipdRec);
    ctx.cType = ipdRec->cType();
    ctx.param = param;
    takeAppRecord(&ctx, ipdRec->apdRecord());
    return baseConvertParamValue(ctx, src, srcLength, dstKind, dst, dstSize, produced);
}

int16_t BaseStatement::convertToColumnType(uint16_t column, int16_t cType, const void* src, int64_t srcLength,
                                           void* dst, int32_t* chosenKind, int64_t* produced, int64_t dstSize) noexcept
{
    BaseConvertContext ctx;
    if (columnContext(column, cType, &ctx) != 0)
        return 1;
    return baseConvertToColumnType(ctx, src, srcLength, dst, chosenKind, produced, dstSize);
}
