// The XML record-set writer.
#include "bulk/xpstpersist.h"

#include <cstdio>
#include <cstring>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "bulk/basexml.h"
#include "bulk/xpsttempdata.h"
#include "foundation/errpost.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/karandom.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosfile.h"

namespace {

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr size_t kTempLetters = 8;

#define XPST_NS XPST_RECORDSET_NAMESPACE
#define XPST_SCHEMA_NS "http://www.w3.org/1999/XMLSchema"
#define XPST_INSTANCE_NS "http://www.w3.org/1999/XMLSchema-instance"

// Mode 1: the root start up to the base name, and what follows it.
constexpr char kOneDocHeadPrefix[] = "<table xmlns=\"" XPST_SCHEMA_NS "\"\n"
                                     "       xmlns:xsi=\"" XPST_INSTANCE_NS "\"\n"
                                     "       xmlns:rs =\"" XPST_NS "\"\n"
                                     "       targetNamespace=\"" XPST_NS "\"\n"
                                     "       xsi:schemaLocation=\"" XPST_NS " ";
constexpr char kOneDocHeadSuffix[] = "\">\n";
constexpr char kOneDocSchemaHead[] =
    "    <schema elementFormDefault=\"qualified\"\n"
    "            attributeFormDefault=\"qualified\">\n"
    "        <element name=\"table\" type=\"rs:tableType\"/>\n"
    "        <complexType name=\"tableType\">\n"
    "            <element ref=\"schema\"/>\n"
    "            <element name=\"data\" type=\"rs:dataType\"/>\n"
    "        </complexType>\n"
    "        <complexType name=\"dataType\">\n"
    "            <element name=\"record\" minOccurs=\"0\" maxOccurs=\"unbounded\" type=\"rs:recordType\"/>\n"
    "        </complexType>\n"
    "        <complexType name=\"recordType\">\n";
constexpr char kOneDocSchemaEnd[] = "        </complexType>\n"
                                    "    </schema>\n";
constexpr char kOneDocDataStart[] = "    <data>\n";
constexpr char kOneDocDataEnd[] = "    </data>\n"
                                  "</table>\n";

// Mode 2.
constexpr char kTwoDocHeadPrefix[] = "<table xmlns =\"" XPST_NS "\"\n"
                                     "xmlns:xsi=\"" XPST_INSTANCE_NS "\"\n"
                                     "xsi:schemaLocation=\"" XPST_NS " ";
constexpr char kTwoDocHeadSuffix[] = "\">\n";
constexpr char kTwoDocSchemaHead[] =
    "<schema targetNamespace=\"" XPST_NS "\"\n"
    "xmlns=\"" XPST_SCHEMA_NS "\"\n"
    "xmlns:rs=\"" XPST_NS "\"\n"
    "elementFormDefault=\"qualified\"\n"
    "attributeFormDefault=\"qualified\">\n"
    "<element name=\"table\" type=\"rs:tableType\"/>\n"
    "<complexType name=\"tableType\">\n"
    "<element name=\"record\" minOccurs=\"0\" maxOccurs=\"unbounded\" type=\"rs:recordType\"/>\n"
    "</complexType>\n"
    "<complexType name=\"recordType\">\n";
constexpr char kTwoDocSchemaEnd[] = "</complexType>\n"
                                    "</schema>\n";
constexpr char kTwoDocDataStart[] = "";
constexpr char kTwoDocDataEnd[] = "</table>\n";

// Whether c may start (start) or continue an XML name without a colon.
bool nameChar(uint32_t c, bool start) noexcept
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')
        return true;
    if (!start && ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
                   (c >= 0x203F && c <= 0x2040)))
        return true;
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

size_t putUtf8(char* out, uint32_t c) noexcept
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

// Appends text to a ram block, growing it; 0 on memory shortage.
[[nodiscard]] int appendText(char** block, size_t* length, size_t* capacity, const char* text, size_t n) noexcept
{
    if (*length + n + 1 > *capacity) {
        size_t want = (*length + n + 1) * 2;
        void* grown = *block;
        if (ramRealloc(&grown, want))
            return 0;
        *block = static_cast<char*>(grown);
        *capacity = want;
    }
    memcpy(*block + *length, text, n);
    *length += n;
    (*block)[*length] = '\0';
    return 1;
}

