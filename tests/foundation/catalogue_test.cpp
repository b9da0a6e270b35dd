// The message catalogue that the build compiles from messages/messages.txt,
// read back through glibc, and the driver's lookups on top of it.
#include <gtest/gtest.h>

#include <nl_types.h>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "support/errorscope.h"
#include "support/guarded.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "kamessages.h"
#include "support/sourceroot.h"

using katest::ErrorScope;

namespace {

struct Entry {
    std::string name;
    std::string text;
};

// messages.txt as gencat sees it: the escapes \n, \t and \\ resolved.
std::map<int, Entry> sourceEntries()
{
    std::map<int, Entry> out;
    std::ifstream in(katest::sourceRoot() + "/messages/messages.txt");
    std::regex line(R"(^(\d+)\s+([A-Z][A-Z0-9_]*)\s+(.*)$)");
    std::string raw;
    while (std::getline(in, raw)) {
        std::smatch m;
        if (!std::regex_match(raw, m, line))
            continue;
        std::string text;
        const std::string t = m[3];
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '\\' && i + 1 < t.size()) {
                char c = t[++i];
                text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
            } else {
                text += t[i];
            }
        }
        out[std::stoi(m[1])] = Entry{m[2], text};
    }
    return out;
}

bool isSqlstate(const std::string& s)
{
    return std::regex_match(s, std::regex("[0-9A-Z]{5}"));
}

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(katest::openCatalogue(), 0); }
    void TearDown() override { katest::closeCatalogue(); }
};

}  // namespace

TEST(CatalogueFile, EveryEntryReadsBackThroughCatgets)
{
    auto entries = sourceEntries();
    ASSERT_FALSE(entries.empty());
    nl_catd cat = catopen(katest::catalogueFile().c_str(), 0);
    ASSERT_NE(cat, reinterpret_cast<nl_catd>(-1)) << katest::catalogueFile();
    for (const auto& [number, entry] : entries) {
        const char* got = catgets(cat, 1, number, "<missing>");
        EXPECT_EQ(std::string(got), entry.text) << number << " " << entry.name;
    }
    EXPECT_STREQ(catgets(cat, 1, 65000, "<missing>"), "<missing>");
    catclose(cat);
}

TEST(CatalogueFile, HoldsTheFixedEntries)
{
    auto entries = sourceEntries();
    EXPECT_EQ(entries[MSG_SQLSTATE_GENERAL_ERROR].text, "HY000");
    EXPECT_EQ(entries[MSG_SQLSTATE_OUT_OF_MEMORY].text, "HY001");
    EXPECT_FALSE(entries[MSG_SQLSTATE_GENERAL_ERROR_TEXT].text.empty());
    EXPECT_FALSE(entries[MSG_SQLSTATE_OUT_OF_MEMORY_TEXT].text.empty());
    // Used as a printf format with two strings.
    const std::string& f = entries[MSG_SYSTEM_ERROR_ON_OBJECT].text;
    size_t count = 0;
    for (size_t at = f.find('%'); at != std::string::npos; at = f.find('%', at + 1)) {
        ASSERT_LT(at + 1, f.size());
        EXPECT_EQ(f[at + 1], 's') << f;
        ++count;
    }
    EXPECT_EQ(count, 2u);
}

TEST(CatalogueFile, SqlstateIndexesHaveStatesAndDefaultTexts)
{
    // An index holds the five-character SQLSTATE; the entry a fixed offset
    // further its default message.
    constexpr int kTextOffset = MSG_SQLSTATE_GENERAL_ERROR_TEXT - MSG_SQLSTATE_GENERAL_ERROR;
    auto entries = sourceEntries();
    for (const auto& [number, entry] : entries) {
        bool index = entry.name.rfind("SQLSTATE_", 0) == 0 && entry.name.size() > 5 &&
                     entry.name.substr(entry.name.size() - 5) != "_TEXT";
        if (!index)
            continue;
        EXPECT_TRUE(isSqlstate(entry.text)) << number << " " << entry.name;
        auto text = entries.find(number + kTextOffset);
        ASSERT_NE(text, entries.end()) << "no default message for index " << number;
        EXPECT_FALSE(text->second.text.empty());
        EXPECT_FALSE(isSqlstate(text->second.text)) << number + kTextOffset;
    }
}

