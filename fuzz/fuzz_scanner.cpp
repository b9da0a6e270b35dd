// Both SQL tokenizers over arbitrary text in every scan mode: the first byte
// picks the options, the second whether the 8-bit scanner reads UTF-8 or the
// process locale's encoding (C, then C.UTF-8). Every token lies inside the
// input, each one moves the scan on, and the scan ends.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "foundation/kaarray.h"
#include "fuzzfixture.h"
#include "sql/bytescanner.h"
#include "sql/kascanne.h"

namespace {

const uint16_t kWordStartW[] = {'@', '$', 0};
const uint16_t kWordW[] = {'.', '#', 0};
const uint16_t kWordsW[] = {'s', 'e', 'l', 'e', 'c', 't', ' ', 'f', 'r', 'o', 'm', 0};

template <typename Scanner>
void applyOptions(Scanner& s, uint8_t o) noexcept
{
    s.quoteChar1 = (o & 0x40) != 0 ? 0 : '\'';
    s.quoteChar2 = (o & 0x40) != 0 ? 0 : '"';
    s.quoteChar3 = (o & 0x40) != 0 ? 0 : '`';
    if ((o & 0x80) != 0) {
        s.groupOpen = '<';
        s.groupClose = '>';
    }
    s.bracedItems = (o >> 5) & 1;
}

void scanWide(const uint16_t* units, size_t n, uint8_t o) noexcept
{
    KaScannerW s(units, n);
    applyOptions(s, o);
    s.braceGroups = o & 1;
    s.parenGroups = (o >> 1) & 1;
    s.returnComments = (o >> 2) & 1;
    s.skipComments = (o >> 3) & 1;
    s.bracketGroups = (o >> 4) & 1;
    if (s.setWordStartChars(KaSubStringW(kWordStartW)) != 0 || s.setWordChars(KaSubStringW(kWordW)) != 0)
        return;
    KaTokenW token;
    for (int mode = KA_SCAN_PLAIN; mode <= KA_SCAN_SQL_WORDS; ++mode) {
        s.setInput(units, n);
        uint64_t last = 0;
        for (size_t steps = 0; steps <= n + 1; ++steps) {
            s.nextToken(token, mode);
            if (token.kind == KA_TOKEN_END)
                break;
            kafuzz::check(token.start >= 0 && uint64_t(token.start) + token.len <= n, "token outside the input");
            kafuzz::check(s.position > last && s.position <= n, "token without progress or past the input");
            last = s.position;
            if (token.kind == KA_TOKEN_WORD)
                (void)s.matchText(token, kWordsW);
        }
        kafuzz::check(s.atEnd != 0 || n == 0 || token.kind == KA_TOKEN_END, "scan did not end");
    }
    for (uint16_t separator : {uint16_t(';'), uint16_t(',')}) {
        s.setInput(units, n);
        KaArray items;
        (void)s.splitToStrings(items, separator);
        s.setInput(units, n);
        KaArray views;
        (void)s.splitToSubstrings(views, separator);
    }
}

void scanNarrow(const char* bytes, size_t n, uint8_t o, uint32_t encoding) noexcept
{
    KaScanner s(bytes, n, encoding);
    applyOptions(s, o);
    s.setOption(KaScanner::braceGroups, (o & 1) != 0);
    s.setOption(KaScanner::parenGroups, (o & 2) != 0);
    s.setOption(KaScanner::returnComments, (o & 4) != 0);
    s.setOption(KaScanner::skipComments, (o & 8) != 0);
    if (s.setWordStartChars(KaSubString("@$")) != 0 || s.setWordChars(KaSubString(".#")) != 0)
        return;
    KaToken token;
    for (int mode = KA_SCAN_PLAIN; mode <= KA_SCAN_SQL_WORDS; ++mode) {
        s.setInput(bytes, n, encoding);
        uint64_t last = 0;
        for (size_t steps = 0; steps <= n + 1; ++steps) {
            s.nextToken(token, mode);
            if (token.kind == KA_TOKEN_END)
                break;
            kafuzz::check(token.start >= 0 && uint64_t(token.start) + token.len <= n, "token outside the input");
            kafuzz::check(s.position > last && s.position <= n, "token without progress or past the input");
            last = s.position;
            if (token.kind == KA_TOKEN_WORD)
                (void)s.matchAny(token, "select\0from\0");
        }
    }
    for (char separator : {';', ','}) {
        s.setInput(bytes, n, encoding);
        KaArray items;
        (void)s.splitToStrings(items, separator);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    const uint8_t form = data[1];
    data += 2;
    size -= 2;
    std::vector<uint16_t> units = kafuzz::unitsOf(data, size);
    scanWide(units.data(), units.size(), options);
    const char* bytes = reinterpret_cast<const char*>(data);
    if ((form & 1) != 0) {
        scanNarrow(bytes, size, options, KA_TEXT_UTF8);
    } else {
        // The locale's encoding: plain bytes, then UTF-8 through the locale.
        kafuzz::LocaleScope plain("C");
        scanNarrow(bytes, size, options, KA_TEXT_LOCALE);
        kafuzz::LocaleScope utf8("C.UTF-8");
        scanNarrow(bytes, size, options, KA_TEXT_LOCALE);
    }
    return 0;
}
