// Query files: line-oriented text files holding one SQL statement, an
// optional database name and named sections (a definition with a
// description line, parameter prompts, page layout, user commands).
// KaQueryFile reads one, lets its parts be changed and writes it anew. Library
// code: no driver path builds one.
#pragma once
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"
#include "foundation/kastring.h"

// The known section names, in the order of the by-index operations.
constexpr uint32_t KA_QF_PAGE_LAYOUT = 0;
constexpr uint32_t KA_QF_PARAMETERS = 1;
constexpr uint32_t KA_QF_DEFINITION = 2;
constexpr uint32_t KA_QF_USER_COMMANDS = 3;
constexpr uint32_t KA_QF_KNOWN_SECTIONS = 4;

// Kinds of SectionInfo.
constexpr int32_t KA_QF_KNOWN = 1;
constexpr int32_t KA_QF_OTHER = 2;
constexpr int32_t KA_QF_LOOKUP_KEY = 3;

// Statements are written in lines of at most this many characters.
constexpr size_t KA_QF_WRAP_WIDTH = 79;

class SectionInfo : public KaObject {
public:
    SectionInfo() noexcept;
    ~SectionInfo() override;
    // The order of writing: known names before others, each in file order,
    // sections only set after those read.
    int16_t compare(const KaObject& other) const override;

    KaString name;
    uint64_t contentOffset;  // first byte after the header line; 0 when only set
    bool replaced;           // replacement holds the set content
    KaString replacement;
    uint64_t length;  // bytes of content in the file
    int32_t kind;
    bool deleted;
};

class KafParam : public KaObject {
public:
    KafParam() noexcept;
    ~KafParam() override;
    // Reads a PARAMETER.ITEM line; 1 when it does not hold four texts and a number.
    [[nodiscard]] int parse(const char* line, size_t length) noexcept;
    // Appends the PARAMETER.ITEM line with its line feed.
    [[nodiscard]] int format(KaString* out) const noexcept;

    KaString text[4];
    uint64_t number;
};

class KaQueryFile : public KaObject {
public:
    KaQueryFile() noexcept;
    ~KaQueryFile() override;
    KaQueryFile(const KaQueryFile&) = delete;
    KaQueryFile& operator=(const KaQueryFile&) = delete;

    [[nodiscard]] int open(const char* path) noexcept;
    int close() noexcept;
    [[nodiscard]] int save() noexcept;
    [[nodiscard]] int saveInPlace() noexcept;
    [[nodiscard]] int saveAs(const char* path) noexcept;
    [[nodiscard]] int writeTo(const char* path) noexcept;
    [[nodiscard]] int setNewPath(const char* path) noexcept;
    [[nodiscard]] int setName(const char* text) noexcept;
    [[nodiscard]] int setDatabase(const char* text) noexcept;
    [[nodiscard]] int setQueryText(const char* bytes, size_t length) noexcept;
    [[nodiscard]] int setNameAndQuery(const char* name, const char* bytes, size_t length) noexcept;
    [[nodiscard]] int getQueryText(KaString* out) noexcept;
    [[nodiscard]] int getSection(const char* name, KaString* out) noexcept;
    // The caller frees the block with ramFree; null and 0 for an absent or
    // empty section.
    [[nodiscard]] int getSectionBytes(const char* name, char** block, uint64_t* length) noexcept;
    [[nodiscard]] int getSectionLines(const char* name, KaArray* lines) noexcept;
    [[nodiscard]] int hasSection(const char* name, int* flag) noexcept;
    int deleteSection(const char* name) noexcept;
    [[nodiscard]] int setSection(const char* name, const char* bytes, uint64_t length) noexcept;
    [[nodiscard]] int getSectionByIndex(uint32_t index, KaString* out) noexcept;
    [[nodiscard]] int getSectionBytesByIndex(uint32_t index, char** block, uint64_t* length) noexcept;
    [[nodiscard]] int getSectionLinesByIndex(uint32_t index, KaArray* lines) noexcept;
    [[nodiscard]] int hasSectionByIndex(uint32_t index, int* flag) noexcept;
    int deleteSectionByIndex(uint32_t index) noexcept;
    [[nodiscard]] int setSectionByIndex(uint32_t index, const char* bytes, uint64_t length) noexcept;
    // Appends a new KafParam per parameter line; the array owns them.
    [[nodiscard]] int getParameters(KaArray* params) noexcept;
    [[nodiscard]] int setParameters(const KaArray& params) noexcept;
    [[nodiscard]] int getDescription(KaString* out) noexcept;
    [[nodiscard]] int setDescription(const KaString& text) noexcept;
    [[nodiscard]] int firstSectionOffset(uint64_t* offset) noexcept;

    // The file's text as read: the header line as it stands, every later
    // line decoded; all offsets below are into it.
    KaString image;
    bool isOpen;
    char* path;         // absolute; any length the file layer opens
    char* pendingPath;  // where the next save writes, or null
    uint64_t version[3];
    char* name;
    char* replacementStatement;
    size_t replacementLength;
    char* database;
    bool hasStatement;
    uint64_t statementOffset;
    uint64_t firstSection;  // offset of the first header line; 0 when none
    KaArray sections;       // owns its SectionInfo

private:
    [[nodiscard]] int readHeader(const char* line, size_t length, int32_t* encoding) noexcept;
    [[nodiscard]] int readFile(const char* path) noexcept;
    SectionInfo* lookupSection(const char* name, size_t length) noexcept;
    SectionInfo* addSection(const char* name, size_t length) noexcept;
    // The text between the brackets of a header line; 0 when it is not one.
    static int isSectionHeader(const char* line, size_t length, const char** name, size_t* nameLength) noexcept;
    // The line starting at offset: its length with the line feed.
    size_t lineAt(uint64_t offset) const noexcept;
    [[nodiscard]] int readStatement(KaString* out, uint64_t offset, int stopAtSemicolon) noexcept;
    [[nodiscard]] int readSectionText(SectionInfo* section, KaString* out) noexcept;
};
