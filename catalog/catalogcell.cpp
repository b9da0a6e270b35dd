// The catalog rows' shared text helpers.
#include "catalog/catalogcell.h"

#include "foundation/kastr.h"
#include "foundation/ram.h"

int16_t catalogCompareNames(const uint16_t* a, const uint16_t* b) noexcept
{
    if (a == nullptr || b == nullptr)
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    int c = strCompareCodePointNW(a, strLenW(a), b, strLenW(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool catalogSameOptionalName(const uint16_t* a, const uint16_t* b) noexcept
{
    if (a == nullptr || b == nullptr)
        return a == b;
    return strEqualW(a, b) != 0;
}

bool catalogCopyText(const uint16_t* text, uint16_t** out) noexcept
{
    *out = nullptr;
    if (text == nullptr)
        return true;
    *out = strDupNW(text, strLenW(text));
    return *out != nullptr;
}
