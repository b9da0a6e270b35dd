// The socket data trace: message lines, the hex/ASCII/EBCDIC dump written
// out by hand, the dump options and the messages-only mode, and the trace
// files (numbered, private, never through a link, in a deep directory),
// with the traffic of a real loopback connection.
#include "transport/kasock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "loopback.h"
#include "support/errorscope.h"
#include "transport/katcpip.h"

namespace {

struct CaptureSink : KaSockTraceSink {
    std::string text;
    int flushes = 0;
    void write(const char* data, size_t length) noexcept override { text.append(data, length); }
    void flush() noexcept override { ++flushes; }
};

// A transport that traces into a sink.
struct Traced {
    CaptureSink sink;
    KaTCPIP sock;
    explicit Traced(uint16_t mode = 1, uint32_t options = 0)
    {
        sock.traceSink = &sink;
        sock.dumpOptions = options;
        sock.setTraceMode(mode);
    }
};

const std::string kBlankField = "   ";

TEST(SocketTrace, TwentyBytesSentGiveTwoDumpLinesAndAnEmptyLine)
{
    Traced t;
    const std::string data = "ABCDEFGHIJKLMNOPQRST";
    t.sock.traceData(data.data(), data.size(), KA_TRACE_SENDING, 0);
    std::string expected = "Sending 20 bytes\n";
    expected += "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 \tABCDEFGHIJKLMNOP\t...........<(+|&\n";
    expected += "51 52 53 54 ";
    for (int i = 0; i < 12; ++i)
        expected += kBlankField;
    expected += "\tQRST" + std::string(12, ' ') + "\t...." + std::string(12, ' ') + "\n";
    expected += "\n";
    EXPECT_EQ(expected, t.sink.text);
    EXPECT_EQ(1, t.sink.flushes);
}

TEST(SocketTrace, SixteenBytesGiveOneDumpLine)
{
    Traced t;
    const uint8_t data[16] = {0x00, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xC1, 0xF0,
                              0xF9, 0x81, 0x40, 0x7D, 0x7F, 0xB9, 0xFF, 0x5B};
    t.sock.traceData(data, sizeof data, KA_TRACE_SENDING, 0);
    EXPECT_EQ("Sending 16 bytes\n"
              "00 1F 20 7E 7F 80 C1 F0 F9 81 40 7D 7F B9 FF 5B \t.. ~......@}...[\t...=\".A09a '\"`.$\n"
              "\n",
              t.sink.text);
}

TEST(SocketTrace, AReceiveNamesWhatWasAskedFor)
{
    Traced t;
    t.sock.traceData("hello", 5, KA_TRACE_READING, 5120);
    EXPECT_EQ(0u, t.sink.text.find("Reading 5 bytes (requested 5120)\n"));
}

TEST(SocketTrace, DumpOptionsSilenceOneDirection)
{
    struct Case {
        uint32_t options;
        bool sendDumped;
        bool receiveDumped;
    } cases[] = {
        {0, true, true},
        {KA_TRACE_NO_SEND_DUMP, false, true},
        {KA_TRACE_NO_RECEIVE_DUMP, true, false},
        {KA_TRACE_NO_SEND_DUMP | KA_TRACE_NO_RECEIVE_DUMP, false, false},
    };
    for (const Case& c : cases) {
        Traced sent(1, c.options);
        sent.sock.traceData("abc", 3, KA_TRACE_SENDING, 0);
        EXPECT_EQ(c.sendDumped, sent.sink.text != "Sending 3 bytes\n") << c.options;
        Traced got(1, c.options);
        got.sock.traceData("abc", 3, KA_TRACE_READING, 3);
        EXPECT_EQ(c.receiveDumped, got.sink.text != "Reading 3 bytes (requested 3)\n") << c.options;
    }
}

TEST(SocketTrace, MessagesOnlyModeWritesNoDumpAndHeadsTheSendBufferLine)
{
    Traced t(KA_TRACE_MESSAGES_ONLY);
    t.sock.traceData("abc", 3, KA_TRACE_SENDING, 0);
    t.sock.traceData(nullptr, 8192, KA_TRACE_RCVBUF_DESIRED, 65536);
    t.sock.traceData(nullptr, 4096, KA_TRACE_SNDBUF_DESIRED, 16384);
    const std::string header = "HEX" + std::string(45, ' ') + "\tASCII" + std::string(11, ' ') + "\tEBCDIC\n\n";
    ASSERT_EQ(74u, header.size());
    EXPECT_EQ("Sending 3 bytes\n"
              "8192 desired, SO_RCVBUF is 65536, \n"
              "4096 desired. SO_SNDBUF is 16384\n" +
                  header,
              t.sink.text);
    EXPECT_EQ(0, t.sink.flushes);
}

TEST(SocketTrace, EbcdicHasItsLettersDigitsAndSigns)
{
    struct Case {
        uint8_t byte;
        char shown;
    } cases[] = {
        {0x40, ' '}, {0x4C, '<'}, {0x5A, '!'}, {0x6D, '_'}, {0x7F, '"'}, {0x81, 'a'}, {0x89, 'i'},
        {0x91, 'j'}, {0x99, 'r'}, {0xA2, 's'}, {0xA9, 'z'}, {0xB9, '`'}, {0xC1, 'A'}, {0xC9, 'I'},
        {0xD1, 'J'}, {0xD9, 'R'}, {0xE2, 'S'}, {0xE9, 'Z'}, {0xF0, '0'}, {0xF9, '9'}, {0x00, '.'},
        {0x8A, '.'}, {0xA1, '.'}, {0xE1, '.'}, {0xFA, '.'}, {0xFF, '.'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shown, ebcdicToAscii(c.byte)) << int(c.byte);
}

// Runs the test body in a fresh directory that it leaves afterwards.
class TraceFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
        char pattern[] = "/tmp/katraceXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        ASSERT_EQ(0, chdir(dir.c_str()));
    }
    void TearDown() override
    {
        EXPECT_EQ(0, chdir(previous));
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(0, system(cmd.c_str()));
    }
    static std::string slurp(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    char previous[PATH_MAX];
    std::string dir;
};

TEST_F(TraceFileTest, TheFirstFreeNumberIsTakenPrivately)
{
    std::ofstream("0.out") << "earlier";
    std::ofstream("1.out") << "earlier";
    mode_t old = umask(0);  // even a permissive umask leaves the file private
    KaTCPIP sock;
    sock.setTraceMode(1);
    umask(old);
    ASSERT_GT(sock.traceFile, 0);
    struct stat st;
    ASSERT_EQ(0, stat("2.out", &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    sock.traceData("xy", 2, KA_TRACE_SENDING, 0);
    EXPECT_EQ(0u, slurp("2.out").find("Sending 2 bytes\n78 79 "));
    EXPECT_EQ("earlier", slurp("1.out"));

    sock.setTraceMode(0);  // off: the file is closed
    EXPECT_EQ(0, sock.traceFile);
}

TEST_F(TraceFileTest, ALinkInTheWayIsNotFollowed)
{
    std::string target = dir + "/target";
    ASSERT_EQ(0, symlink(target.c_str(), "0.out"));
    KaTCPIP sock;
    sock.setTraceMode(1);
    ASSERT_GT(sock.traceFile, 0);
    EXPECT_NE(0, access(target.c_str(), F_OK));  // nothing made through the link
    struct stat st;
    EXPECT_EQ(0, lstat("1.out", &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(TraceFileTest, ADeepCurrentDirectoryIsNoProblem)
{
    std::string name(200, 'd');
    for (int i = 0; i < 4; ++i) {  // well past 256 bytes of path
        ASSERT_EQ(0, mkdir(name.c_str(), 0700));
        ASSERT_EQ(0, chdir(name.c_str()));
    }
    char here[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(here, sizeof here));
    ASSERT_GT(strlen(here), 800u);
    KaTCPIP sock;
    sock.setTraceMode(1);
    ASSERT_GT(sock.traceFile, 0);
    EXPECT_EQ(0, access("0.out", F_OK));
}

TEST_F(TraceFileTest, ASinkTakesOverFromTheFile)
{
    KaTCPIP sock;
    sock.setTraceMode(1);
    ASSERT_GT(sock.traceFile, 0);
    CaptureSink sink;
    sock.traceSink = &sink;
    sock.setTraceMode(1);
    EXPECT_EQ(0, sock.traceFile);
    sock.traceData("a", 1, KA_TRACE_SENDING, 0);
    EXPECT_EQ(0u, sink.text.find("Sending 1 bytes\n"));
    EXPECT_EQ("", slurp("0.out"));
}

TEST_F(TraceFileTest, TheTrafficOfAConnectionIsTraced)
{
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::LoopbackServer server(katest::Peer::Echo);
    {
        KaTCPIP sock;
        sock.timeout = 20000;
        sock.setTraceMode(1);
        ASSERT_EQ(KA_SOCK_OK, sock.connect(server.port(), nullptr, "127.0.0.1", nullptr, 0));
        ASSERT_EQ(KA_SOCK_OK, sock.send("ping", 4, 0));
        char buffer[64];
        size_t count = 0;
        ASSERT_EQ(KA_SOCK_OK, sock.recv(buffer, sizeof buffer, &count, 0));
    }
    std::string text = slurp("0.out");
    EXPECT_NE(std::string::npos, text.find(" desired, SO_RCVBUF is ")) << text;
    EXPECT_NE(std::string::npos, text.find(" desired. SO_SNDBUF is ")) << text;
    EXPECT_NE(std::string::npos, text.find("Sending 4 bytes\n70 69 6E 67 ")) << text;
    EXPECT_NE(std::string::npos, text.find("Reading ")) << text;
    EXPECT_NE(std::string::npos, text.find("(requested 64)\n")) << text;
}

TEST_F(TraceFileTest, ACopyWithoutTakeOverHasItsOwnDescriptor)
{
    KaTCPIP source;
    source.setTraceMode(1);
    ASSERT_GT(source.traceFile, 0);
    {
        KaTCPIP copy(source, 0);
        EXPECT_GT(copy.traceFile, 0);
        EXPECT_NE(source.traceFile, copy.traceFile);
    }
    // The copy closed only its own: the source still writes.
    source.traceData("k", 1, KA_TRACE_SENDING, 0);
    EXPECT_EQ(0u, slurp("0.out").find("Sending 1 bytes\n"));

    KaTCPIP taken(source, 1);
    EXPECT_EQ(0, source.traceFile);
    EXPECT_GT(taken.traceFile, 0);
}

}  // namespace
