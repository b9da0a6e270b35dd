// Escape translation with the Hive hook, then statement analysis with every
// scan flag and parameter substitution, over arbitrary UTF-16 text: no
// crash, no overrun, no endless loop, bounded nesting.
#include <cstddef>
#include <cstdint>

#include "fuzzfixture.h"
#include "sql/basesql.h"
#include "sql/escape.h"
#include "sql/hiveescape.h"

namespace {

uint16_t writeValue(uint16_t* buffer, uint16_t capacity, uint16_t number, void*) noexcept
{
    uint16_t n = 0;
    for (const char* t = "NULL"; *t != 0 && n < capacity; ++t)
        buffer[n++] = uint16_t(*t);
    return n;
}

// The 8-bit twin over the same bytes as UTF-8 text.
void analyseNarrow(const uint8_t* data, size_t size) noexcept
{
    BaseSqlString text(reinterpret_cast<const char*>(data), int64_t(size), KA_TEXT_UTF8);
    text.getStatementKind();
    int16_t added = 0;
    if (text.scanClauses(kSqlRecordMarkers | kSqlCheckPositioned | kSqlOrderByOrdinals, &added) != 0)
        return;
    KaString described;
    (void)text.appendWhereFalse(described);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope diagnostics;
    analyseNarrow(data, size);
    std::vector<uint16_t> units = kafuzz::unitsOf(data, size);
    BaseSqlStringW text(units.data(), int64_t(units.size()));
    HiveEscapeTranslator hive;
    uint32_t markers = 0;
    int32_t returnParameter = 0;
    int32_t callKind = 0;
    if (translateEscapes(hive, text, 0, &markers, &returnParameter, &callKind) != 0)
        return 0;
    hiveFixQuotedLiterals(text.data, text.len);
    text.getStatementKind();
    int16_t added = 0;
    if (text.scanClauses(kSqlRecordMarkers | kSqlCheckPositioned | kSqlOrderByOrdinals, &added) != 0)
        return 0;
    KaStringW substituted;
    (void)text.substituteParameters(substituted, writeValue, nullptr, 0);
    KaStringW described;
    (void)text.appendWhereFalse(described);
    return 0;
}