// Entity-escapes text for an attribute value.
[[nodiscard]] int appendEscaped(char** block, size_t* length, size_t* capacity, const char* text) noexcept
{
    for (const char* p = text; *p != '\0'; ++p) {
        const char* entity = nullptr;
        switch (*p) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&apos;"; break;
        default: break;
        }
        if (!(entity ? appendText(block, length, capacity, entity, strlen(entity))
                     : appendText(block, length, capacity, p, 1)))
            return 0;
    }
    return 1;
}

// The temporary name with its extension; createTempFiles left room for it.
void tempPath(char* out, const char* base, const char* extension) noexcept
{
    size_t n = strnlen(base, BOS_PATH_SIZE - 5);
    memcpy(out, base, n);
    memcpy(out + n, extension, 5);
}

void appendBlanks(char* out, size_t* at, uint64_t n) noexcept
{
    memset(out + *at, ' ', n);
    *at += n;
}

}  // namespace

char* xpstElementName(const uint16_t* name) noexcept
{
    size_t units = 0;
    while (name != nullptr && name[units] != 0)
        ++units;
    // Each unit becomes at most "_xHHHHHH_" (nine bytes).
    char* out = static_cast<char*>(ramAlloc(units * 9 + 2));
    if (out == nullptr) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        return nullptr;
    }
    size_t at = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = name[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            ++i;
        }
        bool start = at == 0;
        bool escapesUnderscore = c == '_' && i + 1 < units && name[i + 1] == 'x';
        if (nameChar(c, start) && !escapesUnderscore)
            at += putUtf8(out + at, c);
        else
            at += size_t(snprintf(out + at, 10, "_x%04X_", c));
    }
    if (at == 0)
        out[at++] = '_';
    out[at] = '\0';
    return out;
}

XPstPersist::~XPstPersist()
{
    reset();
    ramFree(dataOut.buffer);
    ramFree(schemaOut.buffer);
}

int XPstPersist::spareHook() noexcept
{
    return 1;
}

int XPstPersist::emit(int32_t fd, const char* bytes, size_t length) noexcept
{
    XPstOutput& out = outputFor(fd);
    if (out.buffer == nullptr) {
        out.buffer = static_cast<char*>(ramAlloc(XPST_OUTPUT_BUFFER));
        if (out.buffer == nullptr)
            return 0;
    }
    out.fd = fd;
    while (length > 0) {
        if (out.used == XPST_OUTPUT_BUFFER && !flush(out))
            return 0;
        size_t piece = XPST_OUTPUT_BUFFER - out.used < length ? XPST_OUTPUT_BUFFER - out.used : length;
        memcpy(out.buffer + out.used, bytes, piece);
        out.used += piece;
        bytes += piece;
        length -= piece;
    }
    return 1;
}

int XPstPersist::flush(XPstOutput& out) noexcept
{
    if (out.used == 0)
        return 1;
    size_t n = out.used;
    out.used = 0;
    return bosfwrite(out.fd, -1, out.buffer, n) == 0;
}

int XPstPersist::splitTarget() noexcept
{
    size_t length = 0;
    if (utf16ToUtf8(targetName, sizeof targetName, path.data, int64_t(path.len), &length, 0) != 0 ||
        length >= sizeof targetName) {
        errPost(MSG_CONVERSION_FAILED);
        return 0;
    }
    targetName[length] = '\0';
    const char* slash = strrchr(targetName, '/');
    size_t dirLength = slash ? size_t(slash - targetName) + 1 : 0;
    memcpy(directory, targetName, dirLength);
    directory[dirLength] = '\0';
    const char* file = targetName + dirLength;
    size_t baseLength = strcspn(file, ".");
    if (baseLength > XPST_BASE_NAME_MAX)
        baseLength = XPST_BASE_NAME_MAX;
    memcpy(baseName, file, baseLength);
    baseName[baseLength] = '\0';
    return 1;
}

