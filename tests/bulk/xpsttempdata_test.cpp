// The value store: values appended to three temporary files read back in
// order through a reading view, with NULL and empty values; refusals; and
// the copy to and from ordinary files.
#include "bulk/xpsttempdata.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "support/errorscope.h"
#include "support/platformtest.h"

namespace {

class XPstTempDataTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;

    static std::vector<int64_t> numbers(KaTmpFile* file, int64_t size)
    {
        std::vector<int64_t> out(size_t(size) / 8);
        EXPECT_EQ(file->read(0, out.data(), uint64_t(size)), 0);
        return out;
    }
    // Reads n values; "<null>" for NULL.
    static std::vector<std::string> readAll(XPstTempData& view, size_t n)
    {
        std::vector<std::string> out;
        for (size_t i = 0; i < n; ++i) {
            uint8_t* bytes = nullptr;
            int64_t length = 0;
            EXPECT_EQ(view.readNext(&bytes, &length), 1);
            out.push_back(length < 0 ? "<null>" : std::string(reinterpret_cast<char*>(bytes), size_t(length)));
            if (length <= 0) {
                EXPECT_EQ(bytes, nullptr);
            }
            ramFree(bytes);
        }
        return out;
    }
};

TEST_F(XPstTempDataTest, ValuesReadBackInOrderWithTheirOffsetsAndLengths)
{
    XPstTempData store;
    ASSERT_EQ(store.openFiles(nullptr, nullptr, nullptr, 0, 0, 0), 1);
    ASSERT_EQ(store.append("abc", 3), 1);
    ASSERT_EQ(store.append(nullptr, -1), 1);
    ASSERT_EQ(store.append("de", 2), 1);
    ASSERT_EQ(store.append("", 0), 1);
    EXPECT_EQ(store.valuesSize, 5);
    EXPECT_EQ(numbers(store.offsetsFile, store.offsetsSize), (std::vector<int64_t>{0, 3, 3, 5}));
    EXPECT_EQ(numbers(store.lengthsFile, store.lengthsSize), (std::vector<int64_t>{3, -1, 2, 0}));
    uint8_t* bytes = nullptr;
    int64_t length = 0;
    EXPECT_EQ(store.readNext(&bytes, &length), 0);  // the owner writes, views read

    XPstTempData view;
    ASSERT_EQ(view.openFiles(store.valuesFile, store.offsetsFile, store.lengthsFile, store.valuesSize,
                             store.offsetsSize, store.lengthsSize),
              1);
    EXPECT_EQ(readAll(view, 4), (std::vector<std::string>{"abc", "<null>", "de", ""}));
    EXPECT_EQ(view.readNext(&bytes, &length), 0);  // nothing past the last value
    EXPECT_EQ(view.append("x", 1), 0);
    // Opened again, a view starts at the first value.
    ASSERT_EQ(view.openFiles(store.valuesFile, store.offsetsFile, store.lengthsFile, store.valuesSize,
                             store.offsetsSize, store.lengthsSize),
              1);
    EXPECT_EQ(readAll(view, 1), (std::vector<std::string>{"abc"}));
}

TEST_F(XPstTempDataTest, RefusalsChangeNothing)
{
    XPstTempData store;
    EXPECT_EQ(store.append("a", 1), 0);  // no files yet
    ASSERT_EQ(store.openFiles(nullptr, nullptr, nullptr, 0, 0, 0), 1);
    EXPECT_EQ(store.append(nullptr, 4), 0);
    EXPECT_EQ(store.append("a", -2), 0);
    EXPECT_EQ(store.offsetsSize, 0);
    EXPECT_EQ(store.saveToFiles("/tmp/a", "/tmp/b", "/tmp/c"), 0);  // an empty store is not saved
}

TEST_F(XPstTempDataTest, ManyValuesSpillThePageCacheAndReadBack)
{
    XPstTempData store;
    ASSERT_EQ(store.openFiles(nullptr, nullptr, nullptr, 0, 0, 0), 1);
    constexpr size_t kCount = 20000;
    for (size_t i = 0; i < kCount; ++i) {
        std::string v = std::to_string(i * 7919);
        ASSERT_EQ(store.append(v.data(), int64_t(v.size())), 1);
    }
    XPstTempData view;
    ASSERT_EQ(view.openFiles(store.valuesFile, store.offsetsFile, store.lengthsFile, store.valuesSize,
                             store.offsetsSize, store.lengthsSize),
              1);
    auto values = readAll(view, kCount);
    for (size_t i = 0; i < kCount; i += 997)
        EXPECT_EQ(values[i], std::to_string(i * 7919));
    EXPECT_EQ(values.back(), std::to_string((kCount - 1) * 7919));
}

TEST_F(XPstTempDataTest, SavedFilesAreReplacedWholeAndLoadBack)
{
    katest::TempDir dir("xpsttd");
    ASSERT_FALSE(dir.path().empty());
    std::string v = dir.path() + "/v", o = dir.path() + "/o", l = dir.path() + "/l";
    // Older, longer content must not survive a save.
    std::ofstream(v) << std::string(100, 'z');
    XPstTempData store;
    ASSERT_EQ(store.openFiles(nullptr, nullptr, nullptr, 0, 0, 0), 1);
    ASSERT_EQ(store.append("hello", 5), 1);
    ASSERT_EQ(store.append(nullptr, -1), 1);
    ASSERT_EQ(store.saveToFiles(v.c_str(), o.c_str(), l.c_str()), 1);
    std::ifstream in(v);
    std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, "hello");

    XPstTempData loaded;
    ASSERT_EQ(loaded.loadFromFiles(v.c_str(), o.c_str(), l.c_str()), 1);
    EXPECT_EQ(loaded.append("x", 1), 0);
    EXPECT_EQ(readAll(loaded, 2), (std::vector<std::string>{"hello", "<null>"}));
    EXPECT_EQ(loaded.loadFromFiles((dir.path() + "/missing").c_str(), o.c_str(), l.c_str()), 0);
}

}  // namespace
