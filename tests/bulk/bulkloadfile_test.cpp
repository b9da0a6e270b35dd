// The bulk file reader: descriptions read into column descriptions (every
// structure and attribute rule, the refusals with their message numbers),
// and the record reader over data files written here: quoting, nulls,
// comments, binary prefixes, byte-order marks, UTF-16, block boundaries,
// LOB side files, skipping and the discard copy; hostile files (lying
// lengths, names that leave the directory, huge counts, unclosed quotes)
// refused with their diagnostics.
#include "bulk/bulkloadfile.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/codepage.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/platformtest.h"
#include "support/u16.h"

namespace {

const char kDescription[] = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                            "<table codepage=\"%CP%\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
                            "  <row>\n%COLUMNS%  </row>\n</table>\n";

class BulkLoadFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.path().empty());
        katest::openCatalogue();
    }
    void TearDown() override { katest::closeCatalogue(); }

    std::string path(const std::string& name) const { return dir.path() + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    std::string description(const std::string& columns, const std::string& cp = "UTF-8") const
    {
        std::string text = kDescription;
        text.replace(text.find("%CP%"), 4, cp);
        text.replace(text.find("%COLUMNS%"), 9, columns);
        return text;
    }
    // Opens data.csv with the description; 0 when it opened.
    int open(const std::string& data, const std::string& columns, uint64_t blockKb = 1, const std::string& cp = "UTF-8",
             const char* discard = nullptr)
    {
        write("data.csv", data);
        write("data.xml", description(columns, cp));
        std::string d = path("data.csv");
        std::string x = path("data.xml");
        std::string k = discard != nullptr ? path(discard) : "";
        return file.open(d.c_str(), x.c_str(), nullptr, discard != nullptr ? k.c_str() : nullptr, blockKb,
                         BulkDelimiters{});
    }
    // Every field as "number:value", "number:<null>", chunks joined; "!"
    // and the message number at a failure.
    std::vector<std::string> fields()
    {
        std::vector<std::string> out;
        std::string value;
        int32_t continued = 0;
        while (true) {
            const uint8_t* data = nullptr;
            uint64_t length = 0;
            int32_t isNull = 0;
            int64_t cp = 0;
            if (file.readRecord(&data, &length, &continued, &isNull, &cp) != 0) {
                out.push_back("!" + std::to_string(scope.size() != 0 ? scope.native(scope.size() - 1) : 0));
                return out;
            }
            if (data == nullptr)
                return out;
            value.append(reinterpret_cast<const char*>(data), length);
            if (continued != 0)
                continue;
            out.push_back(std::to_string(file.fieldNumber) + ":" + (isNull != 0 ? "<null>" : value));
            value.clear();
        }
    }
    bool posted(uint16_t msg) const
    {
        for (size_t i = 0; i < scope.size(); ++i)
            if (scope.native(i) == msg)
                return true;
        return false;
    }

    katest::TempDir dir{"bulkload"};
    katest::ErrorScope scope;
    BulkLoadFile file;
};

// ASCII text in 16-bit units of either byte order.
std::string utf16(const std::string& ascii, bool big)
{
    std::string out;
    for (char c : ascii) {
        out += big ? '\0' : c;
        out += big ? c : '\0';
    }
    return out;
}

const char kTwoVarchar[] = "    <column datatype=\"VARCHAR\" length=\"10\">a</column>\n"
                           "    <column datatype=\"VARCHAR\" length=\"10\">b</column>\n";