int XPstPersist::schemaTarget(char* out) const noexcept
{
    int n = snprintf(out, BOS_PATH_SIZE, "%s%s.xsd", directory, baseName);
    return n > 0 && size_t(n) < BOS_PATH_SIZE;
}

int XPstPersist::open(const uint16_t* target, int32_t persistMode) noexcept
{
    if (target == nullptr || target[0] == 0) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    if (state != XPST_STATE_CLOSED) {
        errPost(MSG_XPST_ALREADY_OPEN);
        return XPST_WRONG_STATE;
    }
    if (path.assign(target)) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        return XPST_FAILED;
    }
    mode = persistMode;
    if (!splitTarget()) {
        reset();
        return XPST_FAILED;
    }
    if (mode == XPST_MODE_SEPARATE_SCHEMA) {
        // A target that is its own schema file would lose one of the two.
        char schema[BOS_PATH_SIZE];
        if (!schemaTarget(schema) || strcmp(schema, targetName) == 0) {
            errPost(MSG_XPST_SCHEMA_TARGET_CLASH)->addParamW(path.data);
            reset();
            return XPST_FAILED;
        }
    }
    if (!createTempFiles())
        return XPST_FAILED;
    state = XPST_STATE_OPEN;
    return XPST_OK;
}

int XPstPersist::openTemp(const char* extension, int32_t* fd) noexcept
{
    char name[BOS_PATH_SIZE];
    tempPath(name, tempName, extension);
    // Exclusive creation: a name someone else holds is never written into.
    return bosfopen(name, BOS_OPEN_CREATE | BOS_OPEN_EXCLUSIVE | BOS_OPEN_NO_LOCK, fd) == 0;
}

int XPstPersist::createTempFiles() noexcept
{
    // Eight random letters: a name another file holds is refused by the
    // exclusive creation rather than written into.
    char letters[kTempLetters + 1] = {};
    int n = KaRandomLetters(letters, kTempLetters) ? -1
                                                   : snprintf(tempName, sizeof tempName, "%sxps%s", directory, letters);
    if (n <= 0 || size_t(n) + 4 >= sizeof tempName || !openTemp(".xml", &dataFile)) {
        tempName[0] = '\0';
        errPost(MSG_XPST_DATA_TEMP_FAILED);
        reset();
        return 0;
    }
    if (tempBase.assignNarrow(tempName, strlen(tempName), KA_TEXT_UTF8)) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        reset();
        return 0;
    }
    if (mode != XPST_MODE_SEPARATE_SCHEMA) {
        schemaFile = dataFile;
        return 1;
    }
    if (openTemp(".xsd", &schemaFile)) {
        schemaTempMade = 1;
        return 1;
    }
    schemaFile = 0;
    errPost(MSG_XPST_SCHEMA_TEMP_FAILED);
    reset();
    return 0;
}

void XPstPersist::closeFiles() noexcept
{
    if (dataFile != 0 && dataFile != schemaFile)
        bosfclose(dataFile);
    if (schemaFile != 0)
        bosfclose(schemaFile);
    dataFile = 0;
    schemaFile = 0;
    dataOut.used = 0;
    schemaOut.used = 0;
}

void XPstPersist::removeTempFiles() noexcept
{
    if (tempName[0] == '\0')
        return;
    char name[BOS_PATH_SIZE];
    tempPath(name, tempName, ".xml");
    if (bosexist(name))
        bosfdelete(name);
    if (schemaTempMade) {
        tempPath(name, tempName, ".xsd");
        if (bosexist(name))
            bosfdelete(name);
    }
    schemaTempMade = 0;
    tempName[0] = '\0';
    tempBase.freeBuffer();
}

void XPstPersist::reset() noexcept
{
    ramFree(columns);
    columns = nullptr;
    columnCount = 0;
    closeFiles();
    removeTempFiles();
    mode = 0;
    state = XPST_STATE_CLOSED;
    path.freeBuffer();
}

int XPstPersist::writeXmlDeclaration() noexcept
{
    return emit(dataFile, kDeclaration, sizeof kDeclaration - 1);
}

