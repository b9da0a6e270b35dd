// Multi-word integer arithmetic: schoolbook products, Knuth's long division
// and Barrett reduction for modular powers.
#include "security/kahugeint.h"

#include <cstring>
#include <ctime>

#include "foundation/karandom.h"

namespace {

constexpr uint64_t kBase = uint64_t(1) << 32;
constexpr uint32_t kTopBit = 0x80000000u;

uint32_t leadingZeros(uint32_t w) noexcept
{
    return w == 0 ? 32 : uint32_t(__builtin_clz(w));
}

// Words of value with the lowest `drop` removed (a right shift by whole words).
void dropLowWords(const HugeInteger& value, uint32_t drop, HugeInteger& out) noexcept
{
    HugeInteger result;
    if (drop < value.count) {
        uint32_t n = value.count - drop;
        memcpy(result.words, value.words + drop, n * sizeof(uint32_t));
        result.count = n;
        while (result.count > 1 && result.words[result.count - 1] == 0)
            --result.count;
    }
    out = result;
}

// value modulo 2^(32 * keep) for a non-negative value.
void keepLowWords(HugeInteger& value, uint32_t keep) noexcept
{
    if (value.count <= keep)
        return;
    memset(value.words + keep, 0, (KA_HUGE_WORDS - keep) * sizeof(uint32_t));
    value.count = keep;
    while (value.count > 1 && value.words[value.count - 1] == 0)
        --value.count;
}

}  // namespace

RandomNumberGenerator::RandomNumberGenerator() noexcept
{
    uint32_t seed = 0;
    if (KaRandomBytes(&seed, sizeof seed) != 0)
        seed = uint32_t(time(nullptr));
    // 0 and the modulus are fixed points of the recurrence: keep clear of them.
    state = 1 + seed % (modulus - 1);
}

uint8_t RandomNumberGenerator::nextByte() noexcept
{
    int64_t t = int64_t(multiplier) * int64_t(state % q) - int64_t(r) * int64_t(state / q);
    state = t > 0 ? uint32_t(t) : uint32_t(t + int64_t(modulus));
    return uint8_t(state ^ (state >> 8) ^ (state >> 16) ^ (state >> 24));
}

uint8_t RandomNumberGenerator::nextBit() noexcept
{
    return uint8_t(__builtin_popcount(nextByte()) & 1);
}

void RandomNumberGenerator::fill(uint8_t* buffer, size_t n) noexcept
{
    for (size_t i = 0; i < n; ++i)
        buffer[i] = nextByte();
}

uint32_t RandomNumberGenerator::nextInRange(uint32_t start, uint32_t end) noexcept
{
    uint32_t d = end - start;
    if (d == 0)
        return start;
    uint32_t bits = 32 - leadingZeros(d);
    uint32_t bytes = (bits + 7) / 8;
    uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (uint32_t(1) << bits) - 1;
    for (;;) {
        uint32_t value = 0;
        for (uint32_t i = 0; i < bytes; ++i)
            value = (value << 8) | nextByte();
        value &= mask;
        if (value <= d)
            return start + value;
    }
}

HugeInteger::HugeInteger(const HugeInteger& other) noexcept : KaObject()
{
    memcpy(words, other.words, sizeof words);
    count = other.count;
}

HugeInteger& HugeInteger::operator=(const HugeInteger& other) noexcept
{
    if (this != &other) {
        memcpy(words, other.words, sizeof words);
        count = other.count;
    }
    return *this;
}

HugeInteger::HugeInteger(const uint8_t* bytes, size_t n) noexcept
{
    if (fromBytes(bytes, n) != 0) {
        memset(words, 0, sizeof words);
        count = 1;
    }
}

HugeInteger::HugeInteger(const uint32_t* wordsMsf, size_t n) noexcept
{
    if (n > KA_HUGE_WORDS)
        return;
    for (size_t i = 0; i < n; ++i)
        words[i] = wordsMsf[n - 1 - i];
    count = n == 0 ? 1 : uint32_t(n);
    trim();
}

