// The reader every layer's connection options go through: one lookup after
// the other, each value read by one of a few rules, every value wiped when
// it is freed (any of them may have held a secret).
#pragma once
#include <cstdint>

#include "foundation/numtext.h"
#include "odbc/baseconn.h"

class KaValueParserW;

// The text-to-number routine for each width an option is read in.
inline int baseParseOption(const uint16_t* v, uint16_t* out) noexcept
{
    return textWToU16(v, out);
}
inline int baseParseOption(const uint16_t* v, uint32_t* out) noexcept
{
    return textWToU32(v, out);
}
inline int baseParseOption(const uint16_t* v, int32_t* out) noexcept
{
    return textWToI32(v, out);
}
inline int baseParseOption(const uint16_t* v, uint64_t* out) noexcept
{
    return textWToU64(v, out);
}
inline int baseParseOption(const uint16_t* v, int64_t* out) noexcept
{
    return textWToI64(v, out);
}

// Removes the newest record of the thread's diagnostics: a lenient number
// drops the parser's complaint.
void baseDiscardLastDiagnostic() noexcept;
// Warns (01S02) that the option's value lay outside [lowest, highest] and
// that the nearer bound is used instead.
void baseWarnOptionLimited(const char16_t* longKey, const uint16_t* given, int64_t lowest, int64_t highest,
                           int64_t used) noexcept;

// Reads the options of one connect in order; each get() frees the value
// of the previous one.
class BaseOptionReader {
public:
    BaseOptionReader(BaseConnection* conn, KaValueParserW* parser) noexcept : conn_(conn), parser_(parser) {}
    ~BaseOptionReader();
    BaseOptionReader(const BaseOptionReader&) = delete;
    BaseOptionReader& operator=(const BaseOptionReader&) = delete;

    // Looks the option up (short keyword may be null); false only when the
    // lookup failed.
    [[nodiscard]] bool get(const char16_t* longKey, const char16_t* shortKey, const char16_t* def,
                           int32_t decode = 0) noexcept;
    bool present() const noexcept { return value != nullptr; }
    // On for exactly "1"; for a first character "1"; unless the first
    // character is "0" (an empty or absent value counts as on).
    bool exact1() const noexcept { return value != nullptr && value[0] == '1' && value[1] == 0; }
    bool first1() const noexcept { return value != nullptr && value[0] == '1'; }
    bool not0() const noexcept { return value == nullptr || value[0] != '0'; }
    bool empty() const noexcept { return value == nullptr || value[0] == 0; }
    bool is(const char* text) const noexcept;
    bool fromFile() const noexcept
    {
        return source == kBaseOptFromProfile || source == kBaseOptFromDataSource || source == kBaseOptFromDriver;
    }

    // Strict numbers fail the reading (the parser's diagnostic stays);
    // lenient ones drop their diagnostic and take the fallback.
    template <typename T>
    [[nodiscard]] bool number(T* out) noexcept
    {
        if (value == nullptr) {
            *out = 0;
            return true;
        }
        return baseParseOption(value, out) == 0;
    }
    template <typename T>
    void lenient(T* out, T fallback) noexcept
    {
        if (!number(out)) {
            baseDiscardLastDiagnostic();
            *out = fallback;
        }
    }
    template <typename T>
    T lenient(T fallback) noexcept
    {
        T out{};
        if (value == nullptr)
            return fallback;
        lenient(&out, fallback);
        return out;
    }
    // A number that sizes something: one outside [lowest, highest] is
    // brought to the nearer bound with a warning naming the keyword.
    template <typename T>
    void limit(T* out, T lowest, T highest, const char16_t* longKey) noexcept
    {
        T used = *out < lowest ? lowest : *out > highest ? highest : *out;
        if (used == *out)
            return;
        baseWarnOptionLimited(longKey, value, static_cast<int64_t>(lowest), static_cast<int64_t>(highest),
                              static_cast<int64_t>(used));
        *out = used;
    }
    // The value handed over to the caller (who frees it), trailing blanks
    // cut when asked.
    uint16_t* take(bool trim) noexcept;

    uint16_t* value = nullptr;
    int32_t source = kBaseOptNotFound;

private:
    BaseConnection* conn_;
    KaValueParserW* parser_;
};
