// The driver loaded by unixODBC connects to the bundled HiveServer2 test
// server over binary SASL PLAIN: SQLConnect by data source and
// SQLDriverConnect by DRIVER= string under every server identity, the
// session opened with its database and closed at SQLDisconnect; refused
// logins, unknown hosts, refused ports, stalled and dropped servers each
// give their SQLSTATE and a message that says what happened; packet logging
// turned on in odbc.ini writes a log without the credentials.
#include <dirent.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/hs2suite.h"
#include "support/textfile.h"
#include "support/tlspeers.h"

namespace {

using katest::fileText;
using katest::occurrences;

struct Diag {
    std::string state;
    std::string text;
};

std::vector<Diag> diagsOf(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diag> out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR message[2048] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length)))
            break;
        out.push_back({reinterpret_cast<char*>(state), reinterpret_cast<char*>(message)});
    }
    return out;
}

std::string allText(const std::vector<Diag>& diags)
{
    std::string all;
    for (const Diag& d : diags)
        all += "[" + d.state + "] " + d.text + "\n";
    return all;
}

bool hasState(const std::vector<Diag>& diags, const std::string& state, const std::string& words)
{
    for (const Diag& d : diags)
        if (d.state == state && d.text.find(words) != std::string::npos)
            return true;
    return false;
}

// The ASCII column of a packet log's dump lines, joined: what was sent and
// read, whatever the line breaks cut.
std::string asciiOf(const std::string& log)
{
    std::string out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        size_t first = line.find('\t');
        size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second != std::string::npos)
            out += line.substr(first + 1, std::min<size_t>(16, second - first - 1));
    }
    return out;
}

class Hs2Connect : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite()
    {
        // odbc.ini holds the two data sources alone: the application's code
        // page is the driver's default.
        writeHs2Ini("hs2-connect", "");
        startServer({"--server", "hive-3.1", "--user", "ann", "--password", "se;cr}et"});
        addDataSource("hs2");
        addDataSource("hs2log", "ENABLEPACKETLOGGING=1\nPacketLoggingFilePrefix=" + iniDir + "/pkt-\n");
    }

    // SQLDriverConnect without a prompt; the diagnostics of the handle.
    SQLRETURN connectBy(const std::string& in, std::string* completed = nullptr)
    {
        SQLRETURN rc = driverConnect(in, completed);
        diags = diagsOf(SQL_HANDLE_DBC, dbc);
        return rc;
    }
    static std::string driverString(uint16_t port, const std::string& more = "")
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + std::to_string(port) + ";LT=20;" + more;
    }

    std::vector<Diag> diags;
};

TEST_F(Hs2Connect, DriverConnectOpensAndClosesTheSessionUnderEveryServerIdentity)
{
    for (const char* identity : {"hive-1.2", "hive-2.3", "hive-3.1", "spark-3"}) {
        SCOPED_TRACE(identity);
        std::string peerLog = iniDir + "/calls-" + identity + ".log";
        katest::Hs2Process peer({"--server", identity, "--verbose"}, peerLog);
        ASSERT_NE(0, peer.port());
        std::string completed;
        ASSERT_EQ(SQL_SUCCESS, connectBy(driverString(peer.port(), "UID=ann;PWD=any"), &completed)) << allText(diags);
        // The completed string names the server and the database used.
        EXPECT_NE(std::string::npos, completed.find(peer.portText())) << completed;
        EXPECT_NE(std::string::npos, completed.find("=default")) << completed;
        ASSERT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
        std::string calls = fileText(peerLog);
        // The probe session learns the server's name and version; the
        // working session is opened again with its protocol; both switch to
        // the database and both are closed.
        EXPECT_EQ(2u, occurrences(calls, "OpenSession")) << calls;
        EXPECT_EQ(2u, occurrences(calls, "ExecuteStatement use default")) << calls;
        EXPECT_EQ(2u, occurrences(calls, "GetInfo")) << calls;
        EXPECT_EQ(2u, occurrences(calls, "CloseSession")) << calls;
        EXPECT_LT(calls.rfind("OpenSession"), calls.rfind("CloseSession")) << calls;
    }
}

TEST_F(Hs2Connect, ConnectByDataSourceWithCredentialsTheServerChecks)
{
    auto text = [](const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); };
    ASSERT_EQ(SQL_SUCCESS, SQLConnect(dbc, text("hs2"), SQL_NTS, text("ann"), SQL_NTS, text("se;cr}et"), SQL_NTS))
        << allText(diagsOf(SQL_HANDLE_DBC, dbc));
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    // The same credentials in a connection string, braced as ODBC asks.
    ASSERT_EQ(SQL_SUCCESS, connectBy("DSN=hs2;UID=ann;PWD={se;cr}}et}")) << allText(diags);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

