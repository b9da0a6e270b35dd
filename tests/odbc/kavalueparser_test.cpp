// The attribute-string parsers: the grammar and its errors, the first of DSN
// and DRIVER, sensitive values held encrypted, lookups and edits, building
// back, and that no value is left in freed memory; the UTF-16 form first,
// then the 8-bit form.
#include "odbc/kavalueparser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/freewatch.h"
#include "support/u16.h"

using katest::W;

namespace {

using katest::ErrorScope;

const uint8_t kKey[8] = {0x5A, 0x11, 0x93, 0xC4, 0x07, 0xE8, 0x2B, 0x6D};

std::u16string str(const KaSubStringW* s)
{
    if (s == nullptr)
        return u"<null>";
    return std::u16string(reinterpret_cast<const char16_t*>(s->data), s->len);
}

std::string str(const KaSubString* s)
{
    if (s == nullptr)
        return "<null>";
    return std::string(s->data != nullptr ? s->data : "", s->len);
}

// A parser set up as the connect paths set it up.
struct Conn {
    std::u16string text;
    KaValueParserW p;

    explicit Conn(const char16_t* s, int32_t duplicates = 1, const char16_t* source = nullptr)
        : Conn(std::u16string(s), duplicates, source)
    {}
    // Counted text, which may hold zero units.
    explicit Conn(std::u16string s, int32_t duplicates = 1, const char16_t* source = nullptr)
        : text(std::move(s)), p(W(text.c_str()), text.size(), ';', W(source), duplicates)
    {
        p.setQuoteChars(0, 0, 0);
        EXPECT_EQ(p.addWordChars(W(u"_.()")), 0);
    }
    int parse(KaSensitivePredicate sensitive = nullptr) { return p.parse(kKey, sensitive); }
    std::u16string value(const char16_t* name) { return str(p.getValueCStr(W(name))); }
    std::u16string secret(const char16_t* name)
    {
        int found = 0;
        KaMemoryBuffer holder;
        if (p.getSecret(W(name), &found, holder) != 0)
            return u"<error>";
        if (!found)
            return u"<absent>";
        KaMemoryBuffer plain;
        if (plain.decryptFrom(holder, kKey) != 0)
            return u"<error>";
        return std::u16string(reinterpret_cast<const char16_t*>(plain.data), size_t(plain.length));
    }
    std::vector<std::u16string> keys() const
    {
        std::vector<std::u16string> out;
        for (size_t i = 0; i < p.attributes.count; ++i)
            out.push_back(str(p.keyAt(i)));
        return out;
    }
};

class ValueParserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { katest::openCatalogue(); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

TEST_F(ValueParserTest, FirstOfDsnAndDriverWins)
{
    struct Case {
        const char16_t* text;
        std::vector<std::u16string> keys;
        const char16_t* dsn;
        const char16_t* driver;
    };
    const Case cases[] = {
        {u"DSN=a;DRIVER=b", {u"DSN"}, u"a", u"<null>"},
        {u"DRIVER=b;DSN=a", {u"DRIVER"}, u"<null>", u"b"},
        {u"UID=u;driver=b;dsn=a", {u"UID", u"driver"}, u"<null>", u"b"},
        {u"Host=h;dsn=a;Driver={x y};Port=1", {u"Host", u"dsn", u"Port"}, u"a", u"<null>"},
    };
    for (const Case& c : cases) {
        ErrorScope scope;
        Conn conn(c.text);
        ASSERT_EQ(conn.parse(), 0) << katest::narrow(c.text);
        EXPECT_EQ(conn.keys(), c.keys);
        EXPECT_EQ(conn.value(u"DSN"), c.dsn);
        EXPECT_EQ(conn.value(u"Driver"), c.driver);
        EXPECT_EQ(scope.size(), 0u);
    }
}

TEST_F(ValueParserTest, DuplicateKeys)
{
    {
        ErrorScope scope;
        Conn conn(u"DSN=a;DSN=b", 0);
        EXPECT_EQ(conn.parse(), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_EQ(scope.native(0), MSG_SYNTAX_ERROR_AT);
        EXPECT_NE(scope.text(0).find("position 9"), std::string::npos) << scope.text(0);
        EXPECT_NE(scope.text(0).find("DSN is given more than once"), std::string::npos) << scope.text(0);
        // What was read before the error stays.
        EXPECT_EQ(conn.value(u"DSN"), u"a");
    }
    {
        ErrorScope scope;
        Conn conn(u"DSN=a;dsn=b", 1);
        ASSERT_EQ(conn.parse(), 0);
        EXPECT_EQ(conn.value(u"DSN"), u"a");
        EXPECT_EQ(conn.p.attributes.count, 1u);
    }
    {
        ErrorScope scope;
        Conn conn(u"DRIVER={x};DRIVER={y}", 0);
        ASSERT_EQ(conn.parse(), 0);
        EXPECT_EQ(conn.value(u"DRIVER"), u"x");
        EXPECT_EQ(scope.size(), 0u);
    }
}

TEST_F(ValueParserTest, BracedSensitiveValueIsHeldEncrypted)
{
    ErrorScope scope;
    Conn conn(u"PWD={a;b}}c} ;DSN=d");
    ASSERT_EQ(conn.parse(), 0);
    EXPECT_EQ(conn.p.getValueCStr(W(u"PWD")), nullptr);
    EXPECT_EQ(conn.secret(u"pwd"), u"a;b}c");
    EXPECT_EQ(conn.value(u"DSN"), u"d");
    auto* attr = static_cast<AttributeObject*>(conn.p.attributes.valueAt(0));
    ASSERT_NE(attr, nullptr);
    EXPECT_EQ(attr->text, nullptr);
    ASSERT_NE(attr->secret, nullptr);
    EXPECT_EQ(attr->secret->state, KA_MEMBUF_ENCRYPTED);
    EXPECT_EQ(attr->secret->length, 5u);
    // A plain value asked for as a secret is refused.
    int found = -1;
    KaMemoryBuffer holder;
    EXPECT_EQ(conn.p.getSecret(W(u"DSN"), &found, holder), 1);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_ATTRIBUTE_NOT_ENCRYPTED);
    EXPECT_EQ(katest::sqlstate(scope.at(0)), "HY000");
    EXPECT_EQ(conn.secret(u"NOPE"), u"<absent>");
}

TEST_F(ValueParserTest, WhichKeysAreSensitive)
{
    Conn conn(u"pwd=1;Password=2;uid=3;LogonID=4;TrustStorePassword=5;UserName=6");
    ASSERT_EQ(conn.parse([](const KaSubStringW& key) {
        return int(key.len > 8 && str(&key).find(u"Password") != std::u16string::npos);
    }),
              0);
    for (const char16_t* k : {u"PWD", u"PASSWORD", u"UID", u"LOGONID", u"TrustStorePassword"}) {
        EXPECT_EQ(conn.p.getValueCStr(W(k)), nullptr) << katest::narrow(k);
        EXPECT_NE(conn.secret(k), u"<absent>");
    }
    EXPECT_EQ(conn.secret(u"TrustStorePassword"), u"5");
    EXPECT_EQ(conn.value(u"UserName"), u"6");
}

TEST_F(ValueParserTest, BareOdbcWord)
{
    {
        Conn conn(u"ODBC;DSN=a");
        ASSERT_EQ(conn.parse(), 0);
        EXPECT_EQ(conn.keys(), std::vector<std::u16string>{u"DSN"});
    }
    {
        ErrorScope scope;
        Conn conn(u"ODBC=1");
        EXPECT_EQ(conn.parse(), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_EQ(scope.native(0), MSG_SYNTAX_ERROR_AT);
        EXPECT_NE(scope.text(0).find("position 4"), std::string::npos) << scope.text(0);
    }
}

TEST_F(ValueParserTest, KeysAndValuesAsWritten)
{
    struct Case {
        const char16_t* text;
        const char16_t* key;
        const char16_t* value;
    };
    const Case cases[] = {
        {u"Data Source=x", u"Data Source", u"x"},
        {u"  Data   Source = x y  ;", u"Data   Source", u"x y"},
        {u"K==v", u"K", u"=v"},
        {u"K=", u"K", u""},
        {u"K=;L=1", u"K", u""},
        {u"Server.Name(1)=h", u"Server.Name(1)", u"h"},
        {u"K={}", u"K", u""},
        {u"K={ padded }", u"K", u" padded "},
        {u"K={{x}}}", u"K", u"{x}"},
        {u"K=a}b", u"K", u"a}b"},
        {u"K='a;b'", u"K", u"'a"},
        {u"K=\u00e9t\u00e9;", u"K", u"\u00e9t\u00e9"},
    };
    for (const Case& c : cases) {
        ErrorScope scope;
        Conn conn(c.text);
        ASSERT_EQ(conn.parse(), c.text == std::u16string(u"K='a;b'") ? 1 : 0) << katest::narrow(c.text);
        ASSERT_GE(conn.p.attributes.count, 1u);
        EXPECT_EQ(str(conn.p.keyAt(0)), c.key);
        EXPECT_EQ(conn.value(c.key), c.value) << katest::narrow(c.text);
    }
}

TEST_F(ValueParserTest, EmptyStrings)
{
    for (const char16_t* text : {u"", u";;", u" ; ; "}) {
        ErrorScope scope;
        Conn conn(text);
        ASSERT_EQ(conn.parse(), 0);
        EXPECT_EQ(conn.p.attributes.count, 0u);
        EXPECT_EQ(conn.p.countUnused(), 0);
        EXPECT_EQ(conn.p.nextUnused(), nullptr);
        KaStringW out;
        ASSERT_EQ(conn.p.build(out, ';'), 0);
        EXPECT_EQ(out.len, 0u);
    }
}

TEST_F(ValueParserTest, SyntaxErrorsNameTheirPosition)
{
    struct Case {
        const char16_t* text;
        const char* position;
    };
    const Case cases[] = {
        {u"=x", "position 0"},
        {u"DSN x", "position 5"},  // the key is "DSN x" and no "=" follows
        {u"DSN=a;b", "position 7"},
        {u"DSN=a;1=2", "position 6"},  // a key cannot begin with a number here
        {u"PWD={abc}x;DSN=a", "position 9"},
        // An unclosed brace must not swallow the attributes after it.
        {u"DRIVER={", "position 7"},
        {u"DRIVER={abc;DSN=x", "position 7"},
    };
    for (const Case& c : cases) {
        ErrorScope scope;
        Conn conn(c.text);
        EXPECT_EQ(conn.parse(), 1) << katest::narrow(c.text);
        ASSERT_EQ(scope.size(), 1u) << katest::narrow(c.text);
        EXPECT_EQ(scope.native(0), MSG_SYNTAX_ERROR_AT);
        EXPECT_NE(scope.text(0).find(c.position), std::string::npos) << scope.text(0);
    }
    {
        ErrorScope scope;
        Conn open(u"DRIVER={abc;DSN=x");
        EXPECT_EQ(open.parse(), 1);
        EXPECT_FALSE(open.p.hasKey(W(u"DSN")));
        EXPECT_FALSE(open.p.hasKey(W(u"DRIVER")));
    }
    ErrorScope scope;
    Conn named(u"DSN=a;;x", 1, u"connection string");
    EXPECT_EQ(named.parse(), 1);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_SYNTAX_ERROR_AT_IN);
    EXPECT_NE(scope.text(0).find("position 8 (connection string)"), std::string::npos) << scope.text(0);
}

TEST_F(ValueParserTest, BracedDriverOfOneBraceStaysOneBrace)
{
    // What the option reading sees for DRIVER={{}: a value of one "{".
    Conn conn(u"DRIVER={{}");
    ASSERT_EQ(conn.parse(), 0);
    EXPECT_EQ(conn.value(u"DRIVER"), u"{");
}

TEST_F(ValueParserTest, BuildRefusesSecretsBuildDecryptedBracesThem)
{
    Conn conn(u"DSN=x;PWD={a;b}}c};Note={lead}");
    ASSERT_EQ(conn.parse(), 0);
    {
        ErrorScope scope;
        KaStringW out;
        EXPECT_EQ(conn.p.build(out, ';'), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_EQ(scope.native(0), MSG_ATTRIBUTE_STRING_HOLDS_SECRET);
        EXPECT_EQ(katest::sqlstate(scope.at(0)), "HY000");
        EXPECT_EQ(scope.at(0)->sqlstateMsg, MSG_SQLSTATE_GENERAL_ERROR);
    }
    ErrorScope scope;
    KaStringWEx out;
    ASSERT_EQ(conn.p.buildDecrypted(out, kKey, ';'), 0);
    EXPECT_EQ(str(&out), u"DSN=x;PWD={a;b}}c};Note=lead");
    EXPECT_EQ(scope.size(), 0u);
}

TEST_F(ValueParserTest, BuiltTextParsesBackToTheSameValues)
{
    const char16_t* values[] = {u"plain",  u"a;b", u"{braced}", u"}", u"a}}b", u" lead",
                                u"trail ", u"",    u"x=y",      u"{", u"}{;",  u"caf\u00e9 \U0001F511"};
    KaValueParserW built(W(u""), 0, ';', nullptr, 1);
    ASSERT_EQ(built.parse(kKey, nullptr), 0);
    std::u16string keys[std::size(values)];
    for (size_t i = 0; i < std::size(values); ++i) {
        keys[i] = u"K" + std::u16string(1, char16_t('a' + i));
        ASSERT_EQ(built.setValue(W(keys[i].c_str()), keys[i].size(), W(values[i]),
                                 std::char_traits<char16_t>::length(values[i]), nullptr, 0),
                  0);
    }
    // Values holding the separator come back as setValue quoted them.
    KaStringW text;
    ASSERT_EQ(built.build(text, ';'), 0);
    std::u16string copy = str(&text);
    KaValueParserW reparsed(W(copy.c_str()), copy.size(), ';', nullptr, 0);
    reparsed.setQuoteChars(0, 0, 0);
    ASSERT_EQ(reparsed.parse(kKey, nullptr), 0) << katest::narrow(copy);
    ASSERT_EQ(reparsed.attributes.count, std::size(values));
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(str(reparsed.getValueCStr(W(keys[i].c_str()))), str(built.getValueCStr(W(keys[i].c_str())))) << i;
}

TEST_F(ValueParserTest, SetValueQuotesAQuoteAfterAZeroUnit)
{
    const std::u16string values[] = {std::u16string(u".\0'", 3), std::u16string(u"\0;'", 3),
                                     std::u16string(u"\0\0\"''", 5)};
    for (const std::u16string& v : values) {
        SCOPED_TRACE(katest::narrow(v));
        Conn conn(u"DSN=x");
        ASSERT_EQ(conn.parse(), 0);
        ASSERT_EQ(conn.p.setValue(W(u"K"), 1, W(v.data()), v.size(), nullptr, 0), 0);
        std::u16string doubled;
        for (char16_t u : v) {
            doubled += u;
            if (u == u'\'')
                doubled += u;
        }
        EXPECT_EQ(conn.value(u"K"), u"'" + doubled + u"'");
    }
}

TEST_F(ValueParserTest, ValueUnderEitherKeyword)
{
    {
        ErrorScope scope;
        Conn conn(u"HostName=h;HOST=h;PORT=1;PortNumber=2;DB=x");
        ASSERT_EQ(conn.parse(), 0);
        KaStringW* v = nullptr;
        ASSERT_EQ(conn.p.getValueByNames(W(u"HOST"), W(u"HostName"), &v), 0);
        EXPECT_EQ(str(v), u"h");
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_TRUE(scope.at(0)->isWarning());
        EXPECT_NE(scope.text(0).find("both keywords HOST and HostName"), std::string::npos) << scope.text(0);

        EXPECT_EQ(conn.p.getValueByNames(W(u"PORT"), W(u"PortNumber"), &v), 1);
        EXPECT_EQ(v, nullptr);
        ASSERT_EQ(scope.size(), 2u);
        EXPECT_FALSE(scope.at(1)->isWarning());

        ASSERT_EQ(conn.p.getValueByNames(W(u"DB"), W(u"Database"), &v), 0);
        EXPECT_EQ(str(v), u"x");
        ASSERT_EQ(conn.p.getValueByNames(W(u"XO"), W(u"ExtendedOptions"), &v), 0);
        EXPECT_EQ(v, nullptr);
        ASSERT_EQ(conn.p.getValueByNames(W(u"DB"), nullptr, &v), 0);
        EXPECT_EQ(str(v), u"x");
        EXPECT_EQ(scope.size(), 2u);
        EXPECT_EQ(conn.p.countUnused(), 0);
    }
    {
        ErrorScope scope;
        Conn conn(u"UID=a;LogonID=a;PWD=p");
        ASSERT_EQ(conn.parse(), 0);
        int found = -1;
        KaMemoryBuffer holder;
        EXPECT_EQ(conn.p.getSecretByNames(W(u"UID"), W(u"LogonID"), &found, holder), 1);
        EXPECT_EQ(found, 0);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_NE(scope.text(0).find("both keywords UID and LogonID"), std::string::npos);
        ASSERT_EQ(conn.p.getSecretByNames(W(u"PWD"), W(u"Password"), &found, holder), 0);
        EXPECT_EQ(found, 1);
        EXPECT_EQ(holder.length, 1u);
    }
}

TEST_F(ValueParserTest, UnusedAttributes)
{
    Conn conn(u"A=1;B=2;C=3");
    ASSERT_EQ(conn.parse(), 0);
    EXPECT_EQ(conn.p.countUnused(), 3);
    EXPECT_EQ(conn.value(u"b"), u"2");
    EXPECT_EQ(conn.p.countUnused(), 2);
    EXPECT_EQ(str(conn.p.nextUnused()), u"A");
    EXPECT_EQ(str(conn.p.nextUnused()), u"C");
    EXPECT_EQ(conn.p.nextUnused(), nullptr);
    EXPECT_EQ(conn.p.nextUnused(), nullptr);
    // hasKey and indexOf do not count as reading.
    EXPECT_TRUE(conn.p.hasKey(W(u"a")));
    EXPECT_EQ(conn.p.indexOf(W(u"C"), 1), 2);
    EXPECT_EQ(conn.p.indexOf(W(u"D"), 1), -1);
    EXPECT_EQ(conn.p.countUnused(), 2);

    // Removing an attribute takes its mark along.
    conn.p.removeKey(W(u"A"));
    EXPECT_EQ(conn.p.countUnused(), 1);
    ASSERT_EQ(conn.p.resetUsed(), 0);
    EXPECT_EQ(str(conn.p.nextUnused()), u"B");
    EXPECT_EQ(str(conn.p.nextUnused()), u"C");
    EXPECT_EQ(conn.p.keyAt(2), nullptr);
}

TEST_F(ValueParserTest, SetValueQuotesAndReplaces)
{
    Conn conn(u"HostName=h;UID=u");
    ASSERT_EQ(conn.parse(), 0);
    ASSERT_EQ(conn.p.setValueCStr(W(u"HOST"), W(u"new"), W(u"HostName")), 0);
    EXPECT_EQ(conn.keys(), (std::vector<std::u16string>{u"HostName", u"UID"}));
    EXPECT_EQ(conn.value(u"HostName"), u"new");
    ASSERT_EQ(conn.p.setValueCStr(W(u"Opt"), W(u"a;it's"), nullptr), 0);
    EXPECT_EQ(conn.value(u"Opt"), u"'a;it''s'");
    ASSERT_EQ(conn.p.setValueCStr(W(u"Q"), W(u"say \"x\""), nullptr), 0);
    EXPECT_EQ(conn.value(u"Q"), u"'say \"x\"'");
    // New entries have no mark until the marks are reset.
    ASSERT_EQ(conn.p.resetUsed(), 0);
    EXPECT_EQ(conn.p.countUnused(), 4);

    // A plain value replaced by a secret and back.
    KaMemoryBuffer secret;
    ASSERT_EQ(secret.setEncrypted(W(u"s3cr3t"), KA_MEMBUF_NTS, kKey), 0);
    ASSERT_EQ(conn.p.setSecret(W(u"LogonID"), secret, W(u"UID")), 0);
    EXPECT_EQ(conn.secret(u"UID"), u"s3cr3t");
    ASSERT_EQ(conn.p.setSecret(W(u"NewPwd"), secret, nullptr), 0);
    EXPECT_EQ(conn.secret(u"NewPwd"), u"s3cr3t");
    EXPECT_EQ(conn.p.attributes.count, 5u);
}

// ---- wiping ----------------------------------------------------------------

constexpr const char* kSecret = "Zq9-xW!plainSecretPwd";
const char16_t kConnString[] = u"DSN=x;UID=someone;PWD={Zq9-xW!plainSecretPwd};Host=h";

TEST_F(ValueParserTest, PasswordNeverReachesTheHeapInTheClear)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    katest::SecretWatch watch(kSecret);
    {
        auto* p = new KaValueParserW(W(kConnString), std::size(kConnString) - 1, ';', nullptr, 1);
        ASSERT_NE(p, nullptr);
        p->setQuoteChars(0, 0, 0);
        ASSERT_EQ(p->parse(kKey, nullptr), 0);
        int found = 0;
        KaMemoryBuffer holder;
        ASSERT_EQ(p->getSecret(W(u"PWD"), &found, holder), 0);
        {
            KaMemoryBuffer plain;
            ASSERT_EQ(plain.decryptFrom(holder, kKey), 0);
            ASSERT_EQ(plain.length, 21u);
        }
        {
            KaStringWEx out;
            ASSERT_EQ(p->buildDecrypted(out, kKey, ';'), 0);
            ASSERT_NE(out.len, 0u);
        }
        {
            // Into a string that does not wipe: only its final block holds the
            // text, and the caller wipes that one.
            KaStringW out;
            ASSERT_EQ(out.assign(W(u"some earlier content")), 0);
            ASSERT_EQ(p->buildDecrypted(out, kKey, ';'), 0);
            fastMemzero(out.data, out.capacity * 2);
        }
        ASSERT_EQ(p->setValueCStr(W(u"PWD"), W(u"other"), nullptr), 0);
        delete p;
    }
    EXPECT_EQ(watch.leaks(), 0);
    EXPECT_GT(watch.frees(), 0);
}

const char16_t kKeyStoreString[] = u"TrustStorePassword={Zq9-xW!plainSecretPwd};KP=Zq9-xW!plainSecretPwd";

TEST_F(ValueParserTest, PlainValuesAreWipedWhenFreed)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    katest::SecretWatch watch(kSecret);
    {
        KaValueParserW p(W(kKeyStoreString), std::size(kKeyStoreString) - 1, ';', nullptr, 1);
        ASSERT_EQ(p.parse(kKey, nullptr), 0);
        ASSERT_NE(p.getValueCStr(W(u"KP")), nullptr);
        ASSERT_EQ(p.setValueCStr(W(u"KP"), W(u"replaced"), nullptr), 0);
    }
    EXPECT_EQ(watch.leaks(), 0);
}

// ---- the 8-bit parser --------------------------------------------------------

struct Narrow {
    std::string text;
    KaValueParser p;
    explicit Narrow(std::string s, int32_t duplicates = 0, char sep = ';')
        : text(std::move(s)), p(text.data(), text.size(), KA_TEXT_UTF8, sep, nullptr, duplicates)
    {}
    std::string value(const char* name) { return str(p.getValueCStr(name)); }
};

TEST_F(ValueParserTest, NarrowValuesAreWipedWhenFreed)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    ErrorScope scope;
    // On the stack, so that the watch sees only the parser's own copies.
    char text[] = "UID=u;PWD={Zq9-xW!plainSecretPwd};Other=x";
    katest::SecretWatch watch("Zq9-xW!plainSecretPwd");
    {
        KaValueParser p(text, std::strlen(text), KA_TEXT_UTF8, ';', nullptr, 0);
        ASSERT_EQ(p.parse(), 0);
        ASSERT_NE(p.getValueCStr("PWD"), nullptr);
        ASSERT_EQ(p.setValue("PWD", 3, "replaced", 8, nullptr, 0), 0);
    }
    EXPECT_EQ(watch.leaks(), 0);
    EXPECT_GT(watch.frees(), 0);
}

