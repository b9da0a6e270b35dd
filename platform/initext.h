// Line scanning over the text of an ini file, shared by the file reader and
// writer (kaini) and the in-memory images (kainiimage): lines, section
// headers, key lines and the list of a section's keys. The text is a byte
// range [p, end) and need not be terminated.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>

inline bool iniIsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}
inline bool iniIsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Start of the next line: past the rest of this one and all line ends.
inline const char* iniNextLine(const char* p, const char* end)
{
    while (p < end && !iniIsLineEnd(*p))
        ++p;
    while (p < end && iniIsLineEnd(*p))
        ++p;
    return p;
}

// The "[" of a line that opens a section (first non-blank character), else null.
inline const char* iniSectionBracket(const char* lineStart, const char* end)
{
    const char* p = lineStart;
    while (p < end && iniIsBlank(*p))
        ++p;
    return (p < end && *p == '[') ? p : nullptr;
}

// Start of the first line at or after p that opens a section, else end.
inline const char* iniNextSectionLine(const char* p, const char* end)
{
    while (p < end) {
        if (iniSectionBracket(p, end))
            return p;
        p = iniNextLine(p, end);
    }
    return end;
}

// The "]" that closes the bracket on the same line, else null.
inline const char* iniClosingBracket(const char* bracket, const char* end)
{
    for (const char* p = bracket; p < end && !iniIsLineEnd(*p); ++p)
        if (*p == ']')
            return p;
    return nullptr;
}

// "[" section "]" into header; false when it does not fit with its 0.
template <size_t N>
bool iniSectionHeader(char (&header)[N], const char* section)
{
    size_t slen = strlen(section);
    if (slen + 3 > N)
        return false;
    header[0] = '[';
    memcpy(header + 1, section, slen);
    header[slen + 1] = ']';
    header[slen + 2] = 0;
    return true;
}

// Where a section stands: the start of its header line, the header's "[",
// and the start of the next section line (or the text's end).
struct IniSection {
    const char* line;
    const char* bracket;
    const char* next;
};

// The first section in [p, end) whose header (brackets included) equals
// header ignoring case.
inline bool iniFindSection(const char* p, const char* end, const char* header, IniSection* found)
{
    size_t hlen = strlen(header);
    for (; p < end; p = iniNextLine(p, end)) {
        const char* b = iniSectionBracket(p, end);
        if (!b)
            continue;
        const char* close = iniClosingBracket(b, end);
        if (close && static_cast<size_t>(close - b + 1) == hlen && strncasecmp(b, header, hlen) == 0) {
            *found = {p, b, iniNextSectionLine(iniNextLine(close, end), end)};
            return true;
        }
    }
    return false;
}

// A line that holds a key: the key's first character, the end of the key
// text with the blanks before "=" dropped, and the "=".
struct IniKeyLine {
    const char* line;
    const char* key;
    const char* keyEnd;
    const char* equals;
};

// The first key line at or after p and before end; false at end or at a
// line that opens a section. Blank lines, comments (";" or "#") and lines
// without "=" hold no key.
inline bool iniFindKeyLine(const char* p, const char* end, IniKeyLine* found)
{
    while (p < end) {
        const char* q = p;
        while (q < end && iniIsBlank(*q))
            ++q;
        if (q >= end || *q == '[')
            return false;
        const char* e = q;
        while (e < end && !iniIsLineEnd(*e) && *e != '=')
            ++e;
        if (*q != ';' && *q != '#' && e < end && *e == '=') {
            const char* keyEnd = e;
            while (keyEnd > q && iniIsBlank(keyEnd[-1]))
                --keyEnd;
            *found = {p, q, keyEnd, e};
            return true;
        }
        p = iniNextLine(q, end);
    }
    return false;
}

// The value of a key line: from past its "=" and the blanks after it (and
// further "=" when skipEquals) to the end of the line or of the text.
inline void iniKeyValue(const IniKeyLine& k, const char* end, bool skipEquals, const char** valueStart,
                        const char** valueEnd)
{
    const char* v = k.equals + 1;
    while (v < end && (iniIsBlank(*v) || (skipEquals && *v == '=')))
        ++v;
    const char* ve = v;
    while (ve < end && !iniIsLineEnd(*ve))
        ++ve;
    *valueStart = v;
    *valueEnd = ve;
}

// The keys of the section whose header line starts at sectionStart, each
// with its 0, into output (size bytes); onKey(key, length) sees each key
// stored. Returns the bytes stored before the final 0, which is not stored.
template <typename OnKey>
int32_t iniListKeys(const char* sectionStart, const char* sectionEnd, char* output, int32_t size, OnKey onKey)
{
    int32_t pos = 0;
    IniKeyLine k;
    for (const char* p = iniNextLine(sectionStart, sectionEnd); iniFindKeyLine(p, sectionEnd, &k);
         p = iniNextLine(k.equals, sectionEnd)) {
        int32_t n = static_cast<int32_t>(k.keyEnd - k.key);
        if (pos + n + 1 > size - 1)
            break;
        memcpy(output + pos, k.key, static_cast<size_t>(n));
        pos += n;
        output[pos++] = 0;
        onKey(k.key, n);
    }
    return pos;
}
