// A connection left unusable by a fault in the middle of a reply (a fetch
// that timed out, a refused frame length, a link lost mid-reply, a TLS link
// gone under a write), through unixODBC against the bundled test server:
// every later call fails with its own diagnostic, so that the driver
// manager never has to say that the driver gave none; with failover on the
// next call reconnects instead.
#include <string>
#include <vector>

#include "support/hs2suite.h"
#include "support/textfile.h"
#include "support/tlspeers.h"

namespace {

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// One way to break the link: the fault set on the session, the SQLSTATE
// the failing call gives.
struct Fault {
    const char* name;
    const char* set;
    const char* state;
};

const Fault kFaults[] = {
    {"fetch time-out", "SET hs2server.fault.stall=FetchResults:4000", "HYT00"},
    {"refused frame length", "SET hs2server.fault.oversize=FetchResults", "08S01"},
    {"link lost mid-reply", "SET hs2server.fault.truncate=FetchResults", "08S01"},
    {"link closed instead of a reply", "SET hs2server.fault.drop=FetchResults", "08S01"},
};

class Hs2Unusable : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-unusable", {"--verbose"}, true); }
    void TearDown() override
    {
        for (SQLHSTMT s : {first, second})
            if (s != SQL_NULL_HSTMT)
                SQLFreeHandle(SQL_HANDLE_STMT, s);
        first = second = SQL_NULL_HSTMT;
        SQLDisconnect(dbc);
        DriverManagerSuite::TearDown();
    }
    void connect(const std::string& in)
    {
        for (SQLHSTMT* s : {&first, &second})
            if (*s != SQL_NULL_HSTMT) {
                SQLFreeHandle(SQL_HANDLE_STMT, *s);
                *s = SQL_NULL_HSTMT;
            }
        SQLDisconnect(dbc);
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(in))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &first));
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &second));
    }
    // Sets the fault, runs the query into it and checks the failure.
    void breakLink(const Fault& f)
    {
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(second, sql(f.set), SQL_NTS)) << diagText(SQL_HANDLE_STMT, second);
        SQLRETURN rc = SQLExecDirect(first, sql("SELECT * FROM default.people"), SQL_NTS);
        while (rc == SQL_SUCCESS)
            rc = SQLFetch(first);
        std::string state;
        const std::string text = diagText(SQL_HANDLE_STMT, first, &state);
        EXPECT_EQ(SQL_ERROR, rc) << text;
        EXPECT_EQ(f.state, state) << text;
    }
    // A call that fails: SQL_ERROR with a record of its own.
    static void expectRecord(SQLRETURN rc, SQLHSTMT stmt, const char* what)
    {
        SCOPED_TRACE(what);
        std::string state;
        const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
        EXPECT_EQ(SQL_ERROR, rc) << text;
        EXPECT_EQ("08S01", state) << text;
        EXPECT_NE(std::string::npos, text.find("must be reconnected")) << text;
    }
    // The calls after the fault, on both statements.
    void expectEveryLaterCallToSayWhy()
    {
        SQLCloseCursor(first);
        expectRecord(SQLExecDirect(first, sql("SELECT 1"), SQL_NTS), first, "SELECT 1");
        expectRecord(SQLExecDirect(first, sql("SELECT 2"), SQL_NTS), first, "SELECT 2");
        expectRecord(SQLExecDirect(second, sql("SELECT 3"), SQL_NTS), second, "SELECT 3 on the other statement");
        expectRecord(SQLPrepare(second, sql("SELECT 4"), SQL_NTS) == SQL_SUCCESS ? SQLExecute(second) : SQL_ERROR,
                     second, "a prepared SELECT 4");
        expectRecord(SQLTables(first, nullptr, 0, sql("default"), SQL_NTS, nullptr, 0, nullptr, 0), first, "SQLTables");
    }

    SQLHSTMT first = SQL_NULL_HSTMT;
    SQLHSTMT second = SQL_NULL_HSTMT;
};

TEST_F(Hs2Unusable, EveryCallAfterTheFaultSaysTheConnectionMustBeReconnected)
{
    for (const Fault& f : kFaults) {
        SCOPED_TRACE(f.name);
        connect(hs2String("LT=20;ConnectionTimeout=1"));
        breakLink(f);
        expectEveryLaterCallToSayWhy();
    }
}

TEST_F(Hs2Unusable, OverTlsAWriteOnTheLostLinkSaysSoToo)
{
    const katest::TlsFiles& files = katest::TlsFiles::get();
    ASSERT_TRUE(files.ok);
    katest::Hs2Process peer({"--tls-cert", files.path("server.pem"), "--tls-key", files.path("server.key")});
    ASSERT_NE(0, peer.port());
    const std::string driver = katest::driverLibrary();
    const std::string lib = driver.substr(0, driver.rfind('/') + 1) + "libVYtls28.so";
    const std::string in = "DRIVER={VYspark28};HOST=localhost;PORT=" + peer.portText() +
                           ";LT=20;ConnectionTimeout=1;UID=ann;PWD=x;SSLLibName=" + lib + ";CryptoLibName=" + lib +
                           ";EncryptionMethod=1;TrustStore=" + files.path("ca.pem");
    for (const Fault& f : kFaults) {
        SCOPED_TRACE(f.name);
        connect(in);
        breakLink(f);
        expectEveryLaterCallToSayWhy();
    }
}

TEST_F(Hs2Unusable, WithFailoverTheNextCallReconnects)
{
    for (const Fault& f : kFaults) {
        SCOPED_TRACE(f.name);
        connect(hs2String("LT=20;ConnectionTimeout=1;FailoverMode=1"));
        const size_t sessionsBefore = katest::occurrences(katest::fileText(log), "OpenSession");
        breakLink(f);
        SQLCloseCursor(first);
        // The first call after the fault either reconnects and runs, or
        // fails saying that it reconnected; the one after runs.
        SQLRETURN rc = SQLExecDirect(first, sql("SELECT 1"), SQL_NTS);
        if (rc == SQL_ERROR) {
            const std::string text = diagText(SQL_HANDLE_STMT, first);
            EXPECT_NE(std::string::npos, text.find("re-established")) << text;
            rc = SQLExecDirect(first, sql("SELECT 1"), SQL_NTS);
        }
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, first);
        EXPECT_EQ(SQL_SUCCESS, SQLFetch(first)) << diagText(SQL_HANDLE_STMT, first);
        EXPECT_LT(sessionsBefore, katest::occurrences(katest::fileText(log), "OpenSession"));
    }
}

}  // namespace
