// Query files: the header forms, line decoding, the statement and database,
// sections found, set, deleted and written in order, parameters and the
// description line, and saving: written, read back and rewritten in place
// byte for byte, a shorter file leaves no old tail, and a failed save leaves
// what was there.
#include "sql/kaqueryf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/kafilebyline.h"
#include "security/bufxform.h"
#include "support/errorscope.h"
#include "support/platformtest.h"
#include "support/sourceroot.h"

namespace {

class KaQueryFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }

    std::string file(const std::string& name, const std::string& text)
    {
        std::string p = dir.path() + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    static std::string slurp(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::string str(const KaString& s) { return std::string(s.data ? s.data : "", s.len); }
    std::string section(KaQueryFile& q, const char* name)
    {
        KaString s;
        EXPECT_EQ(q.getSection(name, &s), 0);
        return str(s);
    }
    std::string query(KaQueryFile& q)
    {
        KaString s;
        EXPECT_EQ(q.getQueryText(&s), 0);
        return str(s);
    }
    size_t entries() const
    {
        size_t n = 0;
        for (auto& e : std::filesystem::directory_iterator(dir.path()))
            n += e.is_regular_file() || e.is_directory() ? 1 : 0;
        return n;
    }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TempDir dir{"kaqueryf"};
};

TEST_F(KaQueryFileTest, HeaderForms)
{
    struct Case {
        const char* header;
        int ok;
        uint64_t major, minor, third;
        const char* name;
    };
    const Case cases[] = {
        {"k&a for Sales", 1, 1, 0, 0, "Sales"},
        {"K+A 7.0 for Orders", 1, 7, 0, 0, "Orders"},
        {"K+A 2.1.3 FOR Monthly totals  ", 1, 2, 1, 3, "Monthly totals"},
        {"K&A 7.0.1b for X", 1, 7, 0, 1, "X"},
        {"Q+A 7.0 for Orders", 0, 0, 0, 0, nullptr},
        {"K+A 7.0 Orders", 0, 0, 0, 0, nullptr},
        {"K+A for   ", 0, 0, 0, 0, nullptr},
        {"K+A for X (2", 0, 0, 0, 0, nullptr},
        {"K+A for X (2) trailing", 0, 0, 0, 0, nullptr},
        {"", 0, 0, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        std::string p = file("h.qry", std::string(c.header) + "\nSELECT 1;\n");
        KaQueryFile q;
        size_t before = errors.size();
        ASSERT_EQ(q.open(p.c_str()), c.ok ? 0 : 1) << c.header;
        if (!c.ok) {
            ASSERT_EQ(errors.size(), before + 1) << c.header;
            EXPECT_EQ(errors.native(before), MSG_QUERY_FILE_HEADER_INVALID);
            EXPECT_NE(errors.text(before).find(p), std::string::npos);
            EXPECT_EQ(q.isOpen, 0);
            EXPECT_EQ(q.path, nullptr);
            continue;
        }
        EXPECT_EQ(q.version[0], c.major) << c.header;
        EXPECT_EQ(q.version[1], c.minor) << c.header;
        EXPECT_EQ(q.version[2], c.third) << c.header;
        EXPECT_STREQ(q.name, c.name);
        EXPECT_EQ(query(q), "SELECT 1");
    }
}

// A stand-in line encoding: type 2 shifts every letter by one.
int shiftDecoder(int32_t type, char* text, size_t* length) noexcept
{
    if (type != 2)
        return 1;
    for (size_t i = 0; i < *length; ++i)
        if (text[i] > 'A' && text[i] <= 'Z')
            --text[i];
    return 0;
}

TEST_F(KaQueryFileTest, LinesAfterAnEncodedHeaderAreDecoded)
{
    std::string p = file("enc.qry", "K+A 7.0 for Orders (2)\nTFMFDU B GSPN U;\n");
    {
        KaQueryFile q;
        EXPECT_EQ(q.open(p.c_str()), 1);  // nothing installed to decode with
        EXPECT_EQ(errors.native(errors.size() - 1), MSG_QUERY_FILE_UNREADABLE);
    }
    kaFileByLineSetDecoder(shiftDecoder);
    KaQueryFile q;
    EXPECT_EQ(q.open(p.c_str()), 0);
    kaFileByLineSetDecoder(nullptr);
    EXPECT_EQ(q.version[0], 7u);
    EXPECT_STREQ(q.name, "Orders");
    EXPECT_EQ(query(q), "SELECT A FROM T");
}

// The security layer's decoder, as the driver installs it at load time.
class InstalledLineDecoder {
public:
    InstalledLineDecoder() { kaFileByLineSetDecoder(cryptDecodeLine); }
    ~InstalledLineDecoder() { kaFileByLineSetDecoder(nullptr); }
};

std::string fixture(const char* name)
{
    return katest::sourceRoot() + "/tests/sql/fixtures/" + name;
}

// The fixture was encoded outside the driver (every byte but the line feed
// complemented, line encoding 2), so this reads it as a foreign writer left it.
TEST_F(KaQueryFileTest, FileEncodedWithLineEncodingTwoReadsBack)
{
    InstalledLineDecoder decoder;
    std::string p = fixture("encoded.qry");
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    EXPECT_STREQ(q.name, "Orders");
    EXPECT_EQ(q.version[0], 7u);
    EXPECT_EQ(query(q), "SELECT id, name   FROM orders  WHERE region = 'Nord'");
    EXPECT_EQ(section(q, "Custom"), "line one\n\n");
}

// Line encoding 3 mixes bytes in pairs under the default key; each line's
// text is mixed on its own, its line feed left plain.
TEST_F(KaQueryFileTest, FileEncodedWithTheBlockMixReadsBack)
{
    InstalledLineDecoder decoder;
    const std::vector<std::string> lines = {"", "SELECT a, b", "  FROM t WHERE c = 'x y z'",
                                            "", "[Notes]",     "odd length line"};
    std::string text = "K&A 7.0 for Mixed (3)\n";
    for (const std::string& l : lines) {
        std::string enc = l;
        cryptEncode(reinterpret_cast<uint8_t*>(enc.data()), enc.size(), KA_XFORM_TEA_MIX, nullptr);
        ASSERT_EQ(enc.find('\n'), std::string::npos) << "an encoded byte would split the line: " << l;
        text += enc + "\n";
    }
    std::string p = file("mixed.qry", text);
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    EXPECT_STREQ(q.name, "Mixed");
    EXPECT_EQ(query(q), "SELECT a, b   FROM t WHERE c = 'x y z'");
    EXPECT_EQ(section(q, "Notes"), "odd length line\n\n");
}

TEST_F(KaQueryFileTest, StatementDatabaseAndSections)
{
    std::string p =
        file("s.qry", "K+A 7.0 for Sales\n\nCTKAF 1\n\nuse sales_db;\n\nSELECT a\n  FROM t\nWHERE s = 'x\ny';\n"
                      "\n[PARAMETERS]\nPARAMETER.CLEAR ()\nPARAMETER.ITEM ('a''b', 'c', 'd', 'e', 5)\n\n"
                      "[Custom]\nline one\n\nline two\n");
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    EXPECT_STREQ(q.database, "sales_db");
    // Line feeds inside quotes stay.
    EXPECT_EQ(query(q), "SELECT a   FROM t WHERE s = 'x\ny'");
    EXPECT_EQ(section(q, "Custom"), "line one\n\nline two\n\n");
    int has = 0;
    EXPECT_EQ(q.hasSection("custom", &has), 0);
    EXPECT_EQ(has, 0);  // names compare byte for byte
    EXPECT_EQ(q.hasSectionByIndex(KA_QF_PARAMETERS, &has), 0);
    EXPECT_EQ(has, 1);
    uint64_t first = 0;
    EXPECT_EQ(q.firstSectionOffset(&first), 0);
    EXPECT_EQ(slurp(p).substr(first, 12), "[PARAMETERS]");

    KaArray params(4, KaArray::ownsElements | KaArray::ownsBuffer);
    ASSERT_EQ(q.getParameters(&params), 0);
    ASSERT_EQ(params.count, 1u);
    auto* par = static_cast<KafParam*>(params.at(0));
    EXPECT_EQ(str(par->text[0]), "a'b");
    EXPECT_EQ(str(par->text[1]), "c");
    EXPECT_EQ(str(par->text[3]), "e");
    EXPECT_EQ(par->number, 5u);
    KaString line;
    ASSERT_EQ(par->format(&line), 0);
    EXPECT_EQ(str(line), "PARAMETER.ITEM ('a''b', 'c', 'd', 'e', 5)\n");

    char* block = nullptr;
    uint64_t length = 0;
    ASSERT_EQ(q.getSectionBytes("Custom", &block, &length), 0);
    EXPECT_EQ(std::string(block, length), "line one\n\nline two\n\n");
    ramFree(block);
    ASSERT_EQ(q.getSectionBytes("Absent", &block, &length), 0);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(q.getSectionByIndex(9, &line), 1);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_QUERY_SECTION_INDEX_INVALID);
}

TEST_F(KaQueryFileTest, FileWithoutSectionsOrStatement)
{
    std::string p = file("n.qry", "k&a for Sales\n\n\n");
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    EXPECT_EQ(query(q), "");
    EXPECT_EQ(section(q, "PAGE_LAYOUT"), "");
    int has = 1;
    EXPECT_EQ(q.hasSection("PAGE_LAYOUT", &has), 0);
    EXPECT_EQ(has, 0);
    uint64_t first = 9;
    EXPECT_EQ(q.firstSectionOffset(&first), 0);
    EXPECT_EQ(first, 0u);
}

TEST_F(KaQueryFileTest, VersionTwoKeepsTheLinesAfterTheStatementAsDefinition)
{
    std::string p = file("v2.qry", "K+A 2.0 for Old\nSELECT 1\nFROM t;\n\nSET.QUERY.DESCRIPTION ('Old one')\nmore\n"
                                   "[USER COMMANDS]\ncmd\n");
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    EXPECT_EQ(query(q), "SELECT 1 FROM t");
    EXPECT_EQ(section(q, "DEFINITION"), "SET.QUERY.DESCRIPTION ('Old one')\nmore\n\n");
    EXPECT_EQ(section(q, "USER COMMANDS"), "cmd\n\n");
    KaString d;
    ASSERT_EQ(q.getDescription(&d), 0);
    EXPECT_EQ(str(d), "Old one");
}

TEST_F(KaQueryFileTest, WritingOrdersSectionsAndRewritesByteForByte)
{
    std::string p = file("w.qry", "K+A 7.0 for Orders\n\nSELECT 1;\n\n[ZED]\nz\n\n[PARAMETERS]\np\n\n[Other]\no\n");
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    ASSERT_EQ(q.setSection("NEW", "n\n", 2), 0);
    ASSERT_EQ(q.setSectionByIndex(KA_QF_DEFINITION, "d", 1), 0);
    ASSERT_EQ(q.setSection("ZED", "zz", 2), 0);  // set and found: keeps its place
    ASSERT_EQ(q.deleteSection("Other"), 0);
    ASSERT_EQ(q.setDatabase("db"), 0);
    std::string statement = "SELECT customer_name, customer_address, customer_phone, 'a quoted text with blanks "
                            "that must stay on one line', order_total FROM orders WHERE x = 1";
    ASSERT_EQ(q.setQueryText(statement.data(), statement.size()), 0);
    std::string out = dir.path() + "/out.qry";
    ASSERT_EQ(q.writeTo(out.c_str()), 0);
    const std::string written = slurp(out);
    EXPECT_EQ(written, "K+A 7.0 for Orders\n\nuse db;\n"
                       "SELECT customer_name, customer_address, customer_phone,\n"
                       "'a quoted text with blanks that must stay on one line', order_total FROM orders\n"
                       "WHERE x = 1;\n\n"
                       "[PARAMETERS]\np\n\n[DEFINITION]\nd\n\n[ZED]\nzz\n\n[NEW]\nn\n\n");

    KaQueryFile back;
    ASSERT_EQ(back.open(out.c_str()), 0);
    EXPECT_EQ(query(back), statement);
    EXPECT_STREQ(back.database, "db");
    ASSERT_EQ(back.save(), 0);
    EXPECT_EQ(slurp(out), written);
    EXPECT_EQ(back.isOpen, 1);  // open again on the new file
    EXPECT_EQ(query(back), statement);
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaQueryFileTest, SavingInPlaceLeavesNoOldTailAndTouchesNoOtherFile)
{
    std::string body(400, 'x');
    std::string p = file("long.qry", "K+A 7.0 for Long\nSELECT 1;\n[Custom]\n" + body + "\n");
    // A neighbour named like a predictable scratch name is not clobbered.
    std::string neighbour = file("long.qr$", "keep me");
    size_t before = entries();
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    ASSERT_EQ(q.setSection("Custom", "short\n", 6), 0);
    ASSERT_EQ(q.save(), 0) << (errors.size() ? errors.text(errors.size() - 1) : "");
    EXPECT_EQ(slurp(p), "K+A 7.0 for Long\n\nSELECT 1;\n\n[Custom]\nshort\n\n");
    EXPECT_EQ(slurp(neighbour), "keep me");
    EXPECT_EQ(entries(), before);
}

TEST_F(KaQueryFileTest, FailedSaveKeepsWhatWasThere)
{
    std::string p = file("a.qry", "K+A 7.0 for A\nSELECT 1;\n");
    std::string blocked = dir.path() + "/blocked";
    std::filesystem::create_directory(blocked);
    std::filesystem::create_directory(blocked + "/inside");
    size_t before = entries();
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    ASSERT_EQ(q.setNewPath(blocked.c_str()), 0);
    size_t errs = errors.size();
    EXPECT_EQ(q.save(), 1);
    ASSERT_GT(errors.size(), errs);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_QUERY_FILE_NOT_SAVED);
    EXPECT_TRUE(std::filesystem::is_directory(blocked + "/inside"));
    EXPECT_EQ(entries(), before);       // no scratch file left behind
    EXPECT_NE(q.pendingPath, nullptr);  // the pending path is kept for a retry
    EXPECT_EQ(slurp(p), "K+A 7.0 for A\nSELECT 1;\n");
}