TEST_F(BulkLoadFileTest, ADescriptionBecomesColumnDescriptions)
{
    ASSERT_EQ(0, open("", "    <column datatype=\"varchar\" length=\"20\" sourcecodepage=\"ISO-8859-1\" "
                          "nullable=\"false\">name</column>\n"
                          "    <column datatype=\"DECIMAL\" precision=\"10\" scale=\"-2\">amount</column>\n"
                          "    <column datatype=\"UNSIGNED_INTEGER\" nullable=\"true\">n</column>\n"
                          "    <column datatype=\"LONGVARBINARY\">blob</column>\n"))
        << scope.text(0);
    EXPECT_EQ(kCodePageUtf8, file.tableCodePage);
    ASSERT_EQ(4u, file.columnCount);
    const BulkColumnDesc* name = file.column(1);
    EXPECT_EQ(u"name", katest::u16(name->name));
    EXPECT_EQ(SQL_VARCHAR, name->datatype);
    EXPECT_EQ(20u, name->length);
    EXPECT_EQ(kCodePageLatin1, name->sourceCodePage);
    // The LOB code page defaults to the source code page.
    EXPECT_EQ(kCodePageLatin1, name->externalCodePage);
    EXPECT_EQ(0, name->nullable);
    EXPECT_EQ(SQL_DECIMAL, file.column(2)->datatype);
    EXPECT_EQ(10u, file.column(2)->length);
    EXPECT_EQ(-2, file.column(2)->scale);
    EXPECT_EQ(SQL_C_ULONG, file.column(3)->datatype);
    EXPECT_EQ(1, file.column(3)->nullable);
    EXPECT_EQ(2, file.column(4)->nullable);
    EXPECT_EQ(4, file.column(4)->columnNumber);
    EXPECT_EQ(nullptr, file.column(5));
}

TEST_F(BulkLoadFileTest, DescriptionRulesRefuseWithTheirMessages)
{
    struct Case {
        const char* columns;
        const char* codePage;
        int opens;
        uint16_t msg;
    };
    const Case cases[] = {
        // A column without a datatype fails the open.
        {"    <column datatype=\"CHAR\" length=\"1\">a</column>\n    <column length=\"1\">b</column>\n", "UTF-8", 1,
         MSG_BULK_ATTRIBUTE_MISSING},
        // "precision" does not stand for a character column's length.
        {"    <column datatype=\"CHAR\" precision=\"1\">a</column>\n", "UTF-8", 1, MSG_BULK_ATTRIBUTE_MISSING},
        // An attribute the datatype ignores is a warning, and cleared.
        {"    <column datatype=\"DECIMAL\" precision=\"5\" scale=\"1\" sourcecodepage=\"UTF-8\">a</column>\n", "UTF-8",
         0, MSG_BULK_ATTRIBUTE_IGNORED},
        {"    <column datatype=\"UNKNOWN\">a</column>\n", "UTF-8", 1, MSG_BULK_DATATYPE_UNKNOWN},
        {"    <column datatype=\"BIT\" nullable=\"TRUE\">a</column>\n", "UTF-8", 1, MSG_BULK_ATTRIBUTE_VALUE_INVALID},
        {"    <column datatype=\"CHAR\" length=\"1\" externalfilecodepage=\"UTF-8\" "
         "externalfilecodepage=\"UTF-8\">a</column>\n",
         "UTF-8", 1, 2705},
        {"    <column datatype=\"CHAR\" length=\"1\" precision=\"1\">a</column>\n", "UTF-8", 1,
         MSG_BULK_ATTRIBUTE_CONFLICT},
        {"    <column datatype=\"CHAR\" length=\"-1\">a</column>\n", "UTF-8", 1, MSG_BULK_DESCRIPTION_STRUCTURE},
        {"    <column datatype=\"CHAR\" length=\"1\"></column>\n", "UTF-8", 1, MSG_BULK_DESCRIPTION_STRUCTURE},
        {"    <column datatype=\"CHAR\" length=\"1\">a</column>\n", "NO-SUCH-CODEPAGE", 1, MSG_BULK_CODEPAGE_UNKNOWN},
        // A code-page name longer than any name is unknown, not an overrun.
        {"    <column datatype=\"CHAR\" length=\"1\">a</column>\n", nullptr, 1, MSG_BULK_CODEPAGE_UNKNOWN},
    };
    for (const Case& c : cases) {
        scope.list.clear();
        std::string cp = c.codePage != nullptr ? c.codePage : std::string(4000, 'U');
        EXPECT_EQ(c.opens, open("", c.columns, 1, cp)) << c.columns;
        EXPECT_TRUE(posted(c.msg)) << c.columns << (scope.size() != 0 ? scope.text(0) : "");
    }
}

