// The trace-library bridge: the settings of section "ODBC" in .odbc.ini, a
// stand-in trace library loaded by name with its version check and log
// file, and the lines written through it, an XA identifier among them.
#include "odbc/tracebridge.h"

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../platform/bostest.h"

namespace {

const std::string kTraceLibrary = std::string(KA_STANDIN_DIR) + "/libkastandintrace.so";

class TraceBridgeTest : public katest::BosTest {
protected:
    int files = 0;
    // A fresh .odbc.ini for each call, so that no cached image is reused.
    KaTraceSettings settingsFrom(const std::string& odbcSection)
    {
        std::string name = "odbc" + std::to_string(files++) + ".ini";
        writeFile(name, "[ODBC]\n" + odbcSection);
        setEnv("ODBCINI", path(name));
        traceReadOdbcIni();
        KaTraceSettings s;
        traceGetSettings(&s);
        return s;
    }
    std::string read(const std::string& name)
    {
        std::ifstream f(path(name));
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    void TearDown() override
    {
        TraceLibrary::unload();
        katest::BosTest::TearDown();
    }
};

TEST_F(TraceBridgeTest, SettingsComeFromSectionOdbc)
{
    struct {
        const char* section;
        int16_t mode;
        int16_t options;
    } cases[] = {
        {"Trace=1\n", 1, 0},
        {"Trace=2\n", 2, 3},
        {"", 0, 0},
        {"Trace=2\nTraceOptions=1\n", 2, 1},
        {"Trace=Yes\nTraceOptions=3\n", 0, 3},
        {"Trace=1\nTraceOptions=7\n", 1, 0},
    };
    for (const auto& c : cases) {
        KaTraceSettings s = settingsFrom(c.section);
        EXPECT_EQ(c.mode, s.traceMode) << c.section;
        EXPECT_EQ(c.options, s.traceOptions) << c.section;
    }
    KaTraceSettings s = settingsFrom("TraceFile=/tmp/sql.log\nTraceDll=libtrace.so\n");
    EXPECT_STREQ("/tmp/sql.log", s.traceFile);
    EXPECT_STREQ("libtrace.so", s.traceDll);

    std::string longName(400, 'f');
    s = settingsFrom("TraceFile=" + longName + "\n");
    EXPECT_EQ(longName.substr(0, KA_TRACE_SETTING_SIZE - 1), s.traceFile);
}

TEST_F(TraceBridgeTest, SettingsReadFromManyThreadsStayWhole)
{
    (void)settingsFrom("Trace=2\nTraceFile=/var/log/one.log\nTraceDll=/lib/one.so\n");
    std::vector<std::thread> threads;
    std::atomic<int> torn{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                traceReadOdbcIni();
                KaTraceSettings s;
                traceGetSettings(&s);
                if (s.traceMode != 2 || s.traceOptions != 3 || std::string(s.traceFile) != "/var/log/one.log" ||
                    std::string(s.traceDll) != "/lib/one.so")
                    ++torn;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, torn.load());
}

TEST_F(TraceBridgeTest, ALibraryOfVersion1000IsKeptAndWritesLines)
{
    std::string log = path("trace.log");
    ASSERT_EQ(0, TraceLibrary::load(log.c_str(), kTraceLibrary.c_str()));
    KaTraceLibraryRecord* rec = TraceLibrary::loaded();
    ASSERT_NE(nullptr, rec);
    EXPECT_NE(nullptr, rec->twTraceData);
    EXPECT_NE(nullptr, rec->twSetTraceLevel);
    // A second load while one is loaded fails.
    EXPECT_EQ(1, TraceLibrary::load(log.c_str(), kTraceLibrary.c_str()));

    KaTracer tracer = {1, rec};
    traceMessage(&tracer, 3, "value %d of %s", 42, "x");
    KaXid xid = {};
    xid.formatID = 0x1234;
    xid.gtrid_length = 3;
    xid.bqual_length = 2;
    memcpy(xid.data, "\x01\xab\xff\x10\x20", 5);
    EXPECT_EQ(0, traceXid(&tracer, 1, &xid));
    EXPECT_EQ(0, traceXid(&tracer, 1, nullptr));
    KaTracer off = {0, rec};
    EXPECT_EQ(1, traceXid(&off, 1, &xid));
    TraceLibrary::unload();
    EXPECT_EQ(nullptr, TraceLibrary::loaded());
    // The tracer still holds the unloaded library's record: nothing is called.
    traceMessage(&tracer, 3, "after unload");
    EXPECT_EQ(0, traceXid(&tracer, 1, nullptr));

    EXPECT_EQ("open\n"
              "3 value 42 of x\n"
              "1 xid->formatID: 0x00001234 (4660)\n"
              "1 xid->gtrid_length: 0x00000003 (3)\n"
              "1 xid->gtrid: 01abff\n"
              "1 xid->bqual_length: 0x00000002 (2)\n"
              "1 xid->bqual: 10 20 \n"
              "1 xid: NULL\n"
              "close\n",
              read("trace.log"));
}

TEST_F(TraceBridgeTest, IdentifierLengthsAreBoundedByItsData)
{
    std::string log = path("xid.log");
    ASSERT_EQ(0, TraceLibrary::load(log.c_str(), kTraceLibrary.c_str()));
    KaTracer tracer = {1, TraceLibrary::loaded()};
    KaXid xid = {};
    xid.gtrid_length = 1000;
    xid.bqual_length = 1000;
    EXPECT_EQ(0, traceXid(&tracer, 1, &xid));
    TraceLibrary::unload();
    std::string text = read("xid.log");
    EXPECT_NE(std::string::npos, text.find("xid->gtrid: " + std::string(2 * KA_XID_DATA_SIZE, '0') + "\n"));
    EXPECT_NE(std::string::npos, text.find("xid->bqual: \n"));
}

TEST_F(TraceBridgeTest, AnOldOrMissingLibraryIsNotKept)
{
    setEnv("KA_STANDIN_TRACE_VERSION", "999");
    EXPECT_EQ(1, TraceLibrary::load(path("old.log").c_str(), kTraceLibrary.c_str()));
    EXPECT_EQ(nullptr, TraceLibrary::loaded());
    unsetEnv("KA_STANDIN_TRACE_VERSION");

    errors.list.clear();
    EXPECT_EQ(1, TraceLibrary::load(path("x.log").c_str(), (dir + "/libnothing.so").c_str()));
    EXPECT_EQ(nullptr, TraceLibrary::loaded());
    // A log file the library cannot open.
    EXPECT_EQ(1, TraceLibrary::load((dir + "/no/such/x.log").c_str(), kTraceLibrary.c_str()));
    EXPECT_EQ(nullptr, TraceLibrary::loaded());
    EXPECT_EQ(1, TraceLibrary::load(path("x.log").c_str(), ""));
}

TEST_F(TraceBridgeTest, EnableLoadsOnlyInModeTwoWithALogFile)
{
    std::string log = path("enable.log");
    KaTracer tracer = {0, nullptr};
    EXPECT_EQ(1,
              TraceLibrary::enable(nullptr, 2, log.c_str(), log.size(), kTraceLibrary.c_str(), kTraceLibrary.size()));
    EXPECT_EQ(0,
              TraceLibrary::enable(&tracer, 1, log.c_str(), log.size(), kTraceLibrary.c_str(), kTraceLibrary.size()));
    EXPECT_EQ(0, tracer.tracingOn);
    EXPECT_EQ(nullptr, TraceLibrary::loaded());
    EXPECT_EQ(0,
              TraceLibrary::enable(&tracer, 2, log.c_str(), log.size(), kTraceLibrary.c_str(), kTraceLibrary.size()));
    EXPECT_EQ(1, tracer.tracingOn);
    EXPECT_NE(nullptr, TraceLibrary::loaded());
    // Reloading replaces the library; disabling unloads it.
    EXPECT_EQ(1, TraceLibrary::setEnabled(log.c_str(), log.size(), kTraceLibrary.c_str(), kTraceLibrary.size(), 1));
    EXPECT_EQ(0, TraceLibrary::setEnabled(nullptr, 0, nullptr, 0, 0));
    EXPECT_EQ(nullptr, TraceLibrary::loaded());
    std::string tooLong(KA_TRACE_NAME_MAX + 1, 'x');
    EXPECT_EQ(1, TraceLibrary::reload(tooLong.c_str(), tooLong.size(), kTraceLibrary.c_str(), kTraceLibrary.size()));
}

}  // namespace
