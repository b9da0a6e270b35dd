// The bulk file reader: the description read into column descriptions, the
// log and discard files opened with their banner, and the record reader
// that returns the data file's fields one at a time.
#include "bulk/bulkloadfile.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "bulk/bulklog.h"
#include "bulk/kaxml.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "platform/bosfile.h"

namespace {

constexpr int32_t kQuote = '"';
// The LOB reference keyword, compared without regard to case.
constexpr char kLobKeyword[] = "{TW LOBFILE ";
constexpr size_t kLobKeywordLength = sizeof kLobKeyword - 1;
constexpr int32_t kEnd = -1;

bool sameText(const uint16_t* text, uint64_t length, const char* literal) noexcept
{
    size_t n = strlen(literal);
    if (length != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (text[i] != static_cast<uint8_t>(literal[i]))
            return false;
    return true;
}

// A counted UTF-16 text as a terminated copy; null after the out-of-memory
// diagnostic.
uint16_t* copyText(const uint16_t* text, uint64_t length) noexcept
{
    auto* copy = static_cast<uint16_t*>(ramAllocBlock((length + 1) * sizeof(uint16_t)));
    if (copy == nullptr)
        return nullptr;
    if (length != 0)
        memcpy(copy, text, length * sizeof(uint16_t));
    copy[length] = 0;
    return copy;
}

void freeText(uint16_t*& text) noexcept
{
    if (text != nullptr)
        ramFreeBlock(text);
    text = nullptr;
}

KaError* postError(uint16_t msg) noexcept
{
    return basePostErrorMsg(kBaseIdxGeneralError, msg);
}

// The code page named by a UTF-16 attribute value: kCodePageNone when the
// name is unknown or longer than a code-page name can be.
int64_t codePageOf(const uint16_t* name, uint64_t length) noexcept
{
    char narrow[KA_BULK_CODEPAGE_NAME_SIZE];
    if (length >= sizeof narrow)
        return kCodePageNone;
    for (uint64_t i = 0; i < length; ++i) {
        if (name[i] == 0 || name[i] > 0x7F)
            return kCodePageNone;
        narrow[i] = static_cast<char>(name[i]);
    }
    narrow[length] = 0;
    return ianaNumberFromName(narrow);
}

bool isCharacterType(int64_t code) noexcept
{
    return code == SQL_CHAR || code == SQL_VARCHAR || code == SQL_WCHAR || code == SQL_WVARCHAR;
}

bool isLongCharacterType(int64_t code) noexcept
{
    return code == SQL_LONGVARCHAR || code == SQL_WLONGVARCHAR || code == 133;
}

bool isScaledTimeType(int64_t code) noexcept
{
    return code == SQL_TIME || code == SQL_TIMESTAMP || code == 131 || code == SQL_INTERVAL_SECOND ||
           code == SQL_INTERVAL_DAY_TO_SECOND || code == SQL_INTERVAL_HOUR_TO_SECOND ||
           code == SQL_INTERVAL_MINUTE_TO_SECOND;
}

// Which attributes a datatype takes.
enum : uint32_t {
    kTakesLength = 0x1,     // "length" required
    kTakesPrecision = 0x2,  // "precision" required
    kTakesScale = 0x4,      // "scale" required
    kTakesCodePages = 0x8,  // code pages kept
    kKeepsLength = 0x10,    // "length"/"precision" neither required nor ignored
};

uint32_t attributeRule(int64_t code) noexcept
{
    if (isCharacterType(code))
        return kTakesLength | kTakesCodePages;
    if (isLongCharacterType(code))
        return kTakesCodePages;
    if (code == SQL_BINARY || code == SQL_VARBINARY)
        return kTakesLength | kTakesCodePages;
    if (code == SQL_LONGVARBINARY || code == 132)
        return kTakesCodePages;
    if (code == SQL_DECIMAL)
        return kTakesPrecision | kTakesScale;
    if (isScaledTimeType(code))
        return kTakesScale;
    return 0;
}

[[nodiscard]] int32_t writeAll(int32_t fd, const void* data, uint64_t length) noexcept
{
    return bosfwrite(fd, -1, data, length) != 0 ? 1 : 0;
}

}  // namespace

BulkLoadFile::BulkLoadFile() noexcept = default;

BulkLoadFile::~BulkLoadFile()
{
    releaseColumns();
    releaseBuffers();
    (void)closeFiles();
}

void BulkLoadFile::releaseColumns() noexcept
{
    if (columns != nullptr) {
        for (uint64_t i = 0; i <= columnCount; ++i) {
            freeText(columns[i].name);
            freeText(columns[i].sourceCodePageName);
            freeText(columns[i].externalCodePageName);
        }
        ramFreeBlock(columns);
    }
    columns = nullptr;
    columnCount = 0;
    freeText(tableCodePageName);
}

void BulkLoadFile::releaseBuffers() noexcept
{
    for (uint8_t** block : {&block_, &value_, &lobBuffer_, &copyBuffer_}) {
        if (*block != nullptr)
            ramFreeBlock(*block);
        *block = nullptr;
    }
}

int32_t BulkLoadFile::closeFiles() noexcept
{
    int32_t status = 0;
    for (int32_t* fd : {&dataFile, &discardFile, &logFile, &lobFile}) {
        if (*fd >= 0) {
            status = bosfclose(*fd) != 0 ? 1 : 0;
            if (status == 0)
                *fd = -1;
        }
    }
    return status;
}

int32_t BulkLoadFile::openW(const uint16_t* dataName, const uint16_t* descriptionName, const uint16_t* logName,
                            const uint16_t* discardName, uint64_t blockKb, BulkDelimiters delimiters) noexcept
{
    char names[4][KA_BULK_PATH_SIZE];
    const uint16_t* wide[4] = {dataName, descriptionName, logName, discardName};
    const char* narrow[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (wide[i] == nullptr)
            continue;
        char* out = names[i];
        const uint16_t* src = wide[i];
        int32_t produced = 0;
        UErrorCode status = U_ZERO_ERROR;
        ucnvUtf16ToUtf8(&out, KA_BULK_PATH_SIZE - 1, &produced, &src, -1, &status);
        if (U_FAILURE(status) || produced >= int32_t(KA_BULK_PATH_SIZE)) {
            postError(MSG_BULK_FILE_NAME_TOO_LONG)->addParamW(wide[i]);
            return 1;
        }
        names[i][produced] = 0;
        narrow[i] = names[i];
    }
    return open(narrow[0], narrow[1], narrow[2], narrow[3], blockKb, delimiters);
}

int32_t BulkLoadFile::open(const char* dataName, const char* descriptionName, const char* logName,
                           const char* discardName, uint64_t blockKb, BulkDelimiters delimiters) noexcept
{
    delimiters_ = delimiters;
    fieldNumber = 1;
    toSkip_ = 0;
    targetField_ = 0;
    bigEndian_ = false;
    state_ = State::Unread;
    recordsRead = recordsSkipped = 0;
    recordStart = previousRecordStart = 0;
    blockCount_ = blockPos_ = 0;
    blockOffset_ = readEnd_ = 0;
    fileEnded_ = false;
    releaseColumns();
    releaseBuffers();
    // Blocks stay within bounds whatever the caller asks; an even size keeps
    // UTF-16 units whole.
    uint64_t size = blockKb > KA_BULK_MAX_BLOCK / 1024 ? KA_BULK_MAX_BLOCK : blockKb * 1024;
    if (size < KA_BULK_MIN_BLOCK)
        size = KA_BULK_MIN_BLOCK;
    blockSize_ = size;
    block_ = static_cast<uint8_t*>(ramAllocBlock(size + 4));
    value_ = static_cast<uint8_t*>(ramAllocBlock(size + 4));
    lobBuffer_ = static_cast<uint8_t*>(ramAllocBlock(size + 1));
    if (block_ == nullptr || value_ == nullptr || lobBuffer_ == nullptr)
        return 1;
    if (closeFiles() != 0)
        return 1;

    dataName_[0] = 0;
    if (dataName != nullptr) {
        size_t n = strlen(dataName);
        if (n + 1 > sizeof dataName_) {
            postError(MSG_BULK_FILE_NAME_TOO_LONG)->addParamText(dataName);
            return 1;
        }
        memcpy(dataName_, dataName, n + 1);
        dataDirLength_ = bulkFilePartOffset(dataName_, n);
    }

    char derived[KA_BULK_PATH_SIZE];
    const char* description = descriptionName;
    if (description == nullptr) {
        if (dataName == nullptr) {
            postError(MSG_BULK_FILE_NAME_TOO_LONG)->addParamText("");
            return 1;
        }
        // The name the writer gives, else the one earlier readers looked
        // for, so that existing description files are still found.
        if (bulkDescriptionName(dataName, derived) != 0)
            return 1;
        if (bosexist(derived) == 0 && bulkLegacyDescriptionName(dataName, derived) != 0)
            return 1;
        description = derived;
    }
    if (*description == 0) {
        tableCodePage = kCodePageLatin1;
    } else if (readDescription(description) != 0) {
        return 1;
    }
    unitBytes_ = tableCodePage == kCodePageUtf16LE ? 2 : 1;
    if (openSideFiles(logName, discardName) != 0)
        return 1;
    if (dataName != nullptr) {
        char path[KA_BULK_PATH_SIZE];
        memcpy(path, dataName_, strlen(dataName_) + 1);
        if (bosfopen(path, 0, &dataFile) != 0) {
            dataFile = -1;
            return 1;
        }
    }
    return 0;
}

int32_t BulkLoadFile::openSideFiles(const char* logName, const char* discardName) noexcept
{
    const char* names[2] = {logName, discardName};
    int32_t* fds[2] = {&logFile, &discardFile};
    bool any = false;
    for (int i = 0; i < 2; ++i) {
        if (names[i] == nullptr || *names[i] == 0)
            continue;
        char path[KA_BULK_PATH_SIZE];
        size_t n = strlen(names[i]);
        if (n + 1 > sizeof path) {
            postError(MSG_BULK_FILE_NAME_TOO_LONG)->addParamText(names[i]);
            return 1;
        }
        memcpy(path, names[i], n + 1);
        if (bosfopen(path, BOS_OPEN_CREATE_MISSING | BOS_OPEN_READWRITE | BOS_OPEN_APPEND, fds[i]) != 0) {
            *fds[i] = -1;
            return 1;
        }
        any = true;
    }
    if (!any)
        return 0;
    char banner[KA_BULK_BANNER_SIZE];
    uint64_t length = 0;
    if (bulkLogStartBanner(logFile >= 0 ? logFile : KA_BULK_NO_LOG, banner, sizeof banner, &length, 1) != 0)
        return 1;
    if (discardFile < 0)
        return 0;
    if (tableCodePage != kCodePageUtf16LE)
        return writeAll(discardFile, banner, length);
    // The discard file takes the data file's encoding.
    uint8_t wide[KA_BULK_BANNER_SIZE * 2];
    for (uint64_t i = 0; i < length; ++i) {
        wide[2 * i + (bigEndian_ ? 1 : 0)] = static_cast<uint8_t>(banner[i]);
        wide[2 * i + (bigEndian_ ? 0 : 1)] = 0;
    }
    return writeAll(discardFile, wide, length * 2);
}

int32_t BulkLoadFile::readDescription(const char* path) noexcept
{
    char probe[KA_BULK_PATH_SIZE];
    memcpy(probe, path, strlen(path) + 1);
    int32_t fd = -1;
    if (bosfopen(probe, 0, &fd) != 0)
        return 1;
    if (bosfclose(fd) != 0)
        return 1;
    KaXmlNode* root = nullptr;
    if (xmlParseFileA(&root, path, uint64_t(kCodePageUtf8)) != 0)
        return 1;
    int32_t status = 1;
    do {
        if (!sameText(root->name, root->nameLength, "table")) {
            postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(root->position);
            break;
        }
        bool haveCodePage = false;
        bool failed = false;
        uint64_t cursor = 0;
        for (KaXmlAttribute* a = root->firstAttribute(cursor); a != nullptr; a = root->nextAttribute(cursor)) {
            if (!sameText(a->name, a->nameLength, "codepage"))
                continue;
            if (haveCodePage) {
                postError(MSG_BULK_ATTRIBUTE_REPEATED)->addParamW(tableCodePageName)->addParamText("file");
                failed = true;
                continue;
            }
            haveCodePage = true;
            tableCodePageName = copyText(a->value, a->valueLength);
            if (tableCodePageName == nullptr) {
                failed = true;
                break;
            }
            int64_t cp = codePageOf(a->value, a->valueLength);
            if (cp == kCodePageNone) {
                postError(MSG_BULK_CODEPAGE_UNKNOWN)->addParamW(tableCodePageName)->addParamText("file");
                failed = true;
            } else if (cp == kCodePageUtf16BE) {
                bigEndian_ = true;
                tableCodePage = kCodePageUtf16LE;
            } else {
                tableCodePage = cp;
            }
        }
        if (!haveCodePage) {
            postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(root->position);
            break;
        }
        if (failed)
            break;
        if (root->children.count != 1) {
            postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(root->position);
            break;
        }
        auto* row = static_cast<KaXmlNode*>(root->children.at(0));
        if (!sameText(row->name, row->nameLength, "row")) {
            postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(row->position);
            break;
        }
        uint64_t count = row->children.count;
        if (count == 0) {
            postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(row->position);
            break;
        }
        columns = static_cast<BulkColumnDesc*>(ramAllocBlock((count + 1) * sizeof(BulkColumnDesc)));
        if (columns == nullptr)
            break;
        memset(columns, 0, (count + 1) * sizeof(BulkColumnDesc));
        columnCount = count;
        KaErrorList* list = KaErrorCurrentList();
        int64_t errorsBefore = list != nullptr ? list->errorCount : 0;
        bool stopped = false;
        for (uint64_t i = 1; i <= count && !stopped; ++i)
            stopped = readColumn(static_cast<KaXmlNode*>(row->children.at(i - 1)), i) != 0;
        if (stopped || (list != nullptr && list->errorCount > errorsBefore))
            break;
        status = 0;
    } while (false);
    xmlNodeFree(root);
    return status;
}

int32_t BulkLoadFile::readColumn(KaXmlNode* node, uint64_t i) noexcept
{
    BulkColumnDesc& c = columns[i];
    if (node->text == nullptr || node->textLength == 0) {
        postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(node->position);
        return 1;
    }
    c.name = copyText(node->text, node->textLength);
    if (c.name == nullptr)
        return 1;
    c.nameLength = node->textLength;
    c.nullable = 2;
    c.columnNumber = int64_t(i);
    bool haveType = false;
    bool typeGiven = false;
    bool haveLength = false;
    bool havePrecision = false;
    bool haveScale = false;
    bool haveSource = false;
    bool haveExternal = false;
    bool haveNullable = false;
    uint64_t cursor = 0;
    for (KaXmlAttribute* a = node->firstAttribute(cursor); a != nullptr; a = node->nextAttribute(cursor)) {
        auto is = [a](const char* name) { return sameText(a->name, a->nameLength, name); };
        if (is("datatype")) {
            if (typeGiven) {
                postError(MSG_BULK_ATTRIBUTE_REPEATED)->addParamText("datatype")->addParamW(c.name);
                continue;
            }
            typeGiven = true;
            if (bulkDataTypeFromWord(a->value, a->valueLength, &c.datatype)) {
                haveType = true;
            } else {
                uint16_t* word = copyText(a->value, a->valueLength);
                if (word == nullptr)
                    return 1;
                postError(MSG_BULK_DATATYPE_UNKNOWN)->addParamW(word)->addParamW(c.name);
                freeText(word);
            }
        } else if (is("length") || is("precision")) {
            bool isLength = is("length");
            bool& mine = isLength ? haveLength : havePrecision;
            bool other = isLength ? havePrecision : haveLength;
            const char* name = isLength ? "length" : "precision";
            if (mine) {
                postError(MSG_BULK_ATTRIBUTE_REPEATED)->addParamText(name)->addParamW(c.name);
                continue;
            }
            if (other) {
                postError(MSG_BULK_ATTRIBUTE_CONFLICT)
                    ->addParamText(name)
                    ->addParamText(isLength ? "precision" : "length")
                    ->addParamW(c.name);
                continue;
            }
            mine = true;
            uint16_t* text = copyText(a->value, a->valueLength);
            if (text == nullptr)
                return 1;
            int bad = textWToU64(text, &c.length);
            freeText(text);
            if (bad != 0) {
                postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(a->position);
                return 1;
            }
        } else if (is("scale")) {
            if (haveScale) {
                postError(MSG_BULK_ATTRIBUTE_REPEATED)->addParamText("scale")->addParamW(c.name);
                continue;
            }
            haveScale = true;
            uint16_t* text = copyText(a->value, a->valueLength);
            if (text == nullptr)
                return 1;
            int bad = textWToI64(text, &c.scale);
            freeText(text);
            if (bad != 0) {
                postError(MSG_BULK_DESCRIPTION_STRUCTURE)->addParamSigned(a->position);
                return 1;
            }
        } else if (is("sourcecodepage") || is("externalfilecodepage")) {
            bool source = is("sourcecodepage");
            bool& seen = source ? haveSource : haveExternal;
            if (seen) {
                // The repeated external code page has always been reported
                // under this spelling; readers of the log may match it.
                postError(MSG_BULK_ATTRIBUTE_REPEATED)
                    ->addParamText(source ? "sourcecodepage" : "externalfilececodepage")
                    ->addParamW(c.name);
                continue;
            }
            seen = true;
            uint16_t*& name = source ? c.sourceCodePageName : c.externalCodePageName;
            name = copyText(a->value, a->valueLength);
            if (name == nullptr)
                return 1;
            int64_t cp = codePageOf(a->value, a->valueLength);
            if (cp == kCodePageNone)
                postError(MSG_BULK_CODEPAGE_UNKNOWN)->addParamW(name)->addParamW(c.name);
            else
                (source ? c.sourceCodePage : c.externalCodePage) = cp;
        } else if (is("nullable")) {
            if (haveNullable) {
                postError(MSG_BULK_ATTRIBUTE_REPEATED)->addParamText("nullable")->addParamW(c.name);
                continue;
            }
            haveNullable = true;
            if (sameText(a->value, a->valueLength, "true")) {
                c.nullable = 1;
            } else if (sameText(a->value, a->valueLength, "false")) {
                c.nullable = 0;
            } else {
                uint16_t* value = copyText(a->value, a->valueLength);
                if (value == nullptr)
                    return 1;
                postError(MSG_BULK_ATTRIBUTE_VALUE_INVALID)
                    ->addParamW(value)
                    ->addParamText("nullable")
                    ->addParamW(c.name);
                freeText(value);
            }
        } else {
            uint16_t* attr = copyText(a->name, a->nameLength);
            if (attr == nullptr)
                return 1;
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_BULK_ATTRIBUTE_IGNORED)->addParamW(attr)->addParamW(c.name);
            freeText(attr);
        }
    }
    if (!haveType) {
        postError(MSG_BULK_ATTRIBUTE_MISSING)->addParamText("datatype")->addParamW(c.name);
        return 0;
    }
    uint32_t rule = attributeRule(c.datatype);
    auto ignored = [&c](const char* name) {
        basePostWarningMsg(kBaseIdxGeneralWarning, MSG_BULK_ATTRIBUTE_IGNORED)->addParamText(name)->addParamW(c.name);
    };
    auto missing = [&c](const char* name) {
        postError(MSG_BULK_ATTRIBUTE_MISSING)->addParamText(name)->addParamW(c.name);
    };
    if ((rule & kTakesLength) != 0) {
        if (!haveLength)
            missing("length");
    } else if ((rule & kTakesPrecision) != 0) {
        if (!havePrecision)
            missing("precision");
    } else if (haveLength || havePrecision) {
        ignored(haveLength ? "length" : "precision");
        c.length = 0;
    }
    if ((rule & kTakesScale) != 0) {
        if (!haveScale)
            missing("scale");
    } else if (haveScale) {
        ignored("scale");
        c.scale = 0;
    }
    if ((rule & kTakesCodePages) == 0) {
        if (haveSource) {
            ignored("sourcecodepage");
            c.sourceCodePage = 0;
        }
        if (haveExternal) {
            ignored("externalfilecodepage");
            c.externalCodePage = 0;
        }
    } else if (c.externalCodePage == 0) {
        c.externalCodePage = c.sourceCodePage != 0 ? c.sourceCodePage : tableCodePage;
    }
    return 0;
}

