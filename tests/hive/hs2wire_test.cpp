// The HiveServer2 calls over a real socket against the bundled test server,
// under each of its server identities, over SASL PLAIN framing, and its faults on demand: each gives a diagnostic, never a hang.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fakewire.h"
#include "hive/dummyenv.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "kamessages.h"
#include "support/diagscope.h"
#include "transport/basesocket.h"
#include "transport/kasock.h"

extern char** environ;

namespace {

// The test server on a free port; stopped (by its process id) with the object.
class Hs2Server {
public:
    explicit Hs2Server(const std::vector<std::string>& options)
    {
        std::string tool = katest::sourceRoot() + "/tools/hs2server/hs2server";
        std::vector<std::string> args = {"/usr/bin/python3", tool, "--port", "0", "--synthetic-rows", "1000"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(out[0]);
        port_ = atoi(line.c_str());
    }
    ~Hs2Server()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
        }
    }
    uint16_t port() const { return uint16_t(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

constexpr int32_t kProtocolV8 = 7;

class WireTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void connect(uint16_t port)
    {
        ASSERT_NE(0, port);
        socket = std::make_unique<BaseSocket>(nullptr, nullptr);
        ASSERT_EQ(0, socket->createTransport());
        ASSERT_EQ(KA_SOCK_OK, socket->connectTo("127.0.0.1", port, 0));
        socket->useQueryTimeout(20);
        ASSERT_EQ(0, conn.writeBuffer.attach(&conn, socket.get()));
        ASSERT_EQ(0, conn.readBuffer.attach(&conn, socket.get()));
        conn.writeBuffer.framing = 0;  // the SASL exchange writes its own frames
    }
    void framed()
    {
        conn.writeBuffer.framing = 1;
        conn.readBuffer.framed = 1;
    }
    // SASL PLAIN as its frames go: START with the mechanism, OK with the
    // credentials; the server's answer is its status byte.
    uint8_t saslPlain(const std::string& user, const std::string& password)
    {
        HiveNetWriteBuffer& w = conn.writeBuffer;
        std::string credentials = std::string(1, '\0') + user + '\0' + password;
        if (w.put(1) || w.writeString("PLAIN", 5) || w.put(2) ||
            w.writeString(credentials.data(), credentials.size()) || w.flush())
            return 0;
        HiveNetReadBuffer& in = conn.readBuffer;
        uint8_t status = 0;
        int32_t n = 0;
        if (in.readByte(&status) || in.readI32(&n) || in.skipBytes(uint64_t(n)))
            return 0;
        in.resetFrame();
        return status;
    }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    DummyEnv env;
    HiveConnection conn{&env};
    std::unique_ptr<BaseSocket> socket;
    HiveCommunicatorHS2 comm{nullptr, &conn};
};

struct Counter : HiveColumnSink {
    uint32_t count = 0;
    int columnCount(uint32_t n) noexcept override
    {
        count = n;
        return 0;
    }
    int column(uint32_t, const char*, size_t, uint8_t, int32_t, int32_t) noexcept override { return 0; }
};

TEST_F(WireTest, ASessionRunsAQueryUnderEveryServerIdentity)
{
    for (const char* identity : {"hive-1.2", "hive-2.3", "hive-3.1", "spark-3"}) {
        SCOPED_TRACE(identity);
        Hs2Server server({"--auth", "plain", "--server", identity});
        connect(server.port());
        ASSERT_EQ(5, saslPlain("ann", "any"));
        framed();
        int32_t serverProtocol = -1;
        ASSERT_EQ(0, conn.writeOpenSession(kProtocolV8, nullptr, 0));
        ASSERT_EQ(0, conn.readOpenSessionReply(&serverProtocol));
        EXPECT_GE(serverProtocol, 0);
        char version[64];
        uint8_t kind = 0;
        size_t length = 0;
        ASSERT_EQ(0, comm.getInfo(18, version, sizeof version, &kind, &length));
        EXPECT_GT(length, 0u);
        const auto* sql = reinterpret_cast<const uint16_t*>(u"SELECT 1 AS one, 'x' AS two");
        ASSERT_EQ(0, comm.executeStatement(sql, 27, 0));
        int32_t status = -1;
        int32_t hasResultSet = 0;
        double modified = 0;
        ASSERT_EQ(0, comm.readExecuteStatementReply(&status, &hasResultSet, &modified));
        EXPECT_EQ(1, hasResultSet);
        Counter columns;
        ASSERT_EQ(0, comm.getResultSetMetadata(1000, -1, &columns));
        EXPECT_EQ(2u, columns.count);
        int32_t style = serverProtocol >= 5 ? HIVE_RESULT_COLUMN_WISE : HIVE_RESULT_ROW_WISE;
        ASSERT_EQ(0, comm.requestNextBatch(style));
        uint32_t rows = 0;
        int32_t more = 0;
        ASSERT_EQ(0, comm.readFetchResultsReply(&rows, &more));
        EXPECT_EQ(1u, rows);
        // The rest of the block is left unread: the drain passes it.
        ASSERT_EQ(0, conn.readBuffer.drainPending(nullptr));
        int32_t state = -1;
        ASSERT_EQ(0, comm.getOperationStatus(&state));
        ASSERT_EQ(0, comm.closeOperation());
        ASSERT_EQ(0, conn.writeCloseSession());
        ASSERT_EQ(0, conn.readCloseSessionReply());
        EXPECT_EQ(0, conn.sessionOpen);
        EXPECT_EQ(0u, diags.size()) << diags.text(0);
    }
}

TEST_F(WireTest, SaslPlainFramesLetTheSessionOpenAndARefusalIsSeen)
{
    Hs2Server server({"--auth", "plain", "--user", "ann", "--password", "secret"});
    connect(server.port());
    EXPECT_EQ(5, saslPlain("ann", "secret"));  // COMPLETE
    framed();
    int32_t serverProtocol = -1;
    ASSERT_EQ(0, conn.writeOpenSession(kProtocolV8, "bob", 3));
    ASSERT_EQ(0, conn.readOpenSessionReply(&serverProtocol));
    EXPECT_EQ(1, conn.sessionOpen);

    EXPECT_EQ(0u, diags.size());

    // The driver's own login: accepted, then refused with the server's text.
    for (const char* password : {"secret", "wrong"}) {
        SCOPED_TRACE(password);
        connect(server.port());
        int rc = conn.saslPlainLogin(0, "ann", 3, password, strlen(password), nullptr);
        EXPECT_EQ(std::string(password) == "secret" ? 0 : 1, rc);
    }
    ASSERT_EQ(1u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_UNABLE_TO_CONNECT, diags.index(0));
    EXPECT_NE(std::string::npos, diags.text(0).find("refused the login")) << diags.text(0);
}

TEST_F(WireTest, ServerFaultsGiveADiagnosticAndNoHang)
{
    for (const char* fault :
         {"drop=ExecuteStatement", "truncate=ExecuteStatement", "oversize=ExecuteStatement", "error-state=broken"}) {
        SCOPED_TRACE(fault);
        Hs2Server server({"--auth", "plain", "--fault", fault});
        connect(server.port());
        ASSERT_EQ(5, saslPlain("ann", "any"));
        framed();
        int32_t serverProtocol = -1;
        ASSERT_EQ(0, conn.writeOpenSession(kProtocolV8, nullptr, 0));
        ASSERT_EQ(0, conn.readOpenSessionReply(&serverProtocol));
        const auto* sql = reinterpret_cast<const uint16_t*>(u"SELECT 1");
        size_t before = diags.size();
        int rc = comm.executeStatement(sql, 8, 0);
        int32_t status = -1;
        int32_t hasResultSet = 0;
        double modified = 0;
        if (rc == 0)
            rc = comm.readExecuteStatementReply(&status, &hasResultSet, &modified);
        if (rc == 0) {
            // error-state fails the operation later, when its state is asked.
            int32_t state = 0;
            rc = comm.getOperationStatus(&state);
            EXPECT_TRUE(rc != 0 || state > HIVE_OP_FINISHED) << state;
            rc = 1;
        }
        EXPECT_NE(0, rc);
        if (std::string(fault).rfind("error-state", 0) != 0) {
            EXPECT_GT(diags.size(), before);
        }
        memset(comm.operationHandle, 0, kHiveOperationHandleBytes);
    }
}

}  // namespace
