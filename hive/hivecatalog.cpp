// The Hive statement's SQLTables and SQLColumns hooks. The listing runs
// "SHOW DATABASES", "SHOW TABLES IN" each database and "DESCRIBE [FORMATTED]"
// each table the arguments select, on the statement itself with every name
// quoted, reads the results by the columns they describe, and keeps the
// catalog rows until the framework has read them through catalogFetchRow and
// catalogColumnData. A table whose description fails is left out with a
// warning; a failing SHOW fails the call.
#include "hive/hivecatalog.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "catalog/basecols.h"
#include "catalog/basetabl.h"
#include "catalog/catalognames.h"
#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hivecatalogparse.h"
#include "hive/hivecatalogtext.h"
#include "hive/hiveconnection.h"
#include "hive/hivedesc.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "odbc/basestmterr.h"

namespace {

// Room of a SHOW or DESCRIBE text: two quoted names of up to 128 characters,
// each of which may double every backquote, and the words around them.
constexpr int32_t kStatementUnits = 1200;
// Bytes of one piece of a cell read from the server.
constexpr int64_t kPieceBytes = 4096;
// Columns of a DESCRIBE result: name, type and comment.
constexpr uint16_t kDescribeColumns = 3;
// DECIMAL_DIGITS of a DECIMAL without precision and scale when neither
// limit was set, and of a timestamp: the fraction digits Hive keeps.
constexpr int32_t kUnlimitedDecimalDigits = 6;
constexpr int32_t kTimestampFractionDigits = 9;

// Result columns of the two functions.
enum : uint16_t {
    kTableCat = 1,
    kTableSchem = 2,
    kTableName = 3,
    kTableType = 4,
    kTableRemarks = 5,
};
enum : uint16_t {
    kColumnName = 4,
    kDataType = 5,
    kTypeName = 6,
    kColumnSize = 7,
    kBufferLength = 8,
    kDecimalDigits = 9,
    kNumPrecRadix = 10,
    kNullable = 11,
    kRemarks = 12,
    kCharOctetLength = 16,
    kOrdinalPosition = 17,
    kIsNullable = 18,
};

const uint16_t* u16(const char16_t* s) noexcept
{
    return reinterpret_cast<const uint16_t*>(s);
}

// What a malformed byte or unit becomes in a copy.
constexpr UChar32 kReplacement = 0xFFFD;

// A new UTF-16 copy of UTF-8 bytes (malformed bytes become U+FFFD); empty
// after the out-of-memory diagnostic.
RamPtr<uint16_t> fromUtf8(const char* data, int32_t length) noexcept
{
    if (length < 0)
        length = 0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t units = 0;
    u_strFromUTF8WithSub(nullptr, 0, &units, data, length, kReplacement, nullptr, &status);
    RamPtr<uint16_t> out = ramMake<uint16_t>(static_cast<size_t>(units) + 1);
    if (!out)
        return out;
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.get()), units + 1, &units, data, length, kReplacement, nullptr,
                         &status);
    out.get()[units] = 0;
    return out;
}

// Makes room for `units` units in *block, keeping what it holds. 0, or 1
// with *block untouched.
int16_t growUnits(RamPtr<uint16_t>* block, size_t units) noexcept
{
    void* grown = block->get();
    if (ramRealloc(&grown, units * sizeof(uint16_t)) != 0)
        return 1;
    (void)block->release();
    block->reset(static_cast<uint16_t*>(grown));
    return 0;
}

// Makes room for at least `units` units in *block of *capacity units,
// doubling it so that a buffer kept across rows grows a few times at most.
// 0, or 1 with *block untouched.
int16_t reserveUnits(RamPtr<uint16_t>* block, size_t* capacity, size_t units) noexcept
{
    if (units <= *capacity)
        return 0;
    const size_t grown = units > 2 * *capacity ? units : 2 * *capacity;
    if (growUnits(block, grown) != 0)
        return 1;
    *capacity = grown;
    return 0;
}

// Lower-cases NUL-terminated UTF-16 text in place where the lower-case form
// has the same width.
void lowerInPlace(uint16_t* s) noexcept
{
    if (s == nullptr)
        return;
    const int32_t n = static_cast<int32_t>(baseCatalogTextLength(s));
    for (int32_t i = 0; i < n;) {
        UChar32 c = 0;
        const int32_t start = i;
        U16_NEXT(s, i, n, c);
        const UChar32 f = u_tolower(c);
        if (U16_LENGTH(f) == i - start) {
            int32_t w = start;
            U16_APPEND_UNSAFE(s, w, f);
        }
    }
}

// Sets the cell to a UTF-8 copy of UTF-16 text (null: NULL), in the block
// it has when that is large enough, else in one that doubles. 0, or 1.
int16_t setCellText(HiveMetadataCell* c, const uint16_t* text) noexcept
{
    if (text == nullptr) {
        c->length = -1;
        return 0;
    }
    const auto* src = reinterpret_cast<const UChar*>(text);
    UErrorCode status = U_ZERO_ERROR;
    int32_t bytes = 0;
    u_strToUTF8WithSub(c->data.get(), static_cast<int32_t>(c->capacity), &bytes, src, -1, kReplacement, nullptr,
                       &status);
    if (static_cast<size_t>(bytes) + 1 > c->capacity) {
        const size_t need = static_cast<size_t>(bytes) + 1;
        const size_t grown = c->capacity * 2 > need ? c->capacity * 2 : need;
        void* block = c->data.get();
        if (ramRealloc(&block, grown) != 0)
            return 1;
        (void)c->data.release();
        c->data.reset(static_cast<char*>(block));
        c->capacity = grown;
        status = U_ZERO_ERROR;
        u_strToUTF8WithSub(c->data.get(), static_cast<int32_t>(c->capacity), &bytes, src, -1, kReplacement, nullptr,
                           &status);
    }
    c->data.get()[bytes] = 0;
    c->length = bytes;
    return 0;
}

// Appends a UTF-8 copy of UTF-16 text (null: NULL) as a cell.
int16_t addCell(KaArray* to, const uint16_t* text) noexcept
{
    std::unique_ptr<HiveMetadataCell> c(new HiveMetadataCell());
    if (c == nullptr || setCellText(c.get(), text) != 0 || to->append(c.get()) != 0)
        return 1;
    (void)c.release();
    return 0;
}

// Cell `index` of the array set to text: the cell there already, or a new
// one appended. 0, or 1.
int16_t putCell(KaArray* to, size_t index, const uint16_t* text) noexcept
{
    if (index < to->count)
        return setCellText(static_cast<HiveMetadataCell*>(to->at(index)), text);
    return addCell(to, text);
}

