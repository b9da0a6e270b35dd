// Hexadecimal text, Base64, percent-encoding, CRC-32 and MD5.
#include "foundation/kaencode.h"

#include <cstring>
#include <unicode/ustring.h>

#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

const char kHexUpper[] = "0123456789ABCDEF";
const char kHexLower[] = "0123456789abcdef";

// Value of a hex digit unit, or -1.
int hexValue(uint32_t unit) noexcept
{
    if (unit >= '0' && unit <= '9')
        return int(unit - '0');
    if (unit >= 'A' && unit <= 'F')
        return int(unit - 'A' + 10);
    if (unit >= 'a' && unit <= 'f')
        return int(unit - 'a' + 10);
    return -1;
}

// Writes 2n digits of the n input bytes; works from the end so that out may
// overlay the input.
template <typename Unit>
void hexifyInto(Unit* out, const void* bytes, size_t n, const char* digits) noexcept
{
    const auto* in = static_cast<const uint8_t*>(bytes);
    for (size_t i = n; i-- > 0;) {
        uint8_t b = in[i];
        out[2 * i + 1] = Unit(digits[b & 0x0F]);
        out[2 * i] = Unit(digits[b >> 4]);
    }
}

template <typename Unit>
int unhexifyFrom(void* out, const Unit* hex, size_t n) noexcept
{
    auto* o = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < n; i += 2) {
        int hi = hexValue(uint32_t(hex[i]));
        if (hi < 0) {
            errPost(MSG_INVALID_HEX_DIGIT);
            return 1;
        }
        int lo = 0;
        if (i + 1 < n) {
            lo = hexValue(uint32_t(hex[i + 1]));
            if (lo < 0) {
                errPost(MSG_INVALID_HEX_DIGIT);
                return 1;
            }
        }
        o[i / 2] = uint8_t((hi << 4) | lo);
    }
    return 0;
}

const uint32_t* crcTable() noexcept
{
    static const struct Table {
        uint32_t v[256];
        Table() noexcept
        {
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
                v[i] = c;
            }
        }
    } table;
    return table.v;
}

bool urlKeeps(uint8_t b, int keepSlash) noexcept
{
    // Only ASCII letters and digits are unreserved in a URL, whatever the
    // locale would call alphanumeric.
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'))
        return true;
    if (b == '-' || b == '_' || b == '.' || b == '~')
        return true;
    return keepSlash != 0 && b == '/';
}

// ---- MD5 (RFC 1321) ----

inline uint32_t rotl(uint32_t x, int c) noexcept
{
    return (x << c) | (x >> (32 - c));
}

const uint32_t kMd5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
const int kMd5R[64] = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21,
};

void md5Block(uint32_t state[4], const uint8_t block[64]) noexcept
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kMd5K[i] + m[g], kMd5R[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

uint16_t hexFormatU64(char* out, uint64_t value, uint16_t minDigits) noexcept
{
    if (minDigits > KA_HEX_U64_MAX_DIGITS)
        minDigits = KA_HEX_U64_MAX_DIGITS;
    char digits[16];
    uint16_t n = 0;
    do {
        digits[n++] = kHexUpper[value & 0x0F];
        value >>= 4;
    } while (value != 0);
    uint16_t total = n < minDigits ? minDigits : n;
    uint16_t pad = uint16_t(total - n);
    for (uint16_t i = 0; i < pad; ++i)
        out[i] = '0';
    for (uint16_t i = 0; i < n; ++i)
        out[pad + i] = digits[n - 1 - i];
    out[total] = '\0';
    return total;
}

size_t hexify(char* out, const void* bytes, size_t n) noexcept
{
    hexifyInto<char>(out, bytes, n, kHexUpper);
    return 2 * n;
}

size_t hexifyLower(char* out, const void* bytes, size_t n) noexcept
{
    hexifyInto<char>(out, bytes, n, kHexLower);
    return 2 * n;
}

size_t hexifyW(uint16_t* out, const void* bytes, size_t n) noexcept
{
    hexifyInto<uint16_t>(out, bytes, n, kHexUpper);
    return 4 * n;
}

size_t hexifyU32(uint32_t* out, const void* bytes, size_t n) noexcept
{
    hexifyInto<uint32_t>(out, bytes, n, kHexUpper);
    return 8 * n;
}

int unhexify(void* out, const char* hex, size_t n) noexcept
{
    return unhexifyFrom<uint8_t>(out, reinterpret_cast<const uint8_t*>(hex), n);
}

int unhexifyW(void* out, const uint16_t* hex, size_t n) noexcept
{
    return unhexifyFrom<uint16_t>(out, hex, n);
}

int unhexifyU32(void* out, const uint32_t* hex, size_t n) noexcept
{
    return unhexifyFrom<uint32_t>(out, hex, n);
}

int unhexifyEscaped(void* out, const char* hex, size_t n, uint8_t escape, size_t* outLen) noexcept
{
    auto* o = static_cast<uint8_t*>(out);
    size_t w = 0;
    int rc = 0;
    for (size_t i = 0; i < n; i += 2) {
        int hi = hexValue(uint8_t(hex[i]));
        int lo = i + 1 < n ? hexValue(uint8_t(hex[i + 1])) : 0;
        if (hi < 0 || lo < 0) {
            errPost(MSG_INVALID_HEX_DIGIT);
            rc = 1;
            break;
        }
        uint8_t b = uint8_t((hi << 4) | lo);
        // Only an odd last digit decoded to the escape byte can need more
        // than its digits' room; it is refused rather than written past n.
        size_t need = b == escape ? 2 : 1;
        if (need > n - w) {
            errPost(MSG_VALUE_DOES_NOT_FIT);
            rc = 1;
            break;
        }
        o[w++] = b;
        if (b == escape)
            o[w++] = b;
    }
    if (outLen != nullptr)
        *outLen = w;
    return rc;
}

int isHexText(const void* bytes, size_t n) noexcept
{
    const auto* in = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < n; ++i) {
        if (hexValue(in[i]) < 0)
            return 0;
    }
    return 1;
}

