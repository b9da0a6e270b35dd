// The scratch-file opener shared by the temporary-file classes: created
// once with its name block, reopened by name after its descriptor was
// closed, and deleted with its name by the discard.
#include "platform/katmpname.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/bosfile.h"
#include "support/errorscope.h"
#include "support/tmpfiletest.h"

namespace {

class KaTmpOpenTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

TEST_F(KaTmpOpenTest, CreatesOnceReopensByNameAndDiscardDeletes)
{
    const uint64_t listedBefore = bosTmpCount();
    KaTmpName* name = nullptr;
    int32_t fd = 0;
    ASSERT_EQ(bosTmpOpen(&name, &fd), 0);
    ASSERT_NE(name, nullptr);
    EXPECT_NE(fd, 0);
    EXPECT_EQ(tmp.count(), 1u);
    EXPECT_EQ(tmp.onlyFileMode(), 0600);
    EXPECT_EQ(bosTmpCount(), listedBefore + 1);
    const std::string path = name->path;
    ASSERT_EQ(bosfwrite(fd, 0, "abc", 3), 0);

    // Open again with the descriptor in hand: the same file, nothing new.
    KaTmpName* const first = name;
    const int32_t firstFd = fd;
    ASSERT_EQ(bosTmpOpen(&name, &fd), 0);
    EXPECT_EQ(name, first);
    EXPECT_EQ(fd, firstFd);

    // Closed descriptor: reopened by name, the bytes still there.
    ASSERT_EQ(bosfclose(fd), 0);
    fd = 0;
    ASSERT_EQ(bosTmpOpen(&name, &fd), 0);
    EXPECT_EQ(name, first);
    EXPECT_NE(fd, 0);
    EXPECT_EQ(std::string(name->path), path);
    char back[3] = {};
    uint64_t got = 0;
    ASSERT_EQ(bosfread(fd, 0, back, sizeof back, &got), 0);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(back, 3), "abc");
    EXPECT_EQ(tmp.count(), 1u);

    bosTmpDiscard(&name, &fd);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(fd, 0);
    EXPECT_EQ(tmp.count(), 0u);
    EXPECT_EQ(bosTmpCount(), listedBefore);

    // Nothing to discard: nothing happens.
    bosTmpDiscard(&name, &fd);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaTmpOpenTest, FailedCreateLeavesNoNameBlock)
{
    katest::EnvScope env;
    env.set("KA_TMPDIR", "/nonexistent/katmpname");
    KaTmpName* name = nullptr;
    int32_t fd = 0;
    EXPECT_NE(bosTmpOpen(&name, &fd), 0);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(fd, 0);
    EXPECT_GT(errors.size(), 0u);
}

}  // namespace
