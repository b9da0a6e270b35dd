// For the data reader tests: a Hive connection whose wire is scripted, a
// framework statement for the conversions, and the columns of a result with
// their storage and readers; replies come from Apache Thrift's own Python
// library (rowspeer.py) or are built by hand, and are served in small reads
// so that values straddle refills.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "convert/basestring.h"
#include "convert/datacvt.h"
#include "fakewire.h"
#include "hive/dummyenv.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "hive/hivereader.h"
#include "hive/hivereaders.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"
#include "support/diagscope.h"
#include "support/guarded.h"
#include "support/tmpfiletest.h"

namespace katest {

// The FetchResults reply Apache Thrift writes for the JSON spec.
inline std::string rowsReply(const std::string& json)
{
    return runPeerFed("/usr/bin/python3 " + sourceRoot() + "/tests/hive/rowspeer.py", json);
}

// A rendered cell: its text, or "NULL".
constexpr const char* kNullCell = "NULL";

struct ReaderRig {
    ThreadScope thread;
    DiagScope diags;
    TmpDirScope tmp;
    FakeWire wire;
    DummyEnv env;
    HiveConnection conn{&env};
    HiveCommunicatorHS2 comm{nullptr, &conn};
    BaseEnv baseEnv{15};
    BaseConnection baseConn{&baseEnv};
    BaseStatement stmt{&baseConn};
    HiveFetchState state;
    std::vector<std::unique_ptr<HiveColumnStorage>> columns;
    std::vector<DataReader*> readers;
    int32_t style = HIVE_RESULT_COLUMN_WISE;

    explicit ReaderRig(int32_t resultStyle, int32_t longDataCache = 1, uint32_t rowsPerFetch = 100) : style(resultStyle)
    {
        EXPECT_EQ(0, conn.readBuffer.attach(&conn, &wire));
        conn.readBuffer.framed = 1;
        baseConn.appCodePage = kCodePageUtf8;
        stmt.charCodePage = kCodePageUtf8;
        EXPECT_EQ(0, stmt.createDescriptors());
        state.statement = &stmt;
        state.readBuffer = &conn.readBuffer;
        state.longDataCache = longDataCache;
        state.rowsPerFetch = rowsPerFetch;
        comm.fetchState = &state;
    }
    ~ReaderRig()
    {
        for (DataReader* r : readers)
            delete r;
    }

    // Adds a result column of the driver's type code; 0 when it has a reader.
    int add(uint8_t typeCode, int64_t precision = 0, int64_t scale = 0, uint64_t sinkSize = 65536)
    {
        auto c = std::make_unique<HiveColumnStorage>();
        c->columnIndex = uint16_t(columns.size());
        c->typeCode = typeCode;
        c->precision = precision;
        c->scale = scale;
        c->displaySize = typeCode == HIVE_TYPE_DECIMAL ? baseDecimalDisplaySize(precision, scale, true) : 0;
        if (c->prepare(style, state.longDataCache, state.rowsPerFetch, sinkSize))
            return 1;
        // The result description the conversions of strings read.
        const int64_t n = int64_t(columns.size()) + 1;
        if (stmt.ird->count() < n && stmt.ird->setRecordCount(n))
            return 1;
        BaseIRDRecord* rec = stmt.ird->irdRecord(n);
        rec->conciseType = typeCode == HIVE_TYPE_BINARY ? SQL_VARBINARY : SQL_VARCHAR;
        rec->length = 32767;
        rec->setCodePage(kCodePageUtf8);
        DataReader* r = nullptr;
        if (hiveMakeReader(&state, c.get(), style, &r))
            return 1;
        columns.push_back(std::move(c));
        readers.push_back(r);
        return 0;
    }

    void serve(const std::string& reply, size_t chunk = 7) { wire.serveIn(reply, chunk); }

    // The reply's header; the block's rows.
    int begin(uint32_t* rows)
    {
        int32_t more = 0;
        if (comm.readFetchResultsReply(rows, &more))
            return 1;
        state.rowsLeft = *rows;
        return 0;
    }

    // A whole value as SQL_C_CHAR text, in pieces for strings and binaries.
    std::string cell(size_t column, int16_t cType = SQL_C_CHAR)
    {
        DataReader* r = readers[column];
        const uint8_t type = columns[column]->typeCode;
        const bool stream = hiveReaderKindOf(type) == HIVE_READER_STRING || type == HIVE_TYPE_BINARY;
        if (stream && (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY))
            return pieces(column, cType, 4096);
        Guarded<uint8_t> room(512);
        int64_t ind = 0;
        BaseOutString out(room.data(), int64_t(room.size()), &ind, nullptr);
        if (r->getData(&out, cType))
            return "<getData failed>";
        EXPECT_TRUE(room.guardsIntact());
        if (ind == SQL_NULL_DATA)
            return kNullCell;
        if (cType != SQL_C_CHAR)
            return std::string(reinterpret_cast<char*>(room.data()), size_t(ind));
        return std::string(reinterpret_cast<char*>(room.data()));
    }

    // A value pumped through its converter into pieces of `size` bytes.
    std::string pieces(size_t column, int16_t cType, size_t size, size_t* count = nullptr)
    {
        DataReader* r = readers[column];
        auto* sink = new KaMemorySink;
        sink->notOwned = 1;
        Guarded<uint8_t> room(size);
        sink->attach(room.data(), room.size());
        int32_t isNull = 0;
        KaDataConverter* conv = nullptr;
        std::string got;
        if (r->getDataInPieces(sink, cType, &isNull, &conv)) {
            delete sink;
            return "<getDataInPieces failed>";
        }
        if (isNull) {
            delete sink;
            return kNullCell;
        }
        const size_t term = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
        size_t n = 0;
        for (int guard = 0; !conv->finished && guard < 100000; ++guard) {
            sink->attach(room.data(), room.size());
            if (conv->convert() != 0) {
                got = "<convert failed>";
                break;
            }
            got.append(reinterpret_cast<char*>(room.data()), sink->position);
            ++n;
            EXPECT_LE(sink->position + term, size);
        }
        EXPECT_TRUE(room.guardsIntact());
        delete sink;
        if (count != nullptr)
            *count = n;
        return got;
    }
};

}  // namespace katest
