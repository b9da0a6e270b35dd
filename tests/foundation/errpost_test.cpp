// Posting by message number: texts come from the installed message source
// (the decimal number while none is), and the message box prints.
#include "foundation/errpost.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/kaerror.h"
#include "kamessages.h"
#include "support/errorscope.h"

namespace {

uint32_t gLastAsked = 0;

int64_t fakeLoad(uint32_t number, char* buffer, size_t size) noexcept
{
    gLastAsked = number;
    int n = snprintf(buffer, size, "text of %u", number);
    return size_t(n) < size ? n : int64_t(size - 1);
}

int64_t fakeLoadW(uint32_t number, uint16_t* buffer, size_t units) noexcept
{
    char text[64];
    int64_t n = fakeLoad(number, text, units < sizeof text ? units : sizeof text);
    for (int64_t i = 0; i <= n; ++i)
        buffer[i] = static_cast<unsigned char>(text[i]);
    return n;
}

const KaMessageSource kFakeSource = {fakeLoad, fakeLoadW};

// Installs the fake source for the scope; the default comes back after.
struct FakeSourceScope {
    FakeSourceScope() { errSetMessageSource(&kFakeSource); }
    ~FakeSourceScope() { errSetMessageSource(nullptr); }
};

TEST(ErrPost, TextsComeFromTheInstalledSource)
{
    katest::ErrorScope errors;
    {
        FakeSourceScope fake;
        errPost(MSG_SORT_KEY_INVALID);
        EXPECT_EQ(MSG_SORT_KEY_INVALID, gLastAsked);
        char narrow[KA_MESSAGE_TEXT_SIZE];
        EXPECT_EQ(errLoadMessage(narrow, sizeof narrow, MSG_SORT_LIMIT_EXCEEDED),
                  strlen("text of ") + std::to_string(MSG_SORT_LIMIT_EXCEEDED).size());
        EXPECT_EQ("text of " + std::to_string(MSG_SORT_LIMIT_EXCEEDED), narrow);
    }
    errPostWarning(MSG_SORT_KEY_INVALID);
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ("text of " + std::to_string(MSG_SORT_KEY_INVALID), errors.text(0));
    EXPECT_FALSE(errors.at(0)->isWarning());
    // Null put the decimal number back.
    EXPECT_EQ(std::to_string(MSG_SORT_KEY_INVALID), errors.text(1));
    EXPECT_TRUE(errors.at(1)->isWarning());
}

TEST(ErrPost, WithoutACurrentListPostsReachTheParameterSink)
{
    EXPECT_EQ(KaErrorParamSink(), errPostWarning(MSG_SORT_KEY_INVALID));
    EXPECT_EQ(KaErrorParamSink(), errPostTextA(MSG_SORT_KEY_INVALID, "text"));
    EXPECT_EQ(KaErrorParamSink(), errAppendMessage(MSG_SORT_KEY_INVALID));
    EXPECT_EQ(KaErrorParamSink(), errAppendMessageAt(MSG_SORT_KEY_INVALID, 0));
}

TEST(ErrPost, ShowMessagePrintsCaptionOnlyWhenAsked)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(errShowMessage("body", "Title", 1), 2);
    EXPECT_EQ(errShowMessage("body", "Title", 0), 2);
    EXPECT_EQ(errMessageBox("box", nullptr, 1), 2);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Title:\nbody\n\nbody\n\nbox\n");
}

}  // namespace
