// Multi-word integers against Python's integers on seeded random operands,
// and the generator against its recurrence.
#include "security/kahugeint.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/platformtest.h"

namespace {

// "0x..." or "-0x..." for a value.
std::string toPython(const HugeInteger& value)
{
    HugeInteger magnitude = value;
    bool negative = value.isNegative();
    if (negative)
        magnitude.negate();
    std::vector<uint8_t> bytes(KA_HUGE_WORDS * 4);
    int64_t n = magnitude.toBytes(bytes.data(), bytes.size());
    EXPECT_GE(n, 0);
    std::string out = negative ? "-0x" : "0x";
    static const char digits[] = "0123456789abcdef";
    if (n == 0)
        return "0x0";
    for (size_t i = bytes.size() - size_t(n); i < bytes.size(); ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    // Python writes no leading zero digit.
    size_t first = negative ? 3 : 2;
    if (out[first] == '0')
        out.erase(first, 1);
    return out;
}

HugeInteger randomValue(std::mt19937_64& rng, size_t maxBytes, bool allowNegative)
{
    std::uniform_int_distribution<size_t> length(0, maxBytes);
    std::vector<uint8_t> bytes(length(rng));
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    // Runs of 0xFF and zero bytes reach the carry and borrow paths.
    if (!bytes.empty() && rng() % 4 == 0)
        std::fill(bytes.begin() + long(bytes.size() / 2), bytes.end(), uint8_t(rng() % 2 ? 0xFF : 0));
    HugeInteger value;
    EXPECT_EQ(0, value.fromBytes(bytes.data(), bytes.size()));
    if (allowNegative && rng() % 2)
        value.negate();
    return value;
}

// Runs a Python program over the lines and returns its output lines.
std::vector<std::string> python(const std::string& program, const std::vector<std::string>& input)
{
    katest::TempDir dir{"kahuge"};
    std::string script = dir.path() + "/check.py";
    std::string in = dir.path() + "/in";
    std::string out = dir.path() + "/out";
    std::ofstream(script) << program;
    {
        std::ofstream f(in);
        for (const std::string& line : input)
            f << line << "\n";
    }
    std::string command = "/usr/bin/python3 " + script + " < " + in + " > " + out;
    EXPECT_EQ(0, std::system(command.c_str()));
    std::vector<std::string> lines;
    std::ifstream f(out);
    for (std::string line; std::getline(f, line);)
        lines.push_back(line);
    return lines;
}

TEST(HugeInteger, ArithmeticMatchesPythonOnRandomOperands)
{
    std::mt19937_64 rng(20261210);
    std::vector<std::string> input, mine;
    for (int i = 0; i < 400; ++i) {
        // Mostly small, some wide divisors of many words.
        HugeInteger a = randomValue(rng, i % 5 == 0 ? 500 : 64, true);
        HugeInteger b = randomValue(rng, i % 3 == 0 ? 8 : 120, true);
        if (b.isZero())
            b = HugeInteger(int32_t(7));
        HugeInteger sum, diff, product, q, r;
        HugeInteger::add(a, b, sum);
        HugeInteger::subtract(a, b, diff);
        HugeInteger::multiply(a, b, product);
        ASSERT_EQ(0, HugeInteger::quotient(a, b, q));
        ASSERT_EQ(0, HugeInteger::remainder(a, b, r));
        uint32_t small = uint32_t(rng() | 1);
        input.push_back(toPython(a) + " " + toPython(b) + " " + std::to_string(small));
        std::ostringstream line;
        line << toPython(sum) << " " << toPython(diff) << " " << toPython(product) << " " << toPython(q) << " "
             << toPython(r) << " " << HugeInteger::remainderSmall(a, small) << " " << a.isLess(b) << " "
             << a.isGreater(b) << " " << a.bitLength();
        mine.push_back(line.str());
    }
    const char* program = R"(import sys
def h(v): return ('-' if v < 0 else '') + hex(abs(v))
for line in sys.stdin:
    a, b, s = line.split()
    a, b, s = int(a, 16), int(b, 16), int(s)
    q = abs(a) // abs(b)
    if (a < 0) != (b < 0): q = -q
    r = a - q * b
    bits = a.bit_length() if a >= 0 else 9600
    print(h(a + b), h(a - b), h(a * b), h(q), h(r), abs(a) % s, int(a < b), int(a > b), bits)
)";
    std::vector<std::string> expected = python(program, input);
    ASSERT_EQ(expected.size(), mine.size());
    for (size_t i = 0; i < mine.size(); ++i)
        EXPECT_EQ(expected[i], mine[i]) << input[i];
}

TEST(HugeInteger, ModPowMatchesPython)
{
    std::mt19937_64 rng(7677);
    std::vector<std::string> input, mine;
    for (int i = 0; i < 60; ++i) {
        HugeInteger base = randomValue(rng, 96, true);
        HugeInteger exponent = randomValue(rng, i % 4 == 0 ? 2 : 24, false);
        HugeInteger modulus = randomValue(rng, i % 2 == 0 ? 4 : 100, false);
        if (modulus.isZero())
            modulus = HugeInteger(int32_t(497));
        HugeInteger result;
        ASSERT_EQ(0, HugeInteger::modPow(base, exponent, modulus, result));
        input.push_back(toPython(base) + " " + toPython(exponent) + " " + toPython(modulus));
        mine.push_back(toPython(result));
    }
    // A negative base gives the negated power of its magnitude for odd
    // exponents: the remainder keeps the sign of what was raised.
    const char* program = R"(import sys
def h(v): return ('-' if v < 0 else '') + hex(abs(v))
for line in sys.stdin:
    b, e, m = (int(x, 16) for x in line.split())
    r = pow(abs(b), e, m)
    if b < 0 and e % 2 == 1: r = -r
    print(h(r))
)";
    std::vector<std::string> expected = python(program, input);
    ASSERT_EQ(expected.size(), mine.size());
    for (size_t i = 0; i < mine.size(); ++i)
        EXPECT_EQ(expected[i], mine[i]) << input[i];
}

