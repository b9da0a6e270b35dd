// Column values read in pieces through a streaming converter: SQLGetData's
// value step when the driver streams the column's type. The converter keeps
// its place in the value between calls, so each piece costs only its own
// bytes. It writes through a memory sink, cached in the column's IRD record,
// into the statement's stage, from which each piece is copied out.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/basediag.h"
#include "convert/basestring.h"
#include "convert/datacvt.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "foundation/kaerror.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"
#include "platform/katmpsink.h"

namespace {

bool isLongType(int16_t sqlType) noexcept
{
    return sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR || sqlType == SQL_LONGVARBINARY;
}

}  // namespace

int64_t BaseStatement::cTypeTerminatorBytes(int16_t cType) const noexcept
{
    if (cType == SQL_C_CHAR)
        return 1;
    if (cType == SQL_C_WCHAR) {
        const int64_t cp = connection != nullptr && connection->wideCharCodePage != 0 ? connection->wideCharCodePage
                                                                                      : kCodePageUtf16LE;
        return baseCodePageUnitWidth(cp);
    }
    return 0;
}

bool BaseStatement::streamsColumnType(int16_t sqlType) const noexcept
{
    if (connection == nullptr)
        return false;
    return (connection->streamCharColumns && baseIsVarLengthType(sqlType)) ||
           (connection->streamLongColumns && isLongType(sqlType));
}

void BaseStatement::releaseGetDataConverter() noexcept
{
    KaDataConverter* converter = getDataConverter;
    getDataConverter = nullptr;
    if (converter != nullptr) {
        // The spool belongs to this statement, not to the converter: it is
        // taken off before the converter goes, whoever keeps the converter.
        if (converter->source == getDataSpoolSource && getDataSpoolSource != nullptr) {
            converter->source = nullptr;
            converter->borrowed = 1;
        }
        if (converter->secondSink == getDataSpoolSink && getDataSpoolSink != nullptr)
            converter->secondSink = nullptr;
        returnConverter(converter);
    }
    // The source reads the sink's stream: it goes first.
    if (getDataSpoolSource != nullptr)
        returnSource(getDataSpoolSource, getDataSpoolSource->kind);
    if (getDataSpoolSink != nullptr)
        returnSink(getDataSpoolSink, getDataSpoolSink->kind);
    getDataSpoolSource = nullptr;
    getDataSpoolSink = nullptr;
    getDataStageStart = getDataStageEnd = 0;
}

int16_t BaseStatement::spoolGetData() noexcept
{
    const bool shared = connection != nullptr && connection->threadModel != 0;
    KaDataSink* sink = shared ? connection->acquireSink(KA_STREAM_TMPFILE) : acquireSink(KA_STREAM_TMPFILE);
    if (sink == nullptr)
        return 1;
    KaDataSource* source = shared ? connection->acquireSource(KA_STREAM_TMPFILE) : acquireSource(KA_STREAM_TMPFILE);
    auto* tmpSink = dynamic_cast<KaTmpFileSink*>(sink);
    auto* tmpSource = dynamic_cast<KaTmpFileSource*>(source);
    if (tmpSink == nullptr || tmpSource == nullptr) {
        if (source != nullptr)
            returnSource(source, source->kind);
        returnSink(sink, sink->kind);
        if (source != nullptr)
            basePostError(kBaseIdxGeneralError);
        return 1;
    }
    getDataSpoolSink = tmpSink;
    getDataSpoolSource = tmpSource;
    KaDataSource* previous = nullptr;
    const bool lent = getDataConverter->borrowed != 0;
    if (getDataConverter->convertToSource(tmpSink, tmpSource, &previous) != 0) {
        // The converter kept its own source; the spool is not its.
        if (getDataConverter->secondSink == tmpSink)
            getDataConverter->secondSink = nullptr;
        return 1;
    }
    // The source the value was read from is read to its end: one the
    // converter owned goes back to its pool, one a driver lent stays there.
    if (previous != nullptr && !lent)
        returnSource(previous, previous->kind);
    return 0;
}