HugeInteger::HugeInteger(int32_t value) noexcept
{
    words[0] = uint32_t(value);
    if (value < 0) {
        for (uint32_t i = 1; i < KA_HUGE_WORDS; ++i)
            words[i] = 0xFFFFFFFFu;
        count = KA_HUGE_WORDS;
    }
}

// An unsigned value stays positive whatever its top bit.
HugeInteger::HugeInteger(uint64_t value) noexcept
{
    words[0] = uint32_t(value);
    words[1] = uint32_t(value >> 32);
    count = words[1] != 0 ? 2 : 1;
}

bool HugeInteger::isNegative() const noexcept
{
    return count == KA_HUGE_WORDS && (words[KA_HUGE_WORDS - 1] & kTopBit) != 0;
}

// Shifts keep the word count, so a zero may stand in several words.
bool HugeInteger::isZero() const noexcept
{
    for (uint32_t i = 0; i < count; ++i) {
        if (words[i] != 0)
            return false;
    }
    return true;
}

void HugeInteger::trim() noexcept
{
    if (isNegative())
        return;
    while (count > 1 && words[count - 1] == 0)
        --count;
}

void HugeInteger::magnitudeOf(const HugeInteger& value) noexcept
{
    *this = value;
    if (isNegative())
        negate();
}

void HugeInteger::add(const HugeInteger& a, const HugeInteger& b, HugeInteger& out) noexcept
{
    HugeInteger result;
    uint32_t n = a.count > b.count ? a.count : b.count;
    uint64_t carry = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t sum = uint64_t(a.words[i]) + b.words[i] + carry;
        result.words[i] = uint32_t(sum);
        carry = sum >> 32;
    }
    if (carry != 0 && n < KA_HUGE_WORDS)
        result.words[n++] = 1;
    result.count = n;
    result.trim();
    out = result;
}

void HugeInteger::subtract(const HugeInteger& a, const HugeInteger& b, HugeInteger& out) noexcept
{
    HugeInteger result;
    uint32_t n = a.count > b.count ? a.count : b.count;
    int64_t borrow = 0;
    for (uint32_t i = 0; i < n; ++i) {
        int64_t diff = int64_t(a.words[i]) - int64_t(b.words[i]) - borrow;
        borrow = diff < 0 ? 1 : 0;
        result.words[i] = uint32_t(diff + (borrow ? int64_t(kBase) : 0));
    }
    if (borrow != 0) {
        for (uint32_t i = n; i < KA_HUGE_WORDS; ++i)
            result.words[i] = 0xFFFFFFFFu;
        n = KA_HUGE_WORDS;
    }
    result.count = n;
    result.trim();
    out = result;
}

void HugeInteger::multiply(const HugeInteger& a, const HugeInteger& b, HugeInteger& out) noexcept
{
    HugeInteger x, y, result;
    x.magnitudeOf(a);
    y.magnitudeOf(b);
    for (uint32_t i = 0; i < x.count; ++i) {
        uint64_t carry = 0;
        if (x.words[i] == 0)
            continue;
        for (uint32_t j = 0; j < y.count && i + j < KA_HUGE_WORDS; ++j) {
            uint64_t t = uint64_t(x.words[i]) * y.words[j] + result.words[i + j] + carry;
            result.words[i + j] = uint32_t(t);
            carry = t >> 32;
        }
        if (i + y.count < KA_HUGE_WORDS)
            result.words[i + y.count] = uint32_t(carry);
    }
    uint32_t n = x.count + y.count;
    result.count = n > KA_HUGE_WORDS ? KA_HUGE_WORDS : n;
    result.trim();
    if (a.isNegative() != b.isNegative())
        result.negate();
    out = result;
}

int HugeInteger::compareMagnitude(const HugeInteger& a, const HugeInteger& b) noexcept
{
    if (a.count != b.count)
        return a.count < b.count ? -1 : 1;
    for (uint32_t i = a.count; i-- > 0;) {
        if (a.words[i] != b.words[i])
            return a.words[i] < b.words[i] ? -1 : 1;
    }
    return 0;
}