// ---- Reading the data file ----------------------------------------------

int32_t BulkLoadFile::fill(size_t need) noexcept
{
    while (blockCount_ - blockPos_ < need && !fileEnded_) {
        // Keep the unread bytes, then read one block after them.
        size_t left = blockCount_ - blockPos_;
        memmove(block_, block_ + blockPos_, left);
        blockOffset_ += blockPos_;
        blockPos_ = 0;
        blockCount_ = left;
        uint64_t got = 0;
        if (bosfread(dataFile, int64_t(readEnd_), block_ + left, blockSize_ - left, &got) != 0)
            return 1;
        readEnd_ += got;
        blockCount_ += got;
        // A short read of a regular file is its end.
        if (got < blockSize_ - left)
            fileEnded_ = true;
    }
    if (fileEnded_ && unitBytes_ == 2 && (readEnd_ & 1) != 0)
        return malformed(readEnd_);
    return 0;
}

int32_t BulkLoadFile::peek(size_t ahead, int32_t* unit) noexcept
{
    size_t need = (ahead + 1) * unitBytes_;
    if (blockCount_ - blockPos_ < need && fill(need) != 0)
        return 1;
    if (blockCount_ - blockPos_ < need) {
        *unit = kEnd;
        return 0;
    }
    const uint8_t* p = block_ + blockPos_ + ahead * unitBytes_;
    if (unitBytes_ == 1)
        *unit = p[0];
    else
        *unit = bigEndian_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
    return 0;
}

