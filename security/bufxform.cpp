// Buffer transforms: one body per direction, templated on the element width.
#include "security/bufxform.h"

#include <type_traits>

namespace {

// Key table elements; a key text fills at most the first KEY_COPY_MAX of
// them plus its NUL, the default the rest.
constexpr size_t KEY_TABLE_SIZE = 16;
constexpr size_t KEY_COPY_MAX = 14;
constexpr unsigned TEA_ROUNDS = 32;
constexpr unsigned TEA_DELTA = 0x9E;
constexpr unsigned NEWLINE = 10;

// The default key is computed rather than stored as one literal, so it does
// not stand in the binary as a readable string.
template <typename T>
void defaultKey(T (&table)[KEY_TABLE_SIZE]) noexcept
{
    unsigned v = 0x5B;
    for (size_t i = 0; i < KEY_TABLE_SIZE; ++i) {
        v = (v * 29u + 0x3Du + static_cast<unsigned>(i)) & 0x7Fu;
        table[i] = static_cast<T>(v < 0x21u ? v + 0x40u : v);
    }
}

template <typename T>
bool isHighSurrogate(T unit) noexcept
{
    if constexpr (sizeof(T) == 2) {
        return unit >= 0xD800 && unit <= 0xDBFF;
    } else {
        (void)unit;
        return false;
    }
}

template <typename T, typename C>
void buildKey(T (&table)[KEY_TABLE_SIZE], const C* key) noexcept
{
    defaultKey(table);
    if (key == nullptr) {
        return;
    }
    size_t n = 0;
    while (n < KEY_COPY_MAX && key[n] != 0) {
        table[n] = static_cast<T>(key[n]);
        ++n;
    }
    // A surrogate pair split by the bound loses its lone high half.
    if (n == KEY_COPY_MAX && key[n] != 0 && isHighSurrogate(table[n - 1])) {
        --n;
    }
    table[n] = 0;
}

template <typename T>
T roundTerm(T v, T ka, T kb, unsigned sum) noexcept
{
    const T shl = static_cast<T>(v << 4);
    const T shr = static_cast<T>(v >> 5);
    return static_cast<T>(static_cast<T>(shl + ka) ^ static_cast<T>(v + sum) ^ static_cast<T>(shr + kb));
}

template <typename T>
void teaEncodePair(T& x, T& y, const T* k) noexcept
{
    for (unsigned r = 1; r <= TEA_ROUNDS; ++r) {
        const unsigned s = (TEA_DELTA * r) & 0xFFu;
        x = static_cast<T>(x + roundTerm(y, k[0], k[1], s));
        y = static_cast<T>(y + roundTerm(x, k[2], k[3], s));
    }
}

template <typename T>
void teaDecodePair(T& x, T& y, const T* k) noexcept
{
    for (unsigned r = TEA_ROUNDS; r >= 1; --r) {
        const unsigned s = (TEA_DELTA * r) & 0xFFu;
        y = static_cast<T>(y - roundTerm(x, k[2], k[3], s));
        x = static_cast<T>(x - roundTerm(y, k[0], k[1], s));
    }
}

template <typename T, typename C>
void transform(T* data, size_t count, uint32_t type, const C* key, bool encode) noexcept
{
    if (data == nullptr || count == 0) {
        return;
    }
    switch (type & 0xFFFFu) {
    case KA_XFORM_COMPLEMENT:
        for (size_t i = 0; i < count; ++i) {
            data[i] = static_cast<T>(~data[i]);
        }
        return;
    case KA_XFORM_COMPLEMENT_KEEP_NEWLINE:
        for (size_t i = 0; i < count; ++i) {
            if (data[i] != NEWLINE) {
                data[i] = static_cast<T>(~data[i]);
            }
        }
        return;
    case KA_XFORM_TEA_MIX: break;
    default: return;
    }
    T table[KEY_TABLE_SIZE];
    buildKey(table, key);
    if (count == 1) {
        data[0] = static_cast<T>(data[0] ^ table[0]);
        return;
    }
    // An odd last element pairs with element 0, which is therefore mixed
    // twice; decoding walks the pairs backwards to undo that.
    if (encode) {
        for (size_t i = 0; i < count; i += 2) {
            teaEncodePair(data[i], data[i + 1 == count ? 0 : i + 1], table);
        }
    } else {
        for (size_t i = (count - 1) & ~static_cast<size_t>(1);; i -= 2) {
            teaDecodePair(data[i], data[i + 1 == count ? 0 : i + 1], table);
            if (i == 0) {
                break;
            }
        }
    }
}

}  // namespace

void cryptEncode(uint8_t* bytes, size_t count, uint32_t type, const char* key) noexcept
{
    transform(bytes, count, type, key, true);
}

void cryptDecode(uint8_t* bytes, size_t count, uint32_t type, const char* key) noexcept
{
    transform(bytes, count, type, key, false);
}

void cryptEncodeW(char16_t* units, size_t count, uint32_t type, const char16_t* key) noexcept
{
    transform(units, count, type, key, true);
}

void cryptDecodeW(char16_t* units, size_t count, uint32_t type, const char16_t* key) noexcept
{
    transform(units, count, type, key, false);
}

int cryptDecodeLine(int32_t type, char* text, size_t* length) noexcept
{
    size_t n = *length;
    // Only the text before the line feed was scrambled, so a type that does
    // not spare newlines still leaves the file's line structure readable.
    if (n > 0 && text[n - 1] == '\n')
        --n;
    cryptDecode(reinterpret_cast<uint8_t*>(text), n, uint32_t(type), nullptr);
    return 0;
}