// a and m non-negative, m non-zero and not above a.
void HugeInteger::divideMagnitudes(const HugeInteger& a, const HugeInteger& m, HugeInteger* quotientOut,
                                   HugeInteger* remainderOut) noexcept
{
    HugeInteger q, rem;
    uint32_t n = m.count;
    uint32_t len = a.count;
    if (n == 1) {
        uint64_t running = 0;
        for (uint32_t i = len; i-- > 0;) {
            uint64_t value = (running << 32) | a.words[i];
            q.words[i] = uint32_t(value / m.words[0]);
            running = value % m.words[0];
        }
        q.count = len;
        rem.words[0] = uint32_t(running);
    } else {
        // Normalise so that the divisor's top word has its top bit set; the
        // dividend gains a word for the bits shifted out.
        uint32_t s = leadingZeros(m.words[n - 1]);
        uint32_t vn[KA_HUGE_WORDS];
        uint32_t un[KA_HUGE_WORDS + 1];
        for (uint32_t i = n - 1; i > 0; --i)
            vn[i] = (m.words[i] << s) | (s ? m.words[i - 1] >> (32 - s) : 0);
        vn[0] = m.words[0] << s;
        un[len] = s ? a.words[len - 1] >> (32 - s) : 0;
        for (uint32_t i = len - 1; i > 0; --i)
            un[i] = (a.words[i] << s) | (s ? a.words[i - 1] >> (32 - s) : 0);
        un[0] = a.words[0] << s;

        for (uint32_t j = len - n + 1; j-- > 0;) {
            uint64_t num = (uint64_t(un[j + n]) << 32) | un[j + n - 1];
            uint64_t qhat = num / vn[n - 1];
            uint64_t rhat = num % vn[n - 1];
            while (qhat >= kBase || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
                --qhat;
                rhat += vn[n - 1];
                if (rhat >= kBase)
                    break;
            }
            int64_t borrow = 0;
            int64_t t = 0;
            for (uint32_t i = 0; i < n; ++i) {
                uint64_t p = qhat * vn[i];
                t = int64_t(un[i + j]) - borrow - int64_t(p & 0xFFFFFFFFu);
                un[i + j] = uint32_t(t);
                borrow = int64_t(p >> 32) - (t >> 32);
            }
            t = int64_t(un[j + n]) - borrow;
            un[j + n] = uint32_t(t);
            if (t < 0) {
                // The estimate was one too large: add the divisor back.
                --qhat;
                uint64_t carry = 0;
                for (uint32_t i = 0; i < n; ++i) {
                    uint64_t sum = uint64_t(un[i + j]) + vn[i] + carry;
                    un[i + j] = uint32_t(sum);
                    carry = sum >> 32;
                }
                un[j + n] = uint32_t(un[j + n] + carry);
            }
            q.words[j] = uint32_t(qhat);
        }
        q.count = len - n + 1;
        for (uint32_t i = 0; i < n; ++i)
            rem.words[i] = (un[i] >> s) | (s ? uint32_t(uint64_t(un[i + 1]) << (32 - s)) : 0);
        rem.count = n;
    }
    q.trim();
    rem.trim();
    if (quotientOut)
        *quotientOut = q;
    if (remainderOut)
        *remainderOut = rem;
}

int HugeInteger::quotient(const HugeInteger& a, const HugeInteger& m, HugeInteger& out) noexcept
{
    if (m.isZero())
        return 1;
    HugeInteger x, y, q;
    x.magnitudeOf(a);
    y.magnitudeOf(m);
    if (compareMagnitude(x, y) >= 0)
        divideMagnitudes(x, y, &q, nullptr);
    if (a.isNegative() != m.isNegative())
        q.negate();
    out = q;
    return 0;
}

