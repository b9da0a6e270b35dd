// The temporary-file sink and source: staying in memory while the stream
// fits one buffer, spilling whole buffers, handing the stream to a source
// without copying, reading it back by blocks, copies, windows and seeks, and
// the spill file's life (private, emptied on reset, deleted on release).
#include "platform/katmpsink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t salt = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 13 + i / 256 + salt);
    return v;
}

class TmpSinkTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;

    // Every byte of the source, through read in pieces of `piece`.
    static std::vector<uint8_t> readAll(KaTmpFileSource& src, uint64_t piece)
    {
        std::vector<uint8_t> out;
        std::vector<uint8_t> buf(piece);
        int32_t more = 1;
        while (more) {
            uint64_t n = 0;
            if (src.read(buf.data(), piece, &n, &more) != 0)
                return {};
            out.insert(out.end(), buf.begin(), buf.begin() + long(n));
        }
        return out;
    }
    static std::vector<uint64_t> blockLengths(KaTmpFileSource& src, std::vector<uint8_t>* joined)
    {
        std::vector<uint64_t> lengths;
        for (;;) {
            const uint8_t* p = nullptr;
            uint64_t n = 0;
            int32_t more = 0;
            if (src.nextBlock(&p, &n, &more) != 0 || p == nullptr)
                break;
            lengths.push_back(n);
            joined->insert(joined->end(), p, p + n);
            if (!more)
                break;
        }
        return lengths;
    }
};

TEST_F(TmpSinkTest, AStreamThatFitsTheBufferNeverTouchesTheDisk)
{
    KaTmpFileSink sink(100);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> data = bytes(100);
    ASSERT_EQ(0, sink.write(data.data(), 60, 1));
    ASSERT_EQ(0, sink.write(data.data() + 60, 40, 0));
    EXPECT_EQ(0u, tmp.count());
    KaTmpFileSource src;
    ASSERT_EQ(0, sink.toSource(&src));
    EXPECT_EQ(100u, src.total);
    EXPECT_EQ(0, src.fd);
    std::vector<uint8_t> joined;
    EXPECT_EQ(std::vector<uint64_t>{100}, blockLengths(src, &joined));
    EXPECT_EQ(data, joined);
    src.release();
}

TEST_F(TmpSinkTest, ASpilledStreamIsCompleteInItsFileAfterTheLastPiece)
{
    KaTmpFileSink sink(100);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> data = bytes(120);
    ASSERT_EQ(0, sink.write(data.data(), 60, 1));
    EXPECT_EQ(0u, tmp.count());
    ASSERT_EQ(0, sink.write(data.data() + 60, 60, 1));
    ASSERT_EQ(1u, tmp.count());
    EXPECT_EQ(0600, tmp.onlyFileMode());
    EXPECT_EQ(20u, sink.bufferPos);
    ASSERT_EQ(0, sink.write(nullptr, 0, 0));
    EXPECT_EQ(0, sink.fd);  // finished and closed
    KaTmpFileSource src;
    ASSERT_EQ(0, sink.toSource(&src));
    std::vector<uint8_t> joined;
    EXPECT_EQ((std::vector<uint64_t>{100, 20}), blockLengths(src, &joined));
    EXPECT_EQ(data, joined);
    ASSERT_EQ(0, src.rewind());
    EXPECT_EQ(data, readAll(src, 7));
    src.release();
    sink.release();
    EXPECT_EQ(0u, tmp.count());
}

TEST_F(TmpSinkTest, ALargeWriteIntoAnEmptySinkBypassesTheBuffer)
{
    KaTmpFileSink sink(100);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> data = bytes(250);
    ASSERT_EQ(0, sink.write(data.data(), 250, 1));
    EXPECT_EQ(50u, sink.bufferPos);
    EXPECT_EQ(0, memcmp(sink.buffer, data.data() + 200, 50));
    // Not finished with more 0: the hand-over writes the tail out first.
    KaTmpFileSource src;
    ASSERT_EQ(0, sink.toSource(&src));
    EXPECT_EQ(data, readAll(src, 64));
    src.release();
}

TEST_F(TmpSinkTest, AWindowOnAFullSinkFirstWritesTheBufferOut)
{
    KaTmpFileSink sink(16);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> data = bytes(40);
    size_t at = 0;
    while (at < data.size()) {
        uint8_t* w = nullptr;
        uint64_t size = 0;
        int32_t more = 0;
        ASSERT_EQ(0, sink.getWriteWindow(&w, &size, &more));
        EXPECT_EQ(1, more);
        uint64_t n = std::min<uint64_t>(size, data.size() - at);
        memcpy(w, data.data() + at, n);
        at += n;
        ASSERT_EQ(0, sink.commit(n, at < data.size()));
    }
    EXPECT_EQ(40u, sink.total);
    KaTmpFileSource src;
    ASSERT_EQ(0, sink.toSource(&src));
    EXPECT_EQ(data, readAll(src, 5));
    src.release();
}