TEST_F(ValueParserTest, NarrowBuildLeavesNoCopyBehind)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    ErrorScope scope;
    // Long values after the password make the built text grow several times.
    std::string long1(300, 'a');
    std::string long2(600, 'b');
    std::string text = "PWD={Zq9-xW!plainSecretPwd};A=" + long1 + ";B=" + long2;
    KaValueParser p(text.data(), text.size(), KA_TEXT_UTF8, ';', nullptr, 0);
    ASSERT_EQ(p.parse(), 0);
    katest::SecretWatch watch("Zq9-xW!plainSecretPwd");
    {
        // Into a string that does not wipe: only its final block holds the
        // text, and the caller wipes that one.
        KaString out;
        ASSERT_EQ(p.build(out, ';'), 0);
        const char head[] = "PWD=Zq9-xW!plainSecretPwd;";
        ASSERT_GE(out.len, sizeof head - 1);
        // Compared in place: a std::string copy would be a freed block too.
        EXPECT_EQ(std::memcmp(out.data, head, sizeof head - 1), 0);
        fastMemzero(out.data, out.capacity);
    }
    EXPECT_EQ(watch.leaks(), 0);
    EXPECT_GT(watch.frees(), 0);
}

TEST_F(ValueParserTest, NarrowParserRules)
{
    ErrorScope scope;
    Narrow n("ODBCTraceMode=1;TraceFile=/tmp/x.out;Driver={a}}};Driver={b};DSN=d;1st=v;PWD={p;w}");
    ASSERT_EQ(n.p.parse(), 0);
    EXPECT_EQ(n.value("odbctracemode"), "1");
    EXPECT_EQ(n.value("TraceFile"), "/tmp/x.out");
    EXPECT_EQ(n.value("DRIVER"), "a}");
    EXPECT_EQ(n.value("DSN"), "<null>");
    EXPECT_EQ(n.value("1st"), "v");
    EXPECT_EQ(n.value("PWD"), "p;w");
    EXPECT_EQ(n.p.getValueCStr("TraceFile")->codePage, KA_TEXT_UTF8);
    EXPECT_EQ(scope.size(), 0u);
    EXPECT_EQ(n.p.countUnused(), 0);

    KaString out;
    ASSERT_EQ(n.p.build(out, ';'), 0);
    EXPECT_EQ(str(&out), "ODBCTraceMode=1;TraceFile=/tmp/x.out;Driver=a};1st=v;PWD={p;w}");
}

