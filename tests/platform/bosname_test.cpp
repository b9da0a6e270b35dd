// Name conversion of the operating-system layer.
#include "platform/bosname.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/bos.h"
#include "bostest.h"

namespace {

using katest::BosTest;

// --- Name conversion -----------------------------------------------------------

TEST_F(BosTest, NameConversionsFailRatherThanCut)
{
    std::u16string longName(BOS_PATH_SIZE, u'n');
    char out[BOS_PATH_SIZE];
    EXPECT_EQ(-1, KaUtf16ToLocal1024(out, katest::W(longName.c_str())));
    // Exactly the buffer's size leaves no room for the terminator.
    std::u16string exact(8, u'e');
    char small[8];
    EXPECT_EQ(-1, KaUtf16ToUtf8(small, sizeof small, katest::W(exact.c_str())));
    EXPECT_EQ(2u, errors.size());
    errors.list.clear();
    EXPECT_EQ(7, KaUtf16ToUtf8(small, sizeof small, katest::W(exact.substr(0, 7).c_str())));
    EXPECT_EQ(3, KaUtf16ToLocal(out, sizeof out, katest::W(u"\u00e9t\u00e9")));
    EXPECT_EQ(std::string("\xe9t\xe9"), out);
    uint16_t wide[4];
    EXPECT_EQ(3, KaLocalToUtf16(wide, 4, "\xe9t\xe9 and more"));
    EXPECT_EQ(u"\u00e9t\u00e9", katest::u16(wide));
    EXPECT_EQ(0u, errors.size());
}

}  // namespace
