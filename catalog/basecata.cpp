// The catalog framework's shared steps: the statement operations of the
// exported functions, argument preparation, name matching and the reading of
// one name of a row.
#include "catalog/basecata.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cstring>

#include "catalog/catalogloop.h"
#include "catalog/catalognames.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basestmterr.h"

namespace {

constexpr uint16_t kBlank = u' ';
constexpr uint16_t kPercent = u'%';
constexpr uint16_t kUnderscore = u'_';
// Room for a short SQLGetInfo text whose first character is wanted.
constexpr int kInfoTextUnits = 16;

int64_t unitLength(const uint16_t* s, int64_t length) noexcept
{
    return length == SQL_NTS ? baseCatalogTextLength(s) : length < 0 ? 0 : length;
}

// Whether [s, s+n) stands in the quote character q (q not a blank).
bool enclosedIn(const uint16_t* s, int64_t n, uint16_t q) noexcept
{
    return q != kBlank && q != 0 && n >= 2 && s[0] == q && s[n - 1] == q;
}

// Unquotes a NUL-terminated text in place: outer quotes dropped, a doubled
// quote inside becomes one. Only for text that enclosedIn accepts.
void unquoteInPlace(uint16_t* s, uint16_t q) noexcept
{
    const int64_t n = baseCatalogTextLength(s);
    int64_t w = 0;
    for (int64_t r = 1; r < n - 1; ++r) {
        s[w++] = s[r];
        if (s[r] == q && r + 1 < n - 1 && s[r + 1] == q)
            ++r;
    }
    s[w] = 0;
}

// Folds a NUL-terminated text in place, code point by code point where the
// folded form has the same width.
void foldInPlace(uint16_t* s, bool lower) noexcept
{
    const int64_t n = baseCatalogTextLength(s);
    for (int64_t i = 0; i < n;) {
        UChar32 c = 0;
        const int64_t start = i;
        U16_NEXT(s, i, n, c);
        const UChar32 f = lower ? u_tolower(c) : u_toupper(c);
        if (U16_LENGTH(f) == i - start) {
            int64_t w = start;
            U16_APPEND_UNSAFE(s, w, f);
        }
    }
}

int64_t codePoints(const uint16_t* s) noexcept
{
    const int64_t n = baseCatalogTextLength(s);
    int64_t k = 0;
    for (int64_t i = 0; i < n; ++k)
        U16_FWD_1(s, i, n);
    return k;
}

// Whether any unit of s changes under the fold.
bool foldChanges(const uint16_t* s, bool lower) noexcept
{
    for (; s != nullptr && *s != 0; ++s)
        if ((lower ? u_tolower(*s) : u_toupper(*s)) != *s)
            return true;
    return false;
}

// Whole-text equality, case-blind by upper-casing when not exact.
bool sameName(const uint16_t* a, const uint16_t* b, bool exact) noexcept
{
    for (;; ++a, ++b) {
        if (*a == 0 || *b == 0)
            return *a == *b;
        if (*a == *b)
            continue;
        if (exact || u_toupper(*a) != u_toupper(*b))
            return false;
    }
}

uint16_t tooLongMessage(uint16_t infoType) noexcept
{
    switch (infoType) {
    case kCatalogInfoCatalog: return MSG_CATALOG_NAME_TOO_LONG;
    case kCatalogInfoSchema: return MSG_SCHEMA_NAME_TOO_LONG;
    case kCatalogInfoProcedure: return MSG_PROCEDURE_NAME_TOO_LONG;
    case kCatalogInfoTable: return MSG_TABLE_NAME_TOO_LONG;
    default: return MSG_COLUMN_NAME_TOO_LONG;
    }
}

}  // namespace

BaseCatalogStatement::BaseCatalogStatement(BaseConnection* connection) noexcept : BaseStatement(connection) {}

BaseCatalogStatement::~BaseCatalogStatement()
{
    // The holders reach back into this statement while they are deleted.
    freeCatalogInfo();
}

bool BaseCatalogStatement::metadataId() const noexcept
{
    return (attributeValues[kBaseAttrFlags] & kBaseStmtFlagMetadataId) != 0;
}

int16_t BaseCatalogStatement::catalogInfoNumber(uint16_t infoType, uint64_t* value) noexcept
{
    // Answers are 16 or 32 bits wide by type; the rest of the word stays 0.
    *value = 0;
    int16_t length = 0;
    if (connection == nullptr)
        return 1;
    const int16_t rc = connection->getInfoValue(infoType, value, static_cast<int16_t>(sizeof *value), &length);
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO ? 0 : 1;
}

