// Hex text and bytes for the tests that compare against published vectors:
// hex() reads pairs of digits and skips anything else (blanks that group
// a vector as printed), toHex() writes lower-case digits.
#pragma once
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace katest {

inline std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (isxdigit(static_cast<unsigned char>(c)))
            digits.push_back(c);
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string toHex(const uint8_t* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

inline std::string toHex(const std::vector<uint8_t>& b)
{
    return toHex(b.data(), b.size());
}

}  // namespace katest