int XPstPersist::setColumns(const XPstColumn* records, uint64_t count) noexcept
{
    if (state != XPST_STATE_OPEN) {
        errPost(MSG_XPST_NOT_OPEN);
        return XPST_WRONG_STATE;
    }
    if (records == nullptr || count == 0) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        reset();
        return XPST_FAILED;
    }
    columnCount = count;
    columns = static_cast<XPstColumn*>(ramAlloc(count * sizeof(XPstColumn)));
    if (columns == nullptr) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        reset();
        return XPST_FAILED;
    }
    memcpy(columns, records, count * sizeof(XPstColumn));
    uint16_t failure = 0;
    const uint16_t* failedName = nullptr;
    if (!writeXmlDeclaration()) {
        failure = MSG_XPST_DECLARATION_FAILED;
    } else if (!writeSchemaHead()) {
        failure = MSG_XPST_SCHEMA_HEAD_FAILED;
    } else {
        for (uint64_t i = 0; i < count && failure == 0; ++i)
            if (!writeColumnSchema(columns[i])) {
                failure = MSG_XPST_COLUMN_SCHEMA_FAILED;
                failedName = columns[i].name;
            }
        if (failure == 0 && !writeSchemaEnd())
            failure = MSG_XPST_SCHEMA_END_FAILED;
        else if (failure == 0 && !writeDataStart())
            failure = MSG_XPST_DATA_START_FAILED;
    }
    if (failure != 0) {
        KaError* record = errPost(failure);
        if (failedName != nullptr)
            record->addParamW(failedName);
        reset();
        return XPST_FAILED;
    }
    state = XPST_STATE_COLUMNS;
    return XPST_OK;
}

int XPstPersist::writeRows(KaTmpFile* values, KaTmpFile* offsets, KaTmpFile* lengths, int64_t valuesSize,
                           int64_t offsetsSize, int64_t lengthsSize, uint64_t rows) noexcept
{
    if (state != XPST_STATE_COLUMNS) {
        errPost(MSG_XPST_COLUMNS_NOT_SET);
        return XPST_WRONG_STATE;
    }
    XPstTempData view;
    if (!view.openFiles(values, offsets, lengths, valuesSize, offsetsSize, lengthsSize)) {
        errPost(MSG_XPST_VALUE_NOT_READ);
        reset();
        return XPST_FAILED;
    }
    for (uint64_t row = 0; row < rows; ++row) {
        if (!beginRecord()) {
            errPost(MSG_XPST_RECORD_START_FAILED);
            reset();
            return XPST_FAILED;
        }
        for (uint64_t i = 0; i < columnCount; ++i) {
            uint8_t* bytes = nullptr;
            int64_t length = -1;
            if (!view.readNext(&bytes, &length)) {
                errPost(MSG_XPST_VALUE_NOT_READ);
                reset();
                return XPST_FAILED;
            }
            int written = writeValue(i, bytes, length);
            ramFree(bytes);
            if (!written) {
                errPost(MSG_XPST_VALUE_FAILED)->addParamW(columns[i].name);
                reset();
                return XPST_FAILED;
            }
        }
        if (!endRecord()) {
            errPost(MSG_XPST_RECORD_END_FAILED);
            reset();
            return XPST_FAILED;
        }
    }
    return XPST_OK;
}

int XPstPersist::close() noexcept
{
    if (state != XPST_STATE_COLUMNS) {
        errPost(MSG_XPST_COLUMNS_NOT_SET);
        return XPST_WRONG_STATE;
    }
    if (!writeDataEnd() || !flush(dataOut) || (dataFile != schemaFile && !flush(schemaOut))) {
        errPost(MSG_XPST_DATA_END_FAILED);
        reset();
        return XPST_FAILED;
    }
    bool twoDocuments = dataFile != schemaFile;
    closeFiles();
    char temp[BOS_PATH_SIZE];
    // rename(2) replaces the target in one step: the old target stays until
    // the new one takes its name, and stays whole when that fails.
    if (twoDocuments) {
        char schema[BOS_PATH_SIZE];
        tempPath(temp, tempName, ".xsd");
        if (!schemaTarget(schema) || rename(temp, schema) != 0) {
            errPost(MSG_RENAME_FAILED)->addParamText(temp)->addParamText(schema);
            errPost(MSG_XPST_SCHEMA_RENAME_FAILED);
            reset();
            return XPST_FAILED;
        }
        schemaTempMade = 0;
    }
    tempPath(temp, tempName, ".xml");
    if (rename(temp, targetName) != 0) {
        errPost(MSG_RENAME_FAILED)->addParamText(temp)->addParamText(targetName);
        errPost(MSG_XPST_DATA_RENAME_FAILED);
        reset();
        return XPST_FAILED;
    }
    tempName[0] = '\0';
    reset();
    return XPST_OK;
}