void BulkLoadFile::consume(size_t units) noexcept
{
    blockPos_ += units * unitBytes_;
}

uint64_t BulkLoadFile::currentOffset() const noexcept
{
    return blockOffset_ + blockPos_;
}

int32_t BulkLoadFile::endsUnquoted(size_t ahead, int32_t unit, bool* ends) noexcept
{
    *ends = unit == kEnd || unit == delimiters_.field;
    if (*ends)
        return 0;
    if (delimiters_.record != 0) {
        *ends = unit == delimiters_.record;
        return 0;
    }
    if (unit == '\n') {
        *ends = true;
    } else if (unit == '\r') {
        int32_t next = 0;
        if (peek(ahead + 1, &next) != 0)
            return 1;
        *ends = next == '\n';
    }
    return 0;
}

bool BulkLoadFile::isBlank(int32_t unit) const noexcept
{
    if (unit == ' ')
        return true;
    return unit == '\t' && delimiters_.field != '\t' && delimiters_.record != '\t';
}

int32_t BulkLoadFile::malformed(uint64_t offset) noexcept
{
    postError(MSG_BULK_DATA_MALFORMED)->addParamUnsigned(offset)->addParamText(dataName_);
    return 1;
}

int32_t BulkLoadFile::start() noexcept
{
    int32_t a = 0;
    if (peek(0, &a) != 0)
        return 1;
    if (unitBytes_ == 2) {
        if (a == 0xFEFF)
            consume(1);
        else if (a == 0xFFFE)
            return basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_BYTE_ORDER_MARK_INVALID), 1;
    } else {
        int32_t b = 0;
        int32_t c = 0;
        if (peek(1, &b) != 0 || peek(2, &c) != 0)
            return 1;
        if (a == 0xEF && b == 0xBB && c == 0xBF) {
            if (tableCodePage != kCodePageUtf8)
                return basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_BYTE_ORDER_MARK_INVALID), 1;
            consume(3);
        } else if ((a == 0xFE && b == 0xFF) || (a == 0xFF && b == 0xFE)) {
            return basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_BYTE_ORDER_MARK_INVALID), 1;
        }
    }
    recordStart = previousRecordStart = currentOffset();
    fieldNumber = 1;
    state_ = State::FieldStart;
    return 0;
}

