// The XML record-set writer: XPstPersist holds the state machine and the
// temporary files beside the target, XPstTrelliwavePersist the documents'
// texts, the column schema elements and the value elements. Used by the
// result-set persistence's entry functions (bulk/xpst.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "bulk/xpstcolumn.h"
#include "bulk/xpstconvert.h"
#include "foundation/kaobject.h"
#include "foundation/kastringw.h"
#include "platform/bos.h"

class KaTmpFile;

// The record-set namespace; a literal, so that the documents' fixed texts
// can be joined from it at compile time.
#define XPST_RECORDSET_NAMESPACE "urn:ka-driver:xmlrecordset"
// Base names of the target are cut to this many bytes.
constexpr size_t XPST_BASE_NAME_MAX = 128;
// Bytes of output gathered per document before they go to its file.
constexpr size_t XPST_OUTPUT_BUFFER = 65536;
// Attempts at drawing a temporary name that no file has yet.
constexpr int XPST_TEMP_NAME_TRIES = 16;

// Writer states.
enum : int64_t { XPST_STATE_CLOSED = 0, XPST_STATE_OPEN = 1, XPST_STATE_COLUMNS = 2 };
// Results of the public operations.
enum : int { XPST_OK = 0, XPST_FAILED = 1, XPST_WRONG_STATE = 2 };

// One document being written: its descriptor and the bytes not yet written.
struct XPstOutput {
    int32_t fd = 0;
    size_t used = 0;
    char* buffer = nullptr;
};

class XPstPersist : public KaObject {
public:
    XPstPersist() noexcept = default;
    ~XPstPersist() override;
    XPstPersist(const XPstPersist&) = delete;
    XPstPersist& operator=(const XPstPersist&) = delete;

    [[nodiscard]] virtual int open(const uint16_t* target, int32_t persistMode) noexcept;
    [[nodiscard]] virtual int setColumns(const XPstColumn* records, uint64_t count) noexcept;
    [[nodiscard]] virtual int writeRows(KaTmpFile* values, KaTmpFile* offsets, KaTmpFile* lengths, int64_t valuesSize,
                                        int64_t offsetsSize, int64_t lengthsSize, uint64_t rows) noexcept;
    [[nodiscard]] virtual int close() noexcept;
    virtual int abort() noexcept;
    // The hooks below return 1 on success and 0 on failure.
    [[nodiscard]] virtual int createTempFiles() noexcept;
    virtual void closeFiles() noexcept;
    virtual void removeTempFiles() noexcept;
    [[nodiscard]] virtual int writeXmlDeclaration() noexcept;
    [[nodiscard]] virtual int spareHook() noexcept;
    [[nodiscard]] virtual int writeSchemaHead() noexcept = 0;
    [[nodiscard]] virtual int writeSchemaEnd() noexcept = 0;
    [[nodiscard]] virtual int writeColumnSchema(const XPstColumn& column) noexcept = 0;
    [[nodiscard]] virtual int writeDataStart() noexcept = 0;
    [[nodiscard]] virtual int writeDataEnd() noexcept = 0;
    [[nodiscard]] virtual int beginRecord() noexcept = 0;
    [[nodiscard]] virtual int endRecord() noexcept = 0;
    [[nodiscard]] virtual int writeValue(uint64_t column, const uint8_t* bytes, int64_t length) noexcept = 0;

    void reset() noexcept;

    KaStringW path;
    int32_t mode = 0;
    KaStringW tempBase;
    int32_t dataFile = 0;
    int32_t schemaFile = 0;
    int64_t state = XPST_STATE_CLOSED;
    XPstColumn* columns = nullptr;
    uint64_t columnCount = 0;

    // Buffered output of the data and schema documents; one buffer serves
    // both when they are the same file.
    [[nodiscard]] int emit(int32_t fd, const char* bytes, size_t length) noexcept;
    [[nodiscard]] int flush(XPstOutput& out) noexcept;
    XPstOutput& outputFor(int32_t fd) noexcept { return fd == schemaFile && fd != dataFile ? schemaOut : dataOut; }

protected:
    // The target as a file-system name, its directory (with the final
    // slash) and its base name; kept beside path because the file layer
    // takes narrow names.
    char targetName[BOS_PATH_SIZE] = {};
    char directory[BOS_PATH_SIZE] = {};
    char baseName[XPST_BASE_NAME_MAX + 1] = {};
    char tempName[BOS_PATH_SIZE] = {};  // directory + drawn name, no extension
    XPstOutput dataOut;
    XPstOutput schemaOut;
    // Whether the temporary schema document exists: only a file this writer
    // made is ever deleted.
    int schemaTempMade = 0;

private:
    [[nodiscard]] int splitTarget() noexcept;
    [[nodiscard]] int schemaTarget(char* out) const noexcept;
    [[nodiscard]] int openTemp(const char* extension, int32_t* fd) noexcept;
    friend class XPstTrelliwavePersist;
};

class XPstTrelliwavePersist : public XPstPersist {
public:
    XPstTrelliwavePersist() noexcept = default;
    ~XPstTrelliwavePersist() override;

    [[nodiscard]] int open(const uint16_t* target, int32_t persistMode) noexcept override;
    [[nodiscard]] int writeSchemaHead() noexcept override;
    [[nodiscard]] int writeSchemaEnd() noexcept override;
    [[nodiscard]] int writeColumnSchema(const XPstColumn& column) noexcept override;
    [[nodiscard]] int writeDataStart() noexcept override;
    [[nodiscard]] int writeDataEnd() noexcept override;
    [[nodiscard]] int beginRecord() noexcept override;
    [[nodiscard]] int endRecord() noexcept override;
    [[nodiscard]] int writeValue(uint64_t column, const uint8_t* bytes, int64_t length) noexcept override;

    const char* schemaHead = nullptr;
    const char* schemaEnd = nullptr;
    const char* dataStart = nullptr;
    const char* dataEnd = nullptr;
    uint64_t columnIndent = 0;
    uint64_t recordIndent = 0;
    uint64_t valueIndent = 0;
    // The root start text, built at open; UTF-8.
    char* headText = nullptr;
    size_t headLength = 0;

private:
    [[nodiscard]] int buildRootHead() noexcept;
    // Element names of the columns as UTF-8, made valid XML names.
    char** elementNames = nullptr;
    uint64_t elementNameCount = 0;
    XPstScratch scratch;
    void freeElementNames() noexcept;
};

// Tag writers; each returns 1 on success, 0 with its error posted.
struct XPstAttribute {
    const char* name;
    const char* value;
};
[[nodiscard]] int xpstWriteStartTag(XPstPersist* writer, int32_t fd, const char* name, uint64_t indent,
                                    const XPstAttribute* attributes, size_t count, int lineFeed,
                                    int emptyElement) noexcept;
[[nodiscard]] int xpstWriteEndTag(XPstPersist* writer, int32_t fd, const char* name, uint64_t indent,
                                  int lineFeed) noexcept;
[[nodiscard]] int xpstWriteText(XPstPersist* writer, int32_t fd, const char* bytes, size_t length) noexcept;
// A column name as an XML element name: characters a name cannot hold, and
// an underscore that would read as the start of such an escape, become
// _xHHHH_. Returns a NUL-terminated block the caller frees with ramFree, or
// null (error posted).
char* xpstElementName(const uint16_t* name) noexcept;