TEST_F(ValueParserTest, ZeroUnitIsNeverAQuoteWhenQuotingIsOff)
{
    // A zero unit inside a value is text: it opens no quoted run that would
    // swallow the separators and attributes after it, and the built text
    // parses back to the same attributes.
    struct Case {
        std::u16string text;
        std::vector<std::u16string> keys;
        std::vector<std::u16string> values;
    };
    const Case cases[] = {
        {std::u16string(u"S=a\0b;I=x", 9), {u"S", u"I"}, {std::u16string(u"a\0b", 3), u"x"}},
        {std::u16string(u"S={\0};I=", 8), {u"S", u"I"}, {std::u16string(1, u'\0'), u""}},
        {std::u16string(u"A=\0;B=\0\0;C=1", 12),
         {u"A", u"B", u"C"},
         {std::u16string(1, u'\0'), std::u16string(2, u'\0'), u"1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.text));
        ErrorScope scope;
        Conn conn(c.text);
        ASSERT_EQ(conn.parse(), 0);
        EXPECT_EQ(conn.keys(), c.keys);
        for (size_t i = 0; i < c.keys.size() && i < c.values.size(); ++i)
            EXPECT_EQ(conn.value(c.keys[i].c_str()), c.values[i]) << i;

        KaStringW built;
        ASSERT_EQ(conn.p.build(built, ';'), 0);
        Conn again(str(&built));
        ASSERT_EQ(again.parse(), 0);
        EXPECT_EQ(again.keys(), c.keys);
        for (size_t i = 0; i < c.keys.size() && i < c.values.size(); ++i)
            EXPECT_EQ(again.value(c.keys[i].c_str()), c.values[i]) << i;

        // The 8-bit parser, over the same text as bytes.
        std::string bytes;
        for (char16_t u : c.text)
            bytes += char(u);
        Narrow n(bytes);
        n.p.setQuoteChars(0, 0, 0);
        ASSERT_EQ(n.p.parse(), 0);
        ASSERT_EQ(n.p.attributes.count, c.keys.size());
        for (size_t i = 0; i < c.keys.size() && i < c.values.size(); ++i) {
            std::string value;
            for (char16_t u : c.values[i])
                value += char(u);
            EXPECT_EQ(n.value(katest::narrow(c.keys[i]).c_str()), value) << i;
        }
        EXPECT_EQ(scope.size(), 0u);
    }
}

TEST_F(ValueParserTest, BuildBracesValuesHoldingAnActiveQuote)
{
    // With quoting on, a quote inside a value that arrived in braces would
    // open a quoted run when the built text is read again, swallowing the
    // attributes after it; the value goes back into braces instead.
    ErrorScope scope;
    Narrow n("PWD={a\"c};Host=h;Q={it's};B=`x`");
    ASSERT_EQ(n.p.parse(), 0);
    EXPECT_EQ(n.value("PWD"), "a\"c");
    EXPECT_EQ(n.value("Q"), "it's");
    KaString out;
    ASSERT_EQ(n.p.build(out, ';'), 0);
    EXPECT_EQ(str(&out), "PWD={a\"c};Host=h;Q={it's};B={`x`}");
    Narrow again(str(&out));
    ASSERT_EQ(again.p.parse(), 0);
    EXPECT_EQ(again.p.attributes.count, 4u);
    EXPECT_EQ(again.value("PWD"), "a\"c");
    EXPECT_EQ(again.value("Host"), "h");
    EXPECT_EQ(again.value("Q"), "it's");
    EXPECT_EQ(again.value("B"), "`x`");

    // With quoting off a quote is plain text and needs no braces.
    Narrow off("Q={it's};R=1");
    off.p.setQuoteChars(0, 0, 0);
    ASSERT_EQ(off.p.parse(), 0);
    KaString plain;
    ASSERT_EQ(off.p.build(plain, ';'), 0);
    EXPECT_EQ(str(&plain), "Q=it's;R=1");
    EXPECT_EQ(scope.size(), 0u);
}

TEST_F(ValueParserTest, NarrowBothKeywordsAlwaysFail)
{
    ErrorScope scope;
    Narrow n("Host=h;HostName=h");
    ASSERT_EQ(n.p.parse(), 0);
    KaString* v = nullptr;
    EXPECT_EQ(n.p.getValueByNames("Host", "HostName", &v), 1);
    EXPECT_EQ(v, nullptr);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_FALSE(scope.at(0)->isWarning());
    EXPECT_NE(scope.text(0).find("both keywords Host and HostName"), std::string::npos) << scope.text(0);
}

TEST_F(ValueParserTest, NarrowErrorsAndEdits)
{
    {
        ErrorScope scope;
        Narrow n("A=1;a=2");
        EXPECT_EQ(n.p.parse(), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_NE(scope.text(0).find("a is given more than once"), std::string::npos) << scope.text(0);
    }
    {
        ErrorScope scope;
        Narrow n("A={open;B=1");
        EXPECT_EQ(n.p.parse(), 1);
        EXPECT_FALSE(n.p.hasKey("B"));
    }
    {
        Narrow n("A=1,B=2", 0, ',');
        ASSERT_EQ(n.p.parse(), 0);
        ASSERT_EQ(n.p.setValueCStr("C", "x,y", nullptr), 0);
        EXPECT_EQ(n.value("C"), "'x,y'");
        n.p.removeKey("A");
        KaString out;
        ASSERT_EQ(n.p.build(out, ','), 0);
        EXPECT_EQ(str(&out), "B=2,C={'x,y'}");
        ASSERT_EQ(n.p.resetUsed(), 0);
        EXPECT_EQ(str(n.p.nextUnused()), "B");
        EXPECT_EQ(n.p.indexOf("C", 1), 1);
    }
}

}  // namespace