// Column `column` of the statement's current server row as UTF-16 text in
// *buffer (of *capacity units, kept and grown by doubling across cells),
// read piece by piece so that no value is cut; *isNull for NULL.
int16_t readServerCell(HiveStatement* s, uint16_t column, RamPtr<uint16_t>* buffer, size_t* capacity,
                       bool* isNull) noexcept
{
    *isNull = true;
    BaseConnection* conn = s->connection;
    const int64_t savedCp = conn->wideCharCodePage;
    conn->wideCharCodePage = kCodePageUtf16LE;
    s->resetLongData();
    int64_t units = 0;
    int16_t rc = 0;
    uint16_t piece[kPieceBytes / 2];
    for (;;) {
        int64_t indicator = 0;
        BaseOutString out(piece, kPieceBytes, &indicator, &indicator);
        const KaDiagMark mark;
        if (s->getColumnData(column, SQL_C_WCHAR, &out) != 0) {
            rc = 1;
            break;
        }
        if (indicator == SQL_NULL_DATA)
            break;
        const int64_t usable = kPieceBytes - 2;
        const int64_t got = indicator == SQL_NO_TOTAL || indicator > usable ? usable : indicator;
        if (reserveUnits(buffer, capacity, static_cast<size_t>(units + got / 2 + 1)) != 0) {
            rc = 1;
            break;
        }
        std::memcpy(buffer->get() + units, piece, static_cast<size_t>(got / 2) * sizeof(uint16_t));
        units += got / 2;
        buffer->get()[units] = 0;
        *isNull = false;
        // The truncation warning of a piece tells the statement that more
        // follows; it is no news to the application.
        const bool more = s->advanceLongData(usable) != 0;
        mark.drop();
        if (!more)
            break;
    }
    s->resetLongData();
    conn->wideCharCodePage = savedCp;
    return rc;
}

}  // namespace

namespace {

// Runs one of the listing's statements on the statement and reads its
// result into `out`: whole, or row by row into perRow. 0, or 1 with the
// server's diagnostics posted.
int16_t runCatalogQuery(HiveStatement* s, const uint16_t* text, HiveMetadataResult* out, HiveMetadataCall* call,
                        HiveMetadataRowFn perRow, void* context) noexcept
{
    HiveConnection* conn = s->hiveConnection();
    hiveStatementSettingsOf(conn, &s->settings);
    s->preparedKind = HIVE_KIND_OTHER;
    s->closeAfterExecute = 0;
    s->catalogListing.internalQuery = true;
    s->metadataCall = call;
    int16_t rc = s->executeText(text, static_cast<size_t>(baseCatalogTextLength(text)));
    s->metadataCall = nullptr;
    if (rc == 0) {
        out->columns = s->resultColumnCount;
        RamPtr<uint16_t> value;
        size_t valueCapacity = 0;
        for (uint16_t c = 1; c <= out->columns && rc == 0; ++c) {
            const BaseIRDRecord* rec = s->ird != nullptr ? s->ird->irdRecord(c) : nullptr;
            rc = addCell(&out->names, rec != nullptr && rec->name != nullptr ? rec->name : u16(u""));
        }
        while (rc == 0 && out->columns != 0) {
            int16_t end = 0;
            if (s->fetchRow(&end) != 0) {
                rc = 1;
                break;
            }
            if (end != 0)
                break;
            // A result read row by row keeps one row of cells and reads each
            // row into them; a whole result appends.
            const size_t first = perRow != nullptr ? 0 : out->cells.count;
            for (uint16_t c = 1; c <= out->columns && rc == 0; ++c) {
                bool isNull = true;
                rc = readServerCell(s, c, &value, &valueCapacity, &isNull);
                // Every cell keeps its place: a NULL is a cell without text.
                if (rc == 0)
                    rc = putCell(&out->cells, first + c - 1, isNull ? nullptr : value.get());
            }
            if (rc == 0 && perRow != nullptr) {
                rc = out->makeViews();
                if (rc == 0)
                    rc = perRow(context, *out);
            }
        }
        if (perRow != nullptr)
            out->cells.deleteAll();
        if (s->closeResult() != 0)
            rc = 1;
    }
    s->catalogListing.internalQuery = false;
    if (rc == 0)
        rc = out->makeViews();
    return rc;
}

}  // namespace

int16_t hiveCatalogQuery(HiveStatement* s, const uint16_t* text, HiveMetadataResult* out,
                         HiveMetadataCall* call) noexcept
{
    return runCatalogQuery(s, text, out, call, nullptr, nullptr);
}

int16_t hiveCatalogQueryRows(HiveStatement* s, const uint16_t* text, HiveMetadataResult* out, HiveMetadataCall* call,
                             HiveMetadataRowFn perRow, void* context) noexcept
{
    return runCatalogQuery(s, text, out, call, perRow, context);
}

bool hiveLinkFailedSince(const KaDiagMark& mark) noexcept
{
    KaErrorList* list = mark.list();
    for (size_t i = mark.start(); list != nullptr && i < list->recordCount(); ++i)
        if (KaError* e = list->recordAt(i); e != nullptr && e->sqlstateMsg == kBaseIdxLinkFailure)
            return true;
    return false;
}

