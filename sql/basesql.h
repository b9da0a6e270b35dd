// SQL text of an ODBC call with its token-level analysis (BaseSqlStringW):
// statement and object kind, parameter markers, clause facts, FOR UPDATE and
// WHERE CURRENT OF positions, and the edits the statement framework makes to
// the text. The statement framework, the escape translation and the Hive
// prepare and describe steps read it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kastringw.h"

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
// of `capacity` units and returns the units written; a return above the
// capacity fails the substitution.
using ParameterTextCallback = uint16_t (*)(uint16_t* buffer, uint16_t capacity, uint16_t number,
                                           void* context) noexcept;

class BaseSqlStringW : public KaStringW {
public:
    uint32_t statementKind = KA_STMT_UNKNOWN;
    KaSubStringW keyword;
    uint32_t objectKind = KA_OBJECT_UNKNOWN;
    KaSubStringW objectWord;
    KaSubStringW cursorName;
    KaArrayKASIZE_T markerOffsets;
    uint16_t quoteChar1 = '\'';
    uint16_t quoteChar2 = '"';
    uint16_t quoteChar3 = '`';
    uint64_t forUpdatePos = 0;
    uint64_t currentOfPos = 0;
    uint64_t currentOfLength = 0;
    uint32_t hasGroupBy = 0;
    uint32_t hasUnion = 0;
    uint32_t hasIntersect = 0;
    uint32_t hasHaving = 0;
    uint32_t hasFromList = 0;
    uint32_t bracketNames = 0;
    // The application's buffer while the text is borrowed; null once owned.
    const uint16_t* callerText = nullptr;
    // 1 when the escape search saw a semicolon between statements.
    int32_t multipleStatements = 0;

    BaseSqlStringW() noexcept;
    // length -3 (SQL_NTS) measures up to the NUL; the text is borrowed.
    BaseSqlStringW(const uint16_t* text, int64_t length) noexcept;
    ~BaseSqlStringW() override;

    BaseSqlStringW(const BaseSqlStringW&) = delete;
    BaseSqlStringW& operator=(const BaseSqlStringW&) = delete;

    void clear() noexcept;
    uint32_t getStatementKind() noexcept;
    [[nodiscard]] int scanClauses(uint32_t flags, int16_t* addedColumns) noexcept;
    [[nodiscard]] int substituteParameters(KaStringW& out, ParameterTextCallback callback, void* context,
                                           uint16_t skip) const noexcept;
    [[nodiscard]] int appendForUpdate() noexcept;
    void restoreLength() noexcept;
    [[nodiscard]] int replaceRange(const KaSubStringW& range, const uint16_t* text, size_t length) noexcept;
    [[nodiscard]] int makeOwned() noexcept;
    [[nodiscard]] int copy(const BaseSqlStringW& from) noexcept;
    [[nodiscard]] int appendWhereFalse(KaStringW& out) const noexcept;

    bool borrowed() const noexcept { return callerText != nullptr && data == callerText; }
    size_t markerCount() const noexcept { return markerOffsets.count; }

private:
    [[nodiscard]] int recordMarker(uint64_t offset) noexcept;
    [[nodiscard]] int rewriteOrderBy(uint64_t fromPos, uint64_t itemsStart, uint64_t itemsEnd,
                                     const KaArrayKASIZE_T& items, size_t selectCommas,
                                     int16_t* addedColumns) noexcept;
};

// A UTF-16 literal as the driver's unit type.
inline const uint16_t* sqlText(const char16_t* text) noexcept
{
    return reinterpret_cast<const uint16_t*>(text);
}

// Whether the view's text equals the ASCII word, ignoring case.
bool sqlWordIs(const KaSubStringW& view, const char* word) noexcept;
