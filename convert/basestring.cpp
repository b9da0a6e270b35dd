// ODBC string arguments in and out.
#include "convert/basestring.h"

#include <sql.h>

#include <climits>
#include <cstring>

#include "convert/basediag.h"
#include "kamessages.h"

namespace {

size_t unitsToNul(const uint16_t* text) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// Terminator widths are 1 (narrow), 2 (UTF-16) or 3; anything else is
// bounded so that a bad width can never write past what the caller meant.
int64_t terminatorBytes(bool terminate, int32_t width) noexcept
{
    if (!terminate || width <= 0)
        return 0;
    return width > 4 ? 4 : width;
}

void copySwapped(uint8_t* out, const uint8_t* in, int64_t bytes) noexcept
{
    int64_t i = 0;
    for (; i + 1 < bytes; i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
    }
    if (i < bytes)
        out[i] = in[i];
}

}  // namespace

bool baseCopyWideAnswer(const uint16_t* text, void* buffer, int64_t bufferLength, int64_t* fullBytes) noexcept
{
    int64_t len = text != nullptr ? static_cast<int64_t>(unitsToNul(text)) : 0;
    if (fullBytes != nullptr)
        *fullBytes = len * 2;
    if (buffer == nullptr)
        return false;
    int64_t chars = bufferLength > 0 ? bufferLength / 2 : 0;
    auto* out = static_cast<uint16_t*>(buffer);
    if (len < chars) {
        if (len > 0)
            std::memcpy(out, text, static_cast<size_t>(len) * 2);
        out[len] = 0;
        return false;
    }
    if (chars > 0) {
        std::memcpy(out, text, static_cast<size_t>(chars - 1) * 2);
        out[chars - 1] = 0;
    }
    return true;
}

// ---- Input strings ---------------------------------------------------------

BaseInStringW::BaseInStringW(const uint16_t* text, int64_t length) noexcept
    : callerText(text), callerLength(length), sqlWord(0), badLength(false)
{
    size_t units = 0;
    if (text != nullptr) {
        if (length == SQL_NTS)
            units = unitsToNul(text);
        else if (length < 0)
            badLength = true;  // never taken as a size: the text stays empty
        else
            units = static_cast<size_t>(length);
    }
    if (text != nullptr && !badLength)
        attach(const_cast<uint16_t*>(text), units, units);
    else
        attach(nullptr, 0, 0);
}

BaseInStringW::~BaseInStringW()
{
    // The caller's buffer is never ours to free.
    if (data == callerText) {
        data = nullptr;
        len = 0;
        capacity = 0;
    }
}

int16_t BaseInStringW::checkLength() const noexcept
{
    if (!badLength)
        return 0;
    baseCvtPostError(MSG_SQLSTATE_INVALID_STRING_LENGTH);
    return 1;
}

BaseInString::BaseInString(const char* text, int64_t length) noexcept : BaseInString(text, length, KA_TEXT_LOCALE) {}

BaseInString::BaseInString(const char* text, int64_t length, int32_t cp) noexcept
    : KaString(cp), callerText(text), callerLength(length), sqlWord(0), badLength(false)
{
    size_t bytes = 0;
    if (text != nullptr) {
        if (length == SQL_NTS)
            bytes = std::strlen(text);
        else if (length < 0)
            badLength = true;
        else
            bytes = static_cast<size_t>(length);
    }
    if (text != nullptr && !badLength)
        attach(const_cast<char*>(text), bytes, cp, bytes);
    else
        attach(nullptr, 0, cp, 0);
}

BaseInString::~BaseInString()
{
    if (data == callerText) {
        data = nullptr;
        len = 0;
        lenAtSet = 0;
        capacity = 0;
    }
}

int16_t BaseInString::checkLength() const noexcept
{
    if (!badLength)
        return 0;
    baseCvtPostError(MSG_SQLSTATE_INVALID_STRING_LENGTH);
    return 1;
}

