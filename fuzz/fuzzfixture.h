// What every fuzz target shares: input bytes read as UTF-16 units, and a
// fresh diagnostic list per input so that posted records do not pile up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
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

}  // namespace kafuzz
