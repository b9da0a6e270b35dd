// Number text over arbitrary bytes: the integer readers of every width in
// both code units, and the conversion engine's text to every numeric kind
// (the first byte picks the precision and scale). A value the 64-bit reader
// accepts prints back to text that reads as the same value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/number.h"
#include "foundation/codepage.h"
#include "foundation/numtext.h"
#include "fuzzfixture.h"

namespace {

void readers(const std::string& text, const std::vector<uint16_t>& units) noexcept
{
    const char* t = text.c_str();
    const size_t n = text.size();
    int64_t i64 = 0;
    if (textToI64N(t, n, &i64) == 0) {
        char printed[24];
        size_t len = i64ToTextN(printed, sizeof printed, i64);
        int64_t again = 0;
        kafuzz::check(textToI64N(printed, len, &again) == 0 && again == i64, "64-bit number does not read back");
    }
    uint64_t u64 = 0;
    uint32_t u32 = 0;
    int32_t i32 = 0;
    uint16_t u16 = 0;
    int16_t i16 = 0;
    uint8_t u8 = 0;
    int8_t i8 = 0;
    (void)textToU64(t, &u64);
    (void)textToI64(t, &i64);
    (void)textToI32(t, &i32);
    (void)textToU32(t, &u32);
    (void)textToU32(t, nullptr);
    (void)textToU16(t, &u16);
    (void)textToI16(t, &i16);
    (void)textToU8(t, &u8);
    (void)textToI8(t, &i8);
    (void)textToU64N(t, n, &u64);
    (void)textToU32N(t, n, &u32);
    (void)textToI32N(t, n, &i32);
    (void)textToU16N(t, n, &u16);
    (void)textToI16N(t, n, &i16);

    const uint16_t* w = units.data();
    const size_t m = units.size() - 1;  // the terminator is not text
    (void)textWToU64(w, &u64);
    (void)textWToU64N(w, m, &u64);
    (void)textWToI64(w, &i64);
    (void)textWToI64N(w, m, &i64);
    (void)textWToU32(w, &u32);
    (void)textWToU32N(w, m, &u32);
    (void)textWToI32(w, &i32);
    (void)textWToI32N(w, m, &i32);
    (void)textWToU16(w, &u16);
    (void)textWToU16N(w, m, &u16);
}

void engine(const std::string& text, int64_t codePage, uint8_t options) noexcept
{
    static const int32_t kinds[] = {kBaseKindBit,       kBaseKindTinyInt, kBaseKindUTinyInt, kBaseKindSmallInt,
                                    kBaseKindUSmallInt, kBaseKindInteger, kBaseKindUInteger, kBaseKindBigInt,
                                    kBaseKindUBigInt,   kBaseKindPacked,  kBaseKindDecimal,  kBaseKindReal,
                                    kBaseKindDouble,    kBaseKindText};
    const int64_t precision = int64_t(options % 40);
    const int16_t scale = int16_t((options >> 3) % 12) - 2;
    const uint32_t flags = (options & 0x80) != 0 ? kBaseFlagOdbc2 | kBaseFlagParam : kBaseFlagOdbc3 | kBaseFlagFetch;
    alignas(8) uint8_t out[sizeof(BaseDecimal) + 16];
    for (int32_t kind : kinds) {
        int64_t produced = 0;
        const int64_t room = kind == kBaseKindPacked || kind == kBaseKindDecimal ? precision
                             : kind == kBaseKindText                             ? int64_t(options % 64)
                                                                                 : int64_t(sizeof out);
        for (int32_t truncation : {kBaseTruncSilent, kBaseTruncStrict}) {
            kafuzz::DiagnosticScope diagnostics;
            (void)baseConvertNumeric(nullptr, kBaseKindText, codePage, text.data(), int64_t(text.size()), kind,
                                     kCodePageUtf8, out, &produced, room, scale, truncation, flags);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<uint16_t> units(text.begin(), text.end());
    for (uint16_t& u : units)
        u = uint8_t(u);
    units.push_back(0);
    readers(text, units);
    engine(text, kCodePageUtf8, options);
    // The same digits as UTF-16 text.
    std::vector<uint16_t> wide = kafuzz::unitsOf(data + 1, size - 1);
    engine(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2), kCodePageUtf16LE, options);
    return 0;
}
