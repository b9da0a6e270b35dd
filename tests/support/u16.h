// UTF-16 text in tests: char16_t literals handed to the driver as its
// uint16_t units, units read back as std::u16string, and both ways between
// UTF-16 and plain 8-bit test text. The one helper every test uses for this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace katest {

// A literal (or a std::u16string's c_str()) as the driver's units.
inline const uint16_t* W(const char16_t* s)
{
    return reinterpret_cast<const uint16_t*>(s);
}

// Terminated units; null reads as empty.
inline std::u16string u16(const uint16_t* s)
{
    if (s == nullptr)
        return {};
    std::u16string out;
    while (*s != 0)
        out.push_back(char16_t(*s++));
    return out;
}

// Counted units, zero units included; null reads as empty.
inline std::u16string u16(const uint16_t* s, size_t n)
{
    if (s == nullptr)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// Each byte becomes the unit of the same value (ASCII and Latin-1 text).
inline std::u16string widen(const std::string& s)
{
    std::u16string out;
    for (char c : s)
        out.push_back(char16_t(static_cast<unsigned char>(c)));
    return out;
}

// ASCII stays, anything else becomes '?'.
inline std::string narrow(const std::u16string& s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}

}  // namespace katest
