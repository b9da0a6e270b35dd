// Fixed-size multi-word integers (300 words of 32 bits, two's complement
// over all words when negative) with modular exponentiation, and the small
// Park-Miller generator that feeds their random values. Public-key work
// built on them stands in security/.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"

constexpr uint32_t KA_HUGE_WORDS = 300;

// Park-Miller minimal standard generator (multiplier 48271, Schrage's method).
// Not a source of secrets: it only spreads a seed.
class RandomNumberGenerator : public KaObject {
public:
    uint32_t state = 0;
    uint32_t modulus = 2147483647u;
    uint32_t q = 44488;
    uint32_t multiplier = 48271;
    uint32_t r = 3399;

    // Seeded from the kernel's generator so that two generators made in the
    // same second do not repeat each other; the current time is the fallback.
    RandomNumberGenerator() noexcept;
    explicit RandomNumberGenerator(uint32_t seed) noexcept : state(seed) {}

    uint8_t nextByte() noexcept;
    uint8_t nextBit() noexcept;
    void fill(uint8_t* buffer, size_t n) noexcept;
    // Evenly in [start, end]; start when the range holds one value.
    uint32_t nextInRange(uint32_t start, uint32_t end) noexcept;
};

class HugeInteger : public KaObject {
public:
    uint32_t words[KA_HUGE_WORDS] = {};  // least significant first
    uint32_t count = 1;                  // words in use, 1 to KA_HUGE_WORDS

    HugeInteger() noexcept = default;
    HugeInteger(const HugeInteger& other) noexcept;
    HugeInteger& operator=(const HugeInteger& other) noexcept;
    HugeInteger(const uint8_t* bytes, size_t n) noexcept;
    // Words most significant first.
    HugeInteger(const uint32_t* wordsMsf, size_t n) noexcept;
    explicit HugeInteger(int32_t value) noexcept;
    explicit HugeInteger(uint64_t value) noexcept;

    bool isNegative() const noexcept;
    bool isZero() const noexcept;

    static void add(const HugeInteger& a, const HugeInteger& b, HugeInteger& out) noexcept;
    static void subtract(const HugeInteger& a, const HugeInteger& b, HugeInteger& out) noexcept;
    static void multiply(const HugeInteger& a, const HugeInteger& b, HugeInteger& out) noexcept;
    // Truncated toward zero; 0, or 1 for a zero divisor (out left as it was).
    [[nodiscard]] static int quotient(const HugeInteger& a, const HugeInteger& m, HugeInteger& out) noexcept;
    // With the sign of a; 0, or 1 for a zero divisor.
    [[nodiscard]] static int remainder(const HugeInteger& a, const HugeInteger& m, HugeInteger& out) noexcept;
    // Remainder of the magnitude by n (n != 0); 0 for n == 0.
    static uint32_t remainderSmall(const HugeInteger& value, uint32_t n) noexcept;

    bool isEqual(const HugeInteger& other) const noexcept;
    bool isGreater(const HugeInteger& other) const noexcept;
    bool isLess(const HugeInteger& other) const noexcept;
    void negate() noexcept;
    // Within the current word count: bits moved beyond it are lost.
    void shiftLeft(uint32_t n) noexcept;
    void shiftRight(uint32_t n) noexcept;
    uint32_t bitLength() const noexcept;

    // Minimal big-endian form right-aligned in size bytes; the number of
    // value bytes, or -1 (nothing written) when size is too small for them.
    [[nodiscard]] int64_t toBytes(uint8_t* buffer, size_t size) const noexcept;
    // Bytes beyond what the words hold are refused with 1 (value left zero).
    [[nodiscard]] int fromBytes(const uint8_t* bytes, size_t n) noexcept;
    // The largest positive value of n bytes (1 to the integer's size).
    void setMaxPositive(size_t n) noexcept;

    // base^exponent mod modulus with Barrett reduction; 0, or 1 for a zero
    // modulus, a negative exponent or a modulus too wide to reduce.
    [[nodiscard]] static int modPow(const HugeInteger& base, const HugeInteger& exponent, const HugeInteger& modulus,
                                    HugeInteger& out) noexcept;

    // Evenly below 2^n; and evenly in [low, high] (low when high < low).
    void randomBits(uint32_t n, RandomNumberGenerator& generator) noexcept;
    void randomRange(const HugeInteger& low, const HugeInteger& high, RandomNumberGenerator& generator) noexcept;

    static const HugeInteger& one() noexcept;

private:
    void trim() noexcept;
    void magnitudeOf(const HugeInteger& value) noexcept;
    static int compareMagnitude(const HugeInteger& a, const HugeInteger& b) noexcept;
    static void divideMagnitudes(const HugeInteger& a, const HugeInteger& m, HugeInteger* quotientOut,
                                 HugeInteger* remainderOut) noexcept;
    static void reduce(HugeInteger& x, const HugeInteger& modulus, const HugeInteger& mu, uint32_t k) noexcept;
};
