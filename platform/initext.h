// Line scanning over the text of an ini file, shared by the file reader and
// writer (kaini) and the in-memory images (kainiimage). The text is a byte
// range [p, end) and need not be terminated.
#pragma once

inline bool iniIsLineEnd(char c) { return c == '\n' || c == '\r'; }
inline bool iniIsBlank(char c) { return c == ' ' || c == '\t'; }

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
