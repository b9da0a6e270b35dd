// SQL text of an ODBC call with its token-level analysis (BaseSqlStringW,
// and its 8-bit twin BaseSqlString):
// statement and object kind, parameter markers, clause facts, FOR UPDATE and
// WHERE CURRENT OF positions, and the edits the statement framework makes to
// the text. The statement framework, the escape translation and the Hive
// prepare and describe steps read it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "sql/bytescanner.h"
#include "sql/kascanne.h"

enum StatementKind : uint32_t {
    KA_STMT_UNKNOWN = 0,
    KA_STMT_ALTER = 1,
    KA_STMT_CREATE = 2,
    KA_STMT_DELETE = 3,
    KA_STMT_DROP = 4,
    KA_STMT_GRANT = 5,
    KA_STMT_INSERT = 6,
    KA_STMT_REVOKE = 7,
    KA_STMT_SELECT = 8,  // also WITH
    KA_STMT_UPDATE = 9,
    KA_STMT_XQUERY = 10,
    KA_STMT_OTHER = 11,
    KA_STMT_NONE = 12,  // no word before the end
};

enum ObjectKind : uint32_t {
    KA_OBJECT_UNKNOWN = 0,
    KA_OBJECT_TABLE = 1,
    KA_OBJECT_INDEX = 2,
    KA_OBJECT_VIEW = 3,
    KA_OBJECT_SYNONYM = 4,
    KA_OBJECT_OTHER = 5,
    KA_OBJECT_NONE = 6,
};

// Flags of scanClauses.
constexpr uint32_t kSqlRecordMarkers = 1;
constexpr uint32_t kSqlCheckPositioned = 2;
constexpr uint32_t kSqlOrderByOrdinals = 0x80000000u;

// ODBC numbers parameters in an SQLSMALLINT.
constexpr size_t kSqlMaxMarkers = 32767;

// Room the parameter-text callback gets for one parameter's text.
constexpr uint16_t kSqlParamTextMax = 128;

// Writes the text that replaces parameter `number` (1-based) into `buffer`
// of `capacity` units (bytes for the 8-bit form) and returns the units
// written; a return above the capacity fails the substitution.
using ParameterTextCallback = uint16_t (*)(uint16_t* buffer, uint16_t capacity, uint16_t number,
                                           void* context) noexcept;
using ParameterTextCallbackA = uint16_t (*)(char* buffer, uint16_t capacity, uint16_t number, void* context) noexcept;

class BaseSqlStringW;
class BaseSqlString;
class KaCharConv;

// The scanner switches the analysis sets.
enum class KaSqlScan : uint8_t { skipComments, returnComments, parenGroups, bracketGroups };

// What differs between the UTF-16 and the 8-bit statement text.
struct SqlTextTraitsW {
    using Sql = BaseSqlStringW;
    using Unit = uint16_t;
    using String = KaStringW;
    using View = KaSubStringW;
    using Scanner = KaScannerW;
    using Token = KaTokenW;
    using Callback = ParameterTextCallback;
    static constexpr bool hasXQuery = true;
    static constexpr const char* whereFalse = " WHERE 0=1";
    static void open(KaScannerW& scanner, const uint16_t* text, size_t n, const KaStringW& owner) noexcept;
    static void option(KaScannerW& scanner, KaSqlScan which, bool on) noexcept;
    static int matchText(KaScannerW& scanner, KaTokenW& token, const char* words) noexcept;
    static int appendAscii(KaStringW& out, const char* text) noexcept;
};

struct SqlTextTraitsA {
    using Sql = BaseSqlString;
    using Unit = char;
    using String = KaString;
    using View = KaSubString;
    using Scanner = KaScanner;
    using Token = KaToken;
    using Callback = ParameterTextCallbackA;
    static constexpr bool hasXQuery = false;
    static constexpr const char* whereFalse = " where 0=1";
    static void open(KaScanner& scanner, const char* text, size_t n, const KaString& owner) noexcept;
    static void option(KaScanner& scanner, KaSqlScan which, bool on) noexcept;
    static int matchText(KaScanner& scanner, KaToken& token, const char* words) noexcept;
    static int appendAscii(KaString& out, const char* text) noexcept;
};

// The analysis written once for both code units; BaseSqlStringW and
// BaseSqlString are its two named forms.
template <class T>
class KaSqlTextT : public T::String {
public:
    using Unit = typename T::Unit;
    using String = typename T::String;
    using View = typename T::View;
    using Scanner = typename T::Scanner;
    using Token = typename T::Token;
    using T::String::allocate;
    using T::String::append;
    using T::String::appendChar;
    using T::String::capacity;
    using T::String::data;
    using T::String::freeBuffer;
    using T::String::len;
    using T::String::owns;
    using T::String::replace;

