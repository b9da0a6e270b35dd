// GUIDs: the GUID structure and its 36-character text (8-4-4-4-12
// hexadecimal digits, upper case when written). Used by the SQL-to-C and
// C-to-SQL conversions.
#pragma once
#include <cstdint>

// The layout of the ODBC GUID structure.
struct BaseGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(BaseGuid) == 16, "GUID is 16 bytes");

// Characters of GUID text without the NUL.
constexpr int32_t kBaseGuidTextLength = 36;

// 0, or 1 after posting: a text shorter than 36 characters is 22018, a
// character that is not a hexadecimal digit where one belongs is reported by
// the hexadecimal reader; the separators are not examined.
[[nodiscard]] int16_t baseParseGuid(const char* text, int64_t length, BaseGuid* out) noexcept;
[[nodiscard]] int16_t baseParseGuidW(const uint16_t* text, int64_t units, BaseGuid* out) noexcept;
[[nodiscard]] int16_t baseFormatGuid(const BaseGuid* guid, char* out) noexcept;
[[nodiscard]] int16_t baseFormatGuidW(const BaseGuid* guid, uint16_t* out) noexcept;