int32_t BulkLoadFile::consumeSeparator(bool* recordEnded) noexcept
{
    *recordEnded = false;
    int32_t u = 0;
    while (true) {
        if (peek(0, &u) != 0)
            return 1;
        if (!isBlank(u))
            break;
        consume(1);
    }
    if (u == kEnd) {
        previousRecordStart = recordStart;
        recordStart = currentOffset();
        state_ = State::End;
        return 2;
    }
    closeLob();
    size_t width = 0;
    if (u == delimiters_.field) {
        consume(1);
        ++fieldNumber;
        state_ = State::FieldStart;
        return 0;
    }
    if (delimiters_.record == 0) {
        int32_t next = 0;
        if (u == '\r' && peek(1, &next) != 0)
            return 1;
        if (u == '\n')
            width = 1;
        else if (u == '\r' && next == '\n')
            width = 2;
    } else if (u == delimiters_.record) {
        width = 1;
    }
    if (width == 0) {
        consume(1);
        return malformed(currentOffset());
    }
    consume(width);
    *recordEnded = true;
    previousRecordStart = recordStart;
    recordStart = currentOffset();
    fieldNumber = 1;
    targetField_ = 0;
    state_ = State::FieldStart;
    if (toSkip_ != 0) {
        ++recordsSkipped;
        --toSkip_;
    }
    return 0;
}