TEST_F(BulkLoadFileTest, DocumentStructureErrorsNameTheirPlace)
{
    const char* documents[] = {
        "<tablex codepage=\"UTF-8\"><row><column datatype=\"BIT\">a</column></row></tablex>",
        "<table><row><column datatype=\"BIT\">a</column></row></table>",
        "<table codepage=\"UTF-8\"><row></row><row></row></table>",
        "<table codepage=\"UTF-8\"><rows><column datatype=\"BIT\">a</column></rows></table>",
        "<table codepage=\"UTF-8\"><row></row></table>",
    };
    for (const char* document : documents) {
        scope.list.clear();
        write("d.xml", document);
        std::string x = path("d.xml");
        EXPECT_EQ(1, file.open(nullptr, x.c_str(), nullptr, nullptr, 1, BulkDelimiters{})) << document;
        EXPECT_TRUE(posted(MSG_BULK_DESCRIPTION_STRUCTURE)) << document << scope.text(0);
    }
    // A duplicate attribute with the spelling readers of old logs expect.
    scope.list.clear();
    write("d.xml", "<table codepage=\"UTF-8\"><row><column datatype=\"CHAR\" length=\"1\" "
                   "sourcecodepage=\"UTF-8\">a</column><column datatype=\"BIT\" datatype=\"BIT\">b</column></row>"
                   "</table>");
    std::string x = path("d.xml");
    EXPECT_EQ(1, file.open(nullptr, x.c_str(), nullptr, nullptr, 1, BulkDelimiters{}));
    // An empty description name reads no description.
    scope.list.clear();
    EXPECT_EQ(0, file.open(nullptr, "", nullptr, nullptr, 1, BulkDelimiters{}));
    EXPECT_EQ(kCodePageLatin1, file.tableCodePage);
    EXPECT_EQ(0u, file.columnCount);
}

TEST_F(BulkLoadFileTest, TheDescriptionIsFoundUnderTheWritersNameAndTheEarlierOne)
{
    // The writer cuts the extension; earlier readers only a ".csv".
    write("orders.xml", description(kTwoVarchar));
    write("orders.CSV", "a,b\n");
    std::string data = path("orders.CSV");
    ASSERT_EQ(0, file.open(data.c_str(), nullptr, nullptr, nullptr, 1, BulkDelimiters{}));
    EXPECT_EQ(2u, file.columnCount);
    write("old.dat.xml", description(kTwoVarchar));
    write("old.dat", "a,b\n");
    data = path("old.dat");
    ASSERT_EQ(0, file.open(data.c_str(), nullptr, nullptr, nullptr, 1, BulkDelimiters{}));
    EXPECT_EQ(2u, file.columnCount);
}

TEST_F(BulkLoadFileTest, FieldsOfRecords)
{
    struct Case {
        const char* data;
        std::vector<std::string> fields;
    };
    const std::vector<Case> cases = {
        {"a,\"b\"\"c\",,d\ne,f\n", {"1:a", "2:b\"c", "3:<null>", "4:d", "1:e", "2:f"}},
        {"\"\",x\n", {"1:", "2:x"}},
        {"\n", {"1:<null>"}},
        {"// header\n/* a\nblock */ x ,/* c */y\r\nz\n", {"1:x", "2:y", "1:z"}},
        {"  lead and trail  ,\"q, \"\"r\"\" \"\n", {"1:lead and trail", "2:q, \"r\" "}},
        {"a\"b,c\n", {"1:a\"b", "2:c"}},
        {"last,record", {"1:last", "2:record"}},
        // Refusals: a comment to the end, text after a closing quote, a
        // quote that never closes.
        {"a\n// no end", {"1:a", "!" + std::to_string(MSG_BULK_DATA_MALFORMED)}},
        {"\"a\"b,c\n", {"1:a", "!" + std::to_string(MSG_BULK_DATA_MALFORMED)}},
        {"a,\"open", {"1:a", "!" + std::to_string(MSG_BULK_QUOTE_UNCLOSED)}},
    };
    for (const Case& c : cases) {
        scope.list.clear();
        ASSERT_EQ(0, open(c.data, kTwoVarchar)) << c.data;
        EXPECT_EQ(c.fields, fields()) << c.data;
    }
}