TEST_F(TmpSinkTest, ResetLeavesTheSinkEmptySoNoOldByteComesBack)
{
    KaTmpFileSink sink(64);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> first = bytes(1000, 1);
    std::vector<uint8_t> second = bytes(300, 2);
    // Reset in the middle of a spilled stream, with the file still open.
    ASSERT_EQ(0, sink.write(first.data(), first.size(), 1));
    ASSERT_EQ(0, sink.reset());
    ASSERT_EQ(0, sink.write(second.data(), second.size(), 0));
    KaTmpFileSource src;
    ASSERT_EQ(0, sink.toSource(&src));
    EXPECT_EQ(300u, src.total);
    EXPECT_EQ(second, readAll(src, 50));
    src.release();
    // Reset after a finished stream, with the file closed.
    ASSERT_EQ(0, sink.reset());
    std::vector<uint8_t> third = bytes(130, 3);
    ASSERT_EQ(0, sink.write(third.data(), third.size(), 0));
    ASSERT_EQ(0, sink.toSource(&src));
    EXPECT_EQ(third, readAll(src, 1000));
    src.release();
}

TEST_F(TmpSinkTest, ADiscardedSinkKeepsItsEmptiedFileForTheNextStream)
{
    KaTmpFileSink sink(32);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> data = bytes(100);
    ASSERT_EQ(0, sink.write(data.data(), data.size(), 0));
    std::string name = sink.path.path;
    ASSERT_EQ(0, sink.discard());
    ASSERT_EQ(1u, tmp.count());
    EXPECT_EQ(name, tmp.files()[0]);
    std::vector<uint8_t> again = bytes(70, 9);
    ASSERT_EQ(0, sink.write(again.data(), again.size(), 0));
    EXPECT_EQ(name, std::string(sink.path.path));
    KaTmpFileSource src;
    ASSERT_EQ(0, sink.toSource(&src));
    EXPECT_EQ(again, readAll(src, 9));
    src.release();
}

TEST_F(TmpSinkTest, AnAppendedSourceReadsAcrossItsBlockBorder)
{
    KaTmpFileSource src;
    ASSERT_EQ(0, src.open());
    std::vector<uint8_t> data = bytes(70000);
    ASSERT_EQ(0, src.append(data.data(), 30000));
    ASSERT_EQ(0, src.append(data.data() + 30000, 40000));
    ASSERT_EQ(0, src.flush());
    ASSERT_EQ(1u, tmp.count());
    std::vector<uint8_t> first(65536);
    uint64_t n = 0;
    int32_t more = 0;
    ASSERT_EQ(0, src.read(first.data(), first.size(), &n, &more));
    EXPECT_EQ(65536u, n);
    EXPECT_EQ(1, more);
    uint8_t four[4];
    ASSERT_EQ(0, src.read(four, 4, &n, &more));
    EXPECT_EQ(0, memcmp(four, data.data() + 65536, 4));
    ASSERT_EQ(0, src.rewind());
    EXPECT_EQ(data, readAll(src, 4097));
    src.close();
    EXPECT_EQ(0u, tmp.count());
}

TEST_F(TmpSinkTest, WindowsStopAtBlockBordersAndSeeksLoadTheirBlock)
{
    KaTmpFileSource src;
    ASSERT_EQ(0, src.open());
    std::vector<uint8_t> data = bytes(3 * 65536 + 100);
    ASSERT_EQ(0, src.append(data.data(), data.size()));
    ASSERT_EQ(0, src.flush());
    ASSERT_EQ(0, src.seek(65536 - 5));
    const uint8_t* w = nullptr;
    uint64_t len = 0;
    int32_t more = 0;
    ASSERT_EQ(0, src.readWindow(&w, 10, &len, &more));
    EXPECT_EQ(5u, len);
    EXPECT_EQ(0, memcmp(w, data.data() + 65536 - 5, 5));
    EXPECT_EQ(65536u, src.position);
    ASSERT_EQ(0, src.seek(131072));
    uint8_t four[4];
    uint64_t n = 0;
    ASSERT_EQ(0, src.read(four, 4, &n, &more));
    EXPECT_EQ(0, memcmp(four, data.data() + 131072, 4));
    EXPECT_EQ(0, src.seek(src.position));
    EXPECT_EQ(1, src.seek(data.size() + 1));
    ASSERT_EQ(0, src.seek(data.size() - 3));
    EXPECT_EQ(1, src.readWindow(&w, 4, &len, &more));  // fewer bytes left than asked
    EXPECT_EQ(0u, errors.size());
}

TEST_F(TmpSinkTest, LongStreamsComeBackWholeForEveryPieceSize)
{
    for (uint64_t piece : {1ull, 3ull, 100ull, 4096ull, 70001ull}) {
        KaTmpFileSink sink(4096);
        ASSERT_EQ(0, sink.open());
        std::vector<uint8_t> data = bytes(50000, uint8_t(piece));
        for (size_t at = 0; at < data.size(); at += piece) {
            uint64_t n = std::min<uint64_t>(piece, data.size() - at);
            ASSERT_EQ(0, sink.write(data.data() + at, n, at + n < data.size()));
        }
        KaTmpFileSource src;
        ASSERT_EQ(0, sink.toSource(&src));
        std::vector<uint8_t> joined;
        blockLengths(src, &joined);
        EXPECT_EQ(data, joined) << piece;
        ASSERT_EQ(0, src.rewind());
        EXPECT_EQ(data, readAll(src, 777)) << piece;
        src.release();
    }
    EXPECT_EQ(0u, tmp.count());
}

}  // namespace
