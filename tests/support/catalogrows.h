// Scripted driver rows for the catalog framework's tests: cells of text,
// numbers or NULL, and the column read a catalog hook's data step does.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "convert/basestring.h"

namespace katest {

// One cell of a scripted driver row: text, a number, or NULL.
struct Cell {
    std::optional<std::u16string> text;
    int32_t number = 0;
    bool isNumber = false;
    static Cell t(const char16_t* s) { return Cell{std::u16string(s), 0, false}; }
    static Cell n(int32_t v) { return Cell{std::nullopt, v, true}; }
    static Cell null() { return Cell{}; }
};
using Row = std::vector<Cell>;

// Column `column` (from 1) of r into out as the framework asks for it:
// numbers as SQL_C_SSHORT or 32 bits, text as UTF-16 cut to the room.
inline int16_t putScriptedCell(const Row& r, uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    if (column > r.size() || (!r[column - 1].text && !r[column - 1].isNumber))
        return out->setNull(1);
    const Cell& c = r[column - 1];
    if (c.isNumber) {
        if (cType == SQL_C_SSHORT) {
            auto v = static_cast<int16_t>(c.number);
            std::memcpy(out->buffer, &v, sizeof v);
        } else {
            std::memcpy(out->buffer, &c.number, sizeof c.number);
        }
        *out->length64 = cType == SQL_C_SSHORT ? 2 : 4;
        return 0;
    }
    const std::u16string& s = *c.text;
    const auto bytes = static_cast<int64_t>(s.size() * 2);
    const int64_t room = out->bufferLength - 2;
    const int64_t n = bytes < room ? bytes : room;
    std::memcpy(out->buffer, s.data(), static_cast<size_t>(n));
    static_cast<uint16_t*>(out->buffer)[n / 2] = 0;
    *out->length64 = bytes;
    return 0;
}

}  // namespace katest
