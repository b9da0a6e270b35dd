// What every fuzz target shares: input bytes read as UTF-16 units, a fresh
// diagnostic list per input so that posted records do not pile up, a check
// that stops the run when a property fails, a scoped process locale and a
// cursor over option bytes.
#pragma once
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"

namespace kafuzz {

// Little-endian unit pairs; an odd last byte is dropped.
inline std::vector<uint16_t> unitsOf(const uint8_t* data, size_t size)
{
    std::vector<uint16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * 2);
    return units;
}

struct DiagnosticScope {
    KaErrorList list;
    DiagnosticScope() { KaErrorPushList(&list); }
    ~DiagnosticScope() { KaErrorPopList(); }
    DiagnosticScope(const DiagnosticScope&) = delete;
    DiagnosticScope& operator=(const DiagnosticScope&) = delete;
};

// A failed property is a finding: libFuzzer keeps the input that aborts.
inline void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

// The character-type locale for one scope; a locale the machine lacks
// leaves the current one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name)
    {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        saved_ = current != nullptr ? current : "C";
        (void)std::setlocale(LC_CTYPE, name);
    }
    ~LocaleScope() { (void)std::setlocale(LC_CTYPE, saved_.c_str()); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

private:
    std::string saved_;
};

// Byte cursor over the input: option bytes first, the rest is the text.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // The next byte, 0 when none is left.
    uint8_t byte()
    {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }
    const uint8_t* rest() const { return data_; }
    size_t restSize() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace kafuzz
