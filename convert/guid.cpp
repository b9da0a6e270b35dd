// GUID text: the 36-character form (8-4-4-4-12 hexadecimal digits) of the
// ODBC GUID structure, in narrow and UTF-16 text.
#include "convert/guid.h"

#include <cstring>

#include "convert/basediag.h"
#include "foundation/kaencode.h"
#include "kamessages.h"

namespace {

constexpr int kGuidHexAt[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

template <typename T>
int16_t parseGuid(const T* text, int64_t length, BaseGuid* out) noexcept
{
    if (text == nullptr || length < kBaseGuidTextLength) {
        baseCvtPostError(MSG_SQLSTATE_INVALID_CAST);
        return 1;
    }
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) {
        int rc;
        if constexpr (sizeof(T) == 1)
            rc = unhexify(&bytes[i], reinterpret_cast<const char*>(text) + kGuidHexAt[i], 2);
        else
            rc = unhexifyW(&bytes[i], reinterpret_cast<const uint16_t*>(text) + kGuidHexAt[i], 2);
        if (rc != 0)
            return 1;
    }
    BaseGuid g{};
    g.data1 = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    g.data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    g.data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(g.data4, bytes + 8, 8);
    *out = g;
    return 0;
}

template <typename T>
int16_t formatGuid(const BaseGuid* guid, T* out) noexcept
{
    if (out == nullptr || guid == nullptr) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    static const char kHex[] = "0123456789ABCDEF";
    uint8_t bytes[16] = {static_cast<uint8_t>(guid->data1 >> 24), static_cast<uint8_t>(guid->data1 >> 16),
                         static_cast<uint8_t>(guid->data1 >> 8),  static_cast<uint8_t>(guid->data1),
                         static_cast<uint8_t>(guid->data2 >> 8),  static_cast<uint8_t>(guid->data2),
                         static_cast<uint8_t>(guid->data3 >> 8),  static_cast<uint8_t>(guid->data3)};
    std::memcpy(bytes + 8, guid->data4, 8);
    int pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[pos++] = '-';
        out[pos++] = static_cast<T>(kHex[bytes[i] >> 4]);
        out[pos++] = static_cast<T>(kHex[bytes[i] & 0x0F]);
    }
    out[pos] = 0;
    return 0;
}

}  // namespace

int16_t baseParseGuid(const char* text, int64_t length, BaseGuid* out) noexcept
{
    return parseGuid(text, length, out);
}

int16_t baseParseGuidW(const uint16_t* text, int64_t units, BaseGuid* out) noexcept
{
    return parseGuid(text, units, out);
}

int16_t baseFormatGuid(const BaseGuid* guid, char* out) noexcept
{
    return formatGuid(guid, out);
}

int16_t baseFormatGuidW(const BaseGuid* guid, uint16_t* out) noexcept
{
    return formatGuid(guid, out);
}
