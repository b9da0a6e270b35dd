// The block temporary file: where appended bytes live (file, previous
// block, current block), overwrites and reads across those parts, windows
// for writing, truncation, typed values in both byte orders, the fill from
// and the send to a stream, and a long random run against a plain byte
// array in which every read must return the latest bytes written.
#include "platform/spillstore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t salt = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i + salt);
    return v;
}

// Receives from a byte string, at most `piece` bytes a call, and collects
// what is sent.
class FakeWire : public KaWireStream {
public:
    std::string in;
    size_t at = 0;
    uint64_t piece = 1000;
    int interruptions = 0;
    bool noDataAtEnd = false;
    std::string sent;

    int send(const void* data, uint64_t length, int32_t) noexcept override
    {
        sent.append(static_cast<const char*>(data), length);
        return 0;
    }
    int receive(void* buffer, uint64_t size, uint64_t* count, int32_t) noexcept override
    {
        if (interruptions > 0) {
            --interruptions;
            return KA_WIRE_INTERRUPTED;
        }
        if (at == in.size() && noDataAtEnd)
            return KA_WIRE_NO_DATA;
        uint64_t n = std::min<uint64_t>({size, piece, in.size() - at});
        memcpy(buffer, in.data() + at, n);
        at += n;
        *count = n;
        return 0;
    }
};

class BlkTmpFileTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

TEST_F(BlkTmpFileTest, AppendedBytesMoveToTheFileOneFullBlockAtATime)
{
    BlkTmpFile f(16);
    ASSERT_EQ(0, f.reset(0));
    std::vector<uint8_t> data = bytes(40);
    for (size_t i = 0; i < 16; ++i)
        ASSERT_EQ(0, f.append(&data[i], 1));
    EXPECT_EQ(0u, tmp.count());
    ASSERT_EQ(0, f.append(&data[16], 1));  // the 17th byte makes the file
    EXPECT_EQ(1u, tmp.count());
    EXPECT_EQ(0600, tmp.onlyFileMode());
    EXPECT_EQ(0u, f.fileLength);
    for (size_t i = 17; i < 33; ++i)
        ASSERT_EQ(0, f.append(&data[i], 1));
    EXPECT_EQ(16u, f.fileLength);  // the 33rd byte wrote bytes 0-15
    for (size_t i = 33; i < 40; ++i)
        ASSERT_EQ(0, f.append(&data[i], 1));
    EXPECT_EQ(40u, f.total);
    EXPECT_EQ(40u, f.position);
    for (uint64_t at : {8u, 20u, 36u, 14u, 0u}) {
        uint8_t got[4];
        ASSERT_EQ(0, f.readAt(at, got, 4)) << at;
        EXPECT_EQ(0, memcmp(got, &data[at], 4)) << at;
    }
    uint8_t got[4];
    EXPECT_EQ(1, f.readAt(38, got, 4));
    EXPECT_EQ(0u, errors.size());
    f.closeAndDelete();
    EXPECT_EQ(0u, tmp.count());
}

