// The statement's side of value conversion: the context it fills from its
// connection, its descriptor records and its long-data state, the column
// and parameter entries into the engine, output parameters bound in arrays,
// and the long-data state it keeps between the pieces of a value.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/datetime.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "support/cvtfixture.h"
#include "support/diagscope.h"

using cvttest::bytesOf;
using cvttest::Guarded;
using cvttest::u16le;
using katest::DiagScope;

namespace {

class Statement : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

// A statement and its connection, as a driver sets them up for a result.
struct Stmt {
    BaseEnv env{15};
    BaseConnection conn{&env};
    BaseStatement stmt{&conn};

    explicit Stmt(int64_t appCodePage = kCodePageUtf8)
    {
        conn.appCodePage = appCodePage;
        stmt.charCodePage = appCodePage;
        EXPECT_EQ(stmt.createDescriptors(), 0);
    }

    // Describes result column n.
    BaseIRDRecord* column(int64_t n, int16_t sqlType, int64_t size, int16_t scale = 0, int64_t cp = kCodePageUtf8)
    {
        if (stmt.ird->count() < n) {
            EXPECT_EQ(stmt.ird->setRecordCount(n), 0);
        }
        BaseIRDRecord* rec = stmt.ird->irdRecord(n);
        rec->conciseType = sqlType;
        if (baseIsVarLengthType(sqlType))
            rec->length = static_cast<uint64_t>(size);
        else
            rec->precision = static_cast<int16_t>(size);
        rec->scale = scale;
        rec->setCodePage(cp);
        return rec;
    }

    // Parameter n with its IPD and APD records.
    void param(int64_t n, BaseIPDRecord** ipd, BaseAXDRecord** apd)
    {
        stmt.markerCount = static_cast<uint16_t>(n);
        EXPECT_EQ(stmt.ipd->setRecordCount(n), 0);
        EXPECT_EQ(stmt.currentApd->setRecordCount(n), 0);
        *ipd = stmt.ipd->ipdRecord(n);
        *apd = stmt.currentApd->axdRecord(n);
    }
};

}  // namespace

TEST_F(Statement, ContextCarriesTheConnectionsSettingsAndTheLongDataState)
{
    Stmt s(kCodePageLatin1);
    s.conn.wideCharCodePage = kCodePageUtf32LE;
    s.conn.workarounds = kBaseWaTrimTrailingZeros;
    s.conn.doubleToStringPrecision = 12;
    s.conn.roundingMode = 1;
    s.conn.allowTime24 = 1;
    s.env.odbc2Mode = 1;
    s.stmt.conversionSettings.zeroExcess = true;
    s.stmt.getDataReturned = 40;
    s.stmt.pieceLengthOverride = 7;
    BaseConvertContext ctx;
    s.stmt.conversionContext(&ctx);
    EXPECT_EQ(ctx.settings.wideCodePage, kCodePageUtf32LE);
    EXPECT_EQ(ctx.settings.wideTermWidth, 4);
    EXPECT_EQ(ctx.settings.workarounds, kBaseWaTrimTrailingZeros);
    EXPECT_EQ(ctx.settings.doubleToStringPrecision, 12);
    EXPECT_EQ(ctx.settings.floatTextWidth, 12 + kBaseFloatTextExtra);
    EXPECT_EQ(ctx.settings.roundingMode, 1);
    EXPECT_TRUE(ctx.settings.allowTime24);
    EXPECT_TRUE(ctx.settings.odbc2);
    EXPECT_TRUE(ctx.settings.zeroExcess);
    EXPECT_EQ(ctx.charCodePage, kCodePageLatin1);
    EXPECT_EQ(ctx.cache, s.stmt.charConversionContext());
    EXPECT_EQ(ctx.offset, 40);
    EXPECT_EQ(ctx.pieceLength, 7);
    EXPECT_EQ(ctx.convertedLength, -1);

    // Without a statement the settings are the defaults.
    BaseConvertSettings none;
    none.odbc2 = true;
    baseConvertSettingsOf(nullptr, &none);
    EXPECT_FALSE(none.odbc2);
    EXPECT_EQ(none.wideCodePage, kCodePageUtf16LE);
}

