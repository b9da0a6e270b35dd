// Code-page conversion of text between UTF-8, Shift_JIS, UTF-16LE,
// ISO-8859-1 and IBM037: the first byte picks source, target and the room of
// the output (exactly that large, so that a write past it is caught), with
// and without a terminator. Well-formed UTF-16 text that fits goes to UTF-8
// and back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "fuzzfixture.h"

namespace {

constexpr int64_t kShiftJis = 17;
constexpr int64_t kIbm037 = 2028;
const int64_t kCodePages[] = {kCodePageUtf8, kShiftJis, kCodePageUtf16LE, kCodePageLatin1, kIbm037};
constexpr size_t kPages = sizeof kCodePages / sizeof *kCodePages;

bool wellFormedUtf16(const uint8_t* bytes, size_t n)
{
    if (n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        const uint16_t u = uint16_t(bytes[i] | bytes[i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= n)
                return false;
            const uint16_t next = uint16_t(bytes[i + 2] | bytes[i + 3] << 8);
            if (next < 0xDC00 || next > 0xDFFF)
                return false;
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

void roundTrip(const uint8_t* text, size_t n, KaIcuCache& cache)
{
    if (!wellFormedUtf16(text, n))
        return;
    std::vector<uint8_t> utf8(n * 2 + 1);
    int64_t produced = 0;
    int32_t truncated = 0;
    kafuzz::DiagnosticScope diagnostics;
    if (baseConvertText(kCodePageUtf16LE, text, int64_t(n), kCodePageUtf8, utf8.data(), int64_t(utf8.size()), &produced,
                        &truncated, &cache, 0) != 0)
        return;
    kafuzz::check(truncated == 0, "UTF-8 form of UTF-16 text cut in ample room");
    std::vector<uint8_t> back(n + 2);
    int64_t backLength = 0;
    kafuzz::check(baseConvertText(kCodePageUtf8, utf8.data(), produced, kCodePageUtf16LE, back.data(),
                                  int64_t(back.size()), &backLength, &truncated, &cache, 0) == 0 &&
                      truncated == 0,
                  "UTF-8 made from UTF-16 does not convert back");
    kafuzz::check(size_t(backLength) == n && std::equal(text, text + n, back.begin()),
                  "UTF-16 text changed on its way through UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static KaIcuCache cache;
    const int64_t from = kCodePages[data[0] % kPages];
    const int64_t to = kCodePages[(data[0] / kPages) % kPages];
    const bool blankTail = (data[0] & 0x80) != 0;
    const size_t room = data[1];
    std::vector<uint8_t> text(data + 2, data + size);
    const uint8_t* src = text.data();
    const int64_t n = int64_t(text.size());
    {
        kafuzz::DiagnosticScope diagnostics;
        std::vector<uint8_t> out(room);
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(from, src, n, to, out.data(), int64_t(room), &produced, &truncated, &cache,
                            blankTail ? 1 : 0) == 0)
            kafuzz::check(produced >= 0 && size_t(produced) <= room, "conversion reports more than its room");
    }
    for (int32_t fullLength : {0, 1}) {
        kafuzz::DiagnosticScope diagnostics;
        std::vector<uint8_t> out(room);
        int64_t produced = 0;
        int32_t truncated = 0;
        (void)baseConvertTextToBuffer(from, src, n, to, out.data(), int64_t(room), fullLength, &produced, &truncated,
                                      &cache);
    }
    roundTrip(src, text.size(), cache);
    return 0;
}
