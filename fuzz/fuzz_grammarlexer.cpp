// The grammar lexer over arbitrary 8-bit text with a small keyword table,
// reading to the end with a saved position restored part way (the first
// byte picks the quote characters and the case mode): no crash, no overrun,
// no endless loop.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzzfixture.h"
#include "sql/kaparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    static const char kWords[] = "SELECT\0\x65\x00"
                                 "FROM\0\x66\x00";
    KaKeywordList keywords;
    if (keywords.load(kWords) != 0)
        return 0;
    keywords.setExactCase(data[0] & 1);
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    KaLexer lexer(input.c_str(), &keywords);
    if (lexer.usable() != 0)
        return 0;
    if (data[0] & 2)
        lexer.setQuoteChars(0, 0, 0);
    KaLexerPosition saved;
    bool restored = false;
    // Every token consumes input, so the input length bounds the reads.
    for (size_t i = 0; i < 4 * input.size() + 8; ++i) {
        int16_t code = 0;
        const char* text = nullptr;
        if (lexer.nextToken(&code, &text) != 0)
            break;
        if (i == 3)
            lexer.savePosition(&saved);
        if (code == KA_LEX_LITERAL_QUOTE && lexer.inLiteral() && (data[0] & 4)) {
            if (lexer.takeLiteralContents(&text) != 0)
                break;
        }
        if (code == KA_LEX_END) {
            if (restored || i < 4)
                break;
            restored = true;
            if (lexer.restorePosition(saved) != 0)
                break;
        }
    }
    return 0;
}
