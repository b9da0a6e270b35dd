// The page store: reads and writes through it against the file on disk,
// replacement of pages when the store is full, the bypass beyond 512 MB,
// and the sharing of the one store by its openers.
#include "platform/vmstore.h"

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "bostest.h"
#include "foundation/kathread.h"
#include "platform/bosfile.h"

namespace {

class VmStoreTest : public katest::BosTest {
protected:
    int32_t openFile(const std::string& name)
    {
        int fd = open(path(name).c_str(), O_RDWR | O_CREAT, 0600);
        return fd;
    }
};

TEST_F(VmStoreTest, OpenersShareOneStore)
{
    VmPageStore* a = vmStoreOpen(2);
    ASSERT_NE(nullptr, a);
    VmPageStore* b = vmStoreOpen(50);
    EXPECT_EQ(a, b);
    EXPECT_EQ(16, a->pageLimit);
    EXPECT_EQ(2, a->references);
    vmStoreClose(b);
    EXPECT_EQ(a, taskGetSlot(KA_TASK_SLOT_SHARED_OBJECT));
    vmStoreClose(a);
    EXPECT_EQ(nullptr, taskGetSlot(KA_TASK_SLOT_SHARED_OBJECT));
}

TEST_F(VmStoreTest, RandomReadsAndWritesMatchAModelOfTheFile)
{
    VmPageStore* store = vmStoreOpen(1);  // 8 pages for a file of 40: pages are replaced
    ASSERT_NE(nullptr, store);
    int32_t fd = openFile("data.bin");
    ASSERT_GT(fd, 0);
    std::mt19937 rng(42);
    std::vector<char> model(40 * VM_PAGE_SIZE);
    for (auto& c : model)
        c = char(rng());
    ASSERT_EQ(0, bosfwrite(fd, 0, model.data(), model.size()));
    std::vector<char> buf(3 * VM_PAGE_SIZE);
    for (int step = 0; step < 3000; ++step) {
        size_t offset = rng() % model.size();
        size_t length = rng() % (2 * VM_PAGE_SIZE + 100);
        if (rng() % 4 == 0) {
            for (size_t i = 0; i < length; ++i)
                buf[i] = char(rng());
            ASSERT_EQ(0, vmStoreWrite(store, fd, int64_t(offset), buf.data(), length));
            if (offset + length > model.size())
                model.resize(offset + length);
            std::copy(buf.begin(), buf.begin() + long(length), model.begin() + long(offset));
        } else {
            size_t count = 0;
            ASSERT_EQ(0, vmStoreRead(store, fd, int64_t(offset), buf.data(), length, &count, step % 7 == 0));
            size_t expected = std::min(length, model.size() - offset);
            ASSERT_EQ(expected, count) << step;
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + long(count), model.begin() + long(offset))) << step;
        }
    }
    EXPECT_EQ(8, store->pageCount);
    EXPECT_EQ(0u, errors.size());
    EXPECT_EQ(0, vmStoreCloseFile(store, fd));
    for (uint16_t i = 0; i < store->pageCount; ++i)
        EXPECT_EQ(0, store->pages[i].file);
    vmStoreClose(store);
}

TEST_F(VmStoreTest, ReadsBeyond512MegabytesGoToTheFile)
{
    VmPageStore* store = vmStoreOpen(1);
    ASSERT_NE(nullptr, store);
    int32_t fd = openFile("sparse.bin");
    ASSERT_GT(fd, 0);
    const int64_t far = VM_LAST_CACHED_OFFSET + 1 + 5000;
    ASSERT_EQ(0, bosfwrite(fd, far, "far away", 8));
    char out[16] = {};
    size_t count = 0;
    ASSERT_EQ(0, vmStoreRead(store, fd, far, out, 8, &count, 0));
    EXPECT_EQ(8u, count);
    EXPECT_EQ("far away", std::string(out, 8));
    EXPECT_EQ(0, store->pageCount);  // nothing was cached
    // Past the end: a short count, not a failure.
    ASSERT_EQ(0, vmStoreRead(store, fd, far + 4, out, 16, &count, 0));
    EXPECT_EQ(4u, count);
    vmStoreCloseFile(store, fd);
    vmStoreClose(store);
}

}  // namespace
