// The reader every layer's connection options go through: one lookup after
// the other, each value read by one of a few rules, every value wiped when
// it is freed (any of them may have held a secret).
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

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

    KaValueParserW* parser() const noexcept { return parser_; }

    uint16_t* value = nullptr;
    int32_t source = kBaseOptNotFound;
    // The connect being read: its connection string and whether the user
    // and password are read with the other options.
    const uint16_t* connectText = nullptr;
    int64_t connectLength = 0;
    bool credentials = false;

private:
    BaseConnection* conn_;
    KaValueParserW* parser_;
};

// ---- Keyword tables -----------------------------------------------------------
//
// Each layer lists the keywords it reads as one table, in the order they are
// read (the order of their diagnostics). A row reads like
//     {u"LongKeyword", u"SHORT", u"default", BaseKwKind::Rule, &Conn::field[, hook[, when[, fallback[, flags]]]]},
// and tests/driver/keywords_test.py checks docs/keywords.md against these rows.

// How a row's value is read into its field.
enum class BaseKwKind : uint8_t {
    Exact1,   // flag (int32_t): on for exactly "1"
    First1,   // flag: on when the first character is "1"
    Not0,     // flag: on unless the first character is "0" (absent counts as on)
    Number,   // number in the field's width; bad text fails the connect
    Lenient,  // number in the field's width; bad text takes the row's fallback;
              // an absent value leaves the field as it is
    U16Flag,  // strict 16-bit number, the field a flag set when it is not 0
    Wide,     // the text itself (uint16_t*), the previous one freed
    Narrow,   // the text as UTF-8 (char*), absent leaves null
    Secret,   // a password as UTF-8: one leading blank skipped, the old one wiped
    Ignored,  // read (so that it counts as used) and dropped
    Custom,   // read, then handed to the row's hook
    Own,      // the row's hook reads it itself (a computed default, or a
              // value read together with the rows after it)
    Listed,   // read by an earlier row's hook or by another part of the driver
};

// Row flags.
constexpr uint8_t kBaseKwTrim = 1;         // Wide: trailing blanks are cut
constexpr uint8_t kBaseKwDecode = 2;       // a stored (enciphered) value is decoded
constexpr uint8_t kBaseKwOdbcSection = 4;  // a default gives way to odbc.ini's [ODBC]
constexpr uint8_t kBaseKwNonEmpty = 8;     // Narrow: an empty value leaves null

// The default of a row whose hook computes it.
inline constexpr const char16_t* kBaseKwComputed = nullptr;

// The storage a field names, by its type.
enum class BaseKwType : uint8_t { None, I32, U16, U32, I64, U64, Wide, Narrow };
struct BaseKwTarget {
    BaseKwType type = BaseKwType::None;
    void* field = nullptr;
};

// A field of a connection of class C; its type is taken from the member
// pointer it is made from, so a row can name a field of any supported type.
template <class C>
class BaseKwField {
public:
    constexpr BaseKwField() noexcept : type_(BaseKwType::None), m_{.none = nullptr} {}
    constexpr BaseKwField(int32_t C::*p) noexcept : type_(BaseKwType::I32), m_{.i32 = p} {}
    constexpr BaseKwField(uint16_t C::*p) noexcept : type_(BaseKwType::U16), m_{.u16 = p} {}
    constexpr BaseKwField(uint32_t C::*p) noexcept : type_(BaseKwType::U32), m_{.u32 = p} {}
    constexpr BaseKwField(int64_t C::*p) noexcept : type_(BaseKwType::I64), m_{.i64 = p} {}
    constexpr BaseKwField(uint64_t C::*p) noexcept : type_(BaseKwType::U64), m_{.u64 = p} {}
    constexpr BaseKwField(uint16_t* C::*p) noexcept : type_(BaseKwType::Wide), m_{.wide = p} {}
    constexpr BaseKwField(char* C::*p) noexcept : type_(BaseKwType::Narrow), m_{.narrow = p} {}

    BaseKwTarget in(C& conn) const noexcept
    {
        switch (type_) {
        case BaseKwType::I32: return {type_, &(conn.*m_.i32)};
        case BaseKwType::U16: return {type_, &(conn.*m_.u16)};
        case BaseKwType::U32: return {type_, &(conn.*m_.u32)};
        case BaseKwType::I64: return {type_, &(conn.*m_.i64)};
        case BaseKwType::U64: return {type_, &(conn.*m_.u64)};
        case BaseKwType::Wide: return {type_, &(conn.*m_.wide)};
        case BaseKwType::Narrow: return {type_, &(conn.*m_.narrow)};
        case BaseKwType::None: break;
        }
        return {};
    }

private:
    BaseKwType type_;
    union {
        std::nullptr_t none;
        int32_t C::*i32;
        uint16_t C::*u16;
        uint32_t C::*u32;
        int64_t C::*i64;
        uint64_t C::*u64;
        uint16_t* C::*wide;
        char* C::*narrow;
    } m_;
};

template <class C>
struct BaseKeyword {
    const char16_t* longKey;
    const char16_t* shortKey;  // or null
    const char16_t* def;       // or null (no default)
    BaseKwKind kind;
    BaseKwField<C> field{};
    // After the value is stored (or, for Own, in its place); false fails
    // the connect. It may read the rows that follow it (row[1], ...).
    bool (*hook)(C& conn, BaseOptionReader& r, const BaseKeyword* row) noexcept = nullptr;
    // The row is read only when this says so.
    bool (*when)(const C& conn) noexcept = nullptr;
    int64_t fallback = 0;  // Lenient: the value bad text gives
    uint8_t flags = 0;

    // Looks the row's keyword up with its own default.
    [[nodiscard]] bool get(BaseOptionReader& r) const noexcept
    {
        return r.get(longKey, shortKey, def, (flags & kBaseKwDecode) != 0 ? 1 : 0);
    }
};

// Reads one row's value (already looked up in r) into its field by the
// row's kind; false fails the connect.
[[nodiscard]] bool baseStoreKeyword(BaseOptionReader& r, BaseKwKind kind, uint8_t flags, BaseKwTarget target,
                                    int64_t fallback, const char16_t* longKey) noexcept;

// Reads the rows of a table in order; false (a diagnostic posted) when one
// fails.
template <class C, size_t N>
[[nodiscard]] bool baseReadKeywords(std::type_identity_t<C>& conn, BaseOptionReader& r,
                                    const BaseKeyword<C> (&rows)[N]) noexcept
{
    for (const BaseKeyword<C>& row : rows) {
        if (row.kind == BaseKwKind::Listed || (row.when != nullptr && !row.when(conn)))
            continue;
        if (row.kind != BaseKwKind::Own) {
            if (!row.get(r) || !baseStoreKeyword(r, row.kind, row.flags, row.field.in(conn), row.fallback, row.longKey))
                return false;
        }
        if (row.hook != nullptr && !row.hook(conn, r, &row))
            return false;
    }
    return true;
}