TEST_F(Hs2Connect, ARefusedLoginIsUnableToConnectWithTheServersMessage)
{
    EXPECT_EQ(SQL_ERROR, connectBy("DSN=hs2;UID=ann;PWD=wrong"));
    EXPECT_TRUE(hasState(diags, "08001", "The server refused the login: Error validating the login")) << allText(diags);
    EXPECT_EQ(std::string::npos, allText(diags).find("wrong")) << allText(diags);
}

TEST_F(Hs2Connect, ConnectFailuresSayWhatHappened)
{
    struct Case {
        const char* name;
        std::string in;
        const char* state;
        const char* words;
    };
    const Case cases[] = {
        {"refused port", driverString(1, "UID=ann;PWD=x"), "08001", "The connection to 127.0.0.1 on port 1 failed"},
        {"unknown host", "DRIVER={VYspark28};HOST=no.such.host.invalid;PORT=10000;UID=ann;PWD=x", "08001",
         "no.such.host.invalid"},
        {"unknown database", driverString(server->port(), "UID=ann;PWD={se;cr}}et};DB=nosuch"), "08001",
         "The database nosuch could not be made"},
        {"blank database", driverString(server->port(), "UID=ann;PWD={se;cr}}et};DB={  }"), "HY000",
         "The database name is empty"},
        {"no password", driverString(server->port(), "UID=ann"), "28000",
         "Not enough information to connect; missing: password (PWD)."},
        {"no user id", driverString(server->port(), "PWD=x"), "28000", "missing: user id (UID)."},
        {"no host", "DRIVER={VYspark28};PORT=10000;UID=ann;PWD=x", "08001",
         "Not enough information to connect; missing: host name (HOST)."},
        {"no host or port", "DRIVER={VYspark28};UID=ann;PWD=x", "08001",
         "missing: host name (HOST), port number (PORT)."},
        {"http to a binary server", driverString(server->port(), "UID=ann;PWD=x;TransportMode=1"), "08001", "on port"},
        {"packet log of no kind", driverString(server->port(), "UID=ann;PWD=x;EPL=1;PacketLoggingMode=9"), "08001",
         "The packet log could not be created"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SQL_ERROR, connectBy(c.in));
        EXPECT_TRUE(hasState(diags, c.state, c.words)) << allText(diags);
    }
}