const char KaBase64StandardAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void KaBase64MakeReverseTable(const char* alphabet, uint8_t table[256]) noexcept
{
    memset(table, 255, 256);
    for (int i = 0; i < 64; ++i)
        table[uint8_t(alphabet[i])] = uint8_t(i);
}

char* KaBase64Encode(const void* bytes, uint32_t length, char* out, const char* alphabet) noexcept
{
    const auto* in = static_cast<const uint8_t*>(bytes);
    uint32_t i = 0;
    for (; length - i >= 3; i += 3) {
        uint8_t b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = alphabet[b0 >> 2];
        *out++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = alphabet[b2 & 63];
    }
    if (length - i == 2) {
        uint8_t b0 = in[i], b1 = in[i + 1];
        *out++ = alphabet[b0 >> 2];
        *out++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = alphabet[(b1 & 15) << 2];
        *out++ = '=';
    } else if (length - i == 1) {
        uint8_t b0 = in[i];
        *out++ = alphabet[b0 >> 2];
        *out++ = alphabet[(b0 & 3) << 4];
        *out++ = '=';
        *out++ = '=';
    }
    return out;
}

uint8_t* KaBase64Decode(const char* text, uint32_t length, uint8_t* out, uint32_t capacity,
                        const uint8_t reverseTable[256]) noexcept
{
    uint8_t* const end = out + capacity;
    auto charAt = [&](uint32_t pos) -> uint8_t { return pos < length ? uint8_t(text[pos]) : uint8_t('='); };
    auto put = [&](uint8_t b) -> bool {
        if (out == end) {
            errPost(MSG_BASE64_OUTPUT_TOO_SMALL)->addParamUnsigned(capacity);
            return false;
        }
        *out++ = b;
        return true;
    };
    for (uint32_t g = 0; g < length; g += 4) {
        uint8_t c[4] = {charAt(g), charAt(g + 1), charAt(g + 2), charAt(g + 3)};
        uint8_t t[4];
        // c0 and c1 are always looked up, c2 and c3 only when not padding.
        int lookups = c[2] == '=' ? 2 : (c[3] == '=' ? 3 : 4);
        for (int k = 0; k < lookups; ++k) {
            t[k] = reverseTable[c[k]];
            if (t[k] == 255) {
                errPost(MSG_BASE64_INVALID_CHARACTER)->addParamUnsigned(uint64_t(g) + uint64_t(k));
                return nullptr;
            }
        }
        if (!put(uint8_t((t[0] << 2) | (t[1] >> 4))))
            return nullptr;
        if (lookups < 3)
            continue;
        if (!put(uint8_t((t[1] << 4) | (t[2] >> 2))))
            return nullptr;
        if (lookups < 4)
            continue;
        if (!put(uint8_t((t[2] << 6) | t[3])))
            return nullptr;
    }
    return out;
}

