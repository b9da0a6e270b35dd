// Query files. The whole file is read at open into one image (lines after
// the header decoded when the header names a line encoding), its sections
// are found in one pass, and a save writes a complete new file beside the
// target and renames it over the target, so that a failed save never costs
// the old file.
#include "sql/kaqueryf.h"

#include <cctype>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/karandom.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosfile.h"
#include "platform/bospath.h"
#include "platform/bosreplace.h"
#include "platform/kafilebyline.h"

namespace {

constexpr uint64_t kLineBuffer = 2048;
const char* const kKnownNames[KA_QF_KNOWN_SECTIONS] = {"PAGE_LAYOUT", "PARAMETERS", "DEFINITION", "USER COMMANDS"};
constexpr char kDescriptionKey[] = "SET.QUERY.DESCRIPTION";
constexpr char kDescriptionOpen[] = "SET.QUERY.DESCRIPTION ('";
constexpr char kDescriptionClose[] = "')";
// Random letters in the name of the file a save writes before renaming it.
constexpr size_t kTempLetters = 12;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isWordStart(char c)
{
    return isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '+' || c == '&';
}

bool isWordChar(char c)
{
    return isWordStart(c) || isdigit(static_cast<unsigned char>(c));
}

// A token of a header or parameter line: a word (with "+" and "&"), a run
// of digits, a single-quoted text with doubled inner quotes (when quotes
// is set), or one other character. Empty at the end of the line.
struct LineTokens {
    const char* p;
    const char* end;
    int quotes;

