// Outer-join escapes rewritten in every notation over arbitrary UTF-16 text:
// the first byte picks the notation and the connection's switches, the rest
// is the statement. No crash, no overrun, no endless rescan.
#include <cstddef>
#include <cstdint>

#include "fuzzfixture.h"
#include "sql/basesql.h"
#include "sql/escape.h"

namespace {

const char16_t kClauseWords[] = u"QUALIFY\0SORT BY\0";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    KaEscapeHost host;
    host.outerJoinSyntax = int32_t(data[0] & 3);
    host.fullOuterJoinAllowed = (data[0] & 4) != 0;
    host.firstOuterJoinOnly = (data[0] & 8) != 0;
    if (data[0] & 16)
        host.whereEndWords = reinterpret_cast<const uint16_t*>(kClauseWords);
    std::vector<uint16_t> units = kafuzz::unitsOf(data + 2, size - 2);
    BaseSqlStringW text(units.data(), int64_t(units.size()));
    uint32_t markers = 0;
    int32_t returnParameter = 0;
    int32_t callKind = 0;
    (void)translateEscapes(host, text, 0, &markers, &returnParameter, &callKind);
    return 0;
}