namespace {

bool cellEquals(const HiveCatalogCell& c, const char* text) noexcept
{
    const size_t n = std::strlen(text);
    return c.length >= 0 && static_cast<size_t>(c.length) == n && std::memcmp(c.data, text, n) == 0;
}

// The database a listing confined to the current one covers.
const uint16_t* currentDatabase(const HiveConnection* conn) noexcept
{
    return conn->catalogDatabase != nullptr ? conn->catalogDatabase
           : conn->databaseName != nullptr  ? conn->databaseName
                                            : u16(u"default");
}

// Spark's database of global temporary views, which SHOW DATABASES leaves
// out.
constexpr char16_t kGlobalTempDatabase[] = u"global_temp";

// The databases a listing covers, as HiveMetadataCell elements of `out`:
// the current one alone, or those of SHOW DATABASES (with Spark's global
// temporary views' database) that the schema pattern selects. 0, or 1 when
// SHOW DATABASES failed.
int16_t listDatabases(HiveStatement* s, bool currentOnly, const uint16_t* schemaPattern, KaArray* out) noexcept
{
    HiveConnection* conn = s->hiveConnection();
    if (currentOnly)
        return addCell(out, currentDatabase(conn));
    HiveMetadataResult r;
    if (hiveCatalogQuery(s, u16(u"SHOW DATABASES"), &r) != 0)
        return 1;
    bool globalTemp = false;
    for (int32_t row = 0; row < r.rows(); ++row) {
        const HiveCatalogCell& c = r.cell(row, 0);
        if (c.length < 0)
            continue;
        globalTemp |= cellEquals(c, "global_temp");
        RamPtr<uint16_t> name = fromUtf8(c.data, c.length);
        if (!name)
            return 1;
        if (s->matchName(name.get(), schemaPattern, 0) != 0 && addCell(out, name.get()) != 0)
            return 1;
    }
    if (conn->spark21 != 0 && !globalTemp && s->matchName(u16(kGlobalTempDatabase), schemaPattern, 0) != 0)
        return addCell(out, u16(kGlobalTempDatabase));
    return 0;
}

// How SHOW TABLES listed a table: the second cell of its pair in the list
// listTables makes.
constexpr char16_t kListedTable[] = u"0";             // a table or view
constexpr char16_t kListedSessionTemporary[] = u"1";  // a session's temporary view
constexpr char16_t kListedGlobalTemporary[] = u"2";   // a temporary view of the database

// The tables of one database that the table pattern selects, as pairs of
// cells: the name, and how it was listed (kListed*). None when the server
// refuses to list them, unless the connection asks for the server's
// errors. 0, or 1 when SHOW TABLES failed.
int16_t listTables(HiveStatement* s, const uint16_t* database, const uint16_t* tablePattern, KaArray* out) noexcept
{
    uint16_t text[kStatementUnits];
    if (hiveShowTablesText(database, text, kStatementUnits) >= kStatementUnits) {
        basePostErrorMsg(kBaseIdxBadLength, MSG_SCHEMA_NAME_TOO_LONG)
            ->addParamW(database)
            ->addParamUnsigned(kHiveMaxNameLength);
        return 1;
    }
    HiveMetadataResult r;
    const KaDiagMark mark;
    if (hiveCatalogQuery(s, text, &r) != 0) {
        if (hiveLinkFailedSince(mark) || s->hiveConnection()->returnNativeCatalogErrors != 0)
            return 1;
        // One database the user may not read must not fail the whole
        // listing: it has no tables to give.
        mark.drop();
        return 0;
    }
    HiveShowTablesLayout layout;
    if (r.columns == 0 || hiveShowTablesLayout(r.nameView.get(), static_cast<int16_t>(r.columns), &layout) != 0)
        return 0;
    for (int32_t row = 0; row < r.rows(); ++row) {
        const HiveCatalogCell& t = r.cell(row, layout.table);
        if (t.length <= 0)
            continue;
        RamPtr<uint16_t> name = fromUtf8(t.data, t.length);
        if (!name)
            return 1;
        if (s->matchName(name.get(), tablePattern, 1) == 0)
            continue;
        const bool temporary = layout.temporary >= 0 && (cellEquals(r.cell(row, layout.temporary), "1") ||
                                                         cellEquals(r.cell(row, layout.temporary), "true"));
        // A temporary view that belongs to a database (Spark's global
        // ones) is described in it; a session's own by its bare name.
        const bool inDatabase = layout.database >= 0 && r.cell(row, layout.database).length > 0;
        const char16_t* listed = !temporary   ? kListedTable
                                 : inDatabase ? kListedGlobalTemporary
                                              : kListedSessionTemporary;
        if (addCell(out, name.get()) != 0 || addCell(out, u16(listed)) != 0)
            return 1;
    }
    return 0;
}

// A new UTF-16 copy of cell i of such a list; empty when memory ran out.
RamPtr<uint16_t> cellText(const KaArray& cells, size_t i) noexcept
{
    const auto* c = static_cast<const HiveMetadataCell*>(cells.at(i));
    return fromUtf8(c->data.get(), c->length);
}

// Describes one table (formatted: DESCRIBE FORMATTED). A failure that
// concerns only this table sets *skip and leaves a 01000 warning naming it
// (the server's own error instead, and 1, with
// ReturnNativeErrorsFromCatalogFunctions on); a lost link returns 1.
int16_t describeTable(HiveStatement* s, const uint16_t* database, const uint16_t* table, bool formatted, bool temporary,
                      bool globalTemporary, HiveMetadataResult* out, bool* skip) noexcept
{
    HiveConnection* conn = s->hiveConnection();
    *skip = false;
    uint16_t text[kStatementUnits];
    if (hiveDescribeText(database, table, formatted, temporary, globalTemporary, true, text, kStatementUnits) >=
        kStatementUnits) {
        basePostErrorMsg(kBaseIdxBadLength, MSG_TABLE_NAME_TOO_LONG)
            ->addParamW(table)
            ->addParamUnsigned(kHiveMaxNameLength);
        return 1;
    }
    const KaDiagMark mark;
    if (hiveCatalogQuery(s, text, out) == 0)
        return 0;
    if (hiveLinkFailedSince(mark) || conn->returnNativeCatalogErrors != 0)
        return 1;
    // One table the user may not read must not fail the whole listing.
    RamPtr<uint16_t> reason;
    if (mark.posted() != 0)
        if (KaError* e = mark.list()->recordAt(mark.start()); e != nullptr && e->messageW() != nullptr)
            reason.reset(baseCatalogCopyText(e->messageW(), SQL_NTS));
    mark.drop();
    uint16_t qualified[kStatementUnits];
    const int32_t n = static_cast<int32_t>(baseCatalogTextLength(database));
    const int32_t m = static_cast<int32_t>(baseCatalogTextLength(table));
    if (n + m + 2 < kStatementUnits) {
        std::memcpy(qualified, database, static_cast<size_t>(n) * sizeof(uint16_t));
        qualified[n] = u'.';
        std::memcpy(qualified + n + 1, table, static_cast<size_t>(m) * sizeof(uint16_t));
        qualified[n + 1 + m] = 0;
    } else {
        qualified[0] = 0;
    }
    basePostWarningMsg(kBaseIdxGeneralWarning, MSG_HIVE_CATALOG_TABLE_SKIPPED)
        ->addParamW(qualified)
        ->addParamW(reason ? reason.get() : u16(u""));
    *skip = true;
    return 0;
}

// One table (or, in a walk of the databases alone, one database) that a
// listing reaches.
struct ListedTable {
    const uint16_t* database;
    const uint16_t* name;  // null in a walk of the databases alone
    bool temporary;        // a temporary view ...
    bool globalTemporary;  // ... of the database (Spark's global ones)
};

// The walk SQLTables and SQLColumns share: the databases the schema
// arguments select (the current one alone with currentOnly) and, unless
// databasesOnly, in each the tables the table pattern selects, each handed
// to `visit` (0, or 1 to end the walk and fail the call). 0, or 1 when a
// SHOW failed, memory ran out or a visit failed.
template <class Visit>
int16_t walkTables(HiveStatement* s, bool currentOnly, const uint16_t* schemaPattern, const uint16_t* tablePattern,
                   bool databasesOnly, Visit&& visit) noexcept
{
    KaArray databases(0, KaArray::ownsElements);
    if (listDatabases(s, currentOnly, schemaPattern, &databases) != 0)
        return 1;
    for (size_t d = 0; d < databases.count; ++d) {
        const RamPtr<uint16_t> db = cellText(databases, d);
        if (!db)
            return 1;
        if (databasesOnly) {
            if (visit(ListedTable{db.get(), nullptr, false, false}) != 0)
                return 1;
            continue;
        }
        KaArray tables(0, KaArray::ownsElements);
        if (listTables(s, db.get(), tablePattern, &tables) != 0)
            return 1;
        for (size_t t = 0; t + 1 < tables.count; t += 2) {
            const RamPtr<uint16_t> name = cellText(tables, t);
            const RamPtr<uint16_t> listed = cellText(tables, t + 1);
            if (!name || !listed)
                return 1;
            const uint16_t how = listed.get()[0];
            if (visit(ListedTable{db.get(), name.get(), how != kListedTable[0], how == kListedGlobalTemporary[0]}) != 0)
                return 1;
        }
    }
    return 0;
}

}  // namespace

