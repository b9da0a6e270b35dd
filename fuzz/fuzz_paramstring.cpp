// Message-parameter substitution over arbitrary templates and parameters:
// the input is split at the first two zero bytes into a template, a text
// parameter and a number; both string classes fill every placeholder kind
// (text, quoted text, counted text, signed and unsigned numbers), the UTF-16
// one with a second template appended half way.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kaparamstring.h"
#include "fuzzfixture.h"

namespace {

struct Pieces {
    std::string templ;
    std::string param;
    uint64_t number = 0;
};

Pieces split(const uint8_t* data, size_t size)
{
    Pieces p;
    const char* text = reinterpret_cast<const char*>(data);
    const char* end = text + size;
    const char* zero = static_cast<const char*>(std::memchr(text, 0, size));
    p.templ.assign(text, zero != nullptr ? zero : end);
    if (zero != nullptr) {
        const char* second = static_cast<const char*>(std::memchr(zero + 1, 0, size_t(end - zero - 1)));
        p.param.assign(zero + 1, second != nullptr ? second : end);
        if (second != nullptr)
            std::memcpy(&p.number, second + 1, std::min<size_t>(sizeof p.number, size_t(end - second - 1)));
    }
    return p;
}

void narrow(const Pieces& p) noexcept
{
    KaParamString s(KA_TEXT_UTF8);
    if (s.set(p.templ.data(), p.templ.size()) != 0)
        return;
    KaSubString sub(p.param.data(), p.param.size());
    for (int i = 0; i < 12; ++i) {
        switch (i % 6) {
        case 0: (void)s.addParam(p.param.c_str()); break;
        case 1: (void)s.addParamQuoted(p.param.c_str(), '\''); break;
        case 2: (void)s.addParamSubString(sub); break;
        case 3: (void)s.addParamSigned(int64_t(p.number)); break;
        case 4: (void)s.addParamUnsigned(p.number); break;
        default: s.chainParam(p.param.c_str()).chainUnsigned(p.number); break;
        }
    }
}

void wide(const Pieces& p) noexcept
{
    std::vector<uint16_t> templ(p.templ.begin(), p.templ.end());
    std::vector<uint16_t> param(p.param.begin(), p.param.end());
    for (uint16_t& u : templ)
        u = uint8_t(u);
    for (uint16_t& u : param)
        u = uint8_t(u);
    param.push_back(0);
    KaParamStringW s;
    if (s.set(templ.data(), templ.size()) != 0)
        return;
    KaSubStringW sub(param.data(), param.size() - 1);
    for (int i = 0; i < 12; ++i) {
        if (i == 6 && s.appendTemplate(templ.data(), templ.size()) != 0)
            return;
        switch (i % 6) {
        case 0: (void)s.addParam(param.data()); break;
        case 1: (void)s.addParamQuoted(param.data(), '"'); break;
        case 2: (void)s.addParamSubString(sub); break;
        case 3: (void)s.addParamSigned(int64_t(p.number)); break;
        case 4: (void)s.addParamUnsigned(p.number); break;
        default: s.chainParam(param.data()).chainSigned(-int64_t(p.number & 0xFFFF)); break;
        }
    }
    kafuzz::check(s.len == 0 || s.data != nullptr, "filled text has a length but no data");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope diagnostics;
    Pieces p = split(data, size);
    narrow(p);
    wide(p);
    return 0;
}