int32_t BulkLoadFile::fieldStart() noexcept
{
    while (true) {
        int32_t u = 0;
        if (peek(0, &u) != 0)
            return 1;
        if (isBlank(u)) {
            consume(1);
            continue;
        }
        if (u == kEnd) {
            state_ = State::End;
            return 2;
        }
        int32_t next = 0;
        if (u == '/' && peek(1, &next) != 0)
            return 1;
        if (u == '/' && (next == '/' || next == '*')) {
            consume(2);
            int32_t previous = 0;
            while (true) {
                if (peek(0, &u) != 0)
                    return 1;
                if (u == kEnd)
                    return malformed(currentOffset());
                consume(1);
                if (next == '/' && u == '\n')
                    break;
                if (next == '*' && previous == '*' && u == '/')
                    break;
                previous = u;
            }
            continue;
        }
        if (fieldNumber == 1)
            ++recordsRead;
        quoted_ = u == kQuote;
        if (quoted_) {
            quoteOffset_ = currentOffset();
            consume(1);
        }
        firstChunk_ = true;
        keptBlanks_ = 0;
        state_ = State::InField;
        return 0;
    }
}

int32_t BulkLoadFile::put(int32_t unit) noexcept
{
    if (unitBytes_ == 1) {
        value_[valueLength_++] = static_cast<uint8_t>(unit);
    } else {
        value_[valueLength_++] = static_cast<uint8_t>(unit & 0xFF);
        value_[valueLength_++] = static_cast<uint8_t>(unit >> 8);
    }
    return 0;
}