int16_t BaseCatalogStatement::catalogInfoUnit(uint16_t infoType, uint16_t* unit) noexcept
{
    *unit = 0;
    uint16_t text[kInfoTextUnits] = {};
    int16_t length = 0;
    if (connection == nullptr)
        return 1;
    const int16_t rc = connection->getInfoValue(infoType, text, static_cast<int16_t>(sizeof text), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return 1;
    *unit = text[0];
    return 0;
}

// ---- Argument preparation -----------------------------------------------------------------------

int16_t BaseCatalogStatement::prepareCatalogArgument(const uint16_t* value, int16_t length, uint16_t infoType,
                                                     uint16_t** name, uint16_t** pattern) noexcept
{
    const bool mid = metadataId();
    if (value == nullptr) {
        if (mid && !(infoType == kCatalogInfoColumn && apiId == SQL_API_SQLSPECIALCOLUMNS)) {
            uint64_t limit = 0;
            if (catalogInfoNumber(infoType, &limit) != 0)
                return 1;
            if (limit != 0) {
                basePostError(kBaseIdxNullPointer);
                return 1;
            }
        }
        return 0;
    }
    if (length != SQL_NTS && length < 0) {
        basePostError(kBaseIdxBadLength);
        return 1;
    }
    uint64_t identifierCase = 0;
    uint16_t quote = 0;
    uint16_t escape = 0;
    if (catalogInfoNumber(SQL_IDENTIFIER_CASE, &identifierCase) != 0 ||
        catalogInfoUnit(SQL_IDENTIFIER_QUOTE_CHAR, &quote) != 0 ||
        catalogInfoUnit(SQL_SEARCH_PATTERN_ESCAPE, &escape) != 0)
        return 1;
    int64_t n = unitLength(value, length);
    const uint16_t* text = value;
    if (mid) {
        while (n > 0 && text[0] == kBlank) {
            ++text;
            --n;
        }
        while (n > 0 && text[n - 1] == kBlank)
            --n;
    }
    const bool quoted = enclosedIn(text, n, quote);
    auto unquoteAndFold = [&](uint16_t* s) noexcept {
        if (enclosedIn(s, baseCatalogTextLength(s), quote))
            unquoteInPlace(s, quote);
        else if (mid && identifierCase != SQL_IC_SENSITIVE)
            foldInPlace(s, identifierCase == SQL_IC_LOWER);
    };
    RamPtr<uint16_t> n16;
    RamPtr<uint16_t> p16;
    if (pattern == nullptr) {
        n16.reset(baseCatalogCopyText(text, n));
        if (n16 == nullptr)
            return 1;
        unquoteAndFold(n16.get());
    } else {
        if (!mid && n == 1 && text[0] == kPercent)
            return 0;
        // Under SQL_ATTR_METADATA_ID the argument is an identifier: its
        // pattern characters stand for themselves.
        int64_t extra = 0;
        if (mid && escape != 0)
            for (int64_t i = 0; i < n; ++i)
                extra += text[i] == kPercent || text[i] == kUnderscore ? 1 : 0;
        RamPtr<uint16_t> raw = ramMake<uint16_t>(static_cast<size_t>(n + extra + 1));
        if (raw == nullptr)
            return 1;
        int64_t w = 0;
        for (int64_t i = 0; i < n; ++i) {
            if (extra != 0 && (text[i] == kPercent || text[i] == kUnderscore))
                raw.get()[w++] = escape;
            raw.get()[w++] = text[i];
        }
        raw.get()[w] = 0;
        unquoteAndFold(raw.get());
        const int32_t rawLength = static_cast<int32_t>(baseCatalogTextLength(raw.get()));
        const bool tablesCatalog = apiId == SQL_API_SQLTABLES && infoType == kCatalogInfoCatalog;
        if (tablesCatalog) {
            n16.reset(baseCatalogCopyText(raw.get(), rawLength));
        } else {
            const int32_t need = catalogPlainName(raw.get(), rawLength, escape, nullptr, 0);
            n16 = ramMake<uint16_t>(static_cast<size_t>(need + 1));
            if (n16 != nullptr)
                (void)catalogPlainName(raw.get(), rawLength, escape, n16.get(), need + 1);
        }
        const int32_t needP = catalogMatchPattern(raw.get(), rawLength, escape, nullptr, 0);
        p16 = ramMake<uint16_t>(static_cast<size_t>(needP + 1));
        if (p16 != nullptr)
            (void)catalogMatchPattern(raw.get(), rawLength, escape, p16.get(), needP + 1);
        if (n16 == nullptr || p16 == nullptr)
            return 1;
    }
    uint64_t limit = 0;
    if (catalogInfoNumber(infoType, &limit) != 0)
        return 1;
    const int64_t k = codePoints(n16.get());
    if (static_cast<uint64_t>(k) > limit) {
        basePostErrorMsg(kBaseIdxBadLength, tooLongMessage(infoType))->addParamW(n16.get())->addParamUnsigned(limit);
        return 1;
    }
    if (limit == 0 && length != 0 && length != SQL_NTS) {
        basePostError(kBaseIdxNotSupported);
        return 1;
    }
    if (connection != nullptr && (connection->workarounds & kBaseWaFoldUnquotedCatalogArgs) != 0 && !quoted) {
        foldInPlace(n16.get(), false);
        if (p16 != nullptr)
            foldInPlace(p16.get(), false);
    }
    *name = n16.release();
    if (pattern != nullptr)
        *pattern = p16.release();
    return 0;
}

// ---- Name matching --------------------------------------------------------------------------------

int16_t BaseCatalogStatement::matchName(const uint16_t* name, const uint16_t* argument, int16_t) noexcept
{
    if (argument == nullptr)
        return 1;
    if (name == nullptr)
        return 0;
    uint16_t quote = 0;
    uint16_t escape = 0;
    uint64_t identifierCase = 0;
    if (catalogInfoUnit(SQL_IDENTIFIER_QUOTE_CHAR, &quote) != 0 ||
        catalogInfoUnit(SQL_SEARCH_PATTERN_ESCAPE, &escape) != 0 ||
        catalogInfoNumber(SQL_IDENTIFIER_CASE, &identifierCase) != 0)
        return 0;
    const bool mid = metadataId();
    const bool blankQuote = quote == kBlank || quote == 0;
    // No connection of this system makes table names case-blind on its own.
    const bool blind = false;
    const bool incs = connection != nullptr && connection->identifierCaseSensitive != 0;
    const bool mioci = connection != nullptr && connection->metadataIdOffCaseInsensitive != 0;
    auto quotedCase = [&]() noexcept -> uint64_t {
        if (blankQuote)
            return identifierCase;
        uint64_t qc = 0;
        (void)catalogInfoNumber(SQL_QUOTED_IDENTIFIER_CASE, &qc);
        return qc;
    };
    bool sensitive = false;
    if (!incs) {
        sensitive = !mid && !blind && quotedCase() == SQL_IC_SENSITIVE;
    } else if (!mid) {
        sensitive = blind ? false : !mioci ? true : quotedCase() == SQL_IC_SENSITIVE;
    } else if (blankQuote || identifierCase == SQL_IC_SENSITIVE) {
        sensitive = false;
    } else {
        // A name the driver would have folded can only have been written
        // quoted: it is then compared exactly.
        sensitive = foldChanges(argument, identifierCase == SQL_IC_LOWER);
    }
    if (!mid || escape != 0)
        return catalogMatchName(name, argument, escape, sensitive) ? 1 : 0;
    return sameName(name, argument, sensitive) ? 1 : 0;
}

// ---- Reading one name of a row ------------------------------------------------------------------

int16_t BaseCatalogStatement::getColumnString(uint16_t column, uint16_t* buffer, int64_t bytes, int16_t* length,
                                              bool nested) noexcept
{
    uint16_t* read = nullptr;
    if (readCatalogText(column, &read, nested) != 0)
        return 1;
    const RamPtr<uint16_t> owned(read);
    const uint16_t* text = read;
    if (text == nullptr) {
        *length = -1;
        if (bytes >= 2)
            buffer[0] = 0;
        return 0;
    }
    int64_t n = baseCatalogTextLength(text);
    const int64_t room = bytes / 2 - 1;
    if (n > room)
        n = room < 0 ? 0 : room;
    if (room >= 0) {
        std::memcpy(buffer, text, static_cast<size_t>(n) * sizeof(uint16_t));
        buffer[n] = 0;
    }
    *length = static_cast<int16_t>(n);
    return 0;
}

// ---- The statement operations -------------------------------------------------------------------

namespace {

// The call frame of a catalog function: a failed generic operation leaves
// no result.
template <class Body>
int16_t runCatalogCall(BaseCatalogStatement* stmt, uint16_t api, Body body) noexcept
{
    return catalogRunCall(stmt, api, body);
}

}  // namespace

int16_t BaseCatalogStatement::tables(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                     int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                     const uint16_t* type, int16_t typeLength) noexcept
{
    return runCatalogCall(this, SQL_API_SQLTABLES, [&]() noexcept {
        return tablesInternal(catalog, catalogLength, schema, schemaLength, table, tableLength, type, typeLength, 0);
    });
}

int16_t BaseCatalogStatement::columns(const uint16_t* catalog, int16_t catalogLength, const uint16_t* schema,
                                      int16_t schemaLength, const uint16_t* table, int16_t tableLength,
                                      const uint16_t* column, int16_t columnLength) noexcept
{
    return runCatalogCall(this, SQL_API_SQLCOLUMNS, [&]() noexcept {
        return columnsInternal(catalog, catalogLength, schema, schemaLength, table, tableLength, column, columnLength);
    });
}
