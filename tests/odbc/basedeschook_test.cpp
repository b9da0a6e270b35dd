// SQLGetDescField on an implementation row descriptor for a field the
// framework does not keep: the driver's colAttributeHook answers it, with
// text into the application's buffer (cut with 01004) or a number at the
// width the buffer length names; without an answer the field is refused.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "convert/basestring.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"

namespace {

constexpr uint16_t kTextField = 1300;
constexpr uint16_t kNumberField = 1301;

class HookStatement : public katest::TestStatement {
public:
    using TestStatement::TestStatement;
    uint16_t askedColumn = 0;
    int16_t colAttributeHook(uint16_t column, uint16_t field, BaseOutString* out,
                             int64_t* numericValue) noexcept override
    {
        askedColumn = column;
        if (field == kTextField) {
            static const char16_t kText[] = u"driver text";
            (void)out->putWideText(kText, 22, true, 2, false);
            return 0;
        }
        if (field == kNumberField) {
            *numericValue = 0x1122334455667788;
            return 0;
        }
        return BaseStatement::colAttributeHook(column, field, out, numericValue);
    }
};

using DescHook = katest::StmtFixture;

}  // namespace

TEST_F(DescHook, OtherIrdFieldsAreTheDriversToAnswer)
{
    auto* s = make<HookStatement>();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->execDirect(katest::W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    BaseIRD* ird = s->ird;

    katest::Guarded<uint8_t> text(64);
    SQLINTEGER length = 0;
    ASSERT_EQ(ird->getDescField(2, kTextField, text.data(), 64, &length), SQL_SUCCESS);
    EXPECT_EQ(s->askedColumn, 2);
    EXPECT_EQ(length, 22);
    EXPECT_EQ(text.str(24), std::string("d\0r\0i\0v\0e\0r\0 \0t\0e\0x\0t\0\0\0", 24));
    EXPECT_TRUE(text.guardsIntact());

    katest::Guarded<uint8_t> small(8);
    ASSERT_EQ(ird->getDescField(1, kTextField, small.data(), 8, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length, 22);
    EXPECT_TRUE(small.guardsIntact());

    for (int32_t width : {2, 4, 8, 0}) {
        SCOPED_TRACE(width);
        katest::Guarded<uint8_t> number(8);
        ASSERT_EQ(ird->getDescField(1, kNumberField, number.data(), width, &length), SQL_SUCCESS);
        const size_t written = width == 0 ? 8 : static_cast<size_t>(width);
        EXPECT_EQ(length, static_cast<SQLINTEGER>(written));
        int64_t v = 0x1122334455667788;
        EXPECT_EQ(number.str(written), std::string(reinterpret_cast<const char*>(&v), written));
        EXPECT_EQ(number.str(8).substr(written), std::string(8 - written, '\x5A'));
        EXPECT_TRUE(number.guardsIntact());
    }

    int32_t unused = 0;
    EXPECT_EQ(ird->getDescField(1, 1302, &unused, 4, &length), SQL_ERROR);
    EXPECT_EQ(ird->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxBadDescField);
    ASSERT_EQ(s->freeStmt(SQL_DROP), SQL_SUCCESS);
}