// ---- Metadata results -----------------------------------------------------------------------

HiveMetadataCell::~HiveMetadataCell() = default;

// Every array here holds what the server sent (rows, cells, names): they double
// as they grow (growStep 0), so that a large warehouse is read in linear time.
HiveMetadataResult::HiveMetadataResult() noexcept : names(0, KaArray::ownsElements), cells(0, KaArray::ownsElements) {}

HiveMetadataResult::~HiveMetadataResult() = default;

int32_t HiveMetadataResult::rows() const noexcept
{
    return columns == 0 ? 0 : static_cast<int32_t>(cells.count / columns);
}

int16_t HiveMetadataResult::makeViews() noexcept
{
    // A result read row by row makes them again for each row, in the same
    // blocks.
    auto fill = [](RamPtr<HiveCatalogCell>* views, size_t* capacity, const KaArray& from) noexcept -> int16_t {
        if (from.count + 1 > *capacity) {
            views->reset();
            *capacity = 0;
            *views = ramMake<HiveCatalogCell>(from.count + 1);
            if (!*views)
                return 1;
            *capacity = from.count + 1;
        }
        for (size_t i = 0; i < from.count; ++i) {
            const auto* c = static_cast<const HiveMetadataCell*>(from.at(i));
            views->get()[i] = HiveCatalogCell{c->length >= 0 ? c->data.get() : nullptr, c->length};
        }
        return 0;
    };
    return fill(&view, &viewCapacity, cells) != 0 || fill(&nameView, &nameViewCapacity, names) != 0 ? 1 : 0;
}

const HiveCatalogCell& HiveMetadataResult::cell(int32_t row, int32_t column) const noexcept
{
    return view.get()[static_cast<size_t>(row) * columns + static_cast<size_t>(column)];
}

// ---- The listing ------------------------------------------------------------------------------

HiveCatalogRow::~HiveCatalogRow()
{
    if (!borrowed)
        for (uint16_t*& t : text)
            ramFree(t);
}

void HiveCatalogRow::setText(uint16_t column, uint16_t* value) noexcept
{
    if (!borrowed)
        ramFree(text[column - 1]);
    text[column - 1] = value;
    isNumber[column - 1] = false;
}

void HiveCatalogRow::setNumber(uint16_t column, int32_t value) noexcept
{
    number[column - 1] = value;
    isNumber[column - 1] = true;
}

namespace {

// How a cell of a listing row is written: a kind byte, then a 32-bit number,
// or a 32-bit length in UTF-16 units and the units.
enum : uint8_t { kListedNull = 0, kListedText = 1, kListedNumber = 2 };

// Bytes of the listing's stream kept in memory before it spills to a file.
constexpr uint64_t kListingBlockBytes = 65536;

// Reads exactly n bytes of the stream. 0, or 1 when it ends early.
int16_t readExactly(KaTmpFileSource* from, void* out, uint64_t n) noexcept
{
    auto* at = static_cast<uint8_t*>(out);
    while (n > 0) {
        uint64_t got = 0;
        int32_t more = 0;
        if (from->read(at, n, &got, &more) != 0 || got == 0)
            return 1;
        at += got;
        n -= got;
    }
    return 0;
}

}  // namespace

HiveCatalogListing::HiveCatalogListing() noexcept
{
    row.borrowed = true;
}

HiveCatalogListing::~HiveCatalogListing()
{
    clear();
}

void HiveCatalogListing::dropRows() noexcept
{
    store.reset();
    textBuffer.reset();
    textCapacity = 0;
    for (uint16_t*& t : row.text)
        t = nullptr;
    count = 0;
    position = 0;
    reading = false;
}

void HiveCatalogListing::clear() noexcept
{
    dropRows();
    stage.reset();
    stageCapacity = 0;
    active = false;
    onRead = nullptr;
}

int16_t HiveCatalogListing::add(std::unique_ptr<HiveCatalogRow> added) noexcept
{
    return added == nullptr ? 1 : add(*added);
}

int16_t HiveCatalogListing::reserveStage(size_t units) noexcept
{
    return reserveUnits(&stage, &stageCapacity, units);
}

int16_t HiveCatalogListing::add(const HiveCatalogRow& added) noexcept
{
    int16_t rc = 0;
    if (store == nullptr)
        store.reset(new KaTmpFileSource(kListingBlockBytes));
    if (store == nullptr)
        rc = 1;
    for (uint16_t c = 0; c < kHiveCatalogColumns && rc == 0; ++c) {
        uint8_t cell[1 + sizeof(uint32_t)];
        if (added.isNumber[c]) {
            cell[0] = kListedNumber;
            std::memcpy(cell + 1, &added.number[c], sizeof(int32_t));
            rc = store->append(cell, sizeof cell) != 0 ? 1 : 0;
        } else if (added.text[c] == nullptr) {
            cell[0] = kListedNull;
            rc = store->append(cell, 1) != 0 ? 1 : 0;
        } else {
            cell[0] = kListedText;
            const auto units = static_cast<uint32_t>(baseCatalogTextLength(added.text[c]));
            std::memcpy(cell + 1, &units, sizeof units);
            rc =
                store->append(cell, sizeof cell) != 0 || store->append(added.text[c], uint64_t{units} * 2) != 0 ? 1 : 0;
        }
    }
    if (rc == 0)
        ++count;
    return rc;
}