int XPstPersist::abort() noexcept
{
    reset();
    return XPST_OK;
}

int xpstWriteText(XPstPersist* writer, int32_t fd, const char* bytes, size_t length) noexcept
{
    if (length == 0)
        length = strlen(bytes);
    if (!writer->emit(fd, bytes, length)) {
        errPost(MSG_XPST_TEXT_FAILED);
        return 0;
    }
    return 1;
}

int xpstWriteStartTag(XPstPersist* writer, int32_t fd, const char* name, uint64_t indent,
                      const XPstAttribute* attributes, size_t count, int lineFeed, int emptyElement) noexcept
{
    size_t capacity = 512;
    size_t length = 0;
    char* tag = static_cast<char*>(ramAlloc(capacity));
    int ok = tag != nullptr;
    for (uint64_t i = 0; ok && i < indent; ++i)
        ok = appendText(&tag, &length, &capacity, " ", 1);
    ok = ok && appendText(&tag, &length, &capacity, "<", 1) && appendText(&tag, &length, &capacity, name, strlen(name));
    for (size_t i = 0; ok && i < count; ++i)
        ok = appendText(&tag, &length, &capacity, " ", 1) &&
             appendText(&tag, &length, &capacity, attributes[i].name, strlen(attributes[i].name)) &&
             appendText(&tag, &length, &capacity, "=\"", 2) &&
             appendEscaped(&tag, &length, &capacity, attributes[i].value) &&
             appendText(&tag, &length, &capacity, "\"", 1);
    if (ok && emptyElement)
        ok = appendText(&tag, &length, &capacity, "/", 1);
    ok = ok && appendText(&tag, &length, &capacity, ">", 1);
    if (ok && lineFeed)
        ok = appendText(&tag, &length, &capacity, "\n", 1);
    ok = ok && writer->emit(fd, tag, length);
    ramFree(tag);
    if (!ok)
        errPost(MSG_XPST_START_TAG_FAILED);
    return ok;
}

int xpstWriteEndTag(XPstPersist* writer, int32_t fd, const char* name, uint64_t indent, int lineFeed) noexcept
{
    size_t n = strlen(name);
    char small[128];
    size_t need = indent + n + 4;
    char* tag = need <= sizeof small ? small : static_cast<char*>(ramAlloc(need));
    if (tag == nullptr) {
        errPost(MSG_XPST_END_TAG_FAILED);
        return 0;
    }
    size_t at = 0;
    appendBlanks(tag, &at, indent);
    memcpy(tag + at, "</", 2);
    at += 2;
    memcpy(tag + at, name, n);
    at += n;
    tag[at++] = '>';
    if (lineFeed)
        tag[at++] = '\n';
    int ok = writer->emit(fd, tag, at);
    if (tag != small)
        ramFree(tag);
    if (!ok)
        errPost(MSG_XPST_END_TAG_FAILED);
    return ok;
}

XPstTrelliwavePersist::~XPstTrelliwavePersist()
{
    ramFree(headText);
    freeElementNames();
}

void XPstTrelliwavePersist::freeElementNames() noexcept
{
    for (uint64_t i = 0; i < elementNameCount; ++i)
        ramFree(elementNames[i]);
    ramFree(elementNames);
    elementNames = nullptr;
    elementNameCount = 0;
}