bool BulkLoadFile::columnIsBinary(uint32_t field) const noexcept
{
    const BulkColumnDesc* c = column(field);
    return c != nullptr &&
           (c->datatype == SQL_BINARY || c->datatype == SQL_VARBINARY || c->datatype == SQL_LONGVARBINARY);
}

int32_t BulkLoadFile::readField(const uint8_t** data, uint64_t* length, int32_t* continued, int32_t* isNull) noexcept
{
    valueLength_ = 0;
    *continued = 0;
    *isNull = 0;
    bool full = false;
    while (true) {
        full = valueLength_ + unitBytes_ > blockSize_;
        int32_t u = 0;
        if (peek(0, &u) != 0)
            return 1;
        if (quoted_) {
            if (u == kEnd) {
                postError(MSG_BULK_QUOTE_UNCLOSED)->addParamUnsigned(quoteOffset_)->addParamText(dataName_);
                return 1;
            }
            if (u == kQuote) {
                int32_t next = 0;
                if (peek(1, &next) != 0)
                    return 1;
                if (next != kQuote) {
                    // The value ends here even when it filled the chunk.
                    consume(1);
                    full = false;
                    break;
                }
                if (full)
                    break;
                consume(2);
                (void)put(kQuote);
                continue;
            }
            if (full)
                break;
            consume(1);
            (void)put(u);
            continue;
        }
        // Unquoted: the value ends before a delimiter or a line end.
        bool ends = false;
        if (endsUnquoted(0, u, &ends) != 0)
            return 1;
        if (ends)
            break;
        size_t units = valueLength_ / unitBytes_;
        bool inKeyword =
            firstChunk_ && units < kLobKeywordLength && (u < 0x80 && (u | 0x20) == (kLobKeyword[units] | 0x20));
        if (inKeyword && units + 1 == kLobKeywordLength) {
            // Every unit so far spelled the keyword: a LOB reference.
            bool matched = true;
            for (size_t k = 0; k < units && matched; ++k) {
                int32_t have = unitBytes_ == 1 ? value_[k] : (value_[2 * k] | value_[2 * k + 1] << 8);
                matched = (have | 0x20) == (kLobKeyword[k] | 0x20);
            }
            if (matched) {
                consume(1);
                return lobReference();
            }
        }
        if (isBlank(u) && !inKeyword && keptBlanks_ == 0) {
            // Blanks before the end of the value are dropped; blanks before
            // more text are kept as they are. A run longer than a block is
            // kept whole.
            size_t run = 1;
            bool trailing = false;
            // The look-ahead stays inside one block, a line end's two
            // units included.
            for (; run + 1 < blockSize_ / unitBytes_; ++run) {
                int32_t next = 0;
                if (peek(run, &next) != 0)
                    return 1;
                if (!isBlank(next)) {
                    if (endsUnquoted(run, next, &trailing) != 0)
                        return 1;
                    break;
                }
            }
            if (trailing) {
                consume(run);
                continue;
            }
            keptBlanks_ = run;
        }
        if (valueLength_ + unitBytes_ > blockSize_) {
            full = true;
            break;
        }
        if (keptBlanks_ != 0 && isBlank(u))
            --keptBlanks_;
        consume(1);
        (void)put(u);
    }
    if (full) {
        *continued = 1;
    } else {
        state_ = State::AfterField;
        if (!quoted_ && firstChunk_ && valueLength_ == 0)
            *isNull = 1;
    }
    size_t skip = 0;
    if (!quoted_ && firstChunk_ && valueLength_ >= 2 * unitBytes_ && columnIsBinary(fieldNumber)) {
        int32_t a = value_[0];
        int32_t b = value_[unitBytes_];
        bool zeroHigh = unitBytes_ == 1 || (value_[1] == 0 && value_[unitBytes_ + 1] == 0);
        if (zeroHigh && a == '0' && (b == 'x' || b == 'X'))
            skip = 2 * unitBytes_;
    }
    firstChunk_ = false;
    *data = value_ + skip;
    *length = valueLength_ - skip;
    return 0;
}