// A stream that ends early or holds an unknown cell kind was damaged on
// disk: the call fails with a general error.
int16_t HiveCatalogListing::next(int16_t* end) noexcept
{
    const KaDiagMark mark;
    const int16_t rc = readRow(end);
    if (rc != 0 && mark.posted() == 0)
        basePostError(kBaseIdxGeneralError);
    return rc;
}

int16_t HiveCatalogListing::readRow(int16_t* end) noexcept
{
    *end = 0;
    if (position >= count) {
        *end = 1;
        return 0;
    }
    if (!reading) {
        if (store->flush() != 0)
            return 1;
        reading = true;
    }
    // Every text of the row goes into one buffer the listing keeps: the
    // pointers are set once the row is whole, since the buffer may move.
    size_t used = 0;
    uint32_t units[kHiveCatalogColumns] = {};
    for (uint16_t c = 0; c < kHiveCatalogColumns; ++c) {
        uint8_t kind = 0;
        if (readExactly(store.get(), &kind, 1) != 0)
            return 1;
        row.isNumber[c] = kind == kListedNumber;
        row.number[c] = 0;
        units[c] = 0;
        if (kind == kListedNumber) {
            if (readExactly(store.get(), &row.number[c], sizeof(int32_t)) != 0)
                return 1;
        } else if (kind == kListedText) {
            if (readExactly(store.get(), &units[c], sizeof(uint32_t)) != 0)
                return 1;
            if (reserveUnits(&textBuffer, &textCapacity, used + units[c] + 1) != 0)
                return 1;
            if (readExactly(store.get(), textBuffer.get() + used, uint64_t{units[c]} * 2) != 0)
                return 1;
            textBuffer.get()[used + units[c]] = 0;
            used += units[c] + 1;
        } else if (kind != kListedNull) {
            return 1;
        }
        row.text[c] = nullptr;
        if (kind == kListedText)
            units[c] += 1;  // marks a text, with its terminator
    }
    size_t at = 0;
    for (uint16_t c = 0; c < kHiveCatalogColumns; ++c) {
        if (units[c] == 0)
            continue;
        row.text[c] = textBuffer.get() + at;
        at += units[c];
    }
    if (onRead != nullptr)
        onRead(&row);
    ++position;
    return 0;
}

const HiveCatalogRow* HiveCatalogListing::current() const noexcept
{
    if (position == 0 || position > count)
        return nullptr;
    return &row;
}

// ---- Column types -------------------------------------------------------------------------------

void hiveParseColumnType(const char* text, size_t length, HiveColumnType* out) noexcept
{
    *out = HiveColumnType{};
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t'))
        --length;
    out->name = text;
    out->nameLength = length;
    size_t open = 0;
    while (open < length && text[open] != '(' && text[open] != '<')
        ++open;
    if (open < length && text[open] == '(') {
        // "(p)" or "(p,s)": each number counts where a "," or ")" follows it.
        size_t i = open + 1;
        int64_t p = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9' && p < INT32_MAX / 10)
            p = p * 10 + (text[i++] - '0');
        if (i < length && (text[i] == ',' || text[i] == ')'))
            out->precision = static_cast<int32_t>(p);
        if (i < length && text[i] == ',') {
            ++i;
            while (i < length && text[i] == ' ')
                ++i;
            int64_t sc = 0;
            while (i < length && text[i] >= '0' && text[i] <= '9' && sc < INT32_MAX / 10)
                sc = sc * 10 + (text[i++] - '0');
            if (i < length && text[i] == ')')
                out->scale = static_cast<int32_t>(sc);
        }
        size_t cut = open;
        while (cut > 0 && text[cut - 1] == ' ')
            --cut;
        if (cut > 0)
            out->nameLength = cut;
    }
    struct Name {
        const char* word;
        uint8_t code;
    };
    static constexpr Name kNames[] = {
        {"boolean", HIVE_TYPE_BOOLEAN}, {"tinyint", HIVE_TYPE_TINYINT}, {"smallint", HIVE_TYPE_SMALLINT},
        {"int", HIVE_TYPE_INT},         {"integer", HIVE_TYPE_INT},     {"bigint", HIVE_TYPE_BIGINT},
        {"float", HIVE_TYPE_FLOAT},     {"double", HIVE_TYPE_DOUBLE},   {"double precision", HIVE_TYPE_DOUBLE},
        {"string", HIVE_TYPE_STRING},   {"date", HIVE_TYPE_DATE},       {"timestamp", HIVE_TYPE_TIMESTAMP},
        {"binary", HIVE_TYPE_BINARY},   {"decimal", HIVE_TYPE_DECIMAL}, {"numeric", HIVE_TYPE_DECIMAL},
        {"varchar", HIVE_TYPE_VARCHAR}, {"char", HIVE_TYPE_CHAR},
    };
    const size_t n = out->nameLength;
    for (const Name& k : kNames) {
        if (std::strlen(k.word) != n)
            continue;
        bool same = true;
        for (size_t i = 0; i < n && same; ++i)
            same = (text[i] | 0x20) == k.word[i] || text[i] == k.word[i];
        if (same) {
            out->code = k.code;
            return;
        }
    }
    if (n >= 5 && std::strncmp(text, "array", 5) == 0)
        out->code = HIVE_TYPE_ARRAY;
    else if (n >= 3 && std::strncmp(text, "map", 3) == 0)
        out->code = HIVE_TYPE_MAP;
    else if (n >= 6 && std::strncmp(text, "struct", 6) == 0)
        out->code = HIVE_TYPE_STRUCT;
    else if (n >= 9 && std::strncmp(text, "uniontype", 9) == 0)
        out->code = HIVE_TYPE_UNION;
    else
        out->code = HIVE_TYPE_STRING;
}

// ---- The hooks ----------------------------------------------------------------------------------