// ---- Output strings --------------------------------------------------------

BaseOutString::BaseOutString(void* buf, int16_t bufLen, int16_t* lengthPtr, int32_t width) noexcept
    : buffer(buf), bufferLength(bufLen), length16(lengthPtr), length32(nullptr), length64(nullptr), nullFlag32(nullptr),
      nullFlag64(nullptr), terminatorWidth(width)
{}

BaseOutString::BaseOutString(void* buf, int32_t bufLen, int32_t* lengthPtr, int32_t* secondPtr, int32_t width) noexcept
    : buffer(buf), bufferLength(bufLen), length16(nullptr), length32(lengthPtr), length64(nullptr),
      nullFlag32(secondPtr != lengthPtr ? secondPtr : nullptr), nullFlag64(nullptr), terminatorWidth(width)
{}

BaseOutString::BaseOutString(void* buf, int64_t bufLen, int64_t* lengthPtr, int64_t* secondPtr, int32_t width) noexcept
    : buffer(buf), bufferLength(bufLen), length16(nullptr), length32(nullptr), length64(lengthPtr), nullFlag32(nullptr),
      nullFlag64(secondPtr != lengthPtr ? secondPtr : nullptr), terminatorWidth(width)
{}

BaseOutString::~BaseOutString() = default;

void BaseOutString::reportLength(int64_t length) noexcept
{
    // A length beyond the field's range is reported as the largest value the
    // field holds: wrapped, it could read as SQL_NULL_DATA or SQL_NTS.
    if (length32 != nullptr)
        *length32 = length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
    else if (length16 != nullptr)
        *length16 = length > INT16_MAX ? INT16_MAX : static_cast<int16_t>(length);
    else if (length64 != nullptr)
        *length64 = length;
}

void BaseOutString::putLength(int64_t length) noexcept
{
    reportNotNull();
    reportLength(length);
}

void BaseOutString::reportNotNull() noexcept
{
    if (nullFlag32 != nullptr)
        *nullFlag32 = 0;
    else if (nullFlag64 != nullptr)
        *nullFlag64 = 0;
}

bool BaseOutString::writeCut(const void* data, int64_t length, bool terminate, int32_t width, bool swap) noexcept
{
    if (buffer == nullptr)
        return false;
    if (length < 0)
        length = 0;
    const int64_t t = terminatorBytes(terminate, width);
    auto* out = static_cast<uint8_t*>(buffer);
    if (bufferLength <= 0) {
        if (length + t != 0) {
            baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
            return true;
        }
        return false;
    }
    bool cut = false;
    if (length + t > bufferLength) {
        baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        cut = true;
        if (bufferLength < t) {
            std::memset(out, 0, static_cast<size_t>(bufferLength));
            return true;
        }
        length = bufferLength - t;
        // UTF-16 text is never cut inside a unit.
        if (t == 2 || swap)
            length &= ~int64_t{1};
    }
    if (length > 0 && data != nullptr) {
        if (swap)
            copySwapped(out, static_cast<const uint8_t*>(data), length);
        else
            std::memmove(out, data, static_cast<size_t>(length));
    }
    if (t > 0)
        std::memset(out + length, 0, static_cast<size_t>(t));
    return cut;
}

bool BaseOutString::putText(const void* data, int64_t length, bool terminate, int32_t width) noexcept
{
    reportLength(length);
    reportNotNull();
    return writeCut(data, length, terminate, width, false);
}

bool BaseOutString::putWideText(const void* data, int64_t length, bool terminate, int32_t width, bool swap) noexcept
{
    reportLength(length);
    reportNotNull();
    return writeCut(data, length, terminate, width, swap);
}