int16_t BaseStatement::pumpGetData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    KaDataConverter* converter = getDataConverter;
    auto* stage = static_cast<KaMemorySink*>(converter->sink);
    // Applications take a cut piece as filling their buffer up to the
    // terminator, so the piece is copied out of the stage to the last whole
    // unit there is room for; the converter itself stops at character
    // borders, and what it wrote beyond the piece waits in the stage.
    const int64_t terminator = cTypeTerminatorBytes(cType);
    const int64_t unit = cType == SQL_C_WCHAR ? terminator : 1;
    int64_t room = out->buffer != nullptr ? out->bufferLength - terminator : 0;
    room = room > 0 ? room - room % unit : 0;
    auto* target = static_cast<uint8_t*>(out->buffer);
    int64_t written = 0;
    for (int idle = 0;;) {
        const int64_t staged = static_cast<int64_t>(getDataStageEnd - getDataStageStart);
        if (staged > 0) {
            const int64_t n = staged < room - written ? staged : room - written;
            if (n > 0)
                memcpy(target + written, getDataStage + getDataStageStart, static_cast<size_t>(n));
            written += n;
            getDataStageStart += static_cast<uint64_t>(n);
            if (n < staged)
                break;
        }
        if (converter->finished != 0)
            break;
        stage->attach(getDataStage, kGetDataStageSize);
        if (converter->convert() != 0)
            return 1;
        getDataStageStart = 0;
        getDataStageEnd = stage->position;
        // A converter that neither writes nor ends would spin here.
        idle = getDataStageEnd == 0 && converter->finished == 0 ? idle + 1 : 0;
        if (idle > 1) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
    }
    if (terminator > 0 && target != nullptr && out->bufferLength >= written + terminator)
        memset(target + written, 0, static_cast<size_t>(terminator));
    const int64_t left = static_cast<int64_t>(getDataStageEnd - getDataStageStart);
    if (left == 0 && converter->finished != 0) {
        out->putLength(written);
        return 0;
    }
    // More of the value follows: its remaining length when the converter
    // knows it, this piece included. The next call goes on from the stage
    // even when this one took nothing, as after a call that only asked for
    // the length: the converter has read on already.
    getDataReturned = 1;
    out->putLength(converter->remaining < 0 ? SQL_NO_TOTAL : written + left + converter->remaining);
    const KaDiagMark mark;
    baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
    baseAnnotateDiagnostics(mark.start(), MSG_COLUMN_NUMBER, column);
    return 0;
}

int16_t BaseStatement::streamColumnValue(uint16_t column, int16_t cType, BaseOutString* out, bool continuing,
                                         int32_t passThrough, bool lean) noexcept
{
    if (continuing && getDataConverter != nullptr) {
        // The next piece: the stage's rest first, then the converter goes on
        // where it stopped.
        return pumpGetData(column, cType, out);
    }
    if (continuing) {
        // The earlier pieces came whole from the driver: so does the rest.
        return getColumnData(column, cType, out);
    }
    BaseIRDRecord* record = ird != nullptr ? ird->irdRecord(column) : nullptr;
    const int16_t sqlType = record != nullptr ? record->conciseType : 0;
    bool streams = record != nullptr && streamsColumnType(sqlType) &&
                   (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY);
    if (streams && lean)
        streams = columnDataAvailable(column, cType == SQL_C_CHAR || cType == SQL_C_WCHAR, sqlType, continuing,
                                      passThrough) != 0;
    releaseGetDataConverter();
    if (!streams)
        return getColumnData(column, cType, out);

    if (getDataStage == nullptr) {
        getDataStage = static_cast<uint8_t*>(ramAlloc(kGetDataStageSize));
        if (getDataStage == nullptr)
            return 1;
    }
    auto* sink = dynamic_cast<KaMemorySink*>(record->longDataSink);
    if (sink == nullptr) {
        const bool shared = connection != nullptr && connection->threadModel != 0;
        sink = shared ? connection->acquireMemorySink(nullptr, 0) : acquireMemorySink(nullptr, 0);
        if (sink == nullptr)
            return 1;
        if (record->longDataSink != nullptr)
            releaseLongDataSink(record->longDataSink);
        // The record keeps it: a converter handing back its parts leaves it.
        sink->notOwned = 1;
        record->longDataSink = sink;
    }
    sink->attach(getDataStage, kGetDataStageSize);
    int16_t isNull = 0;
    KaDataConverter* converter = nullptr;
    if (checkLongDataCache(column, cType, sink, &isNull, record, &converter) != 0)
        return 1;
    if (isNull != 0)
        return out->setNull(cTypeTerminatorBytes(cType)) != 0 ? 1 : 0;
    if (converter == nullptr) {
        // The driver cannot give this column in pieces: the value whole.
        return getColumnData(column, cType, out);
    }
    getDataConverter = converter;
    if (connection != nullptr && connection->longDataMode == 2 && converter->remaining < 0 && spoolGetData() != 0)
        return 1;
    return pumpGetData(column, cType, out);
}

void BaseStatement::releaseSharedColumns() noexcept
{
    BaseDescriptor* shared = sharedColumns;
    sharedColumns = nullptr;
    if (shared == nullptr)
        return;
    for (size_t i = 0; i < shared->records.count; ++i) {
        const auto* rec = static_cast<BaseRecord*>(shared->records.items[i]);
        if (i == 0 || (rec != nullptr && rec->recordBorrowed != 0))
            shared->records.items[i] = nullptr;
    }
    delete shared;
}

void BaseStatement::releaseLongDataSinks() noexcept
{
    releaseGetDataConverter();
    if (ird == nullptr)
        return;
    for (size_t i = 0; i < ird->records.count; ++i) {
        BaseIRDRecord* rec = ird->irdRecord(static_cast<int64_t>(i));
        if (rec != nullptr && rec->longDataSink != nullptr) {
            releaseLongDataSink(rec->longDataSink);
            rec->longDataSink = nullptr;
        }
    }
}
