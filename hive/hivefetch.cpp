// Hive fetch and column data: the next row of a result, block by block
// (row-wise blocks parsed in place, column-wise blocks read whole with the
// next block asked for at once), and the values of the current row through
// the columns' readers, whole or in pieces.
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "hive/hiveconnection.h"
#include "hive/hivedesc.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseerr.h"

namespace {

DataReader* readerOf(HiveStatement* stmt, uint16_t column) noexcept
{
    HiveIRDRecord* rec = stmt->columnRecord(column);
    if (rec == nullptr || rec->currentReader == nullptr) {
        errPost(MSG_HIVE_COLUMN_NOT_BOUND)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamUnsigned(static_cast<uint64_t>(column));
        return nullptr;
    }
    return rec->currentReader;
}

// The SQLSTATE of the last error posted on the thread's list; HY000 when
// there is none.
uint16_t postedFailureState() noexcept
{
    if (const KaErrorList* list = KaErrorCurrentList(); list != nullptr)
        for (size_t i = list->recordCount(); i > 0; --i)
            if (const KaError* e = list->recordAt(i - 1); e != nullptr && !e->isWarning() && e->sqlstateMsg != 0)
                return e->sqlstateMsg;
    return MSG_SQLSTATE_GENERAL_ERROR;
}

// Without the long-data cache row-wise values are read from the reply as the
// application asks for them, in column order.
bool readsForward(const HiveStatement* stmt) noexcept
{
    return stmt->settings.longDataCache == 0 && stmt->settings.resultStyle == HIVE_RESULT_ROW_WISE;
}

// The longest value SQLGetData converts whole rather than streams.
constexpr int64_t kHiveWholeValueLimit = 8192;

// Without the long-data cache the value of the column the statement stands
// on may still be partly in the reply: it is passed before the reply moves
// on to another column.
int passCurrentValue(HiveStatement* stmt) noexcept
{
    if (stmt->columnPosition == 0)
        return 0;
    DataReader* reader = readerOf(stmt, stmt->columnPosition);
    return reader == nullptr || reader->finishPendingValue() != 0 ? 1 : 0;
}

}  // namespace

int16_t HiveStatement::readRowRemainder() noexcept
{
    for (uint16_t c = static_cast<uint16_t>(columnPosition + 1); c <= resultColumnCount; ++c) {
        DataReader* reader = readerOf(this, c);
        if (reader == nullptr || reader->readValue() != 0)
            return 1;
        columnPosition = c;
    }
    return 0;
}

int16_t HiveStatement::skipRowRemainder() noexcept
{
    if (passCurrentValue(this) != 0)
        return 1;
    for (uint16_t c = static_cast<uint16_t>(columnPosition + 1); c <= resultColumnCount; ++c) {
        DataReader* reader = readerOf(this, c);
        if (reader == nullptr || reader->skipValue() != 0)
            return 1;
    }
    columnPosition = 0;
    if (rowsLeft != 0)
        --rowsLeft;
    if (settings.resultStyle == HIVE_RESULT_ROW_WISE && communicator->skipByte() != 0)
        return 1;
    return 0;
}

int16_t HiveStatement::failBlock() noexcept
{
    fetchState = HIVE_FETCH_IDLE;
    rowsLeft = 0;
    moreRows = 0;
    readerState.rowsLeft = 0;
    // What is left of the reply cannot be trusted; the operation ends here,
    // and its own failure adds nothing to the diagnostic already posted.
    if (ownsWire)
        static_cast<void>(dropPendingReply());
    // The failure just posted names the state the later fetches report.
    resultFailureState = postedFailureState();
    static_cast<void>(communicator->closeCurrentOperation());
    resultState = HIVE_RESULT_FAILED;
    return 1;
}

// Finishes the current row and steps into the next one of the block.
int16_t HiveStatement::finishRowAndStep() noexcept
{
    const bool rowWise = settings.resultStyle == HIVE_RESULT_ROW_WISE;
    if (resultState == HIVE_RESULT_OPEN_ON_CACHE) {
        --rowsLeft;
        columnPosition = 0;
    } else if (settings.longDataCache != 0 || !rowWise) {
        --rowsLeft;
        columnPosition = 0;
        if (rowWise && communicator->skipByte() != 0)
            return 1;
    } else if (skipRowRemainder() != 0) {
        return 1;
    }
    if (rowWise && resultState != HIVE_RESULT_OPEN_ON_CACHE) {
        if (rowsLeft != 0) {
            if (communicator->nextRow() != 0)
                return 1;
        } else {
            if (communicator->endReply() != 0)
                return 1;
            releaseWire();
        }
    }
    return 0;
}

int16_t HiveStatement::readBlock() noexcept
{
    // A read-ahead parked while another statement used the wire.
    if (resumeParkedReply() != 0)
        return failBlock();
    rowIndex = 0;
    if (fetchState == HIVE_FETCH_AHEAD) {
        fetchState = HIVE_FETCH_IDLE;
    } else if (fetchState == HIVE_FETCH_AHEAD_FAILED) {
        // The request failed during an earlier fetch, whose diagnostics are
        // gone: this fetch says so, with the state of that failure.
        errPost(MSG_HIVE_RESULT_BROKEN)->setSqlstateMsg(resultFailureState);
        return failBlock();
    } else if (acquireWire() != 0 || communicator->requestNextBatch(settings.resultStyle) != 0) {
        return failBlock();
    }
    ownsWire = true;
    uint32_t rows = 0;
    int32_t more = 0;
    columnPosition = 0;
    readerState.currentRow = 0;
    if (communicator->readFetchResultsReply(&rows, &more) != 0)
        return failBlock();
    rowsLeft = rows;
    moreRows = more;
    readerState.rowsLeft = rows;
    if (settings.resultStyle != HIVE_RESULT_ROW_WISE) {
        // The reply stops inside the first column: every column is read
        // whole into its reader's storage and the reply's end consumed, so
        // that the wire is free for the read-ahead.
        if (communicator->blockColumnCount > 0) {
            if (readRowRemainder() != 0 || communicator->endReply() != 0)
                return failBlock();
            columnPosition = 0;
        }
        releaseWire();
        fetchState = HIVE_FETCH_SERVING;
    } else if (rows == 0) {
        releaseWire();
    }
    return 0;
}

