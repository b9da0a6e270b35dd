// The XML reader: a recursive descent over the document bytes that follows
// XML's rules for quoting, references, comments and tags, and refuses what it
// does not read (DOCTYPE, CDATA, processing instructions, empty-element tags,
// text mixed with child elements) with a syntax diagnostic at the offset.
#include "bulk/kaxml.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/icucache.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosfile.h"

namespace {

// Bytes of the input shown in a syntax diagnostic.
constexpr uint64_t kXmlSnippetBytes = 16;
// Bytes of the declared encoding shown in its diagnostic.
constexpr uint64_t kXmlEncodingShown = 16;
// Bytes read from the file at a time.
constexpr uint64_t kXmlReadStep = 64 * 1024;
// Converter table of the one conversion of a narrow file name.
constexpr uint64_t kXmlConverterSlots = 1;

bool isSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(char c) noexcept
{
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u >= 0x80;
}

bool isNameChar(char c) noexcept
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

struct Range {
    uint64_t start = 0;
    uint64_t length = 0;
};

struct XmlParser {
    const char* data;
    uint64_t length;
    uint64_t pos = 0;

    bool at(const char* literal) const noexcept
    {
        size_t n = strlen(literal);
        return length - pos >= n && memcmp(data + pos, literal, n) == 0;
    }
    void skipSpace() noexcept
    {
        while (pos < length && isSpace(data[pos]))
            ++pos;
    }

