// The byte-stream contracts of the memory kinds: a memory source and sink,
// the chunked source and sink and the chunked in-memory file, with the
// chunk borders and the failure of a chunk allocation.
#include "platform/kastream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "support/errorscope.h"
#include "support/guarded.h"

extern "C" const char* __asan_default_options()
{
    // A chunk too large for memory must come back as null, not abort.
    return "allocator_may_return_null=1";
}

namespace {

std::vector<uint8_t> bytes(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 7 + i / 251);
    return v;
}

struct Read {
    uint64_t count;
    int32_t more;
};

TEST(KaMemorySource, ReadsHandOutWhatIsLeftAndSayWhetherMoreFollows)
{
    std::vector<uint8_t> data = bytes(10);
    KaMemorySource src;
    src.attach(data.data(), data.size());
    ASSERT_EQ(0, src.open());
    uint8_t out[10];
    uint64_t n = 0;
    int32_t more = 0;
    ASSERT_EQ(0, src.read(out, 10, &n, &more));
    EXPECT_EQ(10u, n);
    EXPECT_EQ(0, more);
    ASSERT_EQ(0, src.rewind());
    std::vector<Read> got;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(0, src.read(out, 4, &n, &more));
        got.push_back({n, more});
    }
    const Read want[] = {{4, 1}, {4, 1}, {2, 0}, {0, 0}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(want[i].count, got[i].count) << i;
        EXPECT_EQ(want[i].more, got[i].more) << i;
    }
}

TEST(KaMemorySource, NextBlockHandsOutTheWholeBufferOnEveryCall)
{
    std::vector<uint8_t> data = bytes(10);
    KaMemorySource src;
    src.attach(data.data(), data.size());
    for (int i = 0; i < 3; ++i) {
        const uint8_t* p = nullptr;
        uint64_t n = 0;
        int32_t more = 1;
        ASSERT_EQ(0, src.nextBlock(&p, &n, &more));
        EXPECT_EQ(data.data(), p);
        EXPECT_EQ(10u, n);
        EXPECT_EQ(0, more);
    }
    EXPECT_EQ(KA_STREAM_MEMORY, KaStaticMemorySource()->kind);
    EXPECT_EQ(0u, KaStaticMemorySource()->length);
}

TEST(KaMemorySink, ExcessBytesAreDroppedAndMarkedAndResetClearsBoth)
{
    katest::Guarded<uint8_t> room(10);
    std::vector<uint8_t> data = bytes(12);
    KaMemorySink sink;
    sink.attach(room.data(), room.size());
    ASSERT_EQ(0, sink.open());
    ASSERT_EQ(0, sink.write(data.data(), 4, 1));
    ASSERT_EQ(0, sink.write(data.data() + 4, 8, 0));
    EXPECT_EQ(10u, sink.position);
    EXPECT_EQ(1, sink.truncated);
    EXPECT_EQ(0, memcmp(room.data(), data.data(), 10));
    EXPECT_TRUE(room.guardsIntact());
    ASSERT_EQ(0, sink.reset());
    EXPECT_EQ(0u, sink.position);
    EXPECT_EQ(0, sink.truncated);
}

TEST(KaMemorySink, TheWindowIsTheWholeBufferAndACommitCannotRunPastIt)
{
    katest::Guarded<uint8_t> room(16);
    KaMemorySink sink;
    sink.attach(room.data(), room.size());
    uint8_t* w = nullptr;
    uint64_t size = 0;
    int32_t more = 1;
    ASSERT_EQ(0, sink.getWriteWindow(&w, &size, &more));
    EXPECT_EQ(room.data(), w);
    EXPECT_EQ(16u, size);
    EXPECT_EQ(0, more);
    ASSERT_EQ(0, sink.commit(40, 1));
    EXPECT_EQ(16u, sink.position);
    EXPECT_EQ(1, sink.truncated);
}

TEST(KaMultiMemory, AnExactFitFillsOneChunkAndOneMoreByteStartsTheNext)
{
    KaMultiMemorySink sink(64);
    ASSERT_EQ(0, sink.open());
    std::vector<uint8_t> data = bytes(65);
    ASSERT_EQ(0, sink.write(data.data(), 64, 1));
    EXPECT_EQ(1u, sink.chunks.count);
    ASSERT_EQ(0, sink.write(data.data() + 64, 1, 0));
    EXPECT_EQ(2u, sink.chunks.count);
    EXPECT_EQ(65u, sink.total);
    ASSERT_EQ(0, sink.reset());
    EXPECT_EQ(0u, sink.chunks.count);
    ASSERT_EQ(0, sink.write(data.data(), 3, 0));
    EXPECT_EQ(3u, sink.total);
    EXPECT_EQ(0, memcmp(sink.chunks.at(0), data.data(), 3));
}