TEST_F(Hs2Connect, StalledAndDroppingServersEndTheConnectWithADiagnostic)
{
    struct Case {
        const char* fault;
        const char* state;
        const char* words;
    };
    const Case cases[] = {
        {"stall=sasl:60000", "HYT00", "within the login time-out of 2 seconds"},
        {"stall=OpenSession:60000", "HYT00", "within the login time-out of 2 seconds"},
        // Each call in time, the whole open not.
        {"stall=*:700", "HYT00", "within the login time-out of 2 seconds"},
        {"drop=OpenSession", "08001", "The connection to the server was lost"},
        {"truncate=OpenSession", "08001", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        katest::Hs2Process peer({"--fault", c.fault});
        ASSERT_NE(0, peer.port());
        EXPECT_EQ(SQL_ERROR, connectBy("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + peer.portText() +
                                       ";LoginTimeout=2;UID=ann;PWD=x"));
        EXPECT_TRUE(hasState(diags, c.state, c.words)) << allText(diags);
    }
}

TEST_F(Hs2Connect, DisconnectEndsAlsoWhenTheServerNoLongerAnswers)
{
    katest::Hs2Process peer({});
    ASSERT_EQ(SQL_SUCCESS,
              connectBy("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + peer.portText() + ";LoginTimeout=2;UID=ann;PWD=x"))
        << allText(diags);
    peer.freeze();
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc)) << allText(diagsOf(SQL_HANDLE_DBC, dbc));
}

TEST_F(Hs2Connect, TheDatabaseNameIsOneNameWhateverItHolds)
{
    struct Case {
        const char* db;
        const char* sent;
        SQLRETURN rc;
    };
    const Case cases[] = {
        {"default", "use default\n", SQL_SUCCESS},
        {"`default`", "use `default`\n", SQL_SUCCESS},
        {"{default; select 1}", "use `default; select 1`\n", SQL_ERROR},
        {"{x`y}", "use `x``y`\n", SQL_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.db);
        std::string peerLog = iniDir + "/calls-use.log";
        katest::Hs2Process peer({"--verbose"}, peerLog);
        EXPECT_EQ(c.rc, connectBy(driverString(peer.port(), std::string("UID=ann;PWD=x;DB=") + c.db)))
            << allText(diags);
        if (c.rc == SQL_SUCCESS)
            EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
        else
            EXPECT_TRUE(hasState(diags, "08001", "could not be made the session's current database")) << allText(diags);
        std::string calls = fileText(peerLog);
        EXPECT_NE(std::string::npos, calls.find(c.sent)) << calls;
    }
}

TEST_F(Hs2Connect, AServerThatCannotSayItsVersionIsConnectedWithoutTheProbe)
{
    std::string peerLog = iniDir + "/calls-noversion.log";
    katest::Hs2Process peer({"--fault", "drop=GetInfo", "--verbose"}, peerLog);
    ASSERT_EQ(SQL_SUCCESS, connectBy(driverString(peer.port(), "UID=ann;PWD=x"))) << allText(diags);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    // The server hangs up on the version probe; the connection is made
    // again and opens its sessions without asking.
    std::string calls = fileText(peerLog);
    EXPECT_EQ(3u, occurrences(calls, "OpenSession")) << calls;
    EXPECT_EQ(0u, occurrences(calls, "GetInfo")) << calls;
}

TEST_F(Hs2Connect, AProtocolTheServerRefusesFallsBackWithAWarning)
{
    katest::Hs2Process peer({"--server", "hive-1.2"});
    ASSERT_EQ(SQL_SUCCESS_WITH_INFO, connectBy(driverString(peer.port(), "UID=ann;PWD=secret;CSP=9")))
        << allText(diags);
    EXPECT_TRUE(hasState(diags, "01000", "The server refused client protocol 9")) << allText(diags);
    EXPECT_EQ(std::string::npos, allText(diags).find("secret")) << allText(diags);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

TEST_F(Hs2Connect, AlternateServersAreTriedWhenThePrimaryRefuses)
{
    std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=1;LT=20;UID=ann;PWD={se;cr}}et};"
                     "ASRV=(HOST=127.0.0.1:PORT=" +
                     server->portText() + ")";
    ASSERT_TRUE(SQL_SUCCEEDED(connectBy(in))) << allText(diags);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

TEST_F(Hs2Connect, ALoginTheFirstServerRefusesLetsTheAlternateTry)
{
    katest::Hs2Process primary({"--user", "ann", "--password", "other"});
    std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + primary.portText() +
                     ";LT=20;UID=ann;PWD={se;cr}}et};ASRV=(HOST=127.0.0.1:PORT=" + server->portText() + ")";
    ASSERT_TRUE(SQL_SUCCEEDED(connectBy(in))) << allText(diags);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    // Without the alternate the refusal is the answer.
    EXPECT_EQ(SQL_ERROR, connectBy(driverString(primary.port(), "UID=ann;PWD={se;cr}}et}")));
    EXPECT_TRUE(hasState(diags, "08001", "refused the login")) << allText(diags);
}

TEST_F(Hs2Connect, WithoutAuthenticationTheFixedIdentityLogsIn)
{
    katest::Hs2Process peer({"--user", "VELTRANOX", "--password", "VELTRANOX"});
    // No user or password is asked for.
    ASSERT_EQ(SQL_SUCCESS, connectBy(driverString(peer.port(), "AuthenticationMethod=-1"))) << allText(diags);
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    EXPECT_EQ(SQL_ERROR, connectBy(driverString(peer.port(), "AuthenticationMethod=0;UID=ann;PWD=x")));
    EXPECT_TRUE(hasState(diags, "08001", "refused the login")) << allText(diags);
}

TEST_F(Hs2Connect, EncryptionMethodOneConnectsOverTlsAndChecksTheServer)
{
    const katest::TlsFiles& files = katest::TlsFiles::get();
    ASSERT_TRUE(files.ok);
    katest::Hs2Process peer({"--tls-cert", files.path("server.pem"), "--tls-key", files.path("server.key")});
    ASSERT_NE(0, peer.port());
    // The TLS library the build makes beside the driver.
    std::string driver = katest::driverLibrary();
    std::string lib = driver.substr(0, driver.rfind('/') + 1) + "libVYtls28.so";
    std::string base = "DRIVER={VYspark28};HOST=localhost;PORT=" + peer.portText() +
                       ";LT=20;UID=ann;PWD=x;SSLLibName=" + lib + ";CryptoLibName=" + lib + ";";
    std::string trust = "TrustStore=" + files.path("ca.pem") + ";";
    struct Case {
        const char* name;
        std::string more;
        SQLRETURN rc;
        const char* words;
    };
    const Case cases[] = {
        {"verified", "EncryptionMethod=1;" + trust, SQL_SUCCESS, ""},
        {"verification off", "EncryptionMethod=1;ValidateServerCertificate=0", SQL_SUCCESS, ""},
        {"libraries loaded first", "EncryptionMethod=1;SeedBeforeConnect=1;" + trust, SQL_SUCCESS, ""},
        {"no trust store", "EncryptionMethod=1", SQL_ERROR, "certificate"},
        {"other host", "EncryptionMethod=1;HostNameInCertificate=elsewhere.example;" + trust, SQL_ERROR,
         "elsewhere.example"},
        {"plain to a TLS server", "EncryptionMethod=0", SQL_ERROR, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.rc, connectBy(base + c.more)) << allText(diags);
        if (c.rc == SQL_SUCCESS)
            EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
        else
            EXPECT_TRUE(hasState(diags, "08001", c.words)) << allText(diags);
    }
}

TEST_F(Hs2Connect, PacketLoggingFromOdbcIniWritesTheTrafficWithoutTheCredentials)
{
    auto text = [](const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); };
    ASSERT_EQ(SQL_SUCCESS, SQLConnect(dbc, text("hs2log"), SQL_NTS, text("ann"), SQL_NTS, text("se;cr}et"), SQL_NTS))
        << allText(diagsOf(SQL_HANDLE_DBC, dbc));
    ASSERT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    std::string logText;
    DIR* dir = opendir(iniDir.c_str());
    ASSERT_NE(nullptr, dir);
    int files = 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind("pkt-", 0) == 0) {
            ++files;
            logText += fileText(iniDir + "/" + name);
        }
    }
    closedir(dir);
    EXPECT_EQ(1, files);
    // Each call is there, sent and read, with its dump, to the last.
    std::string traffic = asciiOf(logText);
    EXPECT_EQ(4u, occurrences(traffic, "OpenSession")) << traffic;
    EXPECT_EQ(4u, occurrences(traffic, "CloseSession")) << traffic;
    EXPECT_NE(std::string::npos, traffic.find("use default")) << traffic;
    // The login was sent, but its credentials are not in the log.
    EXPECT_NE(std::string::npos, logText.find("Sending 28 bytes")) << logText;
    EXPECT_EQ(std::string::npos, traffic.find("se;cr}et")) << traffic;
    EXPECT_EQ(std::string::npos, traffic.find("ann")) << traffic;
}

