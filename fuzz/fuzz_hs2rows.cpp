// The HiveServer2 data readers over arbitrary bytes as a FetchResults reply:
// the first byte picks the result style, the long-data cache and whether
// the block is spooled; the second how the wire splits the reply into
// socket reads; the third the column count and the bytes after it the
// columns' type codes. Every value is then read and converted: every input
// must end in success or a diagnostic, with no crash and no overrun.
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/basestring.h"
#include "convert/datacvt.h"
#include "fuzzfixture.h"
#include "hive/dummyenv.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "hive/hivenetread.h"
#include "hive/hivereader.h"
#include "hive/hivereaders.h"
#include "inputwire.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"

namespace {

using kafuzz::InputWire;

constexpr size_t kMaxColumns = 8;
constexpr uint32_t kMaxRows = 64;

// One value out as text: whole, or pumped in small pieces.
void render(DataReader* r, uint8_t typeCode, HiveFetchState* state) noexcept
{
    char room[48];
    int64_t ind = 0;
    BaseOutString out(room, int64_t(sizeof room), &ind, nullptr);
    const HiveReaderKind kind = hiveReaderKindOf(typeCode);
    if (kind != HIVE_READER_STRING && kind != HIVE_READER_BINARY) {
        (void)r->getData(&out, SQL_C_CHAR);
        (void)r->getData(&out, SQL_C_DOUBLE);
        return;
    }
    KaMemorySink sink;
    sink.notOwned = 1;
    sink.attach(room, sizeof room);
    int32_t isNull = 0;
    KaDataConverter* conv = nullptr;
    if (r->getDataInPieces(&sink, state->longDataCache ? SQL_C_WCHAR : SQL_C_CHAR, &isNull, &conv) == 0 &&
        conv != nullptr) {
        for (int guard = 0; !conv->finished && guard < 4096; ++guard) {
            sink.attach(room, sizeof room);
            if (conv->convert())
                break;
        }
        conv->sink = nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    static DummyEnv env;
    const int32_t style = data[0] & 1 ? HIVE_RESULT_COLUMN_WISE : HIVE_RESULT_ROW_WISE;
    const int32_t longDataCache = data[0] & 2 ? 0 : 1;
    const bool spool = (data[0] & 4) != 0 && style == HIVE_RESULT_ROW_WISE;
    const size_t columns = size_t(data[2] % kMaxColumns) + 1;
    if (size < 3 + columns)
        return 0;

    HiveConnection conn(&env);
    InputWire wire;
    wire.data = data + 3 + columns;
    wire.size = size - 3 - columns;
    wire.piece = size_t(data[1] % 64) + 1;
    if (conn.readBuffer.attach(&conn, &wire))
        return 0;
    conn.readBuffer.framed = 1;
    HiveCommunicatorHS2 comm(nullptr, &conn);

    BaseEnv baseEnv(15);
    BaseConnection baseConn(&baseEnv);
    BaseStatement stmt(&baseConn);
    stmt.charCodePage = kCodePageUtf8;
    if (stmt.createDescriptors() || stmt.ird->setRecordCount(int64_t(columns)))
        return 0;
    HiveFetchState state;
    state.statement = &stmt;
    state.readBuffer = &conn.readBuffer;
    state.longDataCache = longDataCache;
    state.rowsPerFetch = kMaxRows;
    comm.fetchState = &state;

    HiveColumnStorage storage[kMaxColumns];
    DataReader* readers[kMaxColumns] = {};
    DataReader* twins[kMaxColumns] = {};
    bool ok = true;
    for (size_t c = 0; c < columns && ok; ++c) {
        storage[c].columnIndex = uint16_t(c);
        storage[c].typeCode = uint8_t(data[3 + c] % 24);
        storage[c].precision = data[3 + c] % 39;
        storage[c].scale = data[3 + c] % 5;
        BaseIRDRecord* rec = stmt.ird->irdRecord(int64_t(c) + 1);
        rec->conciseType = SQL_VARCHAR;
        rec->length = 32767;
        rec->setCodePage(kCodePageUtf8);
        ok = storage[c].prepare(style, longDataCache, kMaxRows, 4096) == 0 &&
             hiveMakeReader(&state, &storage[c], style, &readers[c]) == 0;
    }

    uint32_t rows = 0;
    int32_t more = 0;
    HiveNetReadFileBufferHS2 spoolBuffer;
    if (ok && comm.readFetchResultsReply(&rows, &more) == 0 && rows <= kMaxRows) {
        if (style == HIVE_RESULT_COLUMN_WISE) {
            for (size_t c = 0; c < columns && ok; ++c)
                ok = readers[c]->readValue() == 0;
            for (uint32_t row = 1; ok && row <= rows; ++row) {
                state.currentRow = row;
                for (size_t c = 0; c < columns; ++c)
                    render(readers[c], storage[c].typeCode, &state);
            }
        } else {
            for (uint32_t row = 0; ok && row < rows; ++row) {
                if (row > 0)
                    ok = comm.skipByte() == 0 && comm.nextRow() == 0;
                for (size_t c = 0; c < columns && ok; ++c) {
                    ok = readers[c]->readValue() == 0;
                    if (ok && !longDataCache)
                        render(readers[c], storage[c].typeCode, &state);
                    auto kind = hiveReaderKindOf(storage[c].typeCode);
                    if (ok && !longDataCache && (kind == HIVE_READER_STRING || kind == HIVE_READER_BINARY))
                        ok = static_cast<StreamDataReaderHS2*>(readers[c])->finishPendingValue() == 0;
                }
                if (ok && longDataCache) {
                    for (size_t c = 0; c < columns; ++c)
                        render(readers[c], storage[c].typeCode, &state);
                }
                if (ok && spool && row == 0) {
                    // The rest of the block moves to the spool and is read back.
                    HiveSpoolRequest req;
                    req.state = &state;
                    req.communicator = &comm;
                    req.readers = readers;
                    req.cacheReaders = twins;
                    req.columnCount = uint16_t(columns);
                    req.columnPosition = uint16_t(columns);
                    req.rowsAfterCurrent = rows - 1;
                    ok = spoolBuffer.spoolRows(req) == 0;
                    for (uint32_t r = 1; ok && r < rows; ++r) {
                        for (size_t c = 0; c < columns && ok; ++c) {
                            ok = twins[c]->readValue() == 0;
                            if (ok)
                                render(twins[c], storage[c].typeCode, &state);
                            auto kind = hiveReaderKindOf(storage[c].typeCode);
                            if (ok && (kind == HIVE_READER_STRING || kind == HIVE_READER_BINARY))
                                ok = static_cast<StreamDataReaderHS2*>(twins[c])->finishPendingValue() == 0;
                        }
                    }
                    break;
                }
            }
        }
    }
    for (size_t c = 0; c < columns; ++c) {
        delete twins[c];
        delete readers[c];
    }
    return 0;
}
