// The HiveServer2 reply readers over arbitrary bytes as the server's answer:
// the first byte picks the call whose reply (or the SASL answer) is read,
// the second how the wire splits the rest into socket reads. Every input
// must end in success or a diagnostic: no crash, no overrun, no endless loop.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzzfixture.h"
#include "hive/dummyenv.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "inputwire.h"

namespace {

using kafuzz::InputWire;

struct ColumnsIgnored : HiveColumnSink {
    int columnCount(uint32_t) noexcept override { return 0; }
    int column(uint32_t, const char*, size_t, uint8_t, int32_t, int32_t) noexcept override { return 0; }
};

void readRows(HiveCommunicatorHS2& comm, HiveNetReadBuffer& in) noexcept
{
    uint32_t rows = 0;
    int32_t more = 0;
    if (comm.readFetchResultsReply(&rows, &more))
        return;
    for (uint32_t r = 0; r < rows && r < 64; ++r) {
        if (r > 0 && comm.nextRow())
            return;
        for (int32_t c = 0; c < comm.blockColumnCount && c < 64; ++c) {
            if (in.skip(HIVE_T_STRUCT))
                return;
        }
        if (comm.skipByte())
            return;
    }
    (void)comm.endReply();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    static DummyEnv env;
    HiveConnection conn(&env);
    InputWire wire;
    wire.data = data + 2;
    wire.size = size - 2;
    wire.piece = size_t(data[1] % 32) + 1;
    if (conn.writeBuffer.attach(&conn, &wire) || conn.readBuffer.attach(&conn, &wire))
        return 0;
    conn.writeBuffer.framing = 1;
    conn.readBuffer.framed = 1;
    HiveCommunicatorHS2 comm(nullptr, &conn);
    comm.operationHandle[0] = HIVE_T_STRING;  // an operation exists
    int32_t status = 0;
    int32_t flag = 0;
    double count = 0;
    char text[64];
    uint8_t kind = 0;
    size_t length = 0;
    ColumnsIgnored columns;
    switch (data[0] % 10) {
    case 0: (void)conn.readOpenSessionReply(&status); break;
    case 1: (void)conn.readCloseSessionReply(); break;
    case 2: (void)comm.readExecuteStatementReply(&status, &flag, &count); break;
    case 3: (void)comm.getResultSetMetadata(10000, -1, &columns); break;
    case 4: readRows(comm, conn.readBuffer); break;
    case 5: {
        HiveOperationStatus op;
        (void)comm.getOperationStatus(&op);
        break;
    }
    case 6: (void)comm.closeOperation(); break;
    case 7: (void)comm.getInfo(18, text, sizeof text, &kind, &length); break;
    case 8:
        // The SASL answer, read off the bare socket.
        conn.readBuffer.framed = 0;
        (void)conn.saslPlainLogin(0, "u", 1, "p", 1, nullptr);
        break;
    default: {
        char name[kHiveMethodNameSize];
        if (conn.readBuffer.readMessageBegin(name, sizeof name, &length, &status) == 0)
            (void)conn.readBuffer.skip(HIVE_T_STRUCT);
        (void)conn.readBuffer.drainPending(nullptr);
        break;
    }
    }
    return 0;
}
