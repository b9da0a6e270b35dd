// Accelerator markers: finding and recording them, and giving each label of
// a dialog a character of its own, with the label bounded by its buffer.
#include "foundation/butxpand.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "errorscope.h"
#include "guarded.h"

namespace {

class ButXpand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override { katest::closeCatalogue(); }
    katest::ErrorScope errors;
    uint8_t set[BUT_ACCELERATOR_SET_SIZE] = {};

    bool isUsed(char c) const { return (set[uint8_t(c) / 8] & (1u << (uint8_t(c) % 8))) != 0; }
};

TEST_F(ButXpand, MarkersComeFromTheCatalogue)
{
    char markers[BUT_MARKERS_SIZE];
    butAcceleratorMarkers(markers);
    EXPECT_STREQ("&", markers);
    const char* label = "Save &As";
    EXPECT_EQ(label + 5, butFindAccelerator(label));
    EXPECT_EQ(nullptr, butFindAccelerator("Plain"));
    butMarkAccelerator(set, label);
    EXPECT_TRUE(isUsed('a'));
    EXPECT_FALSE(isUsed('A'));
}

TEST_F(ButXpand, EachLabelGetsAnUnusedCharacter)
{
    struct {
        const char* label;
        const char* result;
    } labels[] = {
        {"  Server", "  &Server"}, {"Source", "S&ource"}, {"Os", "&Os"},
        {"So&urce", "So&urce"},    {"sou", "&sou"},  // every character used: the start
    };
    for (const auto& c : labels) {
        char label[BUT_LABEL_SIZE];
        strcpy(label, c.label);
        butAssignAccelerator(set, label, sizeof label);
        EXPECT_STREQ(c.result, label) << c.label;
    }
    EXPECT_TRUE(isUsed('s'));
    EXPECT_TRUE(isUsed('o'));
    EXPECT_TRUE(isUsed('u'));
}

TEST_F(ButXpand, ArgumentsFillTheTemplateWithinTheBuffer)
{
    char label[BUT_LABEL_SIZE];
    strcpy(label, "Port %s of %s");
    butAssignAccelerator(set, label, sizeof label, "10000", "server");
    EXPECT_STREQ("&Port 10000 of server", label);

    // A long argument is cut to the buffer, marker included.
    std::string longArg(1000, 'x');
    katest::Guarded<char> small(20);
    strcpy(small.data(), "Host %s");
    butAssignAccelerator(set, small.data(), 20, longArg.c_str());
    EXPECT_EQ(19u, strlen(small.data()));
    EXPECT_EQ('&', small.data()[0]);
    EXPECT_TRUE(small.guardsIntact());

    // A percent sign in an argument is text, never a format.
    strcpy(label, "Name %s");
    butAssignAccelerator(set, label, sizeof label, "%n%s");
    EXPECT_NE(nullptr, strstr(label, "%n%s"));
}

}  // namespace
