// A reader that returns a file line by line out of one large buffer and can
// step back one line. Used by the SQL text layer to read query files.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kastring.h"

// Decodes a line in place (its length may shrink); 0 on success. The
// security layer installs its decoder here, as the platform cannot call it.
using KaLineDecoder = int (*)(int32_t decodeType, char* text, size_t* length) noexcept;
void kaFileByLineSetDecoder(KaLineDecoder decoder) noexcept;

// Smallest buffer open accepts: a line longer than the buffer comes back in
// pieces of bufferSize - 4 bytes.
constexpr uint64_t KA_FILE_BY_LINE_MIN_BUFFER = 8;

class KaFileByLine : public KaObject {
public:
    int32_t descriptor = 0;
    char* path = nullptr;
    char* buffer = nullptr;
    uint64_t bufferSize = 0;
    int64_t length = 0;
    int64_t position = -1;  // -1: the buffer must be refilled
    int64_t bufferStart = 0;
    int64_t nextRead = 0;
    int64_t lineStart = 0;
    int64_t seekRequest = -1;
    int64_t highWater = 0;
    int64_t previousHighWater = 0;
    int32_t keepNewline = 1;
    int32_t complete = 0;
    int32_t atEnd = 0;
    KaString decoded;
    int32_t decodeType = 0;

    KaFileByLine() noexcept = default;
    ~KaFileByLine() override;
    KaFileByLine(const KaFileByLine&) = delete;
    KaFileByLine& operator=(const KaFileByLine&) = delete;

    [[nodiscard]] int open(const char* path, uint64_t bufferSize) noexcept;
    // The line points into the reader's buffer until the next read.
    [[nodiscard]] int readLine(KaSubString* line) noexcept;
    // Skips lines of white space only; at the end of the file the empty line.
    [[nodiscard]] int readNonBlankLine(KaSubString* line) noexcept;
    // The next readLine returns the line returned last once more.
    void resetBuffer() noexcept;
    int close() noexcept;

private:
    [[nodiscard]] int fill(int64_t offset, int64_t keep) noexcept;
    const char* findNewline() const noexcept;
};
