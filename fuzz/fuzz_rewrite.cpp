// The HiveQL rewriter over arbitrary UTF-16 text with every option
// combination (chosen by the first byte), followed by escape translation of
// its output: no crash, no overrun, no endless loop.
#include <cstddef>
#include <cstdint>

#include "fuzzfixture.h"
#include "sql/basesql.h"
#include "sql/escape.h"
#include "sql/hiveescape.h"
#include "sql/hiverewrite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    std::vector<uint16_t> units = kafuzz::unitsOf(data + 1, size - 1);
    HiveSqlRewriter rewriter(options & 1, (options >> 1) & 1, (options >> 2) & 1);
    KaStringW out;
    const uint16_t* begin = units.data();
    if (rewriter.rewrite(begin, begin + units.size(), out) != kHiveRewriteDone)
        return 0;
    BaseSqlStringW text(out.data, int64_t(out.len));
    HiveEscapeTranslator hive;
    uint32_t markers = 0;
    int32_t call = 0;
    (void)translateEscapes(hive, text, 1, &markers, nullptr, &call);
    return 0;
}