TEST_F(KaQueryFileTest, RefusesUnwritableNamesAndOverlongPaths)
{
    KaQueryFile q;
    std::string out = dir.path() + "/x.qry";
    for (const char* name : {"", "a (b)", "two\nlines"}) {
        ASSERT_EQ(q.setName(name), 0);
        EXPECT_EQ(q.writeTo(out.c_str()), 1) << name;
        EXPECT_EQ(errors.native(errors.size() - 1), MSG_QUERY_NAME_UNWRITABLE);
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    std::string longPath = dir.path() + "/" + std::string(1100, 'p');
    EXPECT_EQ(q.open(longPath.c_str()), 1);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_QUERY_FILE_PATH_TOO_LONG);
    EXPECT_EQ(q.setNewPath(longPath.c_str()), 1);
}

TEST_F(KaQueryFileTest, DescriptionLine)
{
    std::string p = file("d.qry", "K+A 7.0 for D\nSELECT 1;\n[DEFINITION]\nother line\n");
    KaQueryFile q;
    ASSERT_EQ(q.open(p.c_str()), 0);
    KaString d;
    EXPECT_EQ(q.getDescription(&d), 1);
    KaString text;
    ASSERT_EQ(text.assign("Monthly sales"), 0);
    ASSERT_EQ(q.setDescription(text), 0);
    EXPECT_EQ(section(q, "DEFINITION"), "SET.QUERY.DESCRIPTION ('Monthly sales')\nother line\n\n");
    // Any length, where a fixed buffer once held 255 bytes.
    std::string longText(600, 'L');
    ASSERT_EQ(text.assign(longText.c_str()), 0);
    ASSERT_EQ(q.setDescription(text), 0);
    ASSERT_EQ(q.getDescription(&d), 0);
    EXPECT_EQ(str(d), longText);
    EXPECT_EQ(section(q, "DEFINITION"), "SET.QUERY.DESCRIPTION ('" + longText + "')\nother line\n\n");

    KaArray params(4, KaArray::ownsElements | KaArray::ownsBuffer);
    auto* one = new KafParam();
    ASSERT_EQ(one->text[0].assign("it's"), 0);
    ASSERT_EQ(one->text[1].assign("b"), 0);
    ASSERT_EQ(one->text[2].assign(""), 0);
    ASSERT_EQ(one->text[3].assign("d"), 0);
    one->number = 42;
    ASSERT_EQ(params.append(one), 0);
    ASSERT_EQ(q.setParameters(params), 0);
    EXPECT_EQ(section(q, "PARAMETERS"), "PARAMETER.CLEAR ()\nPARAMETER.ITEM ('it''s', 'b', '', 'd', 42)\n\n");
    KaArray back(4, KaArray::ownsElements | KaArray::ownsBuffer);
    ASSERT_EQ(q.getParameters(&back), 0);
    ASSERT_EQ(back.count, 1u);
    EXPECT_EQ(str(static_cast<KafParam*>(back.at(0))->text[0]), "it's");
    EXPECT_EQ(static_cast<KafParam*>(back.at(0))->number, 42u);
    const std::string badLine = "PARAMETER.CLEAR ()\nPARAMETER.ITEM ('a', 'b', 'c', 'd', x)\n";
    ASSERT_EQ(q.setSection("PARAMETERS", badLine.data(), badLine.size()), 0);
    KaArray bad(4, KaArray::ownsElements | KaArray::ownsBuffer);
    EXPECT_EQ(q.getParameters(&bad), 1);
    EXPECT_EQ(errors.native(errors.size() - 1), MSG_QUERY_PARAMETER_INVALID);
}

}  // namespace