int XPstTrelliwavePersist::buildRootHead() noexcept
{
    const char* prefix = mode == XPST_MODE_SEPARATE_SCHEMA ? kTwoDocHeadPrefix : kOneDocHeadPrefix;
    const char* suffix = mode == XPST_MODE_SEPARATE_SCHEMA ? kTwoDocHeadSuffix : kOneDocHeadSuffix;
    size_t capacity = 0;
    ramFree(headText);
    headText = nullptr;
    headLength = 0;
    return appendText(&headText, &headLength, &capacity, prefix, strlen(prefix)) &&
           appendEscaped(&headText, &headLength, &capacity, baseName) &&
           appendText(&headText, &headLength, &capacity, mode == XPST_MODE_SEPARATE_SCHEMA ? ".xsd" : ".xml", 4) &&
           appendText(&headText, &headLength, &capacity, suffix, strlen(suffix));
}

int XPstTrelliwavePersist::open(const uint16_t* target, int32_t persistMode) noexcept
{
    if (persistMode != 0 && persistMode != 1 && persistMode != 2) {
        errPost(MSG_XPST_MODE_INVALID)->addParamSigned(persistMode);
        return XPST_FAILED;
    }
    int result = XPstPersist::open(target, persistMode);
    if (result != XPST_OK)
        return result;
    bool two = mode == XPST_MODE_SEPARATE_SCHEMA;
    schemaHead = two ? kTwoDocSchemaHead : kOneDocSchemaHead;
    schemaEnd = two ? kTwoDocSchemaEnd : kOneDocSchemaEnd;
    dataStart = two ? kTwoDocDataStart : kOneDocDataStart;
    dataEnd = two ? kTwoDocDataEnd : kOneDocDataEnd;
    columnIndent = two ? 8 : 12;
    recordIndent = two ? 4 : 8;
    valueIndent = two ? 8 : 12;
    if (!buildRootHead()) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        reset();
        return XPST_FAILED;
    }
    return XPST_OK;
}

int XPstTrelliwavePersist::writeSchemaHead() noexcept
{
    // In one document the root start comes before the inline schema; in two
    // it opens the data document, which takes no schema text.
    if (!emit(dataFile, headText, headLength))
        return 0;
    freeElementNames();
    elementNames = static_cast<char**>(ramAlloc(columnCount * sizeof(char*)));
    if (elementNames == nullptr)
        return 0;
    memset(elementNames, 0, columnCount * sizeof(char*));
    elementNameCount = columnCount;
    for (uint64_t i = 0; i < columnCount; ++i)
        if ((elementNames[i] = xpstElementName(columns[i].name)) == nullptr)
            return 0;
    return emit(schemaFile, schemaHead, strlen(schemaHead));
}

int XPstTrelliwavePersist::writeSchemaEnd() noexcept
{
    return emit(schemaFile, schemaEnd, strlen(schemaEnd));
}

int XPstTrelliwavePersist::writeDataStart() noexcept
{
    return emit(dataFile, dataStart, strlen(dataStart));
}

int XPstTrelliwavePersist::writeDataEnd() noexcept
{
    return emit(dataFile, dataEnd, strlen(dataEnd));
}

