// The date, time, timestamp, interval and GUID parsers over arbitrary text;
// the first byte picks the interval code and the parse options. An interval
// or a GUID that parses formats back to text that parses to the same value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/datetime.h"
#include "convert/guid.h"
#include "convert/number.h"
#include "foundation/codepage.h"
#include "fuzzfixture.h"

namespace {

void dates(const char* text, int64_t n, uint8_t options) noexcept
{
    const bool negativeYears = (options & 1) != 0;
    const bool allow24 = (options & 2) != 0;
    const int32_t highestSecond = (options & 4) != 0 ? 61 : 59;
    const uint32_t flags = (options & 8) != 0 ? kBaseFlagOdbc2 : kBaseFlagOdbc3;
    BaseDate date;
    (void)baseParseDate(text, n, &date, negativeYears, flags);
    alignas(8) uint8_t time[sizeof(BaseTimeFraction)];
    (void)baseParseTime(text, n, time, kBaseKindTime, highestSecond, flags, true, allow24);
    (void)baseParseTime(text, n, time, kBaseKindTimeFraction, highestSecond, flags, false, allow24);
    BaseTimestamp stamp;
    (void)baseParseTimestamp(text, n, &stamp, highestSecond, negativeYears, flags, (options & 16) != 0, allow24);
    (void)baseLooksLikeTime(text, n);
    (void)baseLooksLikeTimestamp(text, n);
    int64_t consumed = 0;
    uint32_t value = 0;
    (void)baseParseUnsigned(text, n, &consumed, &value);
    kafuzz::check(consumed >= 0 && consumed <= n, "unsigned reader consumed past the text");
}

void interval(const char* text, int64_t n, uint8_t options) noexcept
{
    const int32_t code = int32_t(options % 13) + 1;
    BaseInterval parsed;
    std::memset(&parsed, 0, sizeof parsed);
    if (baseParseInterval(code, text, n, &parsed, nullptr) != 0)
        return;
    char formatted[kBaseIntervalTextSize];
    int64_t produced = 0;
    if (baseFormatInterval(code, &parsed, formatted, &produced, 9, 9) != 0)
        return;
    kafuzz::check(produced >= 0 && produced < kBaseIntervalTextSize, "interval text overruns its room");
    BaseInterval again;
    std::memset(&again, 0, sizeof again);
    kafuzz::check(baseParseInterval(code, formatted, produced, &again, nullptr) == 0,
                  "formatted interval does not parse");
    kafuzz::check(std::memcmp(&again, &parsed, sizeof parsed) == 0, "formatted interval parses to another value");
    for (int32_t to = 1; to <= 13; ++to) {
        BaseInterval converted;
        (void)baseConvertInterval(code, &parsed, to, &converted);
    }
}

void guid(const char* text, int64_t n, const std::vector<uint16_t>& units) noexcept
{
    BaseGuid g;
    (void)baseParseGuidW(units.data(), int64_t(units.size()), &g);
    if (baseParseGuid(text, n, &g) != 0)
        return;
    char formatted[kBaseGuidTextLength + 1];
    if (baseFormatGuid(&g, formatted) != 0)
        return;
    BaseGuid again;
    kafuzz::check(baseParseGuid(formatted, kBaseGuidTextLength, &again) == 0, "formatted GUID does not parse");
    kafuzz::check(std::memcmp(&again, &g, sizeof g) == 0, "formatted GUID parses to another value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    // An exact-size copy, so that any read past the text is caught.
    std::vector<char> text(data + 1, data + size);
    const char* t = text.empty() ? "" : text.data();
    const int64_t n = int64_t(text.size());
    std::vector<uint16_t> units(text.begin(), text.end());
    for (uint16_t& u : units)
        u = uint8_t(u);
    dates(t, n, options);
    interval(t, n, options);
    guid(t, n, units);
    return 0;
}
