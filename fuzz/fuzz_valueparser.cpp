// The attribute-string parsers over arbitrary text: the first byte picks the
// separator, whether duplicates are allowed, whether quoting is off (as on
// the connect path), which further keys are held encrypted and how the
// UTF-16 parser reads the bytes. Whatever parses must build back into text that
// parses to the same keys with the same values, in the same order.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzzfixture.h"
#include "odbc/kavalueparser.h"
#include "security/kamembuf.h"

namespace {

const uint8_t kKey[8] = {0x31, 0x07, 0xC2, 0x9E, 0x55, 0x18, 0xA4, 0x6B};
const uint16_t kWordCharsW[] = {'_', '.', '(', ')', 0};

// Every attribute as key and value text; a value held encrypted is
// decrypted, so that secrets take part in the comparison too.
using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;

Attributes attributesOf(KaValueParserW& p)
{
    Attributes out;
    for (size_t i = 0; i < p.attributes.count; ++i) {
        KaSubStringW* key = p.keyAt(i);
        std::u16string k(reinterpret_cast<const char16_t*>(key->data), key->len);
        std::u16string v;
        std::u16string name = k;
        KaStringW* text = p.getValue(*key);
        if (text != nullptr) {
            v.assign(reinterpret_cast<const char16_t*>(text->data), text->len);
        } else {
            int found = 0;
            KaMemoryBuffer holder;
            KaMemoryBuffer plain;
            name.push_back(u'\0');
            if (p.getSecret(reinterpret_cast<const uint16_t*>(name.c_str()), &found, holder) == 0 && found &&
                plain.decryptFrom(holder, kKey) == 0 && plain.data != nullptr)
                v.assign(reinterpret_cast<const char16_t*>(plain.data), size_t(plain.length));
            else
                v = u"<unreadable>";
        }
        out.emplace_back(std::move(k), std::move(v));
    }
    return out;
}

using NarrowAttributes = std::vector<std::pair<std::string, std::string>>;

NarrowAttributes attributesOf(KaValueParser& p)
{
    NarrowAttributes out;
    for (size_t i = 0; i < p.attributes.count; ++i) {
        KaSubString* key = p.keyAt(i);
        KaString* text = p.getValue(*key);
        out.emplace_back(std::string(key->data, key->len),
                         text != nullptr && text->data != nullptr ? std::string(text->data, text->len) : "<null>");
    }
    return out;
}

void setUp(KaValueParserW& p, bool quotingOff)
{
    if (quotingOff)
        p.setQuoteChars(0, 0, 0);
    (void)p.addWordChars(kWordCharsW);
}

void setUp(KaValueParser& p, bool quotingOff)
{
    if (quotingOff)
        p.setQuoteChars(0, 0, 0);
    (void)p.addWordChars("_.()");
}

// Keys whose names do not say so are held encrypted as well when they
// start with "S".
int startsWithS(const KaSubStringW& key)
{
    return key.len > 0 && (key.data[0] == 'S' || key.data[0] == 's') ? 1 : 0;
}

void wide(const uint16_t* units, size_t n, uint16_t separator, int32_t duplicates, bool quotingOff, bool secrets)
{
    KaValueParserW p(units, n, separator, nullptr, duplicates);
    setUp(p, quotingOff);
    if (p.parse(kKey, secrets ? startsWithS : nullptr) != 0)
        return;
    Attributes before = attributesOf(p);
    KaStringWEx built;
    if (p.buildDecrypted(built, kKey, separator) != 0)
        return;
    std::vector<uint16_t> copy(built.data, built.data + built.len);
    KaValueParserW again(copy.data(), copy.size(), separator, nullptr, duplicates);
    setUp(again, quotingOff);
    kafuzz::check(again.parse(kKey, secrets ? startsWithS : nullptr) == 0, "built text does not parse");
    kafuzz::check(attributesOf(again) == before, "built text parses to other attributes");
}

void narrow(const char* bytes, size_t n, char separator, int32_t duplicates, bool quotingOff)
{
    KaValueParser p(bytes, n, KA_TEXT_UTF8, separator, nullptr, duplicates);
    setUp(p, quotingOff);
    if (p.parse() != 0)
        return;
    NarrowAttributes before = attributesOf(p);
    KaStringEx built;
    if (p.build(built, separator) != 0)
        return;
    std::string copy(built.data != nullptr ? built.data : "", built.len);
    KaValueParser again(copy.data(), copy.size(), KA_TEXT_UTF8, separator, nullptr, duplicates);
    setUp(again, quotingOff);
    const bool parsed = again.parse() == 0;
    NarrowAttributes after = attributesOf(again);
    if (!parsed || after != before) {
        // What differs, for whoever reads the finding.
        std::fprintf(stderr, "built: [%s]\n", copy.c_str());
        for (const auto& [k, v] : before)
            std::fprintf(stderr, "  before [%s]=[%s]\n", k.c_str(), v.c_str());
        for (const auto& [k, v] : after)
            std::fprintf(stderr, "  after  [%s]=[%s]\n", k.c_str(), v.c_str());
    }
    kafuzz::check(parsed, "built 8-bit text does not parse");
    kafuzz::check(after == before, "built 8-bit text parses to other attributes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    const char separator = (options & 1) != 0 ? ';' : ',';
    const int32_t duplicates = (options >> 1) & 1;
    const bool quotingOff = (options & 4) != 0;
    const bool secrets = (options & 8) != 0;
    // The UTF-16 parser reads the bytes as unit pairs, or one unit each so
    // that one text feeds both parsers.
    std::vector<uint16_t> units =
        (options & 16) != 0 ? std::vector<uint16_t>(data + 1, data + size) : kafuzz::unitsOf(data + 1, size - 1);
    wide(units.data(), units.size(), uint16_t(separator), duplicates, quotingOff, secrets);
    narrow(reinterpret_cast<const char*>(data + 1), size - 1, separator, duplicates, quotingOff);
    return 0;
}