// Tabs and spaces inside an unquoted value stay as they were; those before
// its end go, also when the run crosses a block.
TEST_F(BulkLoadFileTest, BlanksInsideAValueKeepTheirKind)
{
    const std::string v(1020, 'v');
    struct Case {
        std::string data;
        std::vector<std::string> fields;
    };
    const std::vector<Case> cases = {
        {"a\tb,c \t d\t \n", {"1:a\tb", "2:c \t d"}}, {"x\t \t\r\ny \t\n", {"1:x", "1:y"}},
        {"last\t\tone \t", {"1:last\t\tone"}},        {v + "\t \t \t\t w,z\n", {"1:" + v + "\t \t \t\t w", "2:z"}},
        {v + "\t \t \t\t ,z\n", {"1:" + v, "2:z"}},
    };
    for (const Case& c : cases) {
        scope.list.clear();
        ASSERT_EQ(0, open(c.data, kTwoVarchar)) << c.data;
        EXPECT_EQ(c.fields, fields()) << c.data;
    }
    scope.list.clear();
    ASSERT_EQ(0, open("\xFF\xFE" + utf16("a\t b\t,c\n", false), kTwoVarchar, 1, "UTF-16LE"));
    EXPECT_EQ((std::vector<std::string>{"1:" + utf16("a\t b", false), "2:" + utf16("c", false)}), fields());
}

TEST_F(BulkLoadFileTest, TheOffsetOfMalformedDataIsReported)
{
    ASSERT_EQ(0, open("\"a\"b,c\n", kTwoVarchar));
    EXPECT_EQ((std::vector<std::string>{"1:a", "!" + std::to_string(MSG_BULK_DATA_MALFORMED)}), fields());
    // Just past the first character after the closing quote.
    EXPECT_NE(std::string::npos, scope.text(0).find("offset 4")) << scope.text(0);
}

TEST_F(BulkLoadFileTest, BinaryColumnsLoseTheirPrefix)
{
    const char columns[] = "    <column datatype=\"VARBINARY\" length=\"4\">b</column>\n"
                           "    <column datatype=\"CHAR\" length=\"4\">c</column>\n";
    ASSERT_EQ(0, open("0x1F,0x1F\n0x,0x\n", columns));
    EXPECT_EQ((std::vector<std::string>{"1:1F", "2:0x1F", "1:", "2:0x"}), fields());
}

TEST_F(BulkLoadFileTest, ByteOrderMarksMustFitTheCodePage)
{
    ASSERT_EQ(0, open("\xEF\xBB\xBFx,y\n", kTwoVarchar));
    EXPECT_EQ((std::vector<std::string>{"1:x", "2:y"}), fields());
    scope.list.clear();
    ASSERT_EQ(0, open("\xEF\xBB\xBFx\n", kTwoVarchar, 1, "ISO-8859-1"));
    EXPECT_EQ(std::vector<std::string>{"!" + std::to_string(MSG_BULK_BYTE_ORDER_MARK_INVALID)}, fields());
}

TEST_F(BulkLoadFileTest, Utf16DataInBothByteOrders)
{
    ASSERT_EQ(0, open("\xFF\xFE" + utf16("ab,\"c\"\n", false), kTwoVarchar, 1, "UTF-16LE"));
    EXPECT_EQ((std::vector<std::string>{"1:" + utf16("ab", false), "2:" + utf16("c", false)}), fields());
    scope.list.clear();
    // Big-endian data comes back in little-endian units.
    ASSERT_EQ(0, open("\xFE\xFF" + utf16("ab\n", true), kTwoVarchar, 1, "UTF-16BE"));
    EXPECT_EQ((std::vector<std::string>{"1:" + utf16("ab", false)}), fields());
    scope.list.clear();
    // An odd number of bytes cannot be UTF-16.
    ASSERT_EQ(0, open(utf16("ab\n", false) + "x", kTwoVarchar, 1, "UTF-16LE"));
    EXPECT_EQ(std::vector<std::string>{"!" + std::to_string(MSG_BULK_DATA_MALFORMED)}, fields());
}

