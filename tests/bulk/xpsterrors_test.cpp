// The error list of a caller of the record-set entry functions: XPstInit
// gives the thread a list of its own, XPstLastErrorText reads the latest
// diagnostic or the "no error" text, and XPstTerm takes only its own list
// off again.
#include <gtest/gtest.h>

#include <string>

#include "bulk/basexml.h"
#include "foundation/kaerror.h"
#include "support/diagscope.h"

TEST(XPstErrors, InitGivesAListThatTermTakesBack)
{
    katest::DiagScope outer;
    ASSERT_EQ(XPstInit("VYspark28"), 0);
    KaErrorList* own = KaErrorCurrentList();
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, &outer.list);
    EXPECT_EQ(std::string(XPstLastErrorText()), "No error.");

    // A failing entry function posts on that list.
    EXPECT_NE(XPstOpen(nullptr, 1, nullptr), 0);
    ASSERT_GT(own->recordCount(), 0u);
    const std::string text = XPstLastErrorText();
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, "No error.");
    EXPECT_EQ(outer.list.recordCount(), 0u);

    EXPECT_EQ(XPstTerm(), 0);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
    // A list it did not make stays where it is.
    EXPECT_EQ(XPstTerm(), 0);
    EXPECT_EQ(KaErrorCurrentList(), &outer.list);
}