TEST(HugeInteger, EdgeCases)
{
    HugeInteger zero, one(int32_t(1)), minusOne;
    HugeInteger::subtract(zero, one, minusOne);
    EXPECT_EQ(KA_HUGE_WORDS, minusOne.count);
    for (uint32_t w : minusOne.words)
        ASSERT_EQ(0xFFFFFFFFu, w);
    EXPECT_TRUE(minusOne.isLess(zero));
    HugeInteger back = minusOne;
    back.negate();
    EXPECT_TRUE(back.isEqual(one));

    HugeInteger q, r;
    ASSERT_EQ(0, HugeInteger::quotient(HugeInteger(int32_t(-7)), HugeInteger(int32_t(3)), q));
    ASSERT_EQ(0, HugeInteger::remainder(HugeInteger(int32_t(-7)), HugeInteger(int32_t(3)), r));
    EXPECT_TRUE(q.isEqual(HugeInteger(int32_t(-2))));
    EXPECT_TRUE(r.isEqual(HugeInteger(int32_t(-1))));
    // A zero divisor is refused and leaves the output alone.
    EXPECT_EQ(1, HugeInteger::quotient(one, zero, q));
    EXPECT_EQ(1, HugeInteger::remainder(one, zero, r));
    EXPECT_TRUE(r.isEqual(HugeInteger(int32_t(-1))));

    HugeInteger p;
    ASSERT_EQ(0, HugeInteger::modPow(HugeInteger(int32_t(4)), HugeInteger(int32_t(13)), HugeInteger(int32_t(497)), p));
    EXPECT_TRUE(p.isEqual(HugeInteger(int32_t(445))));
    EXPECT_EQ(1, HugeInteger::modPow(one, one, zero, p));
    ASSERT_EQ(0, HugeInteger::modPow(HugeInteger(int32_t(5)), zero, one, p));
    EXPECT_TRUE(p.isZero());

    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(0, zero.toBytes(buffer, sizeof buffer));
    for (uint8_t b : buffer)
        EXPECT_EQ(0, b);
    // Too small a buffer is refused instead of written past.
    HugeInteger wide(uint64_t(0x0102030405ULL));
    EXPECT_EQ(-1, wide.toBytes(buffer, sizeof buffer));
    HugeInteger empty;
    EXPECT_EQ(0, empty.fromBytes(nullptr, 0));
    EXPECT_EQ(1u, empty.count);
    EXPECT_TRUE(HugeInteger(int32_t(0)).isEqual(HugeInteger()));
    std::vector<uint8_t> tooLong(KA_HUGE_WORDS * 4 + 1, 1);
    EXPECT_EQ(1, empty.fromBytes(tooLong.data(), tooLong.size()));
    EXPECT_TRUE(empty.isZero());

    // An unsigned 64-bit value with its top bit set stays positive.
    HugeInteger big(uint64_t(0x8000000000000000ULL));
    EXPECT_FALSE(big.isNegative());
    EXPECT_TRUE(big.isGreater(zero));
    EXPECT_EQ(64u, big.bitLength());

    HugeInteger max;
    max.setMaxPositive(5);
    EXPECT_EQ("0x7fffffffff", toPython(max));
    max.setMaxPositive(8);
    EXPECT_EQ("0x7fffffffffffffff", toPython(max));

    // Word arrays come most significant first.
    const uint32_t msf[3] = {0, 1, 2};
    HugeInteger fromWords(msf, 3);
    EXPECT_EQ("0x100000002", toPython(fromWords));

    // Shifts keep the word count: bits moved past it are lost.
    HugeInteger shifted(int32_t(0x40000001));
    shifted.shiftLeft(2);
    EXPECT_EQ("0x4", toPython(shifted));
    HugeInteger two(uint64_t(0x100000000ULL));
    two.shiftRight(33);
    EXPECT_TRUE(two.isZero());
}