TEST_F(BulkLoadFileTest, LongValuesComeInBlockSizedChunks)
{
    std::string value(3000, 'v');
    ASSERT_EQ(0, open(value + ",\"" + std::string(1022, 'q') + "\"\"\"\"w\"\n", kTwoVarchar));
    std::vector<uint64_t> lengths;
    std::vector<int32_t> flags;
    std::string second;
    int32_t continued = 0;
    for (int i = 0; i < 3; ++i) {
        const uint8_t* data = nullptr;
        uint64_t length = 0;
        int32_t isNull = 0;
        int64_t cp = 0;
        ASSERT_EQ(0, file.readRecord(&data, &length, &continued, &isNull, &cp));
        lengths.push_back(length);
        flags.push_back(continued);
    }
    EXPECT_EQ((std::vector<uint64_t>{1024, 1024, 952}), lengths);
    EXPECT_EQ((std::vector<int32_t>{1, 1, 0}), flags);
    // Doubled quotes across a block boundary stay one quote each.
    std::vector<std::string> rest = fields();
    ASSERT_EQ(1u, rest.size());
    EXPECT_EQ("2:" + std::string(1022, 'q') + "\"\"w", rest[0]);
}

TEST_F(BulkLoadFileTest, AQuotedValueThatFillsItsLastChunkEndsAtItsQuote)
{
    // The closing quote comes when the chunk is exactly full: the value
    // ends there, and the record goes on with the next field.
    for (size_t length : {size_t{1024}, size_t{2048}, size_t{512}}) {
        SCOPED_TRACE(length);
        const std::string value(length, 'q');
        ASSERT_EQ(0, open("\"" + value + "\",b\nc,d\n", kTwoVarchar));
        EXPECT_EQ((std::vector<std::string>{"1:" + value, "2:b", "1:c", "2:d"}), fields());
        // The same in 16-bit units: 512 units fill a 1 KB chunk.
        ASSERT_EQ(0, open("\xFF\xFE" + utf16("\"" + value + "\",b\nc,d\n", false), kTwoVarchar, 1, "UTF-16LE"));
        std::vector<std::string> got = fields();
        ASSERT_EQ(4u, got.size()) << (got.empty() ? "" : got.back().substr(0, 40));
        EXPECT_EQ("1:" + utf16(value, false), got[0]);
        EXPECT_EQ("1:" + utf16("c", false), got[2]);
    }
}

TEST_F(BulkLoadFileTest, LobReferencesReadTheSideFileBesideTheDataFile)
{
    const char columns[] = "    <column datatype=\"LONGVARBINARY\">b</column>\n"
                           "    <column datatype=\"LONGVARCHAR\" sourcecodepage=\"ISO-8859-1\">c</column>\n";
    write("data_000001.lob", std::string(1024, 'x'));
    write("data_000002.lob", std::string(1025, 'y'));
    ASSERT_EQ(0, open("{TW LOBFILE \"data_000001.lob\"},{tw lobfile \"data_000002.lob\" }\n", columns));
    std::vector<uint64_t> lengths;
    std::vector<int64_t> codePages;
    int32_t continued = 0;
    while (true) {
        const uint8_t* data = nullptr;
        uint64_t length = 0;
        int32_t isNull = 0;
        int64_t cp = 0;
        ASSERT_EQ(0, file.readRecord(&data, &length, &continued, &isNull, &cp)) << scope.text(0);
        if (data == nullptr)
            break;
        lengths.push_back(length);
        codePages.push_back(cp);
    }
    // A file of one block is one chunk; one byte more makes two.
    EXPECT_EQ((std::vector<uint64_t>{1024, 1024, 1}), lengths);
    EXPECT_EQ((std::vector<int64_t>{kCodePageUtf8, kCodePageLatin1, kCodePageLatin1}), codePages);
}

