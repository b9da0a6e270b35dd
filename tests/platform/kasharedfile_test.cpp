// The chunked byte image in a temporary file, against a plain byte vector:
// random overlapping writes and reads across chunk borders on an image far
// larger than the page cache, reuse of chunks given back, and refusal of
// ranges outside the chunks.
#include "platform/kasharedfile.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

class KaSharedFileTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

TEST_F(KaSharedFileTest, RandomWritesAndReadsMatchAByteVector)
{
    KaSharedFile f;
    std::vector<uint8_t> model;
    std::mt19937 rng(42);
    for (int op = 0; op < 3000; ++op) {
        uint64_t size = f.chunks.count * KA_SHARED_CHUNK;
        if (rng() % 2 == 0 || size == 0) {
            uint64_t offset = size == 0 ? 0 : rng() % (size + 1);
            std::vector<uint8_t> data(1 + rng() % 9000);
            for (auto& b : data)
                b = uint8_t(rng());
            ASSERT_EQ(f.write(offset, data.data(), data.size()), 0);
            if (model.size() < offset + data.size())
                model.resize(offset + data.size(), 0);
            std::copy(data.begin(), data.end(), model.begin() + long(offset));
        } else {
            uint64_t offset = rng() % size;
            uint64_t length = rng() % (size - offset + 1);
            std::vector<uint8_t> got(length + 1, 0xEE);
            ASSERT_EQ(f.read(offset, got.data(), length), 0);
            // Bytes of a chunk past the last write read as zero.
            std::vector<uint8_t> want(length + 1, 0xEE);
            for (uint64_t i = 0; i < length; ++i)
                want[i] = offset + i < model.size() ? model[offset + i] : 0;
            ASSERT_EQ(got, want) << "op " << op;
        }
    }
    EXPECT_GT(model.size(), 4 * uint64_t(KA_TMP_DEFAULT_CACHE));
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaSharedFileTest, ChunksGivenBackAreReusedAndReadAsZero)
{
    KaSharedFile f;
    std::vector<uint8_t> ones(3 * KA_SHARED_CHUNK, 0xFF);
    ASSERT_EQ(f.write(0, ones.data(), ones.size()), 0);
    uint64_t end = f.file.end;
    f.freeAll();
    EXPECT_EQ(f.chunks.count, 0u);
    uint8_t b = 7;
    ASSERT_EQ(f.write(0, &b, 1), 0);
    EXPECT_LE(f.file.end, end);
    std::vector<uint8_t> got(KA_SHARED_CHUNK);
    ASSERT_EQ(f.read(0, got.data(), got.size()), 0);
    std::vector<uint8_t> want(KA_SHARED_CHUNK, 0);
    want[0] = 7;
    EXPECT_EQ(got, want);
}

TEST_F(KaSharedFileTest, RangesOutsideTheChunksAreRefused)
{
    KaSharedFile f;
    uint8_t buffer[16] = {};
    ASSERT_EQ(f.write(0, buffer, 10), 0);
    struct Case {
        bool write;
        uint64_t offset, length;
    };
    const Case cases[] = {
        {false, KA_SHARED_CHUNK - 4, 8},
        {false, KA_SHARED_CHUNK + 1, 1},
        {false, ~uint64_t(0) - 2, 8},
        {true, KA_SHARED_CHUNK + 1, 1},
    };
    for (const Case& c : cases) {
        size_t before = errors.size();
        int rc = c.write ? f.write(c.offset, buffer, c.length) : f.read(c.offset, buffer, c.length);
        EXPECT_EQ(rc, 1) << c.offset;
        ASSERT_EQ(errors.size(), before + 1);
        EXPECT_EQ(errors.native(before), MSG_SHARED_FILE_RANGE);
    }
    // A write starting right at the end grows the image.
    EXPECT_EQ(f.write(KA_SHARED_CHUNK, buffer, 16), 0);
    EXPECT_EQ(f.chunks.count, 2u);
}

}  // namespace
