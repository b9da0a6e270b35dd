// The message catalogue: lookups with and without it (the built-in English
// texts stand in for a missing file), the trace of a missing file, counted
// opening and closing, and lookups racing with both.
#include "platform/boscatalog.h"

#include <nl_types.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bostest.h"
#include "kamessages.h"
#include "kamessagetexts.h"
#include "platform/bos.h"
#include "platform/boslib.h"
#include "support/guarded.h"

namespace {

using katest::BosTest;
using CatalogueTest = katest::BosTest;

// --- Catalogue -----------------------------------------------------------------

// A number the driver has no text for: above every entry of messages.txt.
constexpr uint32_t kUnknownNumber = 65000;

TEST_F(BosTest, LookupWithoutCatalogueGivesTheBuiltInTextElseTheNumber)
{
    katest::closeCatalogue();
    char buf[128];
    EXPECT_EQ(5, LoadStringFromOpenFile(nullptr, MSG_SQLSTATE_UNABLE_TO_CONNECT, buf, sizeof buf));
    EXPECT_STREQ("08001", buf);
    LoadStringFromOpenFile(nullptr, MSG_SQLSTATE_GENERAL_ERROR, buf, sizeof buf);
    EXPECT_STREQ("HY000", buf);
    LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
    EXPECT_STREQ("The file already exists: %s1", buf);

    const std::string number = std::to_string(kUnknownNumber);
    EXPECT_EQ(static_cast<int64_t>(number.size()), LoadStringFromOpenFile(nullptr, kUnknownNumber, buf, sizeof buf));
    EXPECT_EQ(number, buf);
    katest::Guarded<char> g(3);
    EXPECT_EQ(2, LoadStringFromOpenFile(nullptr, kUnknownNumber, g.data(), 3));
    EXPECT_EQ(number.substr(0, 2), g.data());
    EXPECT_TRUE(g.guardsIntact());
    katest::Guarded<char> cut(4);
    EXPECT_EQ(3, LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, cut.data(), 4));
    EXPECT_STREQ("The", cut.data());
    EXPECT_TRUE(cut.guardsIntact());
    katest::Guarded<char> none(0);
    EXPECT_EQ(0, LoadStringFromOpenFile(nullptr, kUnknownNumber, none.data(), 0));
    EXPECT_TRUE(none.guardsIntact());

    katest::Guarded<uint16_t> wide(16);
    EXPECT_EQ(5, LoadStringFromOpenFileW(nullptr, MSG_SQLSTATE_UNABLE_TO_CONNECT, wide.data(), 16));
    EXPECT_EQ("08001", katest::narrow(katest::u16(wide.data())));
    EXPECT_TRUE(wide.guardsIntact());
}

// The built-in texts are byte for byte what gencat made of messages.txt, so
// a missing catalogue changes no diagnostic.
TEST(BuiltInTexts, EqualTheCatalogueGencatCompiled)
{
    const std::string file = katest::buildDir() + "/locale/en_US/LC_MESSAGES/VYspark28.mo";
    nl_catd cat = catopen(file.c_str(), 0);
    ASSERT_NE(reinterpret_cast<nl_catd>(-1), cat) << file;
    static const char kAbsent[] = "(absent)";
    ASSERT_GT(std::size(kKaBuiltInMessages), 100u);
    for (const KaBuiltInMessage& m : kKaBuiltInMessages) {
        SCOPED_TRACE(m.number);
        EXPECT_STREQ(m.text, catgets(cat, 1, m.number, kAbsent));
    }
    catclose(cat);
    for (size_t i = 1; i < std::size(kKaBuiltInMessages); ++i)
        EXPECT_LT(kKaBuiltInMessages[i - 1].number, kKaBuiltInMessages[i].number);
}

// A catalogue of the test's own beside the build's texts: what it holds
// wins, what it lacks comes from the built-in texts.
TEST_F(BosTest, CatalogueTextsWinAndMissingOnesFallBackToTheBuiltIn)
{
    katest::closeCatalogue();
    katest::TempDir home("ka-catalogue");
    ASSERT_FALSE(home.path().empty());
    const std::string folder = home.path() + "/locale/en_US/LC_MESSAGES";
    std::filesystem::create_directories(folder);
    const std::string source = home.path() + "/VYspark28.msg";
    std::ofstream(source) << "$set 1\n" << MSG_FILE_EXISTS << " Own text\n";
    const std::string gencat = "gencat " + folder + "/VYspark28.mo " + source;
    ASSERT_EQ(0, std::system(gencat.c_str()));
    bosInitInstallDir(home.path().c_str());
    ASSERT_EQ(0, OpenStrings("VYspark28", nullptr, nullptr, nullptr));
    char buf[128];
    LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
    EXPECT_STREQ("Own text", buf);
    LoadStringFromOpenFile(nullptr, MSG_SQLSTATE_UNABLE_TO_CONNECT, buf, sizeof buf);
    EXPECT_STREQ("08001", buf);
    LoadStringFromOpenFile(nullptr, kUnknownNumber, buf, sizeof buf);
    EXPECT_EQ(std::to_string(kUnknownNumber), buf);
    katest::closeCatalogue();
}

// The strings trace names both files it tried; without the trace flag
// nothing is written.
TEST_F(BosTest, AMissingCatalogueIsTracedWithWhereItWasLookedFor)
{
    katest::closeCatalogue();
    katest::TempDir home("ka-catalogue");
    ASSERT_FALSE(home.path().empty());
    bosInitInstallDir(home.path().c_str());
    const uint64_t saved = bosDebugFlags;
    for (uint64_t flags : {uint64_t{0}, uint64_t{BOS_TRACE_STRINGS}}) {
        bosDebugFlags = flags;
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, OpenStrings("VYspark28", nullptr, nullptr, nullptr));
        CloseStrings(nullptr, nullptr);
        const std::string out = testing::internal::GetCapturedStdout();
        if (flags == 0) {
            EXPECT_EQ("", out);
        } else {
            EXPECT_NE(std::string::npos, out.find("catalogue not found at " + home.path() + "/locale/")) << out;
            EXPECT_NE(std::string::npos,
                      out.find(" or " + home.path() + "/locale/en_US/LC_MESSAGES/VYspark28.mo; using the built-in"))
                << out;
        }
    }
    bosDebugFlags = saved;
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
    EXPECT_TRUE(bosCatalogueFileOpen());
    CloseStrings(nullptr, &counter);
    char buf[64];
    LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
    EXPECT_STREQ("The file already exists: %s1", buf);
    CloseStrings(nullptr, &counter);
    EXPECT_EQ(0, counter);
    EXPECT_FALSE(bosCatalogueFileOpen());
    // Closed: the built-in text answers.
    LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
    EXPECT_STREQ("The file already exists: %s1", buf);
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