int16_t HiveStatement::tablesHook(const uint16_t*, int16_t) noexcept
{
    catalogListing.clear();
    // The listing reads the arguments of an SQLTables holder; another
    // function's holder is not one.
    auto* h = catalogInfoW != nullptr && catalogInfoW->kind == kCatalogKindTables
                  ? static_cast<BaseTablesInfoW*>(catalogInfoW)
                  : nullptr;
    HiveConnection* conn = hiveConnection();
    if (h == nullptr || conn == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    catalogListing.active = true;
    if (h->enumeration == kTablesTypes) {
        h->typeSet = (h->typeSet | kCatalogTypeTable | kCatalogTypeView | kCatalogTypeSystemTable) &
                     ~(kCatalogTypeAlias | kCatalogTypeSynonym);
        return 0;
    }
    if (h->enumeration == kTablesCatalogs)
        return 0;
    const bool currentOnly =
        h->schemaName == nullptr && conn->useCurrentSchema != 0 && h->enumeration == kTablesListing;
    const bool schemasOnly = h->enumeration == kTablesSchemas;
    auto listTable = [&](const ListedTable& t) noexcept -> int16_t {
        const uint16_t* type = u16(u"TEMPORARY TABLE");
        RamPtr<uint16_t> remarks;
        if (t.name != nullptr && !t.temporary) {
            HiveMetadataResult r;
            bool skip = false;
            if (describeTable(this, t.database, t.name, true, false, false, &r, &skip) != 0)
                return 1;
            HiveTableDetails details;
            if (!skip)
                hiveTableDetails(r.view.get(), r.rows(), r.columns, &details);
            if (skip || !details.found)
                return 0;
            type = u16(std::strcmp(details.tableType, "VIEW") == 0           ? u"VIEW"
                       : std::strcmp(details.tableType, "SYSTEM TABLE") == 0 ? u"SYSTEM TABLE"
                                                                             : u"TABLE");
            if (details.remarks.length >= 0 && !(remarks = fromUtf8(details.remarks.data, details.remarks.length)))
                return 1;
        }
        std::unique_ptr<HiveCatalogRow> row(new HiveCatalogRow());
        RamPtr<uint16_t> schem(baseCatalogCopyText(t.database, SQL_NTS));
        if (row == nullptr || !schem)
            return 1;
        row->setText(kTableSchem, schem.release());
        if (t.name != nullptr) {
            RamPtr<uint16_t> name(baseCatalogCopyText(t.name, SQL_NTS));
            RamPtr<uint16_t> typeText(baseCatalogCopyText(type, SQL_NTS));
            if (!name || !typeText)
                return 1;
            row->setText(kTableName, name.release());
            row->setText(kTableType, typeText.release());
            row->setText(kTableRemarks, remarks.release());
        }
        return catalogListing.add(std::move(row));
    };
    return walkTables(this, currentOnly, h->schemaPattern, h->tablePattern, schemasOnly, listTable);
}

namespace {

// UTF-8 bytes converted into the listing's stage at *used (malformed bytes
// become U+FFFD), NUL-terminated; *at is where the text starts. A byte gives
// at most one unit, so `length` + 1 units always suffice. 0, or 1.
int16_t stageUtf8(HiveCatalogListing* listing, const char* data, int32_t length, size_t* used, size_t* at) noexcept
{
    if (length < 0)
        length = 0;
    const size_t room = static_cast<size_t>(length) + 1;
    if (listing->reserveStage(*used + room) != 0)
        return 1;
    UErrorCode status = U_ZERO_ERROR;
    int32_t units = 0;
    uint16_t* to = listing->stage.get() + *used;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(to), static_cast<int32_t>(room), &units, data, length, kReplacement,
                         nullptr, &status);
    to[units] = 0;
    *at = *used;
    *used += static_cast<size_t>(units) + 1;
    return 0;
}

// Fills the SQLColumns row of one described column. Its texts are borrowed:
// converted into the listing's stage, or constants.
int16_t buildColumnInfo(HiveStatement* s, HiveCatalogRow* row, const HiveDescribedColumn& col, int32_t ordinal) noexcept
{
    HiveConnection* conn = s->hiveConnection();
    HiveColumnType type;
    hiveParseColumnType(col.type.data != nullptr ? col.type.data : "",
                        col.type.length > 0 ? static_cast<size_t>(col.type.length) : 0, &type);
    const int16_t sqlType = hiveSqlTypeOf(type.code, conn->stringDescribeType);
    const BaseTypeInfoBlock* info = hiveFindTypeRow(type.code);
    int32_t size = info != nullptr ? info->columnSize : 0;
    int32_t digits = 0;
    int32_t radix = 0;
    int32_t octets = kCatalogNullLong;
    int32_t buffer = size;
    const int16_t nullable = info != nullptr ? info->nullable : SQL_NULLABLE;
    switch (type.code) {
    case HIVE_TYPE_VARCHAR:
    case HIVE_TYPE_CHAR:
        if (type.precision > 0)
            size = type.precision;
        buffer = octets = size;
        break;
    case HIVE_TYPE_DECIMAL:
        if (type.precision == 0 && type.scale == 0) {
            size = static_cast<int32_t>(conn->maxNumericPrecision);
            digits = static_cast<int32_t>(conn->maxNumericScale);
            if (size == static_cast<int32_t>(kHiveDefaultNumericLimit) &&
                digits == static_cast<int32_t>(kHiveDefaultNumericLimit))
                digits = kUnlimitedDecimalDigits;
        } else {
            size = type.precision;
            digits = type.scale;
        }
        buffer = size + 2;
        radix = 10;
        break;
    case HIVE_TYPE_TIMESTAMP: digits = info != nullptr ? info->maximumScale : kTimestampFractionDigits; break;
    case HIVE_TYPE_DATE: break;
    case HIVE_TYPE_BOOLEAN:
    case HIVE_TYPE_TINYINT:
    case HIVE_TYPE_SMALLINT:
    case HIVE_TYPE_INT:
    case HIVE_TYPE_BIGINT: radix = 10; break;
    case HIVE_TYPE_FLOAT:
    case HIVE_TYPE_DOUBLE: radix = 2; break;
    case HIVE_TYPE_BINARY: octets = size; break;
    default:
        // Strings and the types Hive reads as their text.
        size = conn->maxStringSize > 0 ? conn->maxStringSize : kHiveDefaultMaxVarcharSize;
        if (const BaseTypeInfoBlock* text = hiveTextTypeRowNamed(type.name, type.nameLength))
            size = text->columnSize;
        buffer = octets = size;
        break;
    }
    const bool noComment =
        col.comment.length <= 0 ||
        (col.comment.length == 4 && (col.comment.data[0] | 0x20) == 'n' && (col.comment.data[1] | 0x20) == 'u' &&
         (col.comment.data[2] | 0x20) == 'l' && (col.comment.data[3] | 0x20) == 'l');
    HiveCatalogListing* listing = &s->catalogListing;
    size_t used = 0;
    size_t name = 0;
    size_t typeName = 0;
    size_t remarks = 0;
    if (stageUtf8(listing, col.name.data, col.name.length, &used, &name) != 0 ||
        stageUtf8(listing, type.name, static_cast<int32_t>(type.nameLength), &used, &typeName) != 0 ||
        (!noComment && stageUtf8(listing, col.comment.data, col.comment.length, &used, &remarks) != 0))
        return 1;
    // The stage may have moved while it grew: the texts are pointed at once
    // it holds them all.
    uint16_t* stage = listing->stage.get();
    lowerInPlace(stage + name);
    row->setText(kColumnName, stage + name);
    row->setText(kTypeName, stage + typeName);
    row->setText(kIsNullable, const_cast<uint16_t*>(u16(nullable != SQL_NO_NULLS ? u"YES" : u"NO")));
    row->setText(kRemarks, noComment ? nullptr : stage + remarks);
    row->setNumber(kDataType, sqlType);
    row->setNumber(kColumnSize, size);
    row->setNumber(kBufferLength, buffer);
    row->setNumber(kDecimalDigits, digits);
    row->setNumber(kNumPrecRadix, radix);
    row->setNumber(kNullable, nullable);
    if (octets != kCatalogNullLong)
        row->setNumber(kCharOctetLength, octets);
    row->setNumber(kOrdinalPosition, ordinal);
    return 0;
}

// Adds the SQLColumns row of one column of db.table to the listing, unless
// the column pattern leaves it out. 0, or 1.
int16_t addColumnRow(HiveStatement* s, const uint16_t* columnPattern, const uint16_t* db, const uint16_t* table,
                     const HiveDescribedColumn& col, int32_t ordinal) noexcept
{
    // Nothing of the row is allocated: it lives here, its texts borrowed
    // from the caller and the listing's stage, and the listing copies it.
    HiveCatalogRow row;
    row.borrowed = true;
    if (buildColumnInfo(s, &row, col, ordinal) != 0)
        return 1;
    row.setText(kTableSchem, const_cast<uint16_t*>(db));
    row.setText(kTableName, const_cast<uint16_t*>(table));
    if (columnPattern != nullptr && s->matchName(row.text[kColumnName - 1], columnPattern, 0) == 0)
        return 0;
    return s->catalogListing.add(row);
}

// GetColumns with the listing's schema, table and column names, each a
// pattern to the server; the rows are filtered again by the application's
// own patterns, whose escapes the server is not told about.
class GetColumnsCall final : public HiveMetadataCall {
public:
    GetColumnsCall(const uint16_t* schemaName, const uint16_t* tableName, const uint16_t* columnName) noexcept
        : schema(schemaName), table(tableName), column(columnName)
    {}
    int send(HiveCommunicatorHS2* c) noexcept override
    {
        return c->closeCurrentOperation() != 0 ||
               c->getColumns(schema, static_cast<size_t>(baseCatalogTextLength(schema)), table,
                             static_cast<size_t>(baseCatalogTextLength(table)), column,
                             static_cast<size_t>(baseCatalogTextLength(column))) != 0;
    }
    const uint16_t* schema;
    const uint16_t* table;
    const uint16_t* column;
};

// The columns of a GetColumns result the listing reads, found by name.
enum NativeColumn : uint8_t {
    kNativeSchem,
    kNativeTable,
    kNativeColumn,
    kNativeTypeName,
    kNativeSize,
    kNativeDigits,
    kNativeRemarks,
    kNativeOrdinal,
    kNativeCount,
};
constexpr const char* kNativeNames[kNativeCount] = {"TABLE_SCHEM", "TABLE_NAME",     "COLUMN_NAME", "TYPE_NAME",
                                                    "COLUMN_SIZE", "DECIMAL_DIGITS", "REMARKS",     "ORDINAL_POSITION"};

bool sameName(const HiveCatalogCell& c, const char* name) noexcept
{
    const size_t n = std::strlen(name);
    if (c.length < 0 || static_cast<size_t>(c.length) != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if ((c.data[i] & ~0x20) != name[i] && c.data[i] != name[i])
            return false;
    return true;
}

// A number cell (text of an integer); 0 for NULL or anything else.
int32_t cellNumber(const HiveCatalogCell& c) noexcept
{
    int32_t i = 0;
    const bool negative = c.length > 0 && c.data[0] == '-';
    i += negative ? 1 : 0;
    int64_t v = 0;
    for (; i < c.length && c.data[i] >= '0' && c.data[i] <= '9' && v <= INT32_MAX; ++i)
        v = v * 10 + (c.data[i] - '0');
    if (i != c.length || v > INT32_MAX)
        return 0;
    return static_cast<int32_t>(negative ? -v : v);
}

}  // namespace

int16_t hiveGetColumnsTypeText(const HiveCatalogCell& name, int32_t size, int32_t digits, HiveCatalogCell* out) noexcept
{
    // Room for "(p,s)" with two numbers of up to ten digits.
    constexpr size_t kParameterRoom = 32;
    const size_t n = name.length > 0 ? static_cast<size_t>(name.length) : 0;
    auto* text = static_cast<char*>(ramAlloc(n + kParameterRoom));
    if (text == nullptr)
        return 1;
    const bool complex = n != 0 && std::memchr(name.data, '<', n) != nullptr;
    for (size_t i = 0; i < n; ++i)
        text[i] = !complex && name.data[i] >= 'A' && name.data[i] <= 'Z' ? static_cast<char>(name.data[i] | 0x20)
                                                                         : name.data[i];
    size_t length = n;
    if (!complex && (n == 0 || std::memchr(name.data, '(', n) == nullptr)) {
        HiveColumnType type;
        hiveParseColumnType(text, n, &type);
        int written = 0;
        if (type.code == HIVE_TYPE_DECIMAL && size > 0)
            written = std::snprintf(text + n, kParameterRoom, "(%d,%d)", size, digits > 0 ? digits : 0);
        else if ((type.code == HIVE_TYPE_VARCHAR || type.code == HIVE_TYPE_CHAR) && size > 0)
            written = std::snprintf(text + n, kParameterRoom, "(%d)", size);
        length += written > 0 ? static_cast<size_t>(written) : 0;
    }
    *out = HiveCatalogCell{text, static_cast<int32_t>(length)};
    return 0;
}

namespace {

// What the rows of a GetColumns result are matched against, and where its
// columns stand (found by name on the first row).
struct NativeColumnsScan {
    HiveStatement* statement;
    BaseColumnsInfoW* info;
    const GetColumnsCall* call;
    bool currentOnly;
    bool located;
    int32_t at[kNativeCount];
};

// Finds the result's columns by name; 0, or 1 with a diagnostic when one
// the listing needs is missing.
int16_t locateNativeColumns(NativeColumnsScan* scan, const HiveMetadataResult& r) noexcept
{
    for (int k = 0; k < kNativeCount; ++k) {
        scan->at[k] = -1;
        for (int32_t c = 0; c < r.columns && scan->at[k] < 0; ++c)
            if (sameName(r.nameView.get()[c], kNativeNames[k]))
                scan->at[k] = c;
    }
    scan->located = true;
    const int32_t* at = scan->at;
    if (at[kNativeSchem] < 0 || at[kNativeTable] < 0 || at[kNativeColumn] < 0 || at[kNativeTypeName] < 0) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    return 0;
}

// One row of the GetColumns result into the listing, when the arguments
// select it.
int16_t nativeColumnRow(void* context, const HiveMetadataResult& r) noexcept
{
    auto* scan = static_cast<NativeColumnsScan*>(context);
    if (!scan->located && locateNativeColumns(scan, r) != 0)
        return 1;
    HiveStatement* s = scan->statement;
    BaseColumnsInfoW* h = scan->info;
    auto cell = [&](NativeColumn k) noexcept { return scan->at[k] < 0 ? HiveCatalogCell{} : r.cell(0, scan->at[k]); };
    const HiveCatalogCell schemCell = cell(kNativeSchem);
    const HiveCatalogCell tableCell = cell(kNativeTable);
    HiveDescribedColumn col;
    col.name = cell(kNativeColumn);
    col.comment = cell(kNativeRemarks);
    if (tableCell.length <= 0 || col.name.length <= 0)
        return 0;
    const RamPtr<uint16_t> db = fromUtf8(schemCell.data, schemCell.length);
    const RamPtr<uint16_t> table = fromUtf8(tableCell.data, tableCell.length);
    if (!db || !table)
        return 1;
    const uint16_t* schema = scan->call->schema;
    const int64_t dbUnits = baseCatalogTextLength(db.get());
    const bool wanted =
        (scan->currentOnly ? dbUnits == baseCatalogTextLength(schema) &&
                                 std::memcmp(db.get(), schema, static_cast<size_t>(dbUnits) * sizeof(uint16_t)) == 0
                           : s->matchName(db.get(), h->schemaPattern, 0) != 0) &&
        s->matchName(table.get(), h->tablePattern, 1) != 0;
    if (!wanted)
        return 0;
    if (hiveGetColumnsTypeText(cell(kNativeTypeName), cellNumber(cell(kNativeSize)), cellNumber(cell(kNativeDigits)),
                               &col.type) != 0)
        return 1;
    const RamPtr<char> typeText(const_cast<char*>(col.type.data));
    return addColumnRow(s, h->columnPattern, db.get(), table.get(), col, cellNumber(cell(kNativeOrdinal)));
}

}  // namespace

int16_t HiveStatement::nativeGetColumns() noexcept
{
    auto* h = static_cast<BaseColumnsInfoW*>(catalogInfoW);
    HiveConnection* conn = hiveConnection();
    const bool currentOnly = h->schemaName == nullptr && conn->useCurrentSchema != 0;
    const uint16_t* any = u16(u"%");
    GetColumnsCall call(h->schemaName != nullptr ? h->schemaName
                        : currentOnly            ? currentDatabase(conn)
                                                 : any,
                        h->tableName != nullptr ? h->tableName : any, h->columnName != nullptr ? h->columnName : any);
    // The rows go into the listing as they arrive: a warehouse's GetColumns
    // result is never held whole.
    NativeColumnsScan scan{this, h, &call, currentOnly, false, {}};
    HiveMetadataResult r;
    if (hiveCatalogQueryRows(this, u16(u""), &r, &call, nativeColumnRow, &scan) != 0)
        return 1;
    // A result without rows must still have the columns a listing reads.
    return scan.located ? 0 : locateNativeColumns(&scan, r);
}

int16_t HiveStatement::columnsHook() noexcept
{
    catalogListing.clear();
    auto* h = catalogInfoW != nullptr && catalogInfoW->kind == kCatalogKindColumns
                  ? static_cast<BaseColumnsInfoW*>(catalogInfoW)
                  : nullptr;
    HiveConnection* conn = hiveConnection();
    if (h == nullptr || conn == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    catalogListing.active = true;
    if (metadataId()) {
        // Hive keeps table and column names in lower case.
        lowerInPlace(h->tablePattern);
        lowerInPlace(h->tableName);
        lowerInPlace(h->columnName);
        lowerInPlace(h->columnPattern);
    }
    if (conn->catalogFlags[HIVE_CATALOG_USE_GET_COLUMNS] != 0) {
        const KaDiagMark mark;
        if (nativeGetColumns() == 0)
            return 0;
        catalogListing.dropRows();
        if (hiveLinkFailedSince(mark))
            return 1;
        // The SHOW and DESCRIBE listing answers instead: what the refused
        // call posted is no news to the application.
        mark.drop();
    }
    const bool currentOnly = h->schemaName == nullptr && conn->useCurrentSchema != 0;
    auto listColumns = [&](const ListedTable& t) noexcept -> int16_t {
        HiveMetadataResult r;
        bool skip = false;
        if (describeTable(this, t.database, t.name, false, t.temporary, t.globalTemporary, &r, &skip) != 0)
            return 1;
        int32_t first = 0;
        const int32_t n =
            skip || r.columns < kDescribeColumns ? 0 : hiveDescribedColumns(r.view.get(), r.rows(), r.columns, &first);
        for (int32_t i = 0; i < n; ++i) {
            HiveDescribedColumn col;
            hiveDescribedColumn(r.view.get(), r.columns, first, i, &col);
            if (addColumnRow(this, h->columnPattern, t.database, t.name, col, i + 1) != 0)
                return 1;
        }
        return 0;
    };
    return walkTables(this, currentOnly, h->schemaPattern, h->tablePattern, false, listColumns);
}

int16_t HiveStatement::catalogFetchRow(int16_t* end) noexcept
{
    if (catalogListing.internalQuery || !catalogListing.active)
        return fetchRow(end);
    if (catalogListing.next(end) != 0)
        return 1;
    // The framework has every row: the listing's stream goes.
    if (*end != 0)
        catalogListing.clear();
    return 0;
}

int16_t HiveStatement::catalogColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    if (catalogListing.internalQuery || !catalogListing.active)
        return getColumnData(column, cType, out);
    const HiveCatalogRow* row = catalogListing.current();
    if (row == nullptr || column == 0 || column > kHiveCatalogColumns) {
        basePostError(kBaseIdxBadDescIndex);
        return 1;
    }
    const size_t i = column - 1u;
    if (row->isNumber[i]) {
        if (cType == SQL_C_SSHORT || cType == SQL_C_SHORT) {
            const auto v = static_cast<int16_t>(row->number[i]);
            baseReportFixed(out, &v, sizeof v);
        } else {
            baseReportFixed(out, &row->number[i], sizeof row->number[i]);
        }
        return 0;
    }
    if (row->text[i] == nullptr)
        return out->setNull(1);
    (void)out->putWideText(row->text[i], baseCatalogTextLength(row->text[i]) * 2, true, 2, false);
    return 0;
}