TEST(RandomNumberGenerator, FollowsTheRecurrence)
{
    // Park and Miller with multiplier 48271: 48271 * 1 mod (2^31 - 1).
    RandomNumberGenerator g(1);
    uint8_t b = g.nextByte();
    EXPECT_EQ(48271u, g.state);
    EXPECT_EQ(uint8_t(48271 ^ (48271 >> 8)), b);
    uint64_t x = 48271;
    for (int i = 0; i < 1000; ++i) {
        x = x * 48271 % 2147483647;
        g.nextByte();
        ASSERT_EQ(x, g.state);
    }
    for (uint32_t fixed : {0u, 2147483647u}) {
        RandomNumberGenerator stuck(fixed);
        stuck.nextByte();
        EXPECT_EQ(2147483647u, stuck.state);
        stuck.nextByte();
        EXPECT_EQ(2147483647u, stuck.state);
    }
    RandomNumberGenerator r(12345);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(5u, r.nextInRange(5, 5));
        uint32_t v = r.nextInRange(10, 300);
        EXPECT_GE(v, 10u);
        EXPECT_LE(v, 300u);
    }
    // Two default generators are seeded apart.
    RandomNumberGenerator a, c;
    EXPECT_NE(a.state, c.state);
    EXPECT_GT(a.state, 0u);
    EXPECT_LT(a.state, 2147483647u);
}

TEST(HugeInteger, RandomValuesStayInRange)
{
    RandomNumberGenerator g(99);
    HugeInteger low(int32_t(-1000)), high(uint64_t(123456789012ULL)), v;
    for (int i = 0; i < 300; ++i) {
        v.randomRange(low, high, g);
        EXPECT_FALSE(v.isLess(low));
        EXPECT_FALSE(v.isGreater(high));
    }
    for (uint32_t bits : {0u, 1u, 8u, 13u, 64u, 1000u}) {
        v.randomBits(bits, g);
        EXPECT_LE(v.bitLength(), bits);
    }
}

}  // namespace