char* urlEncode(const char* bytes, size_t length, char* out, size_t size, size_t* outLen, int keepSlash) noexcept
{
    if (out == nullptr || size == 0)
        return nullptr;
    if (length == KA_URL_NTS)
        length = bytes == nullptr ? 0 : strlen(bytes);
    if (length > size - 1)
        return nullptr;
    size_t w = 0;
    for (size_t i = 0; i < length; ++i) {
        auto b = uint8_t(bytes[i]);
        if (size < 2 || w > size - 2)
            return nullptr;
        if (urlKeeps(b, keepSlash)) {
            out[w++] = char(b);
        } else {
            if (w + 3 > size - 1)
                return nullptr;
            out[w++] = '%';
            out[w++] = kHexUpper[b >> 4];
            out[w++] = kHexUpper[b & 0x0F];
        }
    }
    out[w] = '\0';
    if (outLen != nullptr)
        *outLen = w;
    return out;
}

char* urlEncodeAlloc(const char* bytes, size_t length, size_t* outLen) noexcept
{
    if (length == KA_URL_NTS)
        length = bytes == nullptr ? 0 : strlen(bytes);
    if (length > (SIZE_MAX - 1) / 3)
        return nullptr;
    size_t size = 3 * length + 1;
    RamPtr<char> out = ramMake<char>(size);
    if (!out || urlEncode(bytes, length, out.get(), size, outLen, 0) == nullptr)
        return nullptr;
    return out.release();
}

char* urlEncodeW(const uint16_t* units, size_t n, char* out, size_t size, size_t* outLen, int keepSlash) noexcept
{
    if (out == nullptr || units == nullptr)
        return nullptr;
    if (n > INT32_MAX / 4)
        return nullptr;
    size_t tmpSize = 4 * n + 1;
    RamPtr<char> tmp = ramMake<char>(tmpSize);
    if (!tmp)
        return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    int32_t produced = 0;
    u_strToUTF8(tmp.get(), int32_t(tmpSize), &produced, reinterpret_cast<const UChar*>(units), int32_t(n), &status);
    if (U_FAILURE(status) || size_t(produced) >= tmpSize)
        return nullptr;
    return urlEncode(tmp.get(), size_t(produced), out, size, outLen, keepSlash);
}

uint32_t crc32Update(uint32_t crc, const void* bytes, uint32_t n) noexcept
{
    const uint32_t* table = crcTable();
    const auto* in = static_cast<const uint8_t*>(bytes);
    for (uint32_t i = 0; i < n; ++i)
        crc = (crc >> 8) ^ table[(crc ^ in[i]) & 0xFF];
    return crc;
}

void md5Digest(const void* message, int32_t lengthBits, uint8_t out[KA_MD5_DIGEST_SIZE]) noexcept
{
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const auto* in = static_cast<const uint8_t*>(message);
    uint32_t bits = lengthBits < 0 ? 0 : uint32_t(lengthBits);
    uint32_t whole = bits / 512;
    for (uint32_t i = 0; i < whole; ++i)
        md5Block(state, in + size_t(i) * 64);

    uint8_t block[64];
    memset(block, 0, sizeof block);
    uint32_t restBits = bits - whole * 512;
    uint32_t fullBytes = restBits / 8;
    uint32_t extraBits = restBits % 8;
    const uint8_t* rest = in + size_t(whole) * 64;
    if (fullBytes != 0)
        memcpy(block, rest, fullBytes);
    if (extraBits != 0) {
        uint8_t keep = uint8_t(0xFF00 >> extraBits);
        block[fullBytes] = uint8_t((rest[fullBytes] & keep) | (0x80 >> extraBits));
    } else {
        block[fullBytes] = 0x80;
    }
    auto putLength = [&](uint8_t* b) {
        b[56] = uint8_t(bits);
        b[57] = uint8_t(bits >> 8);
        b[58] = uint8_t(bits >> 16);
        b[59] = uint8_t(bits >> 24);
    };
    if (restBits < 448) {
        putLength(block);
        md5Block(state, block);
    } else {
        md5Block(state, block);
        memset(block, 0, sizeof block);
        putLength(block);
        md5Block(state, block);
    }
    for (int i = 0; i < 4; ++i) {
        out[4 * i] = uint8_t(state[i]);
        out[4 * i + 1] = uint8_t(state[i] >> 8);
        out[4 * i + 2] = uint8_t(state[i] >> 16);
        out[4 * i + 3] = uint8_t(state[i] >> 24);
    }
}

void memCopyBytes(void* out, const void* in, size_t n) noexcept
{
    auto* o = static_cast<volatile uint8_t*>(out);
    const auto* i = static_cast<const uint8_t*>(in);
    for (size_t k = 0; k < n; ++k)
        o[k] = i[k];
}

void* memFillBytes(void* out, uint8_t value, size_t n) noexcept
{
    memset(out, value, n);
    return out;
}