TEST_F(Hs2Connect, APacketLogThatCannotOpenItsFileIsAWarningAndTheConnectionGoesOn)
{
    // The prefix names a folder that does not exist: the file and the
    // memory-then-file writers cannot open their file; the memory writer has
    // none to open.
    struct Case {
        const char* mode;
        SQLRETURN rc;
    };
    const Case cases[] = {{"0", SQL_SUCCESS_WITH_INFO}, {"1", SQL_SUCCESS_WITH_INFO}, {"2", SQL_SUCCESS}};
    const std::string missing = iniDir + "/no-such-folder";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        std::string in =
            driverString(server->port(), "UID=ann;PWD={se;cr}}et};EPL=1;PacketLoggingMode=" + std::string(c.mode) +
                                             ";PLFP=" + missing + "/pkt-");
        ASSERT_EQ(c.rc, connectBy(in)) << allText(diags);
        if (c.rc == SQL_SUCCESS_WITH_INFO) {
            ASSERT_EQ(1u, diags.size()) << allText(diags);
            EXPECT_EQ("01000", diags[0].state);
            EXPECT_NE(std::string::npos, diags[0].text.find(missing + "/pkt-")) << diags[0].text;
            EXPECT_NE(std::string::npos, diags[0].text.find("Packet logging is off for this connection."))
                << diags[0].text;
        }
        // The connection works without its log.
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        EXPECT_EQ(SQL_SUCCESS,
                  SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("use default")), SQL_NTS))
            << katest::diagText(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(SQL_SUCCESS, SQLFreeHandle(SQL_HANDLE_STMT, stmt));
        ASSERT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
        EXPECT_NE(0, access(missing.c_str(), F_OK));
    }
}

}  // namespace