    uint32_t statementKind = KA_STMT_UNKNOWN;
    View keyword;
    uint32_t objectKind = KA_OBJECT_UNKNOWN;
    View objectWord;
    View cursorName;
    KaArrayKASIZE_T markerOffsets;
    Unit quoteChar1 = '\'';
    Unit quoteChar2 = '"';
    Unit quoteChar3 = '`';
    uint64_t forUpdatePos = 0;
    uint64_t currentOfPos = 0;
    uint64_t currentOfLength = 0;
    uint32_t hasGroupBy = 0;
    uint32_t hasUnion = 0;
    uint32_t hasIntersect = 0;
    uint32_t hasHaving = 0;
    uint32_t hasFromList = 0;
    // Names in square brackets are one token (UTF-16 text only).
    uint32_t bracketNames = 0;
    // The application's buffer while the text is borrowed; null once owned.
    const Unit* callerText = nullptr;
    // 1 when the escape search saw a semicolon between statements.
    int32_t multipleStatements = 0;

    KaSqlTextT() noexcept;
    ~KaSqlTextT() override;
    KaSqlTextT(const KaSqlTextT&) = delete;
    KaSqlTextT& operator=(const KaSqlTextT&) = delete;

    void clear() noexcept;
    uint32_t getStatementKind() noexcept;
    [[nodiscard]] int scanClauses(uint32_t flags, int16_t* addedColumns) noexcept;
    [[nodiscard]] int substituteParameters(String& out, typename T::Callback callback, void* context,
                                           uint16_t skip) const noexcept;
    [[nodiscard]] int appendForUpdate() noexcept;
    void restoreLength() noexcept;
    [[nodiscard]] int replaceRange(const View& range, const Unit* text, size_t length) noexcept;
    [[nodiscard]] int makeOwned() noexcept;
    [[nodiscard]] int copy(const KaSqlTextT& from) noexcept;
    [[nodiscard]] int appendWhereFalse(String& out) const noexcept;

    bool borrowed() const noexcept { return callerText != nullptr && data == callerText; }
    size_t markerCount() const noexcept { return markerOffsets.count; }

protected:
    // length -3 (SQL_NTS) measures up to the NUL; the text is borrowed.
    void borrow(const Unit* text, int64_t length) noexcept;

private:
    [[nodiscard]] int recordMarker(uint64_t offset) noexcept;
    [[nodiscard]] int rewriteOrderBy(uint64_t fromPos, uint64_t itemsStart, uint64_t itemsEnd,
                                     const KaArrayKASIZE_T& items, size_t selectCommas, int16_t* addedColumns) noexcept;
};

class BaseSqlStringW : public KaSqlTextT<SqlTextTraitsW> {
public:
    BaseSqlStringW() noexcept;
    BaseSqlStringW(const uint16_t* text, int64_t length) noexcept;
    ~BaseSqlStringW() override;

    // Takes over the 8-bit text (in `codePage`, converted with the caller's
    // converter set) and its analysis, every offset moved to UTF-16 units.
    [[nodiscard]] int assignConverted(const BaseSqlString& narrow, KaCharConv& converters, int64_t codePage) noexcept;
};

// The 8-bit twin, in the encoding kind of KaString (KA_TEXT_LOCALE unless
// given).
class BaseSqlString : public KaSqlTextT<SqlTextTraitsA> {
public:
    BaseSqlString() noexcept;
    explicit BaseSqlString(int32_t encoding) noexcept;
    BaseSqlString(const char* text, int64_t length) noexcept;
    BaseSqlString(const char* text, int64_t length, int32_t encoding) noexcept;
    ~BaseSqlString() override;

    // Takes over the UTF-16 text converted to `codePage` and its analysis,
    // every offset moved to bytes.
    [[nodiscard]] int assignConverted(const BaseSqlStringW& wide, KaCharConv& converters, int64_t codePage) noexcept;
};

// A UTF-16 literal as the driver's unit type.
inline const uint16_t* sqlText(const char16_t* text) noexcept
{
    return reinterpret_cast<const uint16_t*>(text);
}

// Whether the view's text equals the ASCII word, ignoring ASCII case.
bool sqlWordIs(const KaSubStringW& view, const char* word) noexcept;
bool sqlWordIs(const KaSubString& view, const char* word) noexcept;
