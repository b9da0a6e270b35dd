// ODBC string arguments: input strings shown as driver strings without a
// copy, and output buffers filled with the ODBC truncation rules. Used by the
// entry points, SQLGetInfo, connection attributes and the conversion engine.
#pragma once
#include <cstdint>

#include "foundation/kaobject.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"

// An application's UTF-16 input argument. The text buffer is the caller's own
// and is never freed by the string.
class BaseInStringW : public KaStringW {
public:
    BaseInStringW(const uint16_t* text, int64_t length) noexcept;
    ~BaseInStringW() override;

    // 0 when the length argument was usable. A negative length other than
    // SQL_NTS leaves the string empty; this posts HY090 for it and returns 1.
    [[nodiscard]] int16_t checkLength() const noexcept;
    bool lengthValid() const noexcept { return !badLength; }

    const uint16_t* callerText;
    int64_t callerLength;
    uint32_t sqlWord;  // kept for the SQL-text classes built on this one

private:
    bool badLength;
};

// An application's narrow input argument; code page 1 (the locale) unless
// one is given.
class BaseInString : public KaString {
public:
    BaseInString(const char* text, int64_t length) noexcept;
    BaseInString(const char* text, int64_t length, int32_t codePage) noexcept;
    ~BaseInString() override;

    [[nodiscard]] int16_t checkLength() const noexcept;
    bool lengthValid() const noexcept { return !badLength; }

    const char* callerText;
    int64_t callerLength;
    uint32_t sqlWord;

private:
    bool badLength;
};

// Copies a terminated UTF-16 answer (null: empty) into a buffer of
// bufferLength bytes: whole with its NUL when it fits, else as many whole
// units as fit before a NUL. *fullBytes (optional) gets the uncut length in
// bytes; a null buffer is only measured. true when the answer was cut; the
// caller decides whether that is worth a warning.
bool baseCopyWideAnswer(const uint16_t* text, void* buffer, int64_t bufferLength, int64_t* fullBytes) noexcept;

// An application's output buffer with its length and null-flag pointers.
class BaseOutString : public KaObject {
public:
    BaseOutString(void* buffer, int16_t bufferLength, int16_t* lengthPtr, int32_t width = 1) noexcept;
    BaseOutString(void* buffer, int32_t bufferLength, int32_t* lengthPtr, int32_t* secondPtr,
                  int32_t width = 1) noexcept;
    BaseOutString(void* buffer, int64_t bufferLength, int64_t* lengthPtr, int64_t* secondPtr,
                  int32_t width = 1) noexcept;
    ~BaseOutString() override;

    // Each put reports the full length and returns true when the data was cut
    // (the 01004 warning has then been posted).
    bool putText(const void* data, int64_t length, bool terminate, int32_t width) noexcept;
    bool putWideText(const void* data, int64_t length, bool terminate, int32_t width, bool swap) noexcept;
    bool putWideTextChars(const uint16_t* data, int64_t chars) noexcept;
    bool putSubString(const KaSubString& text) noexcept;
    bool putCString(const char* text, int32_t widthHint) noexcept;
    bool putCStringOwnWidth(const char* text) noexcept;
    bool putBytes(const void* data, int64_t length, bool terminate, int32_t width) noexcept;

    // Reports a value that is not NULL, of `length` bytes (or SQL_NO_TOTAL),
    // written into the buffer by someone else.
    void putLength(int64_t length) noexcept;
    // Reports SQL_NULL_DATA; 1 after error 22002 when there is no length field.
    [[nodiscard]] int16_t setNull(int64_t count) noexcept;
    // The length field of row `row` read as an array; -1 when there is none.
    int64_t getIndicator(int64_t row) const noexcept;

    void advanceRows(int64_t rowSize, int64_t count) noexcept;
    void retreatRows(int64_t rowSize, int64_t count) noexcept;

    void* buffer;
    int64_t bufferLength;
    int16_t* length16;
    int32_t* length32;
    int64_t* length64;
    int32_t* nullFlag32;
    int64_t* nullFlag64;
    int32_t terminatorWidth;

private:
    void reportLength(int64_t length) noexcept;
    void reportNotNull() noexcept;
    bool writeCut(const void* data, int64_t length, bool terminate, int32_t width, bool swap) noexcept;
    void moveRows(int64_t rowSize, int64_t count) noexcept;
};