    void syntaxError(uint64_t offset) noexcept;
    [[nodiscard]] bool name(Range& out) noexcept;
    [[nodiscard]] bool qualifiedName(Range& prefix, Range& local) noexcept;
    [[nodiscard]] bool copyText(uint16_t** out, uint64_t* outLength, uint64_t start, uint64_t n, bool decode,
                                bool value = false) noexcept;
    [[nodiscard]] bool comment() noexcept;
    [[nodiscard]] bool declaration() noexcept;
    [[nodiscard]] bool misc() noexcept;
    [[nodiscard]] bool attribute(KaXmlNode* node) noexcept;
    KaXmlNode* element(KaXmlNode* parent, uint32_t depth) noexcept;
};

void XmlParser::syntaxError(uint64_t offset) noexcept
{
    if (offset > length)
        offset = length;
    uint64_t n = length - offset;
    if (n > kXmlSnippetBytes) {
        n = kXmlSnippetBytes;
        // Do not cut a character in two.
        while (n > 0 && (static_cast<unsigned char>(data[offset + n]) & 0xC0) == 0x80)
            --n;
    }
    uint16_t shown[kXmlSnippetBytes + 1];
    size_t units = 0;
    if (utf8ToUtf16(shown, kXmlSnippetBytes + 1, data + offset, int64_t(n), &units, 0) != kConvDone) {
        // Bytes that are not UTF-8 are shown as '?'.
        for (units = 0; units < n; ++units) {
            auto u = static_cast<unsigned char>(data[offset + units]);
            shown[units] = u < 0x80 && u != 0 ? u : '?';
        }
        shown[units] = 0;
    }
    errPost(MSG_SYNTAX_ERROR_AT_IN)->addParamUnsigned(offset)->addParamW(shown)->setSqlstate("HY000");
}

bool XmlParser::name(Range& out) noexcept
{
    if (pos >= length || !isNameStart(data[pos]))
        return false;
    out.start = pos;
    while (pos < length && isNameChar(data[pos]))
        ++pos;
    out.length = pos - out.start;
    return true;
}

bool XmlParser::qualifiedName(Range& prefix, Range& local) noexcept
{
    prefix = Range{};
    if (!name(local))
        return false;
    if (pos < length && data[pos] == ':') {
        ++pos;
        prefix = local;
        if (!name(local))
            return false;
    }
    return true;
}

// Appends the UTF-8 bytes of code point cp.
void putUtf8(char* out, uint64_t& n, uint32_t cp) noexcept
{
    if (cp < 0x80) {
        out[n++] = char(cp);
    } else if (cp < 0x800) {
        out[n++] = char(0xC0 | (cp >> 6));
        out[n++] = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out[n++] = char(0xE0 | (cp >> 12));
        out[n++] = char(0x80 | ((cp >> 6) & 0x3F));
        out[n++] = char(0x80 | (cp & 0x3F));
    } else {
        out[n++] = char(0xF0 | (cp >> 18));
        out[n++] = char(0x80 | ((cp >> 12) & 0x3F));
        out[n++] = char(0x80 | ((cp >> 6) & 0x3F));
        out[n++] = char(0x80 | (cp & 0x3F));
    }
}

// A character reference's code point, 0 when it names no XML character.
uint32_t charReference(const char* s, uint64_t n) noexcept
{
    uint32_t base = 10;
    if (n > 0 && s[0] == 'x') {
        base = 16;
        ++s;
        --n;
    }
    if (n == 0)
        return 0;
    uint32_t cp = 0;
    for (uint64_t i = 0; i < n; ++i) {
        char c = s[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = uint32_t(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = uint32_t(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = uint32_t(c - 'A' + 10);
        else
            return 0;
        cp = cp * base + digit;
        if (cp > 0x10FFFF)
            return 0;
    }
    if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp == 0xFFFF)
        return 0;
    return cp;
}

// Copies n bytes from start as UTF-16; with decode, the predefined entities
// and character references are replaced by their characters, any other '&'
// is a syntax error, and line ends become line feeds; in an attribute value
// (value) white space written as such becomes a space.
bool XmlParser::copyText(uint16_t** out, uint64_t* outLength, uint64_t start, uint64_t n, bool decode,
                         bool value) noexcept
{
    RamPtr<char> utf8Block = ramMake<char>(n + 1);
    if (!utf8Block)
        return false;
    char* utf8 = utf8Block.get();
    uint64_t used = 0;
    for (uint64_t i = 0; i < n; ++i) {
        char c = data[start + i];
        if (decode && c == '\r') {
            // Line ends read as one line feed, as XML hands them on.
            if (i + 1 < n && data[start + i + 1] == '\n')
                ++i;
            c = '\n';
        }
        if (value && (c == '\n' || c == '\t'))
            c = ' ';
        if (!decode || c != '&') {
            utf8[used++] = c;
            continue;
        }
        const char* ref = data + start + i + 1;
        const void* semicolon = memchr(ref, ';', n - i - 1);
        uint64_t refLength = semicolon == nullptr ? 0 : uint64_t(static_cast<const char*>(semicolon) - ref);
        char single = 0;
        if (refLength == 2 && memcmp(ref, "lt", 2) == 0)
            single = '<';
        else if (refLength == 2 && memcmp(ref, "gt", 2) == 0)
            single = '>';
        else if (refLength == 3 && memcmp(ref, "amp", 3) == 0)
            single = '&';
        else if (refLength == 4 && memcmp(ref, "quot", 4) == 0)
            single = '"';
        else if (refLength == 4 && memcmp(ref, "apos", 4) == 0)
            single = '\'';
        if (single != 0) {
            utf8[used++] = single;
        } else {
            uint32_t cp = (refLength > 1 && ref[0] == '#') ? charReference(ref + 1, refLength - 1) : 0;
            if (cp == 0) {
                syntaxError(start + i);
                return false;
            }
            putUtf8(utf8, used, cp);
        }
        i += refLength + 1;
    }
    RamPtr<uint16_t> wide = ramMake<uint16_t>(used + 1);
    if (!wide)
        return false;
    size_t units = 0;
    if (utf8ToUtf16(wide.get(), used + 1, utf8, int64_t(used), &units, 0) != kConvDone) {
        syntaxError(start);
        return false;
    }
    *out = wide.release();
    *outLength = units;
    return true;
}

// At "<!--": skips the comment, in which "--" may only close it.
bool XmlParser::comment() noexcept
{
    pos += 4;
    while (pos + 1 < length) {
        if (data[pos] == '-' && data[pos + 1] == '-') {
            if (pos + 2 < length && data[pos + 2] == '>') {
                pos += 3;
                return true;
            }
            syntaxError(pos);
            return false;
        }
        ++pos;
    }
    syntaxError(length);
    return false;
}

// At "<?xml": the declaration, whose encoding must be UTF-8.
bool XmlParser::declaration() noexcept
{
    pos += 5;
    for (;;) {
        bool spaced = pos < length && isSpace(data[pos]);
        skipSpace();
        if (at("?>")) {
            pos += 2;
            return true;
        }
        Range key;
        if (!spaced || !name(key)) {
            syntaxError(pos);
            return false;
        }
        skipSpace();
        if (pos >= length || data[pos] != '=') {
            syntaxError(pos);
            return false;
        }
        ++pos;
        skipSpace();
        if (pos >= length || (data[pos] != '"' && data[pos] != '\'')) {
            syntaxError(pos);
            return false;
        }
        char quote = data[pos++];
        uint64_t valueStart = pos;
        while (pos < length && data[pos] != quote && data[pos] != '<')
            ++pos;
        if (pos >= length || data[pos] != quote) {
            syntaxError(pos);
            return false;
        }
        uint64_t valueLength = pos - valueStart;
        ++pos;
        if (key.length == 8 && strncasecmp(data + key.start, "encoding", 8) == 0 &&
            !(valueLength == 5 && strncasecmp(data + valueStart, "utf-8", 5) == 0)) {
            uint64_t shown = valueLength < kXmlEncodingShown ? valueLength : kXmlEncodingShown;
            uint16_t name16[kXmlEncodingShown + 1];
            for (uint64_t i = 0; i < shown; ++i) {
                auto u = static_cast<unsigned char>(data[valueStart + i]);
                name16[i] = u < 0x80 ? u : '?';
            }
            name16[shown] = 0;
            errPost(MSG_XML_ENCODING_NOT_UTF8)->addParamW(name16)->setSqlstate("HY000");
            return false;
        }
    }
}

// White space and comments, where the document allows them outside the
// document element.
bool XmlParser::misc() noexcept
{
    for (;;) {
        skipSpace();
        if (!at("<!--"))
            return true;
        if (!comment())
            return false;
    }
}

// At the first byte of an attribute name.
bool XmlParser::attribute(KaXmlNode* node) noexcept
{
    uint64_t start = pos;
    Range prefix, local;
    if (!qualifiedName(prefix, local)) {
        syntaxError(pos);
        return false;
    }
    skipSpace();
    if (pos >= length || data[pos] != '=') {
        syntaxError(pos);
        return false;
    }
    ++pos;
    skipSpace();
    if (pos >= length || (data[pos] != '"' && data[pos] != '\'')) {
        syntaxError(pos);
        return false;
    }
    char quote = data[pos++];
    uint64_t valueStart = pos;
    while (pos < length && data[pos] != quote) {
        if (data[pos] == '<') {
            syntaxError(pos);
            return false;
        }
        ++pos;
    }
    if (pos >= length) {
        syntaxError(pos);
        return false;
    }
    uint64_t valueLength = pos - valueStart;
    ++pos;
    // A repeated name makes the document malformed.
    for (size_t i = 0; i < node->attributes.count; ++i) {
        auto* seen = static_cast<KaXmlAttribute*>(node->attributes.at(i));
        Range seenPrefix, seenLocal;
        uint64_t saved = pos;
        pos = uint64_t(seen->position);
        bool ok = qualifiedName(seenPrefix, seenLocal);
        pos = saved;
        if (ok && seenPrefix.length == prefix.length && seenLocal.length == local.length &&
            memcmp(data + seenPrefix.start, data + prefix.start, prefix.length) == 0 &&
            memcmp(data + seenLocal.start, data + local.start, local.length) == 0) {
            syntaxError(start);
            return false;
        }
    }
    auto* attribute = static_cast<KaXmlAttribute*>(ramAlloc(sizeof(KaXmlAttribute)));
    if (attribute == nullptr)
        return false;
    *attribute = KaXmlAttribute{nullptr, 0, nullptr, 0, nullptr, 0, int64_t(start)};
    bool ok = (prefix.length == 0 ||
               copyText(&attribute->prefix, &attribute->prefixLength, prefix.start, prefix.length, false)) &&
              copyText(&attribute->name, &attribute->nameLength, local.start, local.length, false) &&
              copyText(&attribute->value, &attribute->valueLength, valueStart, valueLength, true, true);
    if (ok && node->attributes.append(attribute) == 0)
        return true;
    attribute->destroy();
    ramFree(attribute);
    return false;
}

// At '<' of a start tag. depth counts the document element as 0.
KaXmlNode* XmlParser::element(KaXmlNode* parent, uint32_t depth) noexcept
{
    uint64_t open = pos;
    ++pos;
    Range prefix, local;
    if (!qualifiedName(prefix, local)) {
        syntaxError(pos);
        return nullptr;
    }
    KaXmlNode* node = xmlNodeCreate(parent);
    if (node == nullptr)
        return nullptr;
    node->position = int64_t(open);
    if ((prefix.length > 0 && !copyText(&node->prefix, &node->prefixLength, prefix.start, prefix.length, false)) ||
        !copyText(&node->name, &node->nameLength, local.start, local.length, false)) {
        xmlNodeFree(node);
        return nullptr;
    }
    for (;;) {
        bool spaced = pos < length && isSpace(data[pos]);
        skipSpace();
        if (pos < length && data[pos] == '>') {
            ++pos;
            break;
        }
        // Empty-element tags are not read; a name needs space before it.
        if (pos >= length || !spaced || !attribute(node)) {
            if (pos >= length || !spaced)
                syntaxError(pos);
            xmlNodeFree(node);
            return nullptr;
        }
    }
    // Content: one stretch of text or child elements, with comments between.
    Range text;
    bool textEnded = false;
    bool hasChildren = false;
    for (;;) {
        uint64_t runStart = pos;
        while (pos < length && data[pos] != '<') {
            if (at("]]>")) {
                syntaxError(pos);
                xmlNodeFree(node);
                return nullptr;
            }
            ++pos;
        }
        uint64_t first = runStart, last = pos;
        while (first < last && isSpace(data[first]))
            ++first;
        while (last > first && isSpace(data[last - 1]))
            --last;
        if (first < last) {
            if (textEnded || hasChildren) {
                syntaxError(first);
                xmlNodeFree(node);
                return nullptr;
            }
            if (text.length == 0)
                text.start = first;
            text.length = last - text.start;
        } else if (text.length > 0) {
            textEnded = true;
        }
        if (pos >= length) {
            syntaxError(pos);
            xmlNodeFree(node);
            return nullptr;
        }
        if (at("<!--")) {
            if (text.length > 0)
                textEnded = true;
            if (!comment()) {
                xmlNodeFree(node);
                return nullptr;
            }
            continue;
        }
        if (at("</")) {
            pos += 2;
            Range endPrefix, endLocal;
            uint64_t nameAt = pos;
            bool ok = qualifiedName(endPrefix, endLocal) && endPrefix.length == prefix.length &&
                      endLocal.length == local.length &&
                      memcmp(data + endPrefix.start, data + prefix.start, prefix.length) == 0 &&
                      memcmp(data + endLocal.start, data + local.start, local.length) == 0;
            if (!ok) {
                syntaxError(nameAt);
                xmlNodeFree(node);
                return nullptr;
            }
            skipSpace();
            if (pos >= length || data[pos] != '>') {
                syntaxError(pos);
                xmlNodeFree(node);
                return nullptr;
            }
            ++pos;
            break;
        }
        if (text.length > 0 || pos + 1 >= length || !isNameStart(data[pos + 1])) {
            // Text mixed with elements, CDATA, DOCTYPE or a processing
            // instruction.
            syntaxError(pos + 1);
            xmlNodeFree(node);
            return nullptr;
        }
        if (depth + 1 >= KA_XML_MAX_DEPTH) {
            errPost(MSG_XML_NESTING_TOO_DEEP)->addParamUnsigned(KA_XML_MAX_DEPTH)->setSqlstate("HY000");
            xmlNodeFree(node);
            return nullptr;
        }
        uint64_t childName = pos + 1;
        KaXmlNode* child = element(node, depth + 1);
        if (child == nullptr || node->children.append(child) != 0) {
            xmlNodeFree(child);
            syntaxError(childName);
            xmlNodeFree(node);
            return nullptr;
        }
        hasChildren = true;
    }
    if (text.length > 0) {
        uint64_t start = text.start, n = text.length;
        // The description writer puts double quotes around names.
        if (n > 1 && data[start] == '"' && data[start + n - 1] == '"') {
            ++start;
            n -= 2;
        }
        if (!copyText(&node->text, &node->textLength, start, n, true)) {
            xmlNodeFree(node);
            return nullptr;
        }
    }
    return node;
}

}  // namespace

int32_t xmlParseBuffer(KaXmlNode** root, const char* bytes, uint64_t length) noexcept
{
    if (length > 2 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {
        bytes += 3;
        length -= 3;
    }
    XmlParser parser{bytes, length};
    // The declaration may only stand at the very start.
    if (parser.at("<?xml") && parser.pos + 5 < length &&
        (isSpace(bytes[parser.pos + 5]) || bytes[parser.pos + 5] == '?')) {
        if (!parser.declaration())
            return 1;
    }
    if (!parser.misc())
        return 1;
    if (parser.pos >= length || bytes[parser.pos] != '<' || parser.pos + 1 >= length ||
        !isNameStart(bytes[parser.pos + 1])) {
        parser.syntaxError(parser.pos < length ? parser.pos + (bytes[parser.pos] == '<' ? 1 : 0) : length);
        return 1;
    }
    KaXmlNode* node = parser.element(nullptr, 0);
    if (node == nullptr)
        return 1;
    if (!parser.misc() || parser.pos < length) {
        if (parser.pos < length)
            parser.syntaxError(parser.pos);
        xmlNodeFree(node);
        return 1;
    }
    *root = node;
    return 0;
}

int32_t xmlParseFile(KaXmlNode** root, const uint16_t* path) noexcept
{
    int32_t fd = -1;
    if (bosfopenW(path, 0, &fd) != 0)
        return 1;
    // Read to the end rather than trusting the size, within a bound.
    RamPtr<char> buffer;
    uint64_t used = 0, capacity = 0;
    for (;;) {
        if (used == capacity) {
            if (capacity >= KA_XML_MAX_FILE_SIZE) {
                errPost(MSG_XML_FILE_TOO_LARGE)
                    ->addParamW(path)
                    ->addParamUnsigned(KA_XML_MAX_FILE_SIZE)
                    ->setSqlstate("HY000");
                bosfclose(fd);
                return 1;
            }
            uint64_t grown = capacity == 0 ? kXmlReadStep : capacity * 2;
            if (grown > KA_XML_MAX_FILE_SIZE)
                grown = KA_XML_MAX_FILE_SIZE;
            RamPtr<char> bigger = ramMake<char>(grown);
            if (!bigger) {
                bosfclose(fd);
                return 1;
            }
            if (used > 0)
                memcpy(bigger.get(), buffer.get(), used);
            buffer = std::move(bigger);
            capacity = grown;
        }
        uint64_t count = 0;
        if (bosfread(fd, -1, buffer.get() + used, capacity - used, &count) != 0) {
            bosfclose(fd);
            return 1;
        }
        if (count == 0)
            break;
        used += count;
    }
    KaXmlNode* node = nullptr;
    int32_t status = xmlParseBuffer(&node, buffer == nullptr ? "" : buffer.get(), used);
    buffer.reset();
    int closed = bosfclose(fd);
    if (status != 0)
        return 1;
    *root = node;
    return closed == 0 ? 0 : closed;
}

int32_t xmlParseFileA(KaXmlNode** root, const char* path, uint64_t codePage) noexcept
{
    size_t n = strlen(path);
    RamPtr<uint16_t> wide = ramMake<uint16_t>(n + 1);
    if (!wide)
        return 1;
    KaCharConv converters;
    int64_t written = 0;
    if (converters.init(kXmlConverterSlots) != 0 ||
        converters.convertBytes(wide.get(), int64_t(n + 1), path, int64_t(n), &written, nullptr, int64_t(codePage),
                                0) != 0 ||
        written < 0 || uint64_t(written) > n)
        return 1;
    wide.get()[written] = 0;
    return xmlParseFile(root, wide.get());
}