TEST_F(Statement, ColumnValuesAreDescribedByTheirRecords)
{
    Stmt s;
    s.column(1, SQL_INTEGER, 10);
    s.column(2, SQL_DECIMAL, 20, 4);
    int32_t value = 300;
    int8_t target = 0;
    int64_t length = -99;
    BaseOutString out(&target, int64_t{1}, &length, nullptr);
    DiagScope d;
    EXPECT_EQ(s.stmt.convertColumnValue(1, SQL_C_TINYINT, &out, &value, 4, kBaseKindInteger), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(katest::sqlstate(d.at(0)), "22003");
    EXPECT_NE(d.text(0).find("(column 1)"), std::string::npos) << d.text(0);

    // A column beyond the description is refused, not read.
    DiagScope d2;
    EXPECT_EQ(s.stmt.convertColumnValue(9, SQL_C_TINYINT, &out, &value, 4, kBaseKindInteger), 1);
    EXPECT_EQ(katest::sqlstate(d2.at(0)), "HY000");
    EXPECT_EQ(s.stmt.convertColumnValue(0, SQL_C_TINYINT, &out, &value, 4, kBaseKindInteger), 1);

    // SQL_C_NUMERIC takes the precision and scale of the column's ARD record
    // once the application set them.
    ASSERT_EQ(s.stmt.currentArd->setRecordCount(2), 0);
    BaseAXDRecord* ard = s.stmt.currentArd->axdRecord(2);
    ard->precision = 10;
    ard->scale = 2;
    SQL_NUMERIC_STRUCT num{};
    BaseOutString numOut(&num, int64_t{sizeof num}, &length, nullptr);
    DiagScope d3;
    ASSERT_EQ(s.stmt.convertColumnValue(2, SQL_C_NUMERIC, &numOut, "12.345", 6, kBaseKindText), 0);
    EXPECT_EQ(num.scale, 3);
    ard->scaleSet = 1;
    ard->precisionSet = 1;
    ASSERT_EQ(s.stmt.convertColumnValue(2, SQL_C_NUMERIC, &numOut, "12.345", 6, kBaseKindText), 0);
    EXPECT_EQ(num.precision, 10);
    EXPECT_EQ(num.scale, 2);
    EXPECT_EQ(num.val[0], 1234 % 256);
    EXPECT_EQ(num.val[1], 1234 / 256);
    EXPECT_EQ(cvttest::states(d3), "01S07");
}

TEST_F(Statement, LongValuesAreReadInPiecesAcrossCalls)
{
    // UTF-8 text in a UTF-8 application: served from the source, no buffer.
    Stmt s(kCodePageUtf8);
    s.column(1, SQL_VARCHAR, 100, 0, kCodePageUtf8);
    const std::string value = "Gr\xc3\xbc\xc3\x9f"
                              "e aus K\xc3\xb6ln";
    s.stmt.resetLongData();
    std::string got;
    int pieces = 0;
    for (; pieces < 50; ++pieces) {
        Guarded buf(5);
        int64_t length = -99;
        BaseOutString out(buf.data(), int64_t{5}, &length, nullptr);
        DiagScope d;
        ASSERT_EQ(s.stmt.convertColumnValue(1, SQL_C_CHAR, &out, value.data(), static_cast<int64_t>(value.size()),
                                            kBaseKindText),
                  0);
        EXPECT_TRUE(buf.guardsIntact());
        EXPECT_EQ(length, static_cast<int64_t>(value.size() - got.size()));
        got += reinterpret_cast<const char*>(buf.data());
        if (s.stmt.advanceLongData(4) == 0)
            break;
    }
    EXPECT_EQ(got, value);
    EXPECT_EQ(pieces, 4);  // 17 bytes in pieces of 4
    EXPECT_EQ(s.stmt.convertBuffer, nullptr);

    // Into wide text it is converted once into the statement's buffer, which
    // the statement keeps between the pieces and frees with itself.
    s.column(2, SQL_VARCHAR, 100, 0, kCodePageUtf8);
    const std::string wide = u16le(u"Gr\u00fc\u00dfe aus K\u00f6ln");
    s.stmt.resetLongData();
    got.clear();
    for (pieces = 0; pieces < 50; ++pieces) {
        Guarded buf(8);
        int64_t length = -99;
        BaseOutString out(buf.data(), int64_t{8}, &length, nullptr);
        DiagScope d;
        ASSERT_EQ(s.stmt.convertColumnValue(2, SQL_C_WCHAR, &out, value.data(), static_cast<int64_t>(value.size()),
                                            kBaseKindText),
                  0);
        ASSERT_NE(s.stmt.convertBuffer, nullptr);
        EXPECT_EQ(s.stmt.convertedLength, static_cast<int64_t>(wide.size()));
        EXPECT_EQ(length, static_cast<int64_t>(wide.size() - got.size()));
        got += buf.str(static_cast<size_t>(length < 6 ? length : 6));
        if (s.stmt.advanceLongData(6) == 0)
            break;
    }
    EXPECT_EQ(got, wide);
}

TEST_F(Statement, NullOutputParameterFillsIndicatorAndClearsTheBuffer)
{
    Stmt s;
    BaseIPDRecord* ipd = nullptr;
    BaseAXDRecord* apd = nullptr;
    s.param(1, &ipd, &apd);
    ipd->conciseType = SQL_DOUBLE;
    Guarded buf(16, 0x77);
    int64_t indicator = 0;
    apd->conciseType = SQL_C_DOUBLE;
    apd->dataPtr = buf.data();
    apd->octetLength = 16;
    apd->indicatorPtr = &indicator;
    apd->octetLengthPtr = &indicator;
    DiagScope d;
    EXPECT_EQ(s.stmt.convertOutputParam(1, nullptr, SQL_NULL_DATA, kBaseKindText), 0);
    EXPECT_EQ(indicator, SQL_NULL_DATA);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(buf.data()[i], i < 8 ? 0 : 0x77) << i;
    EXPECT_TRUE(buf.guardsIntact());

    // Without any indicator NULL cannot be reported: 22002.
    int32_t target = 5;
    ipd->conciseType = SQL_INTEGER;
    apd->conciseType = SQL_C_LONG;
    apd->dataPtr = &target;
    apd->indicatorPtr = nullptr;
    apd->octetLengthPtr = nullptr;
    DiagScope d2;
    EXPECT_EQ(s.stmt.convertOutputParam(1, nullptr, SQL_NULL_DATA, kBaseKindText), 1);
    EXPECT_EQ(katest::sqlstate(d2.at(0)), "22002");

    // No data pointer: nothing to do; no record: refused.
    apd->dataPtr = nullptr;
    EXPECT_EQ(s.stmt.convertOutputParam(1, nullptr, SQL_NULL_DATA, kBaseKindText), 0);
    EXPECT_EQ(s.stmt.convertOutputParam(2, nullptr, SQL_NULL_DATA, kBaseKindText), 1);
    EXPECT_EQ(katest::sqlstate(d2.at(1)), "HY000");
}

TEST_F(Statement, OutputParameterGoesIntoTheRowOfAColumnWiseArray)
{
    Stmt s;
    BaseIPDRecord* ipd = nullptr;
    BaseAXDRecord* apd = nullptr;
    s.param(2, &ipd, &apd);
    ipd->conciseType = SQL_INTEGER;
    ipd->precision = 10;
    int32_t values[3] = {-1, -1, -1};
    int64_t lengths[3] = {-7, -7, -7};
    apd->conciseType = SQL_C_LONG;
    apd->dataPtr = values;
    apd->octetLength = 4;
    apd->indicatorPtr = lengths;
    apd->octetLengthPtr = lengths;
    s.stmt.currentParamRow = 2;
    const char text[] = "1x";
    DiagScope d;
    int32_t v = 77;
    EXPECT_EQ(s.stmt.convertOutputParam(2, &v, 4, kBaseKindInteger), 0);
    EXPECT_EQ(values[2], 77);
    EXPECT_EQ(lengths[2], 4);
    EXPECT_EQ(values[0], -1);
    EXPECT_EQ(values[1], -1);
    EXPECT_EQ(apd->dataPtr, values);  // the offset was removed again

    // A failed conversion is marked with the parameter row.
    EXPECT_EQ(s.stmt.convertOutputParam(2, text, 2, kBaseKindText), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(katest::sqlstate(d.at(0)), "22018");
    EXPECT_NE(d.text(0).find("(row 3)"), std::string::npos) << d.text(0);
    EXPECT_EQ(apd->indicatorPtr, lengths);
}

TEST_F(Statement, ParametersAreDescribedByTheirRecords)
{
    Stmt s;
    BaseIPDRecord* ipd = nullptr;
    BaseAXDRecord* apd = nullptr;
    s.param(2, &ipd, &apd);
    ipd->conciseType = SQL_WVARCHAR;
    ipd->length = 10;
    ipd->setCodePage(kCodePageUtf16LE);
    apd->conciseType = SQL_C_SLONG;
    EXPECT_EQ(ipd->cType(), SQL_C_SLONG);
    int32_t value = -314;
    Guarded buf(32);
    int64_t produced = -1;
    DiagScope d;
    EXPECT_EQ(s.stmt.convertParamValue(2, &value, 4, kBaseKindText, buf.data(), 32, &produced), 0);
    EXPECT_EQ(produced, 8);
    EXPECT_EQ(buf.str(8), u16le(u"-314"));

    // A numeric structure takes the scale its APD record states.
    ipd->conciseType = SQL_VARCHAR;
    ipd->setCodePage(kCodePageUtf8);
    apd->conciseType = SQL_C_NUMERIC;
    apd->scale = 3;
    SQL_NUMERIC_STRUCT num{};
    num.precision = 5;
    num.scale = 2;
    num.sign = 1;
    num.val[0] = 12345 % 256;
    num.val[1] = 12345 / 256;
    EXPECT_EQ(s.stmt.convertParamValue(2, &num, sizeof num, kBaseKindText, buf.data(), 32, &produced), 0);
    EXPECT_EQ(buf.str(static_cast<size_t>(produced)), "12.345");

    // SQL_C_DEFAULT stands for the SQL type's own C type.
    apd->conciseType = SQL_C_DEFAULT;
    ipd->conciseType = SQL_WVARCHAR;
    EXPECT_EQ(ipd->cType(), SQL_C_WCHAR);
    ipd->conciseType = SQL_INTEGER;
    EXPECT_EQ(ipd->cType(), SQL_C_LONG);

    // With a return value the first marker is the return value.
    s.stmt.returnValueParam = true;
    EXPECT_EQ(s.stmt.getParamIPDRecord(1), ipd);
    EXPECT_EQ(s.stmt.getParamIPDRecord(2), nullptr);
    EXPECT_EQ(s.stmt.convertParamValue(3, &value, 4, kBaseKindText, buf.data(), 32, &produced), 1);
    EXPECT_TRUE(buf.guardsIntact());
}

// Text of as many characters as the column size allows, sent as UTF-16 as
// the Hive driver writes its literals: the column size counts characters,
// so under COLUMNSIZEASCHARACTER the twice as many bytes go through whole;
// without it the size bounds the bytes and the text is cut.
TEST_F(Statement, ColumnSizeAsCharacterFromTheConnectionLetsParameterTextThrough)
{
    struct Case {
        int32_t sizeAsCharacter;
        int16_t cType;
        int16_t sqlType;
        size_t characters;
        bool passes;
    };
    const Case cases[] = {
        {1, SQL_C_CHAR, SQL_VARCHAR, 70001, true},   {1, SQL_C_CHAR, SQL_LONGVARCHAR, 65536, true},
        {1, SQL_C_WCHAR, SQL_WVARCHAR, 70001, true}, {1, SQL_C_WCHAR, SQL_WLONGVARCHAR, 65535, true},
        {0, SQL_C_CHAR, SQL_VARCHAR, 70001, false},  {0, SQL_C_WCHAR, SQL_WVARCHAR, 70001, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sizeAsCharacter) + " " + std::to_string(c.cType) + " " +
                     std::to_string(c.sqlType) + " " + std::to_string(c.characters));
        Stmt s;
        s.conn.columnSizeAsCharacter = c.sizeAsCharacter;
        BaseIPDRecord* ipd = nullptr;
        BaseAXDRecord* apd = nullptr;
        s.param(1, &ipd, &apd);
        ipd->conciseType = c.sqlType;
        ipd->length = c.characters;
        ipd->setCodePage(kCodePageUtf16LE);
        apd->conciseType = c.cType;
        std::string narrow(c.characters, 'q');
        narrow[c.characters / 2] = '\'';
        const std::string wide = u16le(std::u16string(narrow.begin(), narrow.end()));
        const std::string& value = c.cType == SQL_C_WCHAR ? wide : narrow;
        const size_t room = 2 * c.characters;
        Guarded buf(room);
        int64_t produced = -1;
        DiagScope d;
        const int16_t rc = s.stmt.convertParamValue(1, value.data(), static_cast<int64_t>(value.size()), kBaseKindText,
                                                    buf.data(), static_cast<int64_t>(room), &produced);
        EXPECT_TRUE(buf.guardsIntact());
        if (c.passes) {
            ASSERT_EQ(rc, 0) << (d.size() > 0 ? d.text(0) : std::string());
            ASSERT_EQ(produced, static_cast<int64_t>(room));
            EXPECT_TRUE(buf.str(room) == wide);
        } else {
            EXPECT_EQ(rc, 1);
            ASSERT_GE(d.size(), 1u);
            EXPECT_EQ(katest::sqlstate(d.at(0)), "22001");
        }
    }
}

TEST_F(Statement, ValuesForResultColumnsTakeTheColumnsKind)
{
    Stmt s;
    s.column(1, SQL_SMALLINT, 5);
    s.column(2, SQL_VARCHAR, 10, 0, kCodePageUtf8);
    int32_t chosen = -1;
    int64_t produced = -1;
    Guarded buf(16);
    DiagScope d;
    EXPECT_EQ(s.stmt.convertToColumnType(1, SQL_C_CHAR, "-12", 3, buf.data(), &chosen, &produced, 16), 0);
    EXPECT_EQ(chosen, kBaseKindSmallInt);
    EXPECT_EQ(buf.str(2), bytesOf<int16_t>(-12));
    double v = 0.25;
    EXPECT_EQ(s.stmt.convertToColumnType(2, SQL_C_DOUBLE, &v, 8, buf.data(), &chosen, &produced, 16), 0);
    EXPECT_EQ(chosen, kBaseKindText);
    EXPECT_EQ(buf.str(static_cast<size_t>(produced)), ".25");
    EXPECT_EQ(s.stmt.convertToColumnType(3, SQL_C_DOUBLE, &v, 8, buf.data(), &chosen, &produced, 16), 1);
    EXPECT_EQ(katest::sqlstate(d.at(0)), "HY000");
    EXPECT_TRUE(buf.guardsIntact());
}