TEST_F(BlkTmpFileTest, WritesAtTheEndAppendAndWritesInsideCrossTheBlocks)
{
    BlkTmpFile f(16);
    ASSERT_EQ(0, f.reset(0));
    std::vector<uint8_t> model = bytes(40);
    ASSERT_EQ(0, f.append(model.data(), 40));
    std::vector<uint8_t> more = bytes(8, 100);
    ASSERT_EQ(0, f.writeAt(40, more.data(), 8));
    model.insert(model.end(), more.begin(), more.end());
    EXPECT_EQ(48u, f.total);
    const uint8_t four[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    for (uint64_t at : {30u, 14u, 46u}) {  // previous/current, file/previous, past the end
        ASSERT_EQ(0, f.writeAt(at, four, 4));
        if (at + 4 > model.size())
            model.resize(at + 4);
        memcpy(&model[at], four, 4);
    }
    std::vector<uint8_t> got(model.size());
    ASSERT_EQ(0, f.readAt(0, got.data(), got.size()));
    EXPECT_EQ(model, got);
}

TEST_F(BlkTmpFileTest, TruncationKeepsThePrefixAndAppendsContinueAfterIt)
{
    BlkTmpFile f(16);
    ASSERT_EQ(0, f.reset(0));
    std::vector<uint8_t> data = bytes(40);
    ASSERT_EQ(0, f.append(data.data(), 40));
    ASSERT_EQ(0, f.truncate(20));
    EXPECT_EQ(20u, f.total);
    EXPECT_EQ(4u, f.block[f.current].fill);  // the former previous block
    const uint8_t x = 0xEE;
    ASSERT_EQ(0, f.append(&x, 1));
    std::vector<uint8_t> got(21);
    ASSERT_EQ(0, f.readAt(0, got.data(), 21));
    EXPECT_EQ(0, memcmp(got.data(), data.data(), 20));
    EXPECT_EQ(x, got[20]);
    // Cutting inside the file brings that block back into memory.
    std::vector<uint8_t> tail = bytes(60, 50);
    ASSERT_EQ(0, f.append(tail.data(), tail.size()));
    ASSERT_EQ(0, f.truncate(10));
    ASSERT_EQ(0, f.append(tail.data(), 30));
    got.assign(40, 0);
    ASSERT_EQ(0, f.readAt(0, got.data(), 40));
    EXPECT_EQ(0, memcmp(got.data(), data.data(), 10));
    EXPECT_EQ(0, memcmp(got.data() + 10, tail.data(), 30));
}

TEST_F(BlkTmpFileTest, ReadsSeeBytesChangedThroughADirtyWindowAndItsWriteBack)
{
    BlkTmpFile f(16);
    ASSERT_EQ(0, f.reset(0));
    std::vector<uint8_t> model = bytes(64);
    ASSERT_EQ(0, f.append(model.data(), 64));
    ASSERT_EQ(32u, f.fileLength);
    uint8_t got[8];
    ASSERT_EQ(0, f.readAt(4, got, 4));  // fills the read cache with bytes 4-19
    uint8_t* w = nullptr;
    uint64_t len = 0;
    ASSERT_EQ(0, f.windowAt(6, &w, &len, 1));
    ASSERT_EQ(16u, len);
    memset(w, 0x55, 4);
    memset(&model[6], 0x55, 4);
    // Before the write-back: the window holds the latest bytes.
    ASSERT_EQ(0, f.readAt(4, got, 8));
    EXPECT_EQ(0, memcmp(got, &model[4], 8));
    // A write into the file part that the dirty window covers.
    const uint8_t two[2] = {0x99, 0x98};
    ASSERT_EQ(0, f.writeAt(8, two, 2));
    memcpy(&model[8], two, 2);
    ASSERT_EQ(0, f.readAt(4, got, 8));
    EXPECT_EQ(0, memcmp(got, &model[4], 8));
    // Another window writes the dirty one back; the read cache must follow.
    ASSERT_EQ(0, f.windowAt(40, &w, &len, 0));
    ASSERT_EQ(0, f.readAt(4, got, 8));
    EXPECT_EQ(0, memcmp(got, &model[4], 8));
    std::vector<uint8_t> all(64);
    ASSERT_EQ(0, f.readAt(0, all.data(), 64));
    EXPECT_EQ(model, all);
}

TEST_F(BlkTmpFileTest, EveryReadReturnsTheLatestBytesInALongRandomRun)
{
    for (uint64_t bs : {16u, 64u, 1000u}) {
        BlkTmpFile f(bs);
        ASSERT_EQ(0, f.reset(0));
        std::vector<uint8_t> model;
        std::mt19937 rng{uint32_t(bs)};
        for (int step = 0; step < 3000; ++step) {
            int op = int(rng() % 10);
            size_t n = 1 + rng() % (bs * 3);
            if (op < 3 || model.empty()) {
                std::vector<uint8_t> d = bytes(n, uint8_t(step));
                ASSERT_EQ(0, f.append(d.data(), n));
                model.insert(model.end(), d.begin(), d.end());
            } else if (op < 5) {
                size_t at = rng() % model.size();
                std::vector<uint8_t> d = bytes(n, uint8_t(step * 3));
                ASSERT_EQ(0, f.writeAt(at, d.data(), n));
                if (at + n > model.size())
                    model.resize(at + n);
                memcpy(&model[at], d.data(), n);
            } else if (op < 7) {
                size_t at = rng() % model.size();
                uint8_t* w = nullptr;
                uint64_t len = 0;
                ASSERT_EQ(0, f.windowAt(at, &w, &len, 1));
                size_t k = std::min<size_t>(len, 1 + rng() % 8);
                for (size_t i = 0; i < k; ++i) {
                    w[i] = uint8_t(rng());
                    model[at + i] = w[i];
                }
            } else if (op < 9) {
                size_t at = rng() % model.size();
                size_t k = std::min(n, model.size() - at);
                std::vector<uint8_t> got(k);
                ASSERT_EQ(0, f.readAt(at, got.data(), k));
                ASSERT_EQ(0, memcmp(got.data(), &model[at], k)) << "bs " << bs << " step " << step << " at " << at;
            } else if (model.size() > 4 * bs) {
                size_t count = model.size() - rng() % (3 * bs);
                ASSERT_EQ(0, f.truncate(count));
                model.resize(count);
            }
            ASSERT_EQ(model.size(), f.total);
        }
        std::vector<uint8_t> all(model.size());
        ASSERT_EQ(0, f.readAt(0, all.data(), all.size()));
        EXPECT_EQ(model, all) << bs;
    }
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BlkTmpFileTest, TypedValuesFollowTheChosenByteOrder)
{
    BlkTmpFile f(16);
    ASSERT_EQ(0, f.reset(1));
    ASSERT_EQ(0, f.appendU16(0x0102));
    ASSERT_EQ(0, f.appendU32(0x03040506));
    ASSERT_EQ(0, f.appendU64(0x0708090A0B0C0D0Eull));
    ASSERT_EQ(0, f.appendU16(0x0F10));  // crosses into the next block
    uint8_t stored[16];
    ASSERT_EQ(0, f.readAt(0, stored, 16));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(i + 1, stored[i]) << i;
    f.position = 0;
    uint16_t a = 0;
    uint32_t b = 0;
    uint64_t c = 0;
    ASSERT_EQ(0, f.readU16(&a));
    ASSERT_EQ(0, f.readU32(&b));
    ASSERT_EQ(0, f.readU64(&c));
    EXPECT_EQ(0x0102, a);
    EXPECT_EQ(0x03040506u, b);
    EXPECT_EQ(0x0708090A0B0C0D0Eull, c);
    f.position = 0;
    ASSERT_EQ(0, f.readU16Other(&a));
    EXPECT_EQ(0, memcmp(&a, stored, 2));  // the bytes as stored
    uint16_t past = 0;
    f.position = f.total - 1;
    EXPECT_EQ(1, f.readU16(&past));
    EXPECT_EQ(f.total + 1, f.position);  // moves on whatever the result
}

TEST_F(BlkTmpFileTest, AStreamFillsTheBlocksAndARangeIsSentBackInOrder)
{
    BlkTmpFile f(4096);
    ASSERT_EQ(0, f.reset(0));
    FakeWire wire;
    for (int i = 0; i < 20000; ++i)
        wire.in.push_back(char('a' + i % 26));
    wire.interruptions = 2;
    ASSERT_EQ(0, f.fillFromStream(&wire, 15000, 1, nullptr));
    EXPECT_EQ(15000u, f.total);
    EXPECT_EQ(15000u, f.position);
    EXPECT_EQ(&wire, f.lastStream);
    wire.noDataAtEnd = true;
    int32_t wouldBlock = 0;
    ASSERT_EQ(0, f.fillFromStream(&wire, 10000, 0, &wouldBlock));
    EXPECT_EQ(1, wouldBlock);
    EXPECT_EQ(20000u, f.total);
    EXPECT_EQ(1, f.fillFromStream(&wire, 10, 0, nullptr));
    ASSERT_EQ(0, f.writeToWire(100, &wire, 19000));
    EXPECT_EQ(wire.in.substr(100, 19000), wire.sent);
    BlkTmpFile copy(1000);
    ASSERT_EQ(0, copy.reset(0));
    ASSERT_EQ(0, copy.copyFrom(50, &f, 12345));
    std::string got(12345, '\0');
    ASSERT_EQ(0, copy.readAt(0, got.data(), got.size()));
    EXPECT_EQ(wire.in.substr(50, 12345), got);
}

TEST_F(BlkTmpFileTest, SendingBeyondTheDataFailsWithADiagnostic)
{
    BlkTmpFile f(16);
    ASSERT_EQ(0, f.reset(0));
    std::vector<uint8_t> data = bytes(20);
    ASSERT_EQ(0, f.append(data.data(), 20));
    FakeWire wire;
    EXPECT_EQ(1, f.writeToWire(10, &wire, 20));
    EXPECT_EQ(1u, errors.size());
}

}  // namespace