    void skipBlanks()
    {
        while (p < end && isBlank(*p))
            ++p;
    }
    KaSubString next()
    {
        skipBlanks();
        const char* start = p;
        if (p == end)
            return KaSubString(start, size_t(0));
        if (isWordStart(*p)) {
            while (p < end && isWordChar(*p))
                ++p;
        } else if (isdigit(static_cast<unsigned char>(*p))) {
            while (p < end && isdigit(static_cast<unsigned char>(*p)))
                ++p;
        } else if (quotes && *p == '\'') {
            for (++p; p < end; ++p) {
                if (*p == '\'') {
                    if (p + 1 < end && p[1] == '\'') {
                        ++p;
                        continue;
                    }
                    ++p;
                    break;
                }
            }
        } else {
            ++p;
        }
        return KaSubString(start, size_t(p - start));
    }
};

bool equalsNoCase(const KaSubString& token, const char* word)
{
    size_t n = strlen(word);
    if (token.len != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower(static_cast<unsigned char>(token.data[i])) != tolower(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

bool isNumber(const KaSubString& token)
{
    return token.len > 0 && isdigit(static_cast<unsigned char>(token.data[0]));
}

bool isSymbol(const KaSubString& token, char c)
{
    return token.len == 1 && token.data[0] == c;
}

bool blankLine(const char* line, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (!isBlank(line[i]))
            return false;
    return true;
}

// The length of the text without trailing white space.
size_t trimmedLength(const char* text, size_t n)
{
    while (n > 0 && isBlank(text[n - 1]))
        --n;
    return n;
}

char* copyText(const char* text, size_t n)
{
    char* copy = static_cast<char*>(ramAlloc(n + 1));
    if (copy) {
        memcpy(copy, text, n);
        copy[n] = 0;
    }
    return copy;
}

void trimString(KaString* s)
{
    s->len = trimmedLength(s->data, s->len);
    if (s->data)
        s->data[s->len] = 0;
}

int postPathTooLong(const char* path)
{
    KaError* e = errPost(MSG_QUERY_FILE_PATH_TOO_LONG);
    if (e) {
        e->addParamText(path);
        e->addParamUnsigned(BOS_PATH_SIZE - 1);
    }
    return 1;
}

// An absolute copy of path in a new block; 1 with a diagnostic when it is
// too long for the file layer or memory is short.
int absoluteCopy(const char* path, char** out)
{
    char buffer[BOS_PATH_SIZE];
    size_t n = strlen(path);
    if (n >= BOS_PATH_SIZE)
        return postPathTooLong(path);
    memcpy(buffer, path, n + 1);
    if (buffer[0] != '/' && bosMakeAbsolutePath(buffer) != 0)
        return postPathTooLong(path);
    *out = copyText(buffer, strlen(buffer));
    return *out == nullptr ? 1 : 0;
}

int replaceText(char** field, const char* text, size_t n)
{
    char* copy = nullptr;
    if (text != nullptr && (copy = copyText(text, n)) == nullptr)
        return 1;
    ramFree(*field);
    *field = copy;
    return 0;
}

}  // namespace

// ---- SectionInfo ---------------------------------------------------------

SectionInfo::SectionInfo() noexcept : contentOffset(0), replaced(false), length(0), kind(KA_QF_OTHER), deleted(false) {}

SectionInfo::~SectionInfo() = default;

int16_t SectionInfo::compare(const KaObject& other) const
{
    const auto& o = static_cast<const SectionInfo&>(other);
    if (kind == KA_QF_LOOKUP_KEY || o.kind == KA_QF_LOOKUP_KEY) {
        size_t n = name.len < o.name.len ? name.len : o.name.len;
        int c = n ? memcmp(name.data, o.name.data, n) : 0;
        if (c != 0)
            return int16_t(c < 0 ? -1 : 1);
        return int16_t(name.len < o.name.len ? -1 : name.len > o.name.len ? 1 : 0);
    }
    if (kind != o.kind)
        return int16_t(kind < o.kind ? -1 : 1);
    if (contentOffset == o.contentOffset)
        return 0;
    if (contentOffset == 0)
        return 1;
    if (o.contentOffset == 0)
        return -1;
    return int16_t(contentOffset < o.contentOffset ? -1 : 1);
}

// ---- KafParam ------------------------------------------------------------

KafParam::KafParam() noexcept : number(0) {}

KafParam::~KafParam() = default;

int KafParam::parse(const char* line, size_t length) noexcept
{
    LineTokens t{line, line + length, 1};
    for (int i = 0; i < 4; ++i)
        (void)t.next();  // PARAMETER . ITEM (
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            (void)t.next();  // the comma
        KaSubString token = t.next();
        if (token.len == 0 || text[i].assign(token.data, token.len) != 0)
            return 1;
        if (token.data[0] == '\'')
            text[i].unquote();
    }
    (void)t.next();
    KaSubString digits = t.next();
    if (!isNumber(digits) || textToU64N(digits.data, digits.len, &number) != 0)
        return 1;
    return 0;
}

int KafParam::format(KaString* out) const noexcept
{
    if (out->append("PARAMETER.ITEM (") != 0)
        return 1;
    for (const KaString& t : text) {
        if (out->appendQuoted(t, '\'') != 0 || out->append(", ") != 0)
            return 1;
    }
    return out->appendNumber(number) != 0 || out->append(")\n") != 0 ? 1 : 0;
}

// ---- KaQueryFile ---------------------------------------------------------

KaQueryFile::KaQueryFile() noexcept
    : isOpen(false), path(nullptr), pendingPath(nullptr), version{1, 0, 0}, name(nullptr),
      replacementStatement(nullptr), replacementLength(0), database(nullptr), hasStatement(false), statementOffset(0),
      firstSection(0), sections(8, KaArray::ownsElements | KaArray::ownsBuffer)
{}

KaQueryFile::~KaQueryFile()
{
    (void)close();
}

int KaQueryFile::close() noexcept
{
    image.freeBuffer();
    isOpen = false;
    ramFree(path);
    ramFree(pendingPath);
    ramFree(name);
    ramFree(replacementStatement);
    ramFree(database);
    path = pendingPath = name = replacementStatement = database = nullptr;
    replacementLength = 0;
    hasStatement = false;
    statementOffset = 0;
    firstSection = 0;
    sections.deleteAll();
    return 0;
}

size_t KaQueryFile::lineAt(uint64_t offset) const noexcept
{
    if (offset >= image.len)
        return 0;
    const char* start = image.data + offset;
    const void* nl = memchr(start, '\n', size_t(image.len - offset));
    return nl ? size_t(static_cast<const char*>(nl) - start) + 1 : size_t(image.len - offset);
}

int KaQueryFile::isSectionHeader(const char* line, size_t length, const char** sectionName, size_t* nameLength) noexcept
{
    size_t n = trimmedLength(line, length);
    if (n < 2 || line[0] != '[' || line[n - 1] != ']')
        return 0;
    *sectionName = line + 1;
    *nameLength = n - 2;
    return 1;
}

SectionInfo* KaQueryFile::lookupSection(const char* sectionName, size_t length) noexcept
{
    for (size_t i = 0; i < sections.count; ++i) {
        auto* s = static_cast<SectionInfo*>(sections.at(i));
        if (s->name.len == length && memcmp(s->name.data, sectionName, length) == 0)
            return s;
    }
    return nullptr;
}

SectionInfo* KaQueryFile::addSection(const char* sectionName, size_t length) noexcept
{
    std::unique_ptr<SectionInfo> made(new SectionInfo());
    if (made == nullptr || made->name.assign(sectionName, length) != 0 || sections.append(made.get()) != 0)
        return nullptr;
    SectionInfo* s = made.release();
    KaSubString view(sectionName, length);
    s->kind = view.indexInNoCase(kKnownNames, KA_QF_KNOWN_SECTIONS) < KA_QF_KNOWN_SECTIONS ? KA_QF_KNOWN : KA_QF_OTHER;
    return s;
}

int KaQueryFile::readHeader(const char* line, size_t length, int32_t* encoding) noexcept
{
    LineTokens t{line, line + length, 0};
    KaSubString token = t.next();
    bool ok = equalsNoCase(token, "K+A") || equalsNoCase(token, "K&A");
    token = t.next();
    for (int part = 0; ok && part < 3 && isNumber(token); ++part) {
        if (textToU64N(token.data, token.len, &version[part]) != 0)
            ok = false;
        token = t.next();
        if (part < 2 && isSymbol(token, '.')) {
            token = t.next();
            if (!isNumber(token))
                ok = false;
        } else {
            if (part == 2 && token.len == 1)
                token = t.next();
            break;
        }
    }
    if (ok && !equalsNoCase(token, "for"))
        ok = false;
    if (ok) {
        t.skipBlanks();
        const char* start = t.p;
        while (t.p < t.end && *t.p != '(')
            ++t.p;
        size_t n = trimmedLength(start, size_t(t.p - start));
        if (n == 0 || replaceText(&name, start, n) != 0)
            ok = false;
        token = t.next();
        if (ok && isSymbol(token, '(')) {
            KaSubString digits = t.next();
            uint64_t type = 0;
            if (!isNumber(digits) || textToU64N(digits.data, digits.len, &type) != 0 || type > INT32_MAX ||
                !isSymbol(t.next(), ')'))
                ok = false;
            *encoding = int32_t(type);
            token = t.next();
        }
        if (token.len != 0)
            ok = false;
    }
    if (ok)
        return 0;
    KaError* e = errPost(MSG_QUERY_FILE_HEADER_INVALID);
    if (e)
        e->addParamText(path);
    return 1;
}

int KaQueryFile::readFile(const char* filePath) noexcept
{
    KaFileByLine reader;
    if (reader.open(filePath, kLineBuffer) != 0)
        return 1;
    reader.keepNewline = 1;
    KaSubString line;
    if (reader.readLine(&line) != 0)
        return 1;
    size_t headerLength = trimmedLength(line.data, line.len);
    int32_t encoding = 0;
    if (image.append(line.data, line.len) != 0 || readHeader(line.data, headerLength, &encoding) != 0)
        return 1;
    reader.decodeType = encoding;
    for (;;) {
        if (reader.readLine(&line) != 0) {
            KaError* e = errPost(MSG_QUERY_FILE_UNREADABLE);
            if (e)
                e->addParamText(filePath);
            return 1;
        }
        if (reader.atEnd)
            break;
        if (image.append(line.data, line.len) != 0)
            return 1;
    }
    return 0;
}

int KaQueryFile::open(const char* filePath) noexcept
{
    (void)close();
    if (absoluteCopy(filePath, &path) != 0 || readFile(path) != 0) {
        (void)close();
        return 1;
    }
    // Skip the header, then blank lines before each item.
    uint64_t at = lineAt(0);
    auto nextNonBlank = [this](uint64_t from) {
        while (from < image.len) {
            size_t n = lineAt(from);
            if (!blankLine(image.data + from, n))
                break;
            from += n;
        }
        return from;
    };
    auto firstWord = [this](uint64_t from, LineTokens* t) {
        *t = LineTokens{image.data + from, image.data + from + lineAt(from), 0};
        return t->next();
    };
    LineTokens t{};
    at = nextNonBlank(at);
    if (equalsNoCase(firstWord(at, &t), "CTKAF"))
        at = nextNonBlank(at + lineAt(at));
    if (equalsNoCase(firstWord(at, &t), "use")) {
        t.skipBlanks();
        const char* start = t.p;
        while (t.p < t.end && !isBlank(*t.p) && *t.p != ';')
            ++t.p;
        if (t.p > start && replaceText(&database, start, size_t(t.p - start)) != 0) {
            (void)close();
            return 1;
        }
        at = nextNonBlank(at + lineAt(at));
    }
    const char* header;
    size_t headerLength;
    uint64_t scanFrom = at;
    if (at < image.len && !isSectionHeader(image.data + at, lineAt(at), &header, &headerLength)) {
        hasStatement = true;
        statementOffset = at;
        scanFrom = at + lineAt(at);
        if (version[0] == 2) {
            // The lines after the statement up to the first header are the
            // definition.
            uint64_t end = at;
            for (; end < image.len; end += lineAt(end)) {
                size_t n = lineAt(end);
                if (isSectionHeader(image.data + end, n, &header, &headerLength))
                    break;
                if (trimmedLength(image.data + end, n) > 0 &&
                    image.data[end + trimmedLength(image.data + end, n) - 1] == ';') {
                    end += n;
                    break;
                }
            }
            uint64_t def = nextNonBlank(end);
            scanFrom = def;
            if (def < image.len && !isSectionHeader(image.data + def, lineAt(def), &header, &headerLength)) {
                SectionInfo* s = addSection(kKnownNames[KA_QF_DEFINITION], strlen(kKnownNames[KA_QF_DEFINITION]));
                if (s == nullptr) {
                    (void)close();
                    return 1;
                }
                s->contentOffset = def;
                uint64_t stop = def;
                while (stop < image.len && !isSectionHeader(image.data + stop, lineAt(stop), &header, &headerLength))
                    stop += lineAt(stop);
                s->length = stop - def;
                scanFrom = stop;
            }
        }
    }
    // Every section header from there on, in file order.
    SectionInfo* current = nullptr;
    for (uint64_t off = scanFrom; off < image.len; off += lineAt(off)) {
        size_t n = lineAt(off);
        if (!isSectionHeader(image.data + off, n, &header, &headerLength))
            continue;
        if (firstSection == 0)
            firstSection = off;
        if (current)
            current->length = off - current->contentOffset;
        current = lookupSection(header, headerLength);
        if (current == nullptr && (current = addSection(header, headerLength)) == nullptr) {
            (void)close();
            return 1;
        }
        current->contentOffset = off + n;
    }
    if (current)
        current->length = image.len - current->contentOffset;
    isOpen = true;
    return 0;
}

int KaQueryFile::readStatement(KaString* out, uint64_t offset, int stopAtSemicolon) noexcept
{
    out->len = 0;
    if (out->ensureCapacity(1) != 0)
        return 1;
    out->data[0] = 0;
    const char* header;
    size_t headerLength;
    for (uint64_t off = offset; off < image.len; off += lineAt(off)) {
        const char* line = image.data + off;
        size_t n = lineAt(off);
        if (isSectionHeader(line, n, &header, &headerLength))
            break;
        if (out->len == 0 && n == 1 && line[0] == '\n')
            continue;
        if (out->append(line, n) != 0)
            return 1;
        size_t trimmed = trimmedLength(line, n);
        if (stopAtSemicolon && trimmed > 0 && line[trimmed - 1] == ';')
            break;
    }
    return 0;
}

int KaQueryFile::getQueryText(KaString* out) noexcept
{
    if (replacementStatement != nullptr)
        return out->assign(replacementStatement, replacementLength) != 0 ? 1 : 0;
    out->len = 0;
    if (out->ensureCapacity(1) != 0)
        return 1;
    out->data[0] = 0;
    if (!hasStatement)
        return 0;
    if (readStatement(out, statementOffset, 1) != 0 || out->joinLines('\'', '"', 0) != 0)
        return 1;
    trimString(out);
    if (out->len > 0 && out->data[out->len - 1] == ';')
        out->data[--out->len] = 0;
    return 0;
}

int KaQueryFile::readSectionText(SectionInfo* section, KaString* out) noexcept
{
    if (section->replaced) {
        if (out->assign(section->replacement.data ? section->replacement.data : "", section->replacement.len) != 0)
            return 1;
    } else if (section->contentOffset == 0 || readStatement(out, section->contentOffset, 0) != 0) {
        if (section->contentOffset != 0)
            return 1;
        if (out->assign("", size_t(0)) != 0)
            return 1;
    }
    if (out->len > 0 && out->ensureTrailingNewlines(2) != 0)
        return 1;
    return 0;
}

int KaQueryFile::getSection(const char* sectionName, KaString* out) noexcept
{
    SectionInfo* s = lookupSection(sectionName, strlen(sectionName));
    if (s == nullptr || s->deleted)
        return out->assign("", size_t(0)) != 0 ? 1 : 0;
    return readSectionText(s, out);
}

int KaQueryFile::getSectionBytes(const char* sectionName, char** block, uint64_t* length) noexcept
{
    *block = nullptr;
    *length = 0;
    KaString text;
    if (getSection(sectionName, &text) != 0)
        return 1;
    if (text.len == 0)
        return 0;
    char* copy = static_cast<char*>(ramAlloc(text.len + 10));
    if (copy == nullptr)
        return 1;
    memcpy(copy, text.data, text.len);
    copy[text.len] = 0;
    *block = copy;
    *length = text.len;
    return 0;
}

int KaQueryFile::getSectionLines(const char* sectionName, KaArray* lines) noexcept
{
    KaString text;
    if (getSection(sectionName, &text) != 0)
        return 1;
    return text.splitLines(*lines) != 0 ? 1 : 0;
}

int KaQueryFile::hasSection(const char* sectionName, int* flag) noexcept
{
    SectionInfo* s = lookupSection(sectionName, strlen(sectionName));
    *flag = s != nullptr && !s->deleted ? 1 : 0;
    return 0;
}

int KaQueryFile::deleteSection(const char* sectionName) noexcept
{
    if (SectionInfo* s = lookupSection(sectionName, strlen(sectionName)))
        s->deleted = true;
    return 0;
}

int KaQueryFile::setSection(const char* sectionName, const char* bytes, uint64_t length) noexcept
{
    size_t n = strlen(sectionName);
    SectionInfo* s = lookupSection(sectionName, n);
    if (s == nullptr && (s = addSection(sectionName, n)) == nullptr)
        return 1;
    if (s->replacement.assign(bytes ? bytes : "", bytes ? size_t(length) : 0) != 0)
        return 1;
    s->replaced = true;
    s->deleted = false;
    return 0;
}

static const char* knownName(uint32_t index)
{
    if (index < KA_QF_KNOWN_SECTIONS)
        return kKnownNames[index];
    KaError* e = errPost(MSG_QUERY_SECTION_INDEX_INVALID);
    if (e)
        e->addParamUnsigned(index);
    return nullptr;
}

int KaQueryFile::getSectionByIndex(uint32_t index, KaString* out) noexcept
{
    const char* n = knownName(index);
    return n ? getSection(n, out) : 1;
}

int KaQueryFile::getSectionBytesByIndex(uint32_t index, char** block, uint64_t* length) noexcept
{
    const char* n = knownName(index);
    return n ? getSectionBytes(n, block, length) : 1;
}

int KaQueryFile::getSectionLinesByIndex(uint32_t index, KaArray* lines) noexcept
{
    const char* n = knownName(index);
    return n ? getSectionLines(n, lines) : 1;
}

int KaQueryFile::hasSectionByIndex(uint32_t index, int* flag) noexcept
{
    const char* n = knownName(index);
    return n ? hasSection(n, flag) : 1;
}

int KaQueryFile::deleteSectionByIndex(uint32_t index) noexcept
{
    const char* n = knownName(index);
    return n ? deleteSection(n) : 1;
}

int KaQueryFile::setSectionByIndex(uint32_t index, const char* bytes, uint64_t length) noexcept
{
    const char* n = knownName(index);
    return n ? setSection(n, bytes, length) : 1;
}

int KaQueryFile::firstSectionOffset(uint64_t* offset) noexcept
{
    *offset = firstSection;
    return 0;
}

int KaQueryFile::setNewPath(const char* newPath) noexcept
{
    char* copy = nullptr;
    if (newPath != nullptr && absoluteCopy(newPath, &copy) != 0)
        return 1;
    ramFree(pendingPath);
    pendingPath = copy;
    return 0;
}

int KaQueryFile::setName(const char* text) noexcept
{
    return replaceText(&name, text, text ? strlen(text) : 0);
}

int KaQueryFile::setDatabase(const char* text) noexcept
{
    return replaceText(&database, text, text ? strlen(text) : 0);
}

int KaQueryFile::setQueryText(const char* bytes, size_t length) noexcept
{
    if (replaceText(&replacementStatement, bytes, length) != 0)
        return 1;
    replacementLength = bytes ? length : 0;
    return 0;
}

int KaQueryFile::setNameAndQuery(const char* newName, const char* bytes, size_t length) noexcept
{
    return setName(newName) != 0 || setQueryText(bytes, length) != 0 ? 1 : 0;
}

int KaQueryFile::getParameters(KaArray* params) noexcept
{
    KaArray lines(8, KaArray::ownsElements | KaArray::ownsBuffer);
    if (getSectionLines(kKnownNames[KA_QF_PARAMETERS], &lines) != 0)
        return 1;
    for (size_t i = 1; i < lines.count; ++i) {
        auto* line = static_cast<KaString*>(lines.at(i));
        std::unique_ptr<KafParam> p(new KafParam());
        if (p == nullptr)
            return 1;
        if (p->parse(line->data, line->len) != 0) {
            KaError* e = errPost(MSG_QUERY_PARAMETER_INVALID);
            if (e)
                e->addParamSubString(*line);
            return 1;
        }
        if (params->append(p.get()) != 0)
            return 1;
        (void)p.release();
    }
    return 0;
}

int KaQueryFile::setParameters(const KaArray& params) noexcept
{
    KaString text;
    if (text.append("PARAMETER.CLEAR ()\n") != 0)
        return 1;
    for (size_t i = 0; i < params.count; ++i)
        if (static_cast<const KafParam*>(params.at(i))->format(&text) != 0)
            return 1;
    return setSection(kKnownNames[KA_QF_PARAMETERS], text.data, text.len);
}

// The description line's piece: from the key up to the line feed.
static int descriptionPiece(const KaString& definition, size_t* start, size_t* length)
{
    if (definition.len == 0)
        return 1;
    size_t at = definition.find(kDescriptionKey, 0);
    if (at >= definition.len)
        return 1;
    size_t end = definition.findChar('\n', at);
    *start = at;
    *length = end - at;
    return 0;
}

int KaQueryFile::getDescription(KaString* out) noexcept
{
    KaString definition;
    if (getSection(kKnownNames[KA_QF_DEFINITION], &definition) != 0)
        return 1;
    size_t start = 0, length = 0;
    if (descriptionPiece(definition, &start, &length) != 0)
        return 1;
    KaSubString piece(definition.data + start, length);
    size_t first = piece.findChar('\'', 0);
    if (first >= piece.len)
        return 1;
    size_t last = first;
    for (size_t i = first + 1; i < piece.len; ++i)
        if (piece.data[i] == '\'')
            last = i;
    return out->assign(piece.data + first + 1, last > first ? last - first - 1 : 0) != 0 ? 1 : 0;
}

int KaQueryFile::setDescription(const KaString& text) noexcept
{
    KaString definition;
    if (getSection(kKnownNames[KA_QF_DEFINITION], &definition) != 0)
        return 1;
    KaString line;
    if (line.append(kDescriptionOpen) != 0 || line.append(text.data ? text.data : "", text.len) != 0 ||
        line.append(kDescriptionClose) != 0)
        return 1;
    size_t start = 0, length = 0;
    if (descriptionPiece(definition, &start, &length) == 0) {
        KaString old;
        if (old.assign(definition.data + start, length) != 0 ||
            definition.replaceAll(old.data, old.len, line.data, line.len) != 0)
            return 1;
    } else {
        if (line.appendChar('\n') != 0 || line.append(definition.data ? definition.data : "", definition.len) != 0)
            return 1;
        if (definition.assign(line.data, line.len) != 0)
            return 1;
    }
    trimString(&definition);
    return setSection(kKnownNames[KA_QF_DEFINITION], definition.data ? definition.data : "", definition.len);
}

int KaQueryFile::writeTo(const char* target) noexcept
{
    size_t nameLength = name ? strlen(name) : 0;
    if (nameLength == 0 || strpbrk(name, "(\n\r") != nullptr) {
        KaError* e = errPost(MSG_QUERY_NAME_UNWRITABLE);
        if (e)
            e->addParamText(name ? name : "");
        return 1;
    }
    KaString out;
    if (out.append("K+A 7.0 for ") != 0 || out.append(name) != 0 || out.ensureTrailingNewlines(2) != 0)
        return 1;
    if (database && (out.append("use ") != 0 || out.append(database) != 0 || out.append(";\n") != 0))
        return 1;
    KaString statement;
    if (getQueryText(&statement) != 0)
        return 1;
    if ((statement.len == 0 || statement.data[statement.len - 1] != ';') && statement.appendChar(';') != 0)
        return 1;
    if (statement.wrap(KA_QF_WRAP_WIDTH, '\'', '"', 0) != 0 || statement.ensureTrailingNewlines(2) != 0 ||
        out.append(statement.data, statement.len) != 0)
        return 1;
    // Sections in writing order; a stable insertion sort over a copy keeps
    // equal ones as found.
    size_t count = sections.count;
    RamPtr<SectionInfo*> sorted = ramMake<SectionInfo*>(count ? count : 1);
    if (!sorted)
        return 1;
    SectionInfo** order = sorted.get();
    for (size_t i = 0; i < count; ++i) {
        auto* s = static_cast<SectionInfo*>(sections.at(i));
        size_t j = i;
        while (j > 0 && order[j - 1]->compare(*s) > 0) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = s;
    }
    int failed = 0;
    KaString content;
    for (size_t i = 0; i < count && !failed; ++i) {
        SectionInfo* s = order[i];
        if (s->deleted)
            continue;
        failed = out.appendChar('[') != 0 || out.append(s->name.data, s->name.len) != 0 || out.append("]\n") != 0 ||
                 readSectionText(s, &content) != 0 ||
                 (content.len == 0 ? out.appendChar('\n') : out.append(content.data, content.len)) != 0;
    }
    sorted.reset();
    if (failed)
        return 1;

    // A new file beside the target, renamed over it once complete.
    size_t targetLength = strlen(target);
    if (targetLength + kTempLetters + 2 >= BOS_PATH_SIZE)
        return postPathTooLong(target);
    char temp[BOS_PATH_SIZE];
    memcpy(temp, target, targetLength);
    temp[targetLength] = '.';
    int32_t fd = 0;
    if (KaRandomLetters(temp + targetLength + 1, kTempLetters) != 0) {
        (void)errPost(MSG_QUERY_FILE_NOT_SAVED);
        return 1;
    }
    temp[targetLength + 1 + kTempLetters] = 0;
    if (bosfopen(temp, BOS_OPEN_CREATE | BOS_OPEN_EXCLUSIVE | BOS_OPEN_NO_LOCK, &fd) != 0)
        return 1;
    int written = bosfwrite(fd, 0, out.data, out.len);
    (void)bosfclose(fd);
    if (written != 0 || bosReplaceFile(temp, target) != 0) {
        (void)bosfdelete(temp);
        KaError* e = errPost(MSG_QUERY_FILE_NOT_SAVED);
        if (e)
            e->addParamText(target);
        return 1;
    }
    return 0;
}

int KaQueryFile::saveInPlace() noexcept
{
    const char* target = pendingPath ? pendingPath : path;
    if (target == nullptr) {
        (void)errPost(MSG_QUERY_FILE_NOT_OPEN);
        return 1;
    }
    if (writeTo(target) != 0)
        return 1;
    return close();
}

int KaQueryFile::saveAs(const char* newPath) noexcept
{
    RamPtr<char> copy(copyText(newPath, strlen(newPath)));
    if (!copy)
        return 1;
    return writeTo(copy.get()) != 0 || close() != 0 || open(copy.get()) != 0 ? 1 : 0;
}

int KaQueryFile::save() noexcept
{
    if (pendingPath != nullptr) {
        char* target = pendingPath;
        pendingPath = nullptr;
        if (saveAs(target) != 0) {
            if (pendingPath == nullptr)
                pendingPath = target;
            else
                ramFree(target);
            return 1;
        }
        ramFree(target);
        return 0;
    }
    if (path == nullptr) {
        (void)errPost(MSG_QUERY_FILE_NOT_OPEN);
        return 1;
    }
    RamPtr<char> again(copyText(path, strlen(path)));
    if (!again)
        return 1;
    return saveInPlace() != 0 || open(again.get()) != 0 ? 1 : 0;
}
