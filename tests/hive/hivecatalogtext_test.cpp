// The SHOW and DESCRIBE statements of the Hive catalog listing.
#include "hive/hivecatalogtext.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const uint16_t* p(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

std::u16string build(const std::u16string* db, const std::u16string& table, bool formatted, bool temporary, bool global,
                     bool qualify)
{
    const uint16_t* d = db != nullptr ? p(*db) : nullptr;
    const int32_t need = hiveDescribeText(d, p(table), formatted, temporary, global, qualify, nullptr, 0);
    std::u16string out(static_cast<size_t>(need) + 1, u'\0');
    EXPECT_EQ(hiveDescribeText(d, p(table), formatted, temporary, global, qualify,
                               reinterpret_cast<uint16_t*>(out.data()), need + 1),
              need);
    out.resize(static_cast<size_t>(need));
    return out;
}

TEST(HiveCatalogText, DescribeQuotesEveryName)
{
    const std::u16string db = u"sales";
    const std::u16string global = u"global_temp";
    EXPECT_EQ(build(&db, u"t", true, false, false, true), u"DESCRIBE FORMATTED `sales`.`t`");
    EXPECT_EQ(build(&db, u"t", false, false, false, true), u"DESCRIBE `sales`.`t`");
    EXPECT_EQ(build(&db, u"t", true, false, false, false), u"DESCRIBE FORMATTED `t`");
    EXPECT_EQ(build(&db, u"tmp", true, true, false, true), u"DESCRIBE `tmp`");
    EXPECT_EQ(build(&global, u"gv", true, true, true, false), u"DESCRIBE `global_temp`.`gv`");
    EXPECT_EQ(build(nullptr, u"t", false, false, false, true), u"DESCRIBE `t`");
    // A name cannot close its quotes and carry a second statement.
    EXPECT_EQ(build(&db, u"x`; DROP TABLE y; --", false, false, false, true),
              u"DESCRIBE `sales`.`x``; DROP TABLE y; --`");
    EXPECT_EQ(build(&db, u"größe", false, false, false, true), u"DESCRIBE `sales`.`größe`");
}

TEST(HiveCatalogText, ShowTablesAndShortBuffers)
{
    const std::u16string db = u"d`b";
    uint16_t buf[40];
    const int32_t n = hiveShowTablesText(p(db), buf, 40);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(n)), u"SHOW TABLES IN `d``b`");
    uint16_t small[8];
    small[7] = 0xBBBB;
    EXPECT_EQ(hiveShowTablesText(p(db), small, 7), n);
    EXPECT_EQ(small[6], 0);
    EXPECT_EQ(small[7], 0xBBBB);
}

}  // namespace