int HugeInteger::remainder(const HugeInteger& a, const HugeInteger& m, HugeInteger& out) noexcept
{
    if (m.isZero())
        return 1;
    HugeInteger x, y;
    x.magnitudeOf(a);
    y.magnitudeOf(m);
    if (compareMagnitude(x, y) < 0) {
        out = a;
        return 0;
    }
    HugeInteger rem;
    divideMagnitudes(x, y, nullptr, &rem);
    if (a.isNegative())
        rem.negate();
    out = rem;
    return 0;
}

uint32_t HugeInteger::remainderSmall(const HugeInteger& value, uint32_t n) noexcept
{
    if (n == 0)
        return 0;
    HugeInteger x;
    x.magnitudeOf(value);
    uint64_t running = 0;
    for (uint32_t i = x.count; i-- > 0;)
        running = ((running << 32) | x.words[i]) % n;
    return uint32_t(running);
}

bool HugeInteger::isEqual(const HugeInteger& other) const noexcept
{
    return count == other.count && memcmp(words, other.words, count * sizeof(uint32_t)) == 0;
}

bool HugeInteger::isGreater(const HugeInteger& other) const noexcept
{
    bool negative = isNegative();
    if (negative != other.isNegative())
        return !negative;
    // Two's complement values of one sign order as their unsigned words.
    return compareMagnitude(*this, other) > 0;
}

bool HugeInteger::isLess(const HugeInteger& other) const noexcept
{
    return other.isGreater(*this);
}

void HugeInteger::negate() noexcept
{
    uint64_t carry = 1;
    for (uint32_t i = 0; i < KA_HUGE_WORDS; ++i) {
        uint64_t t = uint64_t(uint32_t(~words[i])) + carry;
        words[i] = uint32_t(t);
        carry = t >> 32;
    }
    count = KA_HUGE_WORDS;
    trim();
}

void HugeInteger::shiftLeft(uint32_t n) noexcept
{
    while (n > 0) {
        uint32_t step = n > 32 ? 32 : n;
        n -= step;
        if (step == 32) {
            memmove(words + 1, words, (count - 1) * sizeof(uint32_t));
            words[0] = 0;
            continue;
        }
        for (uint32_t i = count; i-- > 1;)
            words[i] = (words[i] << step) | (words[i - 1] >> (32 - step));
        words[0] <<= step;
    }
}

void HugeInteger::shiftRight(uint32_t n) noexcept
{
    while (n > 0) {
        uint32_t step = n > 32 ? 32 : n;
        n -= step;
        if (step == 32) {
            memmove(words, words + 1, (count - 1) * sizeof(uint32_t));
            words[count - 1] = 0;
            continue;
        }
        for (uint32_t i = 0; i + 1 < count; ++i)
            words[i] = (words[i] >> step) | (words[i + 1] << (32 - step));
        words[count - 1] >>= step;
    }
}

uint32_t HugeInteger::bitLength() const noexcept
{
    for (uint32_t i = count; i-- > 0;) {
        if (words[i] != 0)
            return i * 32 + 32 - leadingZeros(words[i]);
    }
    return 0;
}

int64_t HugeInteger::toBytes(uint8_t* buffer, size_t size) const noexcept
{
    size_t valueBytes = (bitLength() + 7) / 8;
    if (size < valueBytes)
        return -1;
    memset(buffer, 0, size);
    for (size_t i = 0; i < valueBytes; ++i)
        buffer[size - 1 - i] = uint8_t(words[i / 4] >> (8 * (i % 4)));
    return int64_t(valueBytes);
}

int HugeInteger::fromBytes(const uint8_t* bytes, size_t n) noexcept
{
    memset(words, 0, sizeof words);
    count = 1;
    if (n > KA_HUGE_WORDS * sizeof(uint32_t))
        return 1;
    for (size_t i = 0; i < n; ++i)
        words[i / 4] |= uint32_t(bytes[n - 1 - i]) << (8 * (i % 4));
    count = n == 0 ? 1 : uint32_t((n + 3) / 4);
    trim();
    return 0;
}