int XPstTrelliwavePersist::writeColumnSchema(const XPstColumn& column) noexcept
{
    const char* type = nullptr;  // the simple form's type
    const char* base = nullptr;  // the restricted form's base
    XPstAttribute facets[2] = {};
    size_t facetCount = 0;
    char size[24];
    char scale[24];
    u64ToText(size, column.size);
    bool unsignedColumn = column.isUnsigned != 0;
    switch (column.sqlType) {
    case SQL_CHAR:
    case SQL_WCHAR:
        base = "string";
        facets[facetCount++] = {"length", size};
        break;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
        base = "string";
        facets[facetCount++] = {"maxLength", size};
        break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: type = "string"; break;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        base = "decimal";
        u64ToText(size, uint64_t(uint32_t(column.precision)));
        u64ToText(scale, uint64_t(uint32_t(column.scale)));
        facets[facetCount++] = {"precision", size};
        facets[facetCount++] = {"scale", scale};
        break;
    case SQL_INTEGER: type = unsignedColumn ? "unsignedInt" : "int"; break;
    case SQL_SMALLINT: type = unsignedColumn ? "unsignedShort" : "short"; break;
    case SQL_TINYINT: type = unsignedColumn ? "unsignedByte" : "byte"; break;
    case SQL_BIGINT: type = unsignedColumn ? "unsignedLong" : "long"; break;
    case SQL_BIT: type = "boolean"; break;
    case SQL_REAL: type = "float"; break;
    case SQL_FLOAT:
    case SQL_DOUBLE: type = "double"; break;
    case SQL_TYPE_DATE: type = "date"; break;
    case SQL_TYPE_TIME: type = "time"; break;
    case SQL_TYPE_TIMESTAMP: type = "timeInstant"; break;
    case SQL_LONGVARBINARY:
        base = "binary";
        facets[facetCount++] = {"encoding", "hex"};
        break;
    case SQL_VARBINARY:
        base = "binary";
        facets[facetCount++] = {"encoding", "hex"};
        facets[facetCount++] = {"maxLength", size};
        break;
    case SQL_BINARY:
        base = "binary";
        facets[facetCount++] = {"encoding", "hex"};
        facets[facetCount++] = {"length", size};
        break;
    default: errPost(MSG_XPST_TYPE_UNSUPPORTED)->addParamW(column.name)->addParamSigned(column.sqlType); return 0;
    }
    uint64_t index = uint64_t(&column - columns);
    const char* name = index < elementNameCount ? elementNames[index] : nullptr;
    if (name == nullptr)
        return 0;
    XPstAttribute element[3] = {{"name", name}, {"minOccurs", column.nullable ? "0" : "1"}, {"type", type}};
    int ok;
    if (type != nullptr) {
        ok = xpstWriteStartTag(this, schemaFile, "element", columnIndent, element, 3, 1, 1);
    } else {
        XPstAttribute restriction[1] = {{"base", base}};
        ok = xpstWriteStartTag(this, schemaFile, "element", columnIndent, element, 2, 1, 0) &&
             xpstWriteStartTag(this, schemaFile, "simpleType", columnIndent + 4, restriction, 1, 1, 0);
        for (size_t i = 0; ok && i < facetCount; ++i) {
            XPstAttribute value[1] = {{"value", facets[i].value}};
            ok = xpstWriteStartTag(this, schemaFile, facets[i].name, columnIndent + 8, value, 1, 1, 1);
        }
        ok = ok && xpstWriteEndTag(this, schemaFile, "simpleType", columnIndent + 4, 1) &&
             xpstWriteEndTag(this, schemaFile, "element", columnIndent, 1);
    }
    if (!ok)
        errPost(MSG_XPST_COLUMN_SCHEMA_STEP_FAILED)->addParamW(column.name);
    return ok;
}

int XPstTrelliwavePersist::beginRecord() noexcept
{
    return xpstWriteStartTag(this, dataFile, "record", recordIndent, nullptr, 0, 1, 0);
}

int XPstTrelliwavePersist::endRecord() noexcept
{
    return xpstWriteEndTag(this, dataFile, "record", recordIndent, 1);
}

int XPstTrelliwavePersist::writeValue(uint64_t index, const uint8_t* bytes, int64_t length) noexcept
{
    const XPstColumn& column = columns[index];
    if (length == -1) {
        if (column.nullable)
            return 1;
        errPost(MSG_XPST_NULL_NOT_ALLOWED)->addParamW(column.name);
        return 0;
    }
    const char* text = nullptr;
    size_t textLength = 0;
    int owned = 0;
    if (!xpstFormatValue(column, bytes, length, &scratch, &text, &textLength, &owned))
        return 0;
    const char* name = elementNames[index];
    int ok = 1;
    if (!xpstWriteStartTag(this, dataFile, name, valueIndent, nullptr, 0, 0, 0)) {
        errPost(MSG_XPST_VALUE_START_FAILED)->addParamW(column.name);
        ok = 0;
    } else if (textLength != 0 && !xpstWriteText(this, dataFile, text, textLength)) {
        errPost(MSG_XPST_VALUE_TEXT_FAILED)->addParamW(column.name);
        ok = 0;
    } else if (!xpstWriteEndTag(this, dataFile, name, 0, 1)) {
        errPost(MSG_XPST_VALUE_END_FAILED)->addParamW(column.name);
        ok = 0;
    }
    if (owned)
        ramFree(const_cast<char*>(text));
    return ok;
}