int16_t HiveStatement::fetchRow(int16_t* noMoreRows) noexcept
{
    *noMoreRows = 1;
    if (resultAbandoned) {
        errPost(MSG_HIVE_RESULT_ABANDONED)->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    if (resultState == HIVE_RESULT_FAILED) {
        errPost(MSG_HIVE_RESULT_BROKEN)->setSqlstateMsg(resultFailureState);
        return 1;
    }
    if (resultState != HIVE_RESULT_OPEN && resultState != HIVE_RESULT_OPEN_ON_CACHE)
        return 0;
    const bool columnWise = settings.resultStyle != HIVE_RESULT_ROW_WISE;
    // Row-wise rows come from the reply: a parked one goes back first.
    if (!columnWise && resumeParkedReply() != 0)
        return failBlock();
    if (rowsLeft != 0) {
        if (finishRowAndStep() != 0)
            return failBlock();
        if (columnWise && (fetchState == HIVE_FETCH_IDLE || fetchState == HIVE_FETCH_SERVING) && moreRows != 0 &&
            rowsLeft != 0) {
            // The next block travels while this one is served.
            if (acquireWire() != 0 || communicator->requestNextBatch(settings.resultStyle) != 0) {
                resultFailureState = postedFailureState();
                fetchState = HIVE_FETCH_AHEAD_FAILED;
                releaseWire();
            } else {
                fetchState = HIVE_FETCH_AHEAD;
            }
        }
    }
    if (rowsLeft == 0) {
        if (moreRows == 0) {
            resultState = HIVE_RESULT_CLOSED;
            return 0;
        }
        if (readBlock() != 0)
            return 1;
        if (rowsLeft == 0) {
            resultState = HIVE_RESULT_CLOSED;
            return 0;
        }
    }
    ++rowIndex;
    readerState.currentRow = rowIndex;
    readerState.rowsLeft = rowsLeft;
    if (!columnWise && settings.longDataCache != 0 && resultState != HIVE_RESULT_OPEN_ON_CACHE) {
        columnPosition = 0;
        if (readRowRemainder() != 0)
            return failBlock();
    }
    *noMoreRows = 0;
    return 0;
}

int16_t HiveStatement::readColumnsUpTo(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    const bool forward = readsForward(this);
    if (forward && resumeParkedReply() != 0)
        return 1;
    if (forward && column > columnPosition && advanceToColumn(column) != 0)
        return 1;
    DataReader* reader = readerOf(this, column);
    if (reader == nullptr)
        return 1;
    return reader->getData(out, cType) != 0 ? 1 : 0;
}

int16_t HiveStatement::advanceToColumn(uint16_t column) noexcept
{
    if (passCurrentValue(this) != 0)
        return 1;
    for (uint16_t c = static_cast<uint16_t>(columnPosition + 1); c < column; ++c) {
        HiveIRDRecord* rec = columnRecord(c);
        DataReader* reader = readerOf(this, c);
        if (reader == nullptr)
            return 1;
        if ((rec->longDataColumn != 0 ? reader->skipValue() : reader->readValue()) != 0)
            return 1;
        columnPosition = c;
    }
    DataReader* reader = readerOf(this, column);
    if (reader == nullptr || reader->readValue() != 0)
        return 1;
    columnPosition = column;
    return 0;
}

int16_t HiveStatement::getColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    return readColumnsUpTo(column, cType, out);
}

int16_t HiveStatement::columnDataAvailable(uint16_t column, bool, int16_t, bool, int32_t) noexcept
{
    HiveIRDRecord* rec = columnRecord(column);
    DataReader* reader = rec != nullptr ? rec->currentReader : nullptr;
    if (reader == nullptr || !reader->readsInPieces())
        return 0;
    // Without the cache a value streams from the reply, whatever its size.
    if (readsForward(this))
        return 1;
    // Short values are converted whole, which costs less than setting up a
    // stream; read in pieces, each piece converts them again, which stays
    // cheap below this size.
    const int64_t bytes = reader->currentValueBytes();
    return bytes < 0 || bytes > kHiveWholeValueLimit ? 1 : 0;
}

int16_t HiveStatement::checkLongDataCache(uint16_t column, int16_t cType, KaDataSink* sink, int16_t* isNull,
                                          BaseIRDRecord*, KaDataConverter** converter) noexcept
{
    *isNull = 0;
    const bool forward = readsForward(this);
    if (forward && resumeParkedReply() != 0)
        return 1;
    if (forward) {
        if (columnPosition >= column) {
            errPost(MSG_HIVE_LONG_DATA_ORDER)->setSqlstateMsg(MSG_SQLSTATE_INVALID_DESCRIPTOR_INDEX);
            return 1;
        }
        if (advanceToColumn(column) != 0)
            return 1;
    }
    DataReader* reader = readerOf(this, column);
    if (reader == nullptr)
        return 1;
    // A reader that keeps its values whole leaves no converter: the
    // framework then takes the value through getColumnData.
    *converter = nullptr;
    if (!reader->readsInPieces())
        return 0;
    int32_t nullFlag = 0;
    if (reader->getDataInPieces(sink, cType, &nullFlag, converter) != 0)
        return 1;
    *isNull = nullFlag != 0 ? 1 : 0;
    return 0;
}