void HugeInteger::setMaxPositive(size_t n) noexcept
{
    memset(words, 0, sizeof words);
    count = 1;
    if (n == 0)
        return;
    if (n > KA_HUGE_WORDS * sizeof(uint32_t))
        n = KA_HUGE_WORDS * sizeof(uint32_t);
    uint32_t full = uint32_t((n + 3) / 4);
    for (uint32_t i = 0; i + 1 < full; ++i)
        words[i] = 0xFFFFFFFFu;
    static const uint32_t tops[4] = {0x7FFFFFFFu, 0x7Fu, 0x7FFFu, 0x7FFFFFu};
    words[full - 1] = tops[n % 4];
    count = full;
}

void HugeInteger::reduce(HugeInteger& x, const HugeInteger& modulus, const HugeInteger& mu, uint32_t k) noexcept
{
    HugeInteger q1, q2, q3, r2;
    dropLowWords(x, k - 1, q1);
    multiply(q1, mu, q2);
    dropLowWords(q2, k + 1, q3);
    HugeInteger r1 = x;
    keepLowWords(r1, k + 1);
    multiply(q3, modulus, r2);
    keepLowWords(r2, k + 1);
    HugeInteger r;
    subtract(r1, r2, r);
    if (r.isNegative()) {
        HugeInteger wrap;
        wrap.words[k + 1] = 1;
        wrap.count = k + 2;
        add(r, wrap, r);
    }
    while (!r.isLess(modulus))
        subtract(r, modulus, r);
    x = r;
}

int HugeInteger::modPow(const HugeInteger& base, const HugeInteger& exponent, const HugeInteger& modulus,
                        HugeInteger& out) noexcept
{
    if (modulus.isZero() || exponent.isNegative())
        return 1;
    HugeInteger m;
    m.magnitudeOf(modulus);
    uint32_t k = m.count;
    // mu takes 2k + 1 words and the product q1 * mu up to 2k + 2.
    if (2 * k + 2 > KA_HUGE_WORDS)
        return 1;

    bool negativeBase = base.isNegative();
    HugeInteger power;
    power.magnitudeOf(base);
    if (remainder(power, m, power) != 0)
        return 1;
    HugeInteger top;
    top.words[2 * k] = 1;
    top.count = 2 * k + 1;
    HugeInteger mu;
    if (quotient(top, m, mu) != 0)
        return 1;

    HugeInteger result = one();
    uint32_t bits = exponent.bitLength();
    for (uint32_t i = 0; i < bits; ++i) {
        if ((exponent.words[i / 32] >> (i % 32)) & 1) {
            HugeInteger product;
            multiply(result, power, product);
            reduce(product, m, mu, k);
            result = product;
        }
        if (power.isEqual(one()))
            break;
        HugeInteger square;
        multiply(power, power, square);
        reduce(square, m, mu, k);
        power = square;
    }
    // A zero exponent leaves one, which the modulus one turns into zero.
    if (remainder(result, m, result) != 0)
        return 1;
    if (negativeBase && (exponent.words[0] & 1) != 0)
        result.negate();
    out = result;
    return 0;
}

void HugeInteger::randomBits(uint32_t n, RandomNumberGenerator& generator) noexcept
{
    constexpr uint32_t maxBits = KA_HUGE_WORDS * 32 - 8;
    if (n > maxBits)
        n = maxBits;
    uint8_t bytes[KA_HUGE_WORDS * sizeof(uint32_t)];
    size_t count8 = n / 8 + 1;
    generator.fill(bytes, count8);
    bytes[0] &= uint8_t((1u << (n % 8)) - 1);
    (void)fromBytes(bytes, count8);
}

void HugeInteger::randomRange(const HugeInteger& low, const HugeInteger& high,
                              RandomNumberGenerator& generator) noexcept
{
    HugeInteger d;
    subtract(high, low, d);
    if (d.isNegative()) {
        *this = low;
        return;
    }
    uint32_t b = d.bitLength();
    HugeInteger value;
    do {
        value.randomBits(b, generator);
    } while (value.isGreater(d));
    add(value, low, *this);
}

const HugeInteger& HugeInteger::one() noexcept
{
    static const HugeInteger value(int32_t(1));
    return value;
}
