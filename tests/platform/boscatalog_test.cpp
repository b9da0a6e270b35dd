// The message catalogue: lookups with and without it, counted opening and
// closing, and lookups racing with both.
#include "platform/boscatalog.h"

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bostest.h"
#include "support/guarded.h"
#include "kamessages.h"

namespace {

using katest::BosTest;
using CatalogueTest = katest::BosTest;

// --- Catalogue -----------------------------------------------------------------

TEST_F(BosTest, LookupWithoutCatalogueGivesTheNumber)
{
    katest::closeCatalogue();
    const std::string number = std::to_string(MSG_LIBRARY_LOAD_FAILED);
    char buf[16];
    EXPECT_EQ(static_cast<int64_t>(number.size()),
              LoadStringFromOpenFile(nullptr, MSG_LIBRARY_LOAD_FAILED, buf, sizeof buf));
    EXPECT_EQ(number, buf);
    katest::Guarded<char> g(3);
    EXPECT_EQ(2, LoadStringFromOpenFile(nullptr, MSG_LIBRARY_LOAD_FAILED, g.data(), 3));
    EXPECT_EQ(number.substr(0, 2), g.data());
    EXPECT_TRUE(g.guardsIntact());
    katest::Guarded<char> none(0);
    EXPECT_EQ(0, LoadStringFromOpenFile(nullptr, MSG_LIBRARY_LOAD_FAILED, none.data(), 0));
    EXPECT_TRUE(none.guardsIntact());
}

TEST_F(CatalogueTest, TextsComeFromTheCatalogue)
{
    char buf[256];
    LoadStringFromOpenFile(nullptr, MSG_FILE_NOT_FOUND, buf, sizeof buf);
    EXPECT_STREQ("No such file or directory: %s1", buf);

    katest::Guarded<uint16_t> wide(8);
    int64_t n = LoadStringFromOpenFileW(nullptr, MSG_FILE_NOT_FOUND, wide.data(), 8);
    EXPECT_EQ(7, n);
    EXPECT_EQ("No such", katest::narrow(katest::u16(wide.data())));
    EXPECT_TRUE(wide.guardsIntact());
}

TEST_F(CatalogueTest, CountedOpenAndClose)
{
    int32_t counter = 0;
    OpenStrings("VYspark28", nullptr, nullptr, &counter);
    OpenStrings("VYspark28", nullptr, nullptr, &counter);
    EXPECT_EQ(2, counter);
    CloseStrings(nullptr, &counter);
    char buf[64];
    LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
    EXPECT_STREQ("The file already exists: %s1", buf);
    CloseStrings(nullptr, &counter);
    EXPECT_EQ(0, counter);
    LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
    EXPECT_EQ(std::to_string(MSG_FILE_EXISTS), buf);
    ASSERT_EQ(0, katest::openCatalogue());
}

TEST_F(CatalogueTest, LookupsRaceSafelyWithOpenAndClose)
{
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            const std::string number = std::to_string(MSG_FILE_EXISTS);
            char buf[64];
            while (!stop) {
                LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
                if (buf != number && strcmp(buf, "The file already exists: %s1") != 0)
                    ++bad;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        katest::closeCatalogue();
        ASSERT_EQ(0, katest::openCatalogue());
    }
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(0, bad.load());
}

}  // namespace
