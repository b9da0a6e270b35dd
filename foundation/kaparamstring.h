// Message texts with numbered placeholders (%s1, %d2, ... %sx10): the text of
// every diagnostic record, filled in one parameter at a time by its poster.
#pragma once
#include <cstddef>
#include <cstdint>
#include "foundation/kastring.h"
#include "foundation/kastringw.h"

struct UConverter;

// Text inserted for a parameter is never searched for later placeholders:
// each string remembers the spans it inserted and skips matches that touch
// them, so a parameter holding "%d2" stays as it is.
struct KaParamSpan {
    size_t start;
    size_t len;
};

// Spans of inserted parameter text, shared by both string classes.
class KaParamSpans {
public:
    KaParamSpans() noexcept = default;
    ~KaParamSpans();
    KaParamSpans(const KaParamSpans&) = delete;
    KaParamSpans& operator=(const KaParamSpans&) = delete;

    void clear() noexcept;
    // 1 when [pos, pos + n) overlaps inserted text.
    int overlaps(size_t pos, size_t n) const noexcept;
    // Records that count units at pos were replaced by n inserted units.
    int replaced(size_t pos, size_t count, size_t n) noexcept;

private:
    KaParamSpan* spans_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

// Every operation that fails also sets FAILED, which the next set clears, so
// a poster may fill all parameters and look at failed() once.
class KaParamStringW : public KaStringW {
public:
    uint16_t paramCount = 0;
    uint8_t paramFlags = 0;  // bit 0: failed

    static constexpr uint8_t FAILED = 1;

    KaParamStringW() noexcept;
    ~KaParamStringW() override;

    int set(const uint16_t* text) noexcept;
    int set(const uint16_t* data, size_t len) noexcept;
    // mode KA_TEXT_UTF16: the bytes already are UTF-16; KA_TEXT_LOCALE: the
    // locale's multibyte encoding; anything else UTF-8.
    int setA(const char* text, int mode) noexcept;
    int setFromConverter(const char* text, UConverter* converter) noexcept;
    int setFromCodePage(const char* text, int64_t codePage) noexcept;
    int allocate(size_t units) noexcept;

    int addParam(const uint16_t* text) noexcept;
    int addParamUnsigned(uint64_t value) noexcept;
    int addParamSigned(int64_t value) noexcept;
    int addParamSubString(const KaSubStringW& text) noexcept;
    int addParamQuoted(const uint16_t* text, uint16_t quote) noexcept;

    KaParamStringW& chainParam(const uint16_t* text) noexcept;
    KaParamStringW& chainUnsigned(uint64_t value) noexcept;
    KaParamStringW& chainSigned(int64_t value) noexcept;
    KaParamStringW& chainSubString(const KaSubStringW& text) noexcept;

    // Appends a further template whose placeholders the next parameters
    // fill, numbering from 1 again.
    int appendTemplate(const uint16_t* data, size_t len) noexcept;

    bool failed() const noexcept { return (paramFlags & FAILED) != 0; }

private:
    friend struct KaParamOps;
    KaParamSpans spans_;
};

class KaParamString : public KaString {
public:
    uint16_t paramCount = 0;
    uint8_t paramFlags = 0;  // bit 0: failed

    static constexpr uint8_t FAILED = 1;

    KaParamString() noexcept;
    explicit KaParamString(int32_t codePage) noexcept;
    ~KaParamString() override;

    int set(const char* text) noexcept;
    int set(const char* text, KaTextEncoding codePage) noexcept;
    int set(const char* data, size_t len) noexcept;
    int set(const char* data, size_t len, int32_t codePage) noexcept;
    int allocate(size_t n) noexcept;
    int allocate(size_t n, int32_t codePage) noexcept;

    int addParam(const char* text) noexcept;
    int addParamQuoted(const char* text, char quote) noexcept;
    int addParamUnsigned(uint64_t value) noexcept;
    int addParamSigned(int64_t value) noexcept;
    int addParamSubString(const KaSubString& text) noexcept;

    KaParamString& chainParam(const char* text) noexcept;
    KaParamString& chainUnsigned(uint64_t value) noexcept;
    KaParamString& chainSigned(int64_t value) noexcept;
    KaParamString& chainSubString(const KaSubString& text) noexcept;

    bool failed() const noexcept { return (paramFlags & FAILED) != 0; }

private:
    friend struct KaParamOps;
    KaParamSpans spans_;
};
