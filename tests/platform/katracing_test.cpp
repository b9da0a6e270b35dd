// The trace writers: option strings, file numbering and roll-over, the
// memory ring, the memory buffer that empties into files, several threads
// writing at once, and the failures a trace file can meet.
#include "platform/katracing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bostest.h"
#include "kamessages.h"

namespace {

class TracingTest : public katest::BosTest {
protected:
    std::string read(const std::string& name)
    {
        std::ifstream f(path(name), std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    bool exists(const std::string& name)
    {
        struct stat st;
        return lstat(path(name).c_str(), &st) == 0;
    }
    std::string traceFile(const std::string& name) { return "TraceFile=" + path(name); }
};

struct OptionCase {
    const char* options;
    const char* key;
    int result;
    const char* value;  // null: absent
};

TEST_F(TracingTest, OptionStringsAreReadByKeyWithoutRegardToCase)
{
    const OptionCase cases[] = {
        {"ODBCTraceMode=1;TraceFile=/t/x.log", "tracefile", 0, "/t/x.log"},
        {" ODBCTraceMode = 2 ;", "ODBCTRACEMODE", 0, " 2 "},
        {"TraceFile={/a;b/c.log};ODBCTraceMode=0", "TraceFile", 0, "/a;b/c.log"},
        {"ODBCTraceFlush=;TraceFile=/x", "ODBCTraceFlush", 0, ""},
        {"A=1;A=2", "A", 0, "1"},
        {"A=1", "B", 0, nullptr},
        {";;", "A", 0, nullptr},
        {"A=1;junk;B=2", "B", 1, nullptr},
        {"A={unclosed", "A", 1, nullptr},
        {"A={x}y", "A", 1, nullptr},
    };
    for (const OptionCase& c : cases) {
        const char* value = nullptr;
        size_t n = 0;
        EXPECT_EQ(c.result, kaTraceOption(c.options, c.key, &value, &n)) << c.options;
        if (c.result == 0 && c.value != nullptr) {
            ASSERT_NE(nullptr, value) << c.options;
            EXPECT_EQ(std::string(c.value), std::string(value, n)) << c.options;
        } else if (c.result == 0) {
            EXPECT_EQ(nullptr, value) << c.options;
        }
    }
}

TEST_F(TracingTest, CreateTracingPicksTheWriterByMode)
{
    struct {
        const char* options;
        const char* kind;  // null: no writer
    } cases[] = {
        {"ODBCTraceMode=0", "file"},  {"ODBCTraceMode=1", "memfile"}, {"ODBCTraceMode=2", "memory"},
        {"ODBCTraceMode=3", nullptr}, {"TraceFile=x", nullptr},
    };
    for (const auto& c : cases) {
        errors.list.clear();
        KaTracing* t = createTracing(c.options);
        if (c.kind == nullptr) {
            EXPECT_EQ(nullptr, t) << c.options;
            ASSERT_EQ(1u, errors.size()) << c.options;
            EXPECT_EQ(MSG_TRACE_MODE_INVALID, errors.native(0));
            continue;
        }
        ASSERT_NE(nullptr, t) << c.options;
        std::string kind = dynamic_cast<KaMemFileTracing*>(t) ? "memfile"
                           : dynamic_cast<KaFileTracing*>(t)  ? "file"
                                                              : "memory";
        EXPECT_EQ(c.kind, kind) << c.options;
        delete t;
    }
    EXPECT_EQ(nullptr, createTracing("ODBCTraceMode=x"));
    EXPECT_EQ(nullptr, createTracing("ODBCTraceMode=0;garbage"));
}

TEST_F(TracingTest, FilesAreNumberedByTheWidthOfMaxNumFilesAndReused)
{
    struct {
        const char* maxNum;
        const char* name;
        std::vector<std::string> files;  // file of each of five records
    } cases[] = {
        {"3", "t.txt", {"t1.txt", "t2.txt", "t3.txt", "t1.txt", "t2.txt"}},
        {"003", "t.txt", {"t001.txt", "t002.txt", "t003.txt", "t001.txt", "t002.txt"}},
        {nullptr, "noext", {"noext01.log", "noext02.log", "noext03.log", "noext04.log", "noext05.log"}},
    };
    for (const auto& c : cases) {
        KaFileTracing t;
        std::string options = traceFile(c.name) + ";ODBCTraceMaxFileSize=1";
        if (c.maxNum != nullptr)
            options += std::string(";ODBCTraceMaxNumFiles=") + c.maxNum;
        ASSERT_EQ(0, t.configure(options.c_str())) << options;
        std::map<std::string, std::string> expected;
        for (size_t i = 0; i < c.files.size(); ++i) {
            std::string record(1000, char('a' + i));  // two never share a 1 KB file
            ASSERT_EQ(0, t.write(record.data(), record.size()));
            expected[c.files[i]] = record;
        }
        ASSERT_EQ(0, t.close());
        for (const auto& [file, content] : expected)
            EXPECT_EQ(content, read(file)) << file;
    }
    EXPECT_EQ(0u, errors.size());
}

TEST_F(TracingTest, ARecordLongerThanAFileGetsAFileOfItsOwn)
{
    KaFileTracing t;
    ASSERT_EQ(0, t.configure((traceFile("big.out") + ";ODBCTraceMaxFileSize=1;ODBCTraceFlush=2").c_str()));
    std::string small(10, 's'), big(3000, 'b');
    ASSERT_EQ(0, t.write(small.data(), small.size()));
    ASSERT_EQ(0, t.write(big.data(), big.size()));
    ASSERT_EQ(0, t.write(small.data(), small.size()));
    EXPECT_EQ(small, read("big01.out"));  // flushed after each record
    EXPECT_EQ(big, read("big02.out"));
    EXPECT_EQ(small, read("big03.out"));
}

TEST_F(TracingTest, SeveralThreadsRollFilesAtTheirLimitWithoutSplittingOrLosingLines)
{
    KaFileTracing t;
    ASSERT_EQ(0, t.configure((traceFile("mt.trc") + ";ODBCTraceMaxFileSize=2;ODBCTraceMaxNumFiles=9999").c_str()));
    constexpr int kThreads = 6, kLines = 400;
    std::vector<std::thread> threads;
    for (int th = 0; th < kThreads; ++th) {
        threads.emplace_back([&t, th] {
            for (int i = 0; i < kLines; ++i) {
                std::string line = "thread " + std::to_string(th) + " line " + std::to_string(i) +
                                   std::string(size_t(i % 37), '.') + "\n";
                if (t.write(line.data(), line.size()) != 0)
                    ADD_FAILURE() << "write failed";
                if (i % 50 == 0)
                    t.flush();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ASSERT_EQ(0, t.close());

    std::map<int, int> nextOf;
    size_t lines = 0;
    for (int file = 1;; ++file) {
        char name[32];
        snprintf(name, sizeof name, "mt%04d.trc", file);
        if (!exists(name))
            break;
        std::string content = read(name);
        EXPECT_LE(content.size(), 2048u) << name;
        ASSERT_FALSE(content.empty()) << name;
        EXPECT_EQ('\n', content.back()) << name << ": a line was split";
        std::istringstream in(content);
        std::string line;
        while (std::getline(in, line)) {
            int th = -1, i = -1;
            ASSERT_EQ(2, sscanf(line.c_str(), "thread %d line %d", &th, &i)) << line;
            std::string expected =
                "thread " + std::to_string(th) + " line " + std::to_string(i) + std::string(size_t(i % 37), '.');
            EXPECT_EQ(expected, line);
            EXPECT_EQ(nextOf[th], i) << "thread " << th << " out of order";
            nextOf[th] = i + 1;
            ++lines;
        }
    }
    EXPECT_EQ(size_t(kThreads * kLines), lines);
}

TEST_F(TracingTest, TraceFilesAreThePrivateRegularFilesOfTheirOwner)
{
    // A link planted under the next file's name is not followed.
    std::string victim = path("victim");
    writeFile("victim", "keep me");
    ASSERT_EQ(0, symlink(victim.c_str(), path("l01.log").c_str()));
    KaFileTracing linked;
    EXPECT_EQ(1, linked.configure((traceFile("l.log")).c_str()));
    EXPECT_EQ("keep me", read("victim"));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SYSTEM_ERROR, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find(path("l01.log")));

    // An existing, readable file is emptied and made private.
    writeFile("p01.log", "old contents");
    chmod(path("p01.log").c_str(), 0644);
    KaFileTracing t;
    ASSERT_EQ(0, t.configure(traceFile("p.log").c_str()));
    ASSERT_EQ(0, t.write("new", 3));
    ASSERT_EQ(0, t.close());
    EXPECT_EQ("new", read("p01.log"));
    struct stat st;
    ASSERT_EQ(0, stat(path("p01.log").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(TracingTest, MissingOrOverlongNamesAreReported)
{
    KaFileTracing t;
    EXPECT_EQ(1, t.configure("ODBCTraceMaxNumFiles=3"));
    ASSERT_EQ(1u, errors.size());
    EXPECT_NE(std::string::npos, errors.text(0).find("No trace file"));

    std::string longName(KA_TRACE_NAME_LIMIT - 2, 'n');  // plus two digits reaches the limit
    EXPECT_EQ(1, t.configure(traceFile(longName + ".log").c_str()));
    ASSERT_EQ(2u, errors.size());
    EXPECT_NE(std::string::npos, errors.text(1).find("Trace file too long: "));
    longName.pop_back();
    EXPECT_EQ(0, t.configure(traceFile(longName + ".log").c_str()));

    EXPECT_EQ(1, t.configure((traceFile("x.log") + ";ODBCTraceMaxFileSize=ten").c_str()));
}

TEST_F(TracingTest, AFileThatCannotBeOpenedFailsEveryWriteAfterOneDiagnostic)
{
    KaFileTracing t;
    EXPECT_EQ(1, t.configure(("TraceFile=" + dir + "/missing/dir/t.log").c_str()));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(1, t.write("abc", 3));
    EXPECT_EQ(1, t.write("abc", 3));
    EXPECT_EQ(1u, errors.size());
    // Closed (or never configured), records are dropped as asked.
    t.close();
    EXPECT_EQ(0, t.write("abc", 3));
}

TEST_F(TracingTest, MemoryRingKeepsTheNewestRecordsFromItsStart)
{
    KaMemoryTracing t;
    ASSERT_EQ(0, t.configure("ODBCTraceMemBuffSize=1"));
    ASSERT_EQ(1024u, t.size);
    std::string a(600, 'a'), b(600, 'b');
    ASSERT_EQ(0, t.write(a.data(), a.size()));
    ASSERT_EQ(0, t.write(b.data(), b.size()));
    EXPECT_EQ(600u, t.position);
    EXPECT_EQ(b, std::string(t.buffer, 600));

    ASSERT_EQ(0, t.configure("ODBCTraceMemBuffSize=1"));
    std::string c(300, 'c'), d(800, 'd');
    ASSERT_EQ(0, t.write(c.data(), c.size()));
    ASSERT_EQ(0, t.write(d.data(), d.size()));
    EXPECT_EQ(800u, t.position);
    EXPECT_EQ(d, std::string(t.buffer, 800));

    std::string longer;
    for (int i = 0; i < 2000; ++i)
        longer += char('A' + i % 26);
    ASSERT_EQ(0, t.write(longer.data(), longer.size()));
    EXPECT_EQ(1024u, t.position);
    EXPECT_EQ(longer.substr(2000 - 1024), std::string(t.buffer, 1024));

    KaMemoryTracing defaults;
    ASSERT_EQ(0, defaults.configure(""));
    EXPECT_EQ(KA_TRACE_DEFAULT_MEMORY_SIZE, defaults.size);
}

TEST_F(TracingTest, MemoryThenFileWritesEveryRecordInOrder)
{
    KaMemFileTracing t;
    ASSERT_EQ(0, t.configure((traceFile("mf.log") + ";ODBCTraceMemBuffSize=1;ODBCTraceMaxFileSize=100000").c_str()));
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        std::string record = "record " + std::to_string(i) + "\n";
        if (i == 150)
            record = std::string(2500, 'L') + "\n";  // longer than the buffer: goes out in pieces
        expected += record;
        ASSERT_EQ(0, t.write(record.data(), record.size()));
    }
    // Whole spills are on disk before the close.
    std::string before = read("mf01.log");
    EXPECT_EQ(expected.substr(0, before.size()), before);
    EXPECT_LT(before.size(), expected.size());
    ASSERT_EQ(0, t.close());
    EXPECT_EQ(expected, read("mf01.log"));
}

TEST_F(TracingTest, AnEmptyFlushValueLeavesTheFollowingOptionsIntact)
{
    KaMemFileTracing t;
    ASSERT_EQ(0, t.configure(("ODBCTraceFlush=;" + traceFile("ef.log") + ";ODBCTraceMemBuffSize=1").c_str()));
    ASSERT_NE(nullptr, t.fileWriter);
    EXPECT_EQ(KA_TRACE_FLUSH_ON_REQUEST, t.fileWriter->flushMode);
    EXPECT_TRUE(exists("ef01.log"));

    KaMemFileTracing longValue;
    ASSERT_EQ(0, longValue.configure(("ODBCTraceFlush=0000;" + traceFile("lv.log")).c_str()));
    EXPECT_EQ(KA_TRACE_FLUSH_ON_REQUEST, longValue.fileWriter->flushMode);
    EXPECT_EQ(1024u * 1024u, longValue.memory->size);
}

TEST_F(TracingTest, MemoryThenFileKeepsItsRingWhenTheFileCannotBeOpened)
{
    KaMemFileTracing t;
    EXPECT_EQ(1, t.configure(("TraceFile=" + dir + "/no/such/t.log;ODBCTraceMemBuffSize=1").c_str()));
    ASSERT_EQ(1u, errors.size());
    ASSERT_NE(nullptr, t.memory);
    std::string a(700, 'a'), b(500, 'b');
    EXPECT_EQ(1, t.write(a.data(), a.size()));
    EXPECT_EQ(1, t.write(b.data(), b.size()));
    EXPECT_EQ(500u, t.memory->position);
    EXPECT_EQ(b, std::string(t.memory->buffer, 500));
    EXPECT_EQ(1u, errors.size());
}

TEST_F(TracingTest, FlushAndCloseFromOtherThreadsDoNotRace)
{
    KaFileTracing t;
    ASSERT_EQ(0, t.configure((traceFile("race.log") + ";ODBCTraceFlush=1").c_str()));
    std::atomic<bool> stop{false};
    std::thread flusher([&] {
        while (!stop)
            t.flush();
    });
    std::thread writer([&] {
        while (!stop)
            (void)t.write("x\n", 2);
    });
    for (int i = 0; i < 200; ++i) {
        t.close();
        ASSERT_EQ(0, t.configure((traceFile("race.log") + ";ODBCTraceFlush=1").c_str()));
    }
    stop = true;
    flusher.join();
    writer.join();
}

TEST_F(TracingTest, PacketLoggingWritesATimeStampedFileThatReadsBack)
{
    std::string prefix = path("pkt");
    KaPacketLogSettings settings = {KA_TRACE_MODE_MEMORY_FILE, 1, 100, 10, 0, prefix.c_str()};
    int connectFails = 1;
    KaTracing* writer = kaCreatePacketTracing(settings, &connectFails);
    ASSERT_NE(nullptr, writer);
    EXPECT_EQ(0, connectFails);
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        std::string line = "packet " + std::to_string(i) + " sent\n";
        expected += line;
        ASSERT_EQ(0, writer->write(line.data(), line.size()));
    }
    ASSERT_EQ(0, writer->close());
    delete writer;
    std::vector<std::string> files = listDir(dir);
    ASSERT_EQ(1u, files.size());
    // pkt, year to milliseconds (17 digits), "_", the file number, ".out".
    const std::string& name = files[0];
    ASSERT_EQ(3u + 17u + 1u + 2u + 4u, name.size()) << name;
    EXPECT_EQ("pkt", name.substr(0, 3));
    EXPECT_EQ("_01.out", name.substr(20));
    EXPECT_EQ(expected, read(name));

    settings.mode = 5;
    EXPECT_EQ(nullptr, kaCreatePacketTracing(settings, &connectFails));
    EXPECT_EQ(1, connectFails);
    settings.mode = KA_TRACE_MODE_FILE;
    std::string missing = dir + "/none/pkt";
    settings.prefix = missing.c_str();
    EXPECT_EQ(nullptr, kaCreatePacketTracing(settings, &connectFails));
    EXPECT_EQ(0, connectFails);
}

}  // namespace
