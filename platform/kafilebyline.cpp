// The line reader.
#include "platform/kafilebyline.h"

#include <cctype>
#include <cstring>

#include "foundation/ram.h"
#include "platform/bos.h"
#include "platform/bosfile.h"

namespace {

KaLineDecoder lineDecoder = nullptr;

}  // namespace

void kaFileByLineSetDecoder(KaLineDecoder decoder) noexcept
{
    lineDecoder = decoder;
}

KaFileByLine::~KaFileByLine()
{
    if (descriptor != 0 || buffer != nullptr || path != nullptr)
        close();
}

int KaFileByLine::open(const char* name, uint64_t size) noexcept
{
    if (descriptor != 0 || buffer != nullptr || path != nullptr)
        close();
    length = 0;
    position = -1;
    bufferStart = nextRead = lineStart = 0;
    seekRequest = -1;
    highWater = previousHighWater = 0;
    keepNewline = 1;
    complete = atEnd = 0;
    decodeType = 0;
    if (name == nullptr)
        return 1;
    bufferSize = size < KA_FILE_BY_LINE_MIN_BUFFER ? KA_FILE_BY_LINE_MIN_BUFFER : size;
    char opened[BOS_PATH_SIZE];
    size_t n = strlen(name);
    if (n >= sizeof opened)
        return 1;
    memcpy(opened, name, n + 1);
    if (bosfopen(opened, 0, &descriptor) != 0) {
        descriptor = 0;
        return 1;
    }
    path = static_cast<char*>(ramAlloc(n + 1));
    buffer = static_cast<char*>(ramAlloc(size_t(bufferSize) + 1));
    if (path == nullptr || buffer == nullptr) {
        close();
        return 1;
    }
    memcpy(path, name, n + 1);
    buffer[0] = 0;
    return 0;
}

// Reads the buffer from offset on, keeping the keep bytes from position on
// (an unfinished line) at its start.
int KaFileByLine::fill(int64_t offset, int64_t keep) noexcept
{
    if (keep > 0)
        memmove(buffer, buffer + position, size_t(keep));
    uint64_t count = 0;
    if (bosfread(descriptor, offset, buffer + keep, bufferSize - uint64_t(keep), &count) != 0)
        return 1;
    bufferStart = offset - keep;
    length = keep + int64_t(count);
    nextRead = offset + int64_t(count);
    position = 0;
    buffer[length] = 0;
    return 0;
}

const char* KaFileByLine::findNewline() const noexcept
{
    return static_cast<const char*>(memchr(buffer + position, '\n', size_t(length - position)));
}

int KaFileByLine::readLine(KaSubString* line) noexcept
{
    if (descriptor == 0 || buffer == nullptr)
        return 1;
    if (seekRequest >= 0) {
        if (position >= 0 && seekRequest >= bufferStart && seekRequest < bufferStart + length) {
            position = seekRequest - bufferStart;
        } else if (fill(seekRequest, 0) != 0) {
            return 1;
        }
        seekRequest = -1;
    } else if (position < 0 || position > length) {
        if (fill(nextRead, 0) != 0)
            return 1;
    }
    const char* newline = findNewline();
    if (newline == nullptr) {
        int64_t rest = length - position;
        if (rest < int64_t(bufferSize)) {
            if (fill(nextRead, rest) != 0)
                return 1;
            newline = findNewline();
        }
    }
    lineStart = bufferStart + position;
    const char* start = buffer + position;
    size_t n;
    if (newline != nullptr) {
        n = size_t(newline - start) + (keepNewline ? 1 : 0);
        position = newline - buffer + 1;
        complete = 1;
        atEnd = 0;
    } else if (length - position >= int64_t(bufferSize)) {
        n = size_t(bufferSize - 4);
        position += int64_t(n);
        complete = 0;
        atEnd = 0;
    } else {
        n = size_t(length - position);
        position = length;
        complete = 1;
        atEnd = n == 0 ? 1 : 0;
    }
    previousHighWater = highWater;
    if (bufferStart + position > highWater)
        highWater = bufferStart + position;
    if (decodeType == 0) {
        line->set(start, n);
        return 0;
    }
    if (lineDecoder == nullptr || decoded.assign(start, n) != 0)
        return 1;
    size_t decodedLength = decoded.len;
    if (lineDecoder(decodeType, decoded.data, &decodedLength) != 0)
        return 1;
    line->set(decoded.data, decodedLength);
    return 0;
}

int KaFileByLine::readNonBlankLine(KaSubString* line) noexcept
{
    for (;;) {
        if (readLine(line) != 0)
            return 1;
        if (atEnd)
            return 0;
        for (size_t i = 0; i < line->len; ++i)
            if (!isspace(static_cast<unsigned char>(line->data[i])))
                return 0;
    }
}

void KaFileByLine::resetBuffer() noexcept
{
    seekRequest = lineStart;
    if (previousHighWater < highWater)
        previousHighWater = highWater = lineStart;
}

int KaFileByLine::close() noexcept
{
    int rc = 0;
    if (descriptor != 0 && bosfclose(descriptor) != 0)
        rc = 1;
    descriptor = 0;
    ramFree(path);
    ramFree(buffer);
    path = nullptr;
    buffer = nullptr;
    return rc;
}