TEST_F(BulkLoadFileTest, LobReferencesThatLeaveTheDirectoryAreRefused)
{
    const char columns[] = "    <column datatype=\"LONGVARBINARY\">b</column>\n";
    struct Case {
        std::string data;
        uint16_t msg;
    };
    const Case cases[] = {
        {"{TW LOBFILE \"../escape.lob\"}\n", MSG_BULK_LOB_NAME_INVALID},
        {"{TW LOBFILE \"/etc/passwd\"}\n", MSG_BULK_LOB_NAME_INVALID},
        {"{TW LOBFILE \"..\"}\n", MSG_BULK_LOB_NAME_INVALID},
        {"{TW LOBFILE \"" + std::string(1025, 'n') + "\"}\n", MSG_BULK_DATA_MALFORMED},
        {"{TW LOBFILE \"unterminated", MSG_BULK_DATA_MALFORMED},
        {"{TW LOBFILE x}\n", MSG_BULK_DATA_MALFORMED},
        // A reference in a field that has no column.
        {"0x00,{TW LOBFILE \"a.lob\"}\n", MSG_BULK_DATA_MALFORMED},
    };
    write("a.lob", "a");
    for (const Case& c : cases) {
        scope.list.clear();
        ASSERT_EQ(0, open(c.data, columns));
        std::vector<std::string> got = fields();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ("!" + std::to_string(c.msg), got.back()) << c.data.substr(0, 40);
    }
    // A missing side file fails with the open's own diagnostic.
    scope.list.clear();
    ASSERT_EQ(0, open("{TW LOBFILE \"missing.lob\"}\n", columns));
    std::vector<std::string> got = fields();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ('!', got[0][0]);
}

TEST_F(BulkLoadFileTest, SkippingAndTargetedFields)
{
    ASSERT_EQ(0, open("a,b\nc,d\ne,f\n", kTwoVarchar));
    ASSERT_EQ(0, file.skipRows(2));
    EXPECT_EQ((std::vector<std::string>{"1:e", "2:f"}), fields());
    scope.list.clear();
    ASSERT_EQ(0, open(",b\n", kTwoVarchar));
    ASSERT_EQ(0, file.setTargetField(2));
    EXPECT_EQ((std::vector<std::string>{"2:b"}), fields());
    EXPECT_EQ(1u, file.skippedCount);
    EXPECT_EQ(1u, file.skippedNulls[0]);
    // A target beyond the flags a reader keeps is refused.
    EXPECT_EQ(1, file.setTargetField(KA_BULK_MAX_SKIPPED_FIELDS + 1));
    EXPECT_TRUE(posted(MSG_BULK_TOO_MANY_FIELDS));
}

TEST_F(BulkLoadFileTest, ARejectedRecordIsCopiedToTheDiscardFile)
{
    ASSERT_EQ(0, open("a,b\n\"c\nc\",d\ne,f\n", kTwoVarchar, 1, "UTF-8", "discard.txt"));
    std::vector<std::string> first = fields();
    ASSERT_EQ(0, open("a,b\n\"c\nc\",d\ne,f\n", kTwoVarchar, 1, "UTF-8", "discard.txt"));
    const uint8_t* data = nullptr;
    uint64_t length = 0;
    int32_t continued = 0;
    int32_t isNull = 0;
    int64_t cp = 0;
    ASSERT_EQ(0, file.skipRows(1));
    ASSERT_EQ(0, file.readRecord(&data, &length, &continued, &isNull, &cp));
    ASSERT_EQ(0, file.readRecordCopy(&data, &length, &continued, &isNull, &cp));
    EXPECT_EQ((std::vector<std::string>{"1:e", "2:f"}), fields());
    ASSERT_EQ(0, file.closeFiles());
    std::ifstream in(path("discard.txt"), std::ios::binary);
    std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Two banners (one per open), then the record's bytes as they stand.
    EXPECT_EQ(2u, std::count(copied.begin(), copied.end(), '/') / 2) << copied;
    EXPECT_EQ("\"c\nc\",d\n", copied.substr(copied.size() - 8)) << copied;
    EXPECT_EQ(6u, first.size());
}

}  // namespace