bool BaseOutString::putWideTextChars(const uint16_t* data, int64_t chars) noexcept
{
    if (chars < 0 || data == nullptr)
        chars = 0;
    reportLength(chars);
    reportNotNull();
    if (buffer == nullptr)
        return false;
    if (bufferLength <= 0) {
        baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        return true;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t bytes = chars * 2;
    bool cut = false;
    if (bytes + 2 > bufferLength) {
        baseCvtPostWarning(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        cut = true;
        if (bufferLength < 2) {
            out[0] = 0;
            return true;
        }
        bytes = (bufferLength - 2) & ~int64_t{1};
        // A pair cut in half would leave a lone high surrogate behind.
        if (bytes >= 2) {
            uint16_t lastUnit = data[bytes / 2 - 1];
            if (lastUnit >= 0xD800 && lastUnit <= 0xDBFF)
                bytes -= 2;
        }
    }
    if (bytes > 0)
        std::memmove(out, data, static_cast<size_t>(bytes));
    out[bytes] = 0;
    out[bytes + 1] = 0;
    return cut;
}

bool BaseOutString::putSubString(const KaSubString& text) noexcept
{
    return putText(text.data, static_cast<int64_t>(text.len), true, text.codePage == 2 ? 2 : 1);
}

bool BaseOutString::putCString(const char* text, int32_t widthHint) noexcept
{
    if (text == nullptr)
        text = "";
    return putText(text, static_cast<int64_t>(std::strlen(text)), true, widthHint == 2 ? 2 : 1);
}

bool BaseOutString::putCStringOwnWidth(const char* text) noexcept
{
    return putCString(text, terminatorWidth);
}

bool BaseOutString::putBytes(const void* data, int64_t length, bool terminate, int32_t width) noexcept
{
    if (length32 != nullptr)
        *length32 = length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
    if (length16 != nullptr)
        *length16 = length > INT16_MAX ? INT16_MAX : static_cast<int16_t>(length);
    if (length64 != nullptr)
        *length64 = length;
    return writeCut(data, length, terminate, width, false);
}

int16_t BaseOutString::setNull(int64_t count) noexcept
{
    if (length32 != nullptr)
        *length32 = static_cast<int32_t>(SQL_NULL_DATA);
    else if (length16 != nullptr)
        *length16 = static_cast<int16_t>(SQL_NULL_DATA);
    else if (length64 != nullptr)
        *length64 = SQL_NULL_DATA;
    else {
        baseCvtPostError(MSG_SQLSTATE_INDICATOR_REQUIRED);
        return 1;
    }
    if (nullFlag32 != nullptr)
        *nullFlag32 = 1;
    else if (nullFlag64 != nullptr)
        *nullFlag64 = 1;
    if (buffer != nullptr && bufferLength > 0) {
        int64_t n = count < 1 ? 1 : count;
        if (n > bufferLength)
            n = bufferLength;
        std::memset(buffer, 0, static_cast<size_t>(n));
    }
    return 0;
}

int64_t BaseOutString::getIndicator(int64_t row) const noexcept
{
    if (length16 != nullptr)
        return length16[row];
    if (length32 != nullptr)
        return length32[row];
    if (length64 != nullptr)
        return length64[row];
    return -1;
}

void BaseOutString::moveRows(int64_t rowSize, int64_t count) noexcept
{
    auto step = [](void* p, int64_t bytes) -> void* {
        return p == nullptr ? nullptr : static_cast<void*>(static_cast<char*>(p) + bytes);
    };
    if (rowSize != 0) {
        buffer = step(buffer, rowSize * count);
        length32 = static_cast<int32_t*>(step(length32, rowSize * count));
        length64 = static_cast<int64_t*>(step(length64, rowSize * count));
    } else {
        buffer = step(buffer, count * bufferLength);
        length32 = static_cast<int32_t*>(step(length32, count * 4));
        length64 = static_cast<int64_t*>(step(length64, count * 8));
    }
}

void BaseOutString::advanceRows(int64_t rowSize, int64_t count) noexcept
{
    moveRows(rowSize, count);
}

void BaseOutString::retreatRows(int64_t rowSize, int64_t count) noexcept
{
    moveRows(rowSize, -count);
}