TEST(KaMultiMemory, ASourceOfTwoAndAHalfChunksYieldsItsBlocksAgainAfterRewind)
{
    KaMultiMemorySource src;
    ASSERT_EQ(0, src.open());
    std::vector<uint8_t> data = bytes(KA_STREAM_CHUNK_SIZE * 5 / 2);
    // Appended in uneven pieces that straddle the chunk borders.
    for (size_t at = 0; at < data.size();) {
        size_t n = std::min<size_t>(333331, data.size() - at);
        ASSERT_EQ(0, src.append(data.data() + at, n));
        at += n;
    }
    ASSERT_EQ(0, src.rewind());
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<uint8_t> joined;
        const uint64_t wantLength[] = {KA_STREAM_CHUNK_SIZE, KA_STREAM_CHUNK_SIZE, KA_STREAM_CHUNK_SIZE / 2, 0};
        const int32_t wantMore[] = {1, 1, 0, 0};
        for (int i = 0; i < 4; ++i) {
            const uint8_t* p = nullptr;
            uint64_t n = 0;
            int32_t more = 0;
            ASSERT_EQ(0, src.nextBlock(&p, &n, &more));
            EXPECT_EQ(wantLength[i], n) << i;
            EXPECT_EQ(wantMore[i], more) << i;
            if (i == 3)
                EXPECT_EQ(nullptr, p);
            else
                joined.insert(joined.end(), p, p + n);
        }
        EXPECT_EQ(data, joined);
        ASSERT_EQ(0, src.rewind());
    }
    // Reads cross the chunk borders.
    std::vector<uint8_t> out(data.size());
    uint64_t got = 0, n = 0;
    int32_t more = 1;
    while (more) {
        ASSERT_EQ(0, src.read(out.data() + got, 700001, &n, &more));
        got += n;
    }
    EXPECT_EQ(data.size(), got);
    EXPECT_EQ(data, out);
}

TEST(KaMultiMemory, AFailedChunkAllocationCountsNoByteItDidNotStore)
{
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    KaMultiMemorySink sink(uint64_t(1) << 62);
    ASSERT_EQ(0, sink.open());
    uint8_t data[10] = {};
    EXPECT_EQ(1, sink.write(data, sizeof data, 0));
    EXPECT_EQ(0u, sink.total);
    EXPECT_EQ(1, errors.list.outOfMemoryMark);  // the failure is reported

    KaMultiMemorySource src(uint64_t(1) << 62);
    ASSERT_EQ(0, src.open());
    EXPECT_EQ(1, src.append(data, sizeof data));
    EXPECT_EQ(0u, src.total);
}

TEST(KaMultiMemory, WindowsLendAFreshChunkEach)
{
    KaMultiMemorySink sink(32);
    uint8_t* w = nullptr;
    uint64_t size = 0;
    int32_t more = 0;
    ASSERT_EQ(0, sink.getWriteWindow(&w, &size, &more));
    EXPECT_EQ(32u, size);
    EXPECT_EQ(1, more);
    memset(w, 1, 20);
    ASSERT_EQ(0, sink.commit(20, 1));
    ASSERT_EQ(0, sink.getWriteWindow(&w, &size, &more));
    ASSERT_EQ(0, sink.commit(5, 0));
    EXPECT_EQ(2u, sink.chunks.count);
    EXPECT_EQ(25u, sink.total);
    ASSERT_EQ(0, sink.discard());
    EXPECT_EQ(0u, sink.chunks.count);
}

TEST(MemFile, ReadsAndWindowsCrossOrStopAtChunkBorders)
{
    MemFile f(100);
    std::vector<uint8_t> data = bytes(250);
    ASSERT_EQ(0, f.append(data.data(), 150));
    ASSERT_EQ(0, f.append(data.data() + 150, 100));
    std::vector<uint8_t> out(60, 0);
    ASSERT_EQ(0, f.readAt(80, out.data(), 60));
    EXPECT_EQ(0, memcmp(out.data(), data.data() + 80, 60));
    const uint8_t* w = nullptr;
    uint64_t n = 0;
    f.windowAt(90, &w, &n);  // 10 bytes before a border, more data behind it
    EXPECT_EQ(10u, n);
    EXPECT_EQ(data[90], *w);
    f.windowAt(240, &w, &n);
    EXPECT_EQ(10u, n);
    f.windowAt(250, &w, &n);
    EXPECT_EQ(nullptr, w);
    EXPECT_EQ(0u, n);
    f.clear();
    EXPECT_EQ(0u, f.total);
    EXPECT_EQ(0u, f.chunks.count);
}

}  // namespace