int32_t BulkLoadFile::lobReference() noexcept
{
    int32_t u = 0;
    auto skipBlanks = [this, &u]() -> int32_t {
        while (true) {
            if (peek(0, &u) != 0)
                return 1;
            if (!isBlank(u))
                return 0;
            consume(1);
        }
    };
    if (skipBlanks() != 0)
        return 1;
    if (u != kQuote) {
        consume(1);
        return malformed(currentOffset());
    }
    consume(1);
    lobNameLength_ = 0;
    size_t units = 0;
    while (true) {
        if (peek(0, &u) != 0)
            return 1;
        if (u == kEnd)
            return malformed(currentOffset());
        consume(1);
        if (u == kQuote)
            break;
        if (++units > KA_BULK_MAX_LOB_NAME || u == 0)
            return malformed(currentOffset());
        // Names keep their bytes; UTF-16 names become UTF-8.
        if (unitBytes_ == 1 || u < 0x80) {
            lobName_[lobNameLength_++] = static_cast<char>(u);
        } else if (u < 0x800) {
            lobName_[lobNameLength_++] = static_cast<char>(0xC0 | (u >> 6));
            lobName_[lobNameLength_++] = static_cast<char>(0x80 | (u & 0x3F));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            return malformed(currentOffset());
        } else {
            lobName_[lobNameLength_++] = static_cast<char>(0xE0 | (u >> 12));
            lobName_[lobNameLength_++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            lobName_[lobNameLength_++] = static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    lobName_[lobNameLength_] = 0;
    if (skipBlanks() != 0)
        return 1;
    consume(1);
    if (u != '}')
        return malformed(currentOffset());
    state_ = State::AfterField;
    if (skipping_ || (targetField_ != 0 && fieldNumber < targetField_)) {
        valueLength_ = 0;
        return 0;
    }
    const BulkColumnDesc* c = column(fieldNumber);
    if (c == nullptr) {
        // No column to say how the side file is written.
        return malformed(currentOffset());
    }
    lobCodePage_ = c->externalCodePage;
    // The side file lies in the data file's directory and nowhere else.
    bool plain = lobNameLength_ != 0 && strcmp(lobName_, ".") != 0 && strcmp(lobName_, "..") != 0 &&
                 memchr(lobName_, '/', lobNameLength_) == nullptr;
    if (!plain) {
        postError(MSG_BULK_LOB_NAME_INVALID)->addParamText(lobName_);
        return 1;
    }
    char path[KA_BULK_PATH_SIZE];
    if (dataDirLength_ + lobNameLength_ + 1 > sizeof path) {
        postError(MSG_BULK_FILE_NAME_TOO_LONG)->addParamText(lobName_);
        return 1;
    }
    memcpy(path, dataName_, dataDirLength_);
    memcpy(path + dataDirLength_, lobName_, lobNameLength_ + 1);
    if (bosfopen(path, 0, &lobFile) != 0) {
        lobFile = -1;
        return 1;
    }
    lobOffset_ = 0;
    state_ = State::InLob;
    return 0;
}

int32_t BulkLoadFile::lobChunk(const uint8_t** data, uint64_t* length, int32_t* continued) noexcept
{
    // One byte beyond the block tells whether the file goes on.
    uint64_t got = 0;
    if (bosfread(lobFile, int64_t(lobOffset_), lobBuffer_, blockSize_ + 1, &got) != 0)
        return 1;
    uint64_t take = got > blockSize_ ? blockSize_ : got;
    lobOffset_ += take;
    *data = lobBuffer_;
    *length = take;
    *continued = got > blockSize_ ? 1 : 0;
    if (*continued == 0)
        state_ = State::AfterField;
    return 0;
}

void BulkLoadFile::closeLob() noexcept
{
    if (lobFile >= 0) {
        (void)bosfclose(lobFile);
        lobFile = -1;
    }
}

int32_t BulkLoadFile::readOne(const uint8_t** data, uint64_t* length, int32_t* continued, int32_t* isNull,
                              int64_t* codePage) noexcept
{
    *data = nullptr;
    *length = 0;
    *isNull = 0;
    *codePage = tableCodePage;
    if (dataFile < 0 || state_ == State::End) {
        *continued = 0;
        return 0;
    }
    if (state_ == State::Unread && start() != 0)
        return 1;
    if (state_ == State::InLob) {
        *codePage = lobCodePage_;
        return lobChunk(data, length, continued);
    }
    if (state_ == State::InField && *continued != 0)
        return readField(data, length, continued, isNull);
    *continued = 0;
    if (state_ == State::AfterField) {
        bool ended = false;
        int32_t rc = consumeSeparator(&ended);
        if (rc == 2)
            return 0;
        if (rc != 0)
            return 1;
    }
    int32_t rc = fieldStart();
    if (rc == 2)
        return 0;
    if (rc != 0)
        return 1;
    if (readField(data, length, continued, isNull) != 0)
        return 1;
    if (state_ == State::InLob) {
        *codePage = lobCodePage_;
        return lobChunk(data, length, continued);
    }
    if (*data == nullptr) {
        static const uint8_t kEmpty[1] = {0};
        *data = kEmpty;
    }
    return 0;
}

int32_t BulkLoadFile::readRecord(const uint8_t** data, uint64_t* length, int32_t* continued, int32_t* isNull,
                                 int64_t* codePage) noexcept
{
    while (true) {
        if (readOne(data, length, continued, isNull, codePage) != 0)
            return 1;
        if (*data == nullptr || targetField_ == 0 || fieldNumber >= targetField_) {
            if (targetField_ != 0 && fieldNumber >= targetField_)
                targetField_ = 0;
            return 0;
        }
        // A field before the target: keep its null flag and pass it over.
        if (*continued == 0) {
            if (skippedCount >= KA_BULK_MAX_SKIPPED_FIELDS) {
                postError(MSG_BULK_TOO_MANY_FIELDS)->addParamUnsigned(KA_BULK_MAX_SKIPPED_FIELDS);
                return 1;
            }
            skippedNulls[skippedCount++] = uint32_t(*isNull);
        }
    }
}

int32_t BulkLoadFile::setTargetField(uint64_t n) noexcept
{
    if (n > KA_BULK_MAX_SKIPPED_FIELDS) {
        postError(MSG_BULK_TOO_MANY_FIELDS)->addParamUnsigned(KA_BULK_MAX_SKIPPED_FIELDS);
        return 1;
    }
    targetField_ = n;
    skippedCount = 0;
    return 0;
}

int32_t BulkLoadFile::skipRows(uint64_t n) noexcept
{
    if (n == 0 || dataFile < 0)
        return 0;
    toSkip_ = n;
    skipping_ = true;
    int32_t status = 0;
    int32_t continued = 0;
    while (toSkip_ != 0) {
        if (state_ == State::Unread && start() != 0) {
            status = 1;
            break;
        }
        if (state_ == State::End)
            break;
        if (state_ == State::AfterField) {
            bool ended = false;
            int32_t rc = consumeSeparator(&ended);
            if (rc == 2)
                break;
            if (rc != 0) {
                status = 1;
                break;
            }
            continue;
        }
        const uint8_t* data = nullptr;
        uint64_t length = 0;
        int32_t isNull = 0;
        int64_t cp = 0;
        if (readOne(&data, &length, &continued, &isNull, &cp) != 0) {
            status = 1;
            break;
        }
        if (data == nullptr)
            break;
    }
    // A record passed by skipping is not a record read.
    toSkip_ = 0;
    skipping_ = false;
    return status;
}

int32_t BulkLoadFile::readRecordCopy(const uint8_t** data, uint64_t* length, int32_t* continued, int32_t* isNull,
                                     int64_t* codePage) noexcept
{
    uint64_t from = recordStart;
    while (true) {
        if (state_ == State::AfterField) {
            bool ended = false;
            int32_t rc = consumeSeparator(&ended);
            if (rc == 1)
                return 1;
            if (rc == 2 || ended)
                break;
        }
        if (readOne(data, length, continued, isNull, codePage) != 0)
            return 1;
        if (*data == nullptr)
            break;
    }
    *data = nullptr;
    *length = 0;
    *continued = 0;
    return copyRange(from, recordStart);
}

int32_t BulkLoadFile::copyRange(uint64_t from, uint64_t to) noexcept
{
    if (discardFile < 0 || to <= from)
        return 0;
    constexpr uint64_t kCopyBlock = 65536;
    if (copyBuffer_ == nullptr) {
        copyBuffer_ = static_cast<uint8_t*>(ramAllocBlock(kCopyBlock));
        if (copyBuffer_ == nullptr)
            return 1;
    }
    while (from < to) {
        uint64_t want = to - from < kCopyBlock ? to - from : kCopyBlock;
        uint64_t got = 0;
        if (bosfread(dataFile, int64_t(from), copyBuffer_, want, &got) != 0)
            return 1;
        if (got == 0)
            break;
        if (writeAll(discardFile, copyBuffer_, got) != 0)
            return 1;
        from += got;
    }
    return 0;
}
