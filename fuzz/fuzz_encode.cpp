// The hex, Base64 and percent codecs over arbitrary bytes: every hex reader
// (8-bit, UTF-16 and 32-bit digits, and the escaping one) into an output
// exactly as large as its header promises, Base64 decoding into a room the
// first byte picks, and percent-encoding of URL parts. Decoded data encodes
// back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/kaencode.h"
#include "foundation/ram.h"
#include "fuzzfixture.h"

namespace {

void hex(const uint8_t* data, size_t n, uint8_t escape) noexcept
{
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<uint8_t> out((n + 1) / 2);
    if (unhexify(out.data(), text, n) == 0 && n % 2 == 0) {
        std::vector<char> again(n);
        hexify(again.data(), out.data(), out.size());
        for (size_t i = 0; i < n; ++i)
            kafuzz::check(again[i] == (text[i] >= 'a' && text[i] <= 'f' ? char(text[i] - 32) : text[i]),
                          "hex text does not encode back");
    }
    std::vector<uint16_t> wide(data, data + n);
    (void)unhexifyW(out.data(), wide.data(), n);
    std::vector<uint32_t> units(data, data + n);
    (void)unhexifyU32(out.data(), units.data(), n);
    std::vector<uint8_t> escaped(n);
    size_t written = 0;
    if (unhexifyEscaped(escaped.data(), text, n, escape, &written) == 0)
        kafuzz::check(written <= n, "escaped hex wrote more than its room");
    (void)isHexText(data, n);
}

void base64(const uint8_t* data, size_t n, uint8_t roomByte) noexcept
{
    static uint8_t table[256];
    static bool ready = false;
    if (!ready) {
        KaBase64MakeReverseTable(KaBase64StandardAlphabet, table);
        ready = true;
    }
    const char* text = reinterpret_cast<const char*>(data);
    const uint32_t room = roomByte == 255 ? uint32_t(n) : roomByte;
    std::vector<uint8_t> out(room);
    uint8_t* end = KaBase64Decode(text, uint32_t(n), out.data(), room, table);
    if (end == nullptr)
        return;
    kafuzz::check(end >= out.data() && end <= out.data() + room, "Base64 decoding ended outside its room");
    const uint32_t decoded = uint32_t(end - out.data());
    std::vector<char> again(KaBase64EncodedLength(decoded));
    char* last = KaBase64Encode(out.data(), decoded, again.data(), KaBase64StandardAlphabet);
    kafuzz::check(last == again.data() + again.size(), "Base64 encoding wrote other than its length");
    // Decoding the encoded form gives the same bytes.
    std::vector<uint8_t> back(decoded + 3);
    uint8_t* backEnd = KaBase64Decode(again.data(), uint32_t(again.size()), back.data(), uint32_t(back.size()), table);
    kafuzz::check(backEnd != nullptr && uint32_t(backEnd - back.data()) == decoded &&
                      std::memcmp(back.data(), out.data(), decoded) == 0,
                  "Base64 data does not survive encoding and decoding");
}

void percent(const uint8_t* data, size_t n, uint8_t options) noexcept
{
    const char* text = reinterpret_cast<const char*>(data);
    const size_t room = options & 0x7F;
    std::vector<char> out(room);
    size_t written = 0;
    if (urlEncode(text, n, out.data(), room, &written, options >> 7) != nullptr)
        kafuzz::check(written <= room, "percent-encoding wrote past its room");
    size_t allocated = 0;
    if (char* all = urlEncodeAlloc(text, n, &allocated); all != nullptr) {
        kafuzz::check(allocated <= 3 * n, "percent-encoding longer than three bytes a byte");
        ramFree(all);
    }
    std::vector<uint16_t> units = kafuzz::unitsOf(data, n);
    std::vector<char> wideOut(room);
    (void)urlEncodeW(units.data(), units.size(), wideOut.data(), room, &written, options >> 7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    std::vector<uint8_t> text(data + 1, data + size);
    hex(text.data(), text.size(), options);
    base64(text.data(), text.size(), options);
    percent(text.data(), text.size(), options);
    return 0;
}