TEST(CatalogueFile, GeneratedHeaderNamesTheNumbers)
{
    auto entries = sourceEntries();
    struct Case {
        uint16_t number;
        const char* name;
    } cases[] = {
        {MSG_SQLSTATE_GENERAL_ERROR, "SQLSTATE_GENERAL_ERROR"},
        {MSG_SQLSTATE_OUT_OF_MEMORY, "SQLSTATE_OUT_OF_MEMORY"},
        {MSG_INVALID_HEX_DIGIT, "INVALID_HEX_DIGIT"},
        {MSG_SYSTEM_ERROR_ON_OBJECT, "SYSTEM_ERROR_ON_OBJECT"},
        {MSG_OUT_OF_MEMORY, "OUT_OF_MEMORY"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(entries[c.number].name, c.name) << c.number;
}

TEST_F(Catalogue, PostedRecordsCarryTheCatalogueText)
{
    auto entries = sourceEntries();
    ErrorScope scope;
    errPost(MSG_INVALID_HEX_DIGIT);
    errPostWarning(MSG_BASE64_INVALID_CHARACTER)->addParamUnsigned(17);
    ASSERT_EQ(scope.size(), 2u);
    EXPECT_EQ(scope.text(0), entries[MSG_INVALID_HEX_DIGIT].text);
    EXPECT_EQ(scope.native(0), MSG_INVALID_HEX_DIGIT);
    EXPECT_FALSE(scope.at(0)->isWarning());
    EXPECT_TRUE(scope.at(1)->isWarning());
    std::string expected = entries[MSG_BASE64_INVALID_CHARACTER].text;
    expected.replace(expected.find("%d1"), 3, "17");
    EXPECT_EQ(scope.text(1), expected);
    // Posted by number: no SQLSTATE until the poster sets one.
    EXPECT_EQ(katest::sqlstate(scope.at(0)), "HY000");
}

TEST_F(Catalogue, AppendedMessageTakesTheNextParameters)
{
    auto entries = sourceEntries();
    ErrorScope scope;
    errPostText(1, katest::W(u"Read of %s1 failed. "))->addParamW(katest::W(u"%d1"));
    errAppendMessage(MSG_BASE64_INVALID_CHARACTER)->addParamUnsigned(3);
    std::string tail = entries[MSG_BASE64_INVALID_CHARACTER].text;
    tail.replace(tail.find("%d1"), 3, "3");
    EXPECT_EQ(scope.text(0), "Read of %d1 failed. " + tail);

    errPostText(2, katest::W(u"second"));
    errAppendMessageAt(MSG_INVALID_HEX_DIGIT, 0);
    EXPECT_EQ(scope.text(0), "Read of %d1 failed. " + tail + entries[MSG_INVALID_HEX_DIGIT].text);
    EXPECT_EQ(errAppendMessageAt(MSG_INVALID_HEX_DIGIT, 9), KaErrorParamSink());
}

TEST_F(Catalogue, SqlstateIndexResolvesThroughTheCatalogue)
{
    KaError general(1, katest::W(u"x"), 0, KA_SQLSTATE_INDEX_GENERAL, 0);
    KaError memory(1, katest::W(u"x"), 0, KA_SQLSTATE_INDEX_OUT_OF_MEMORY, 0);
    EXPECT_EQ(katest::sqlstate(&general), "HY000");
    EXPECT_EQ(katest::sqlstate(&memory), "HY001");
    // A text set on the record wins over its index.
    memory.setSqlstate("01004");
    EXPECT_EQ(katest::sqlstate(&memory), "01004");
}

TEST_F(Catalogue, LoadsAreBoundedByTheCallersBuffer)
{
    auto entries = sourceEntries();
    const std::string& full = entries[MSG_SQLSTATE_GENERAL_ERROR_TEXT].text;
    ASSERT_GT(full.size(), 4u);

    katest::Guarded<char> narrow(4);
    size_t n = errLoadMessage(narrow.data(), narrow.size(), MSG_SQLSTATE_GENERAL_ERROR_TEXT);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(narrow.data()), full.substr(0, 3));
    EXPECT_TRUE(narrow.guardsIntact());
    katest::Guarded<char> none(0);
    EXPECT_EQ(errLoadMessage(none.data(), 0, MSG_SQLSTATE_GENERAL_ERROR_TEXT), 0u);
    EXPECT_TRUE(none.guardsIntact());

    katest::Guarded<uint16_t> wide(6);
    n = errLoadMessageW(wide.data(), wide.size(), MSG_SQLSTATE_GENERAL_ERROR_TEXT);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(katest::narrow(katest::u16(wide.data())), full.substr(0, 5));
    EXPECT_TRUE(wide.guardsIntact());

    char whole[KA_MESSAGE_TEXT_SIZE];
    EXPECT_EQ(errLoadMessage(whole, sizeof whole, MSG_SQLSTATE_GENERAL_ERROR_TEXT), full.size());
    EXPECT_EQ(std::string(whole), full);
}

TEST(CatalogueMissing, LookupsYieldTheMessageNumber)
{
    katest::closeCatalogue();
    ErrorScope scope;
    errPost(MSG_INVALID_HEX_DIGIT);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.text(0), std::to_string(MSG_INVALID_HEX_DIGIT));
    EXPECT_EQ(scope.native(0), MSG_INVALID_HEX_DIGIT);

    // Cut to the room like any text.
    char text[3];
    EXPECT_EQ(errLoadMessage(text, sizeof text, MSG_SYSTEM_ERROR_ON_OBJECT), 2u);
    EXPECT_EQ(std::string(text), std::to_string(MSG_SYSTEM_ERROR_ON_OBJECT).substr(0, 2));
    uint16_t wide[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(wide, KA_MESSAGE_TEXT_SIZE, MSG_SQLSTATE_OUT_OF_MEMORY);
    EXPECT_EQ(katest::narrow(katest::u16(wide)), std::to_string(MSG_SQLSTATE_OUT_OF_MEMORY));
}
