// Environment, host, user and time through the operating-system layer.
#include "platform/bosenv.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "bostest.h"
#include "support/guarded.h"

namespace {

using katest::BosTest;

// --- Environment ----------------------------------------------------------------

TEST_F(BosTest, WideEnvironmentValuesFitTheirBuffersOrAreNone)
{
    setEnv("KA_TEST_VALUE", "value-1");
    uint16_t value[16];
    ASSERT_NE(nullptr, bosGetEnvW(katest::W(u"KA_TEST_VALUE"), value, 16));
    EXPECT_EQ(u"value-1", katest::u16(value));
    EXPECT_EQ(nullptr, bosGetEnvW(katest::W(u"KA_TEST_VALUE"), value, 4));
    EXPECT_EQ(nullptr, bosGetEnvW(katest::W(u"KA_NOT_SET_ANYWHERE"), value, 16));
}

// --- Host, user, process, time -------------------------------------------------

TEST_F(BosTest, NamesStayInsideTheirBuffers)
{
    char host[BOS_HOST_NAME_SIZE + 1];
    ASSERT_EQ(0, bosGetHostName(host, sizeof host));
    ASSERT_GT(strlen(host), 0u);
    for (size_t size : {size_t(1), size_t(2), size_t(4)}) {
        katest::Guarded<char> g(size);
        ASSERT_EQ(0, bosGetHostName(g.data(), size));
        EXPECT_TRUE(g.guardsIntact()) << size;
        EXPECT_EQ(std::string(host).substr(0, size - 1), g.data());

        katest::Guarded<char> u(size);
        ASSERT_EQ(0, bosGetUserName(u.data(), size));
        EXPECT_TRUE(u.guardsIntact()) << size;
        EXPECT_EQ(size - 1, strlen(u.data()));
    }
    katest::Guarded<char> p(64);
    ASSERT_EQ(0, bosGetProcessName(p.data(), 64));
    EXPECT_TRUE(p.guardsIntact());
    EXPECT_GT(strlen(p.data()), 0u);
    EXPECT_EQ(nullptr, strchr(p.data(), '\n'));

    uint16_t wide[4];
    ASSERT_EQ(0, bosGetHostNameW(wide, 4));
    EXPECT_EQ(std::string(host).substr(0, 3), katest::narrow(katest::u16(wide)));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BosTest, LocalTimeAndSleep)
{
    BosLocalTime t;
    bosGetLocalTime(&t);
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_LE(t.millisecond, 999);
    bosSleep(0);
    bosSleep(1);
    EXPECT_GT(bosGetCpuCount(), 0);
    char text[] = "MiXeD";
    bosUpper(text, 3);
    EXPECT_STREQ("MIXeD", text);
    bosLower(text, 100);
    EXPECT_STREQ("mixed", text);
}

}  // namespace
