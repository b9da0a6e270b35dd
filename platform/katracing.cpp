// The trace writers: rolling files, the memory ring and the memory buffer
// that empties into rolling files.
#include "platform/katracing.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosenv.h"

namespace {

// Sizes in KB above this would overflow when turned into bytes.
constexpr uint64_t kLargestKilobytes = 18014398509481982ULL;
constexpr char kDefaultExtension[] = "log";
constexpr char kFlushKey[] = "ODBCTraceFlush";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Reads a size option given in KB; 0 with the default when absent.
int sizeOption(const char* options, const char* key, uint64_t fallback, uint64_t* bytes)
{
    const char* value = nullptr;
    size_t n = 0;
    if (kaTraceOption(options, key, &value, &n) != 0)
        return 1;
    if (value == nullptr) {
        *bytes = fallback;
        return 0;
    }
    uint64_t kb = 0;
    if (textToU64N(value, n, &kb) != 0)
        return 1;
    *bytes = kb > kLargestKilobytes ? KA_TRACE_NO_LIMIT : kb * 1024;
    return 0;
}

void postTraceFileProblem(const char* text, const char* name)
{
    KaError* rec = errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(0)->appendText(text);
    if (name != nullptr)
        rec->appendText(name);
}

}  // namespace

int kaTraceOption(const char* options, const char* key, const char** value, size_t* length) noexcept
{
    *value = nullptr;
    *length = 0;
    if (options == nullptr)
        return 0;
    size_t keyLength = strlen(key);
    const char* p = options;
    bool found = false;
    while (*p != 0) {
        while (isBlank(*p) || *p == ';')
            ++p;
        if (*p == 0)
            break;
        const char* k = p;
        while (*p != 0 && *p != '=' && *p != ';')
            ++p;
        if (*p != '=')
            return 1;
        const char* kEnd = p;
        while (kEnd > k && isBlank(kEnd[-1]))
            --kEnd;
        ++p;
        const char* v = p;
        size_t vLength;
        if (*p == '{') {
            const char* close = strchr(p + 1, '}');
            if (close == nullptr)
                return 1;
            v = p + 1;
            vLength = size_t(close - v);
            p = close + 1;
            while (isBlank(*p))
                ++p;
            if (*p != 0 && *p != ';')
                return 1;
        } else {
            while (*p != 0 && *p != ';')
                ++p;
            vLength = size_t(p - v);
        }
        // The first occurrence of a key counts, as with the connection string.
        if (!found && size_t(kEnd - k) == keyLength && strncasecmp(k, key, keyLength) == 0) {
            *value = v;
            *length = vLength;
            found = true;
        }
    }
    return 0;
}

int KaTracing::flush()
{
    return 0;
}

// --- Rolling files ----------------------------------------------------------

KaFileTracing::~KaFileTracing()
{
    close();
}

bool KaFileTracing::isOpen() noexcept
{
    KaLockGuard guard(lock);
    return file != nullptr;
}

void KaFileTracing::freePath() noexcept
{
    ramFree(path);
    path = nullptr;
    numberField = nullptr;
}

void KaFileTracing::closeFile() noexcept
{
    if (file != nullptr) {
        fflush(file);
        fclose(file);
        file = nullptr;
    }
}

int KaFileTracing::configure(const char* options)
{
    const char* value = nullptr;
    size_t n = 0;
    if (kaTraceOption(options, "ODBCTraceMaxNumFiles", &value, &n) != 0)
        return 1;
    KaLockGuard guard(lock);
    closeFile();
    freePath();
    fileNumber = 0;
    openFailed = 0;
    if (value != nullptr) {
        if (textToU64N(value, n, &maxNumFiles) != 0)
            return 1;
        digitCount = n;
    } else {
        maxNumFiles = KA_TRACE_DEFAULT_NUM_FILES;
        digitCount = KA_TRACE_DEFAULT_DIGITS;
    }

    if (kaTraceOption(options, kFlushKey, &value, &n) != 0)
        return 1;
    flushMode = KA_TRACE_FLUSH_NEVER;
    if (value != nullptr) {
        int32_t mode = 0;
        if (textToI32N(value, n, &mode) != 0)
            return 1;
        flushMode = mode;
    }

    if (kaTraceOption(options, "TraceFile", &value, &n) != 0)
        return 1;
    if (value == nullptr) {
        postTraceFileProblem(" No trace file", nullptr);
        return 1;
    }
    // Split the name into directory, file name and extension.
    const char* fileName = value;
    for (size_t i = 0; i < n; ++i)
        if (value[i] == '/')
            fileName = value + i + 1;
    size_t dirLength = size_t(fileName - value);
    const char* dot = nullptr;
    for (const char* c = fileName; c < value + n; ++c)
        if (*c == '.')
            dot = c;
    size_t nameLength = dot != nullptr ? size_t(dot - fileName) : size_t(value + n - fileName);
    const char* ext = dot != nullptr ? dot + 1 : kDefaultExtension;
    size_t extLength = dot != nullptr ? size_t(value + n - ext) : strlen(kDefaultExtension);

    size_t total = dirLength + nameLength + digitCount + 1 + extLength;
    if (digitCount + n > KA_TRACE_PATH_MAX || nameLength + digitCount >= KA_TRACE_NAME_LIMIT ||
        total > KA_TRACE_PATH_MAX) {
        KaError* rec = errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(0)->appendText(" Trace file too long: ");
        char shown[KA_TRACE_PATH_MAX + 1];
        size_t shownLength = n < KA_TRACE_PATH_MAX ? n : KA_TRACE_PATH_MAX;
        memcpy(shown, value, shownLength);
        shown[shownLength] = 0;
        rec->appendText(shown);
        return 1;
    }
    path = static_cast<char*>(ramAlloc(total + 1));
    if (path == nullptr)
        return 1;
    char* out = path;
    memcpy(out, value, dirLength + nameLength);
    out += dirLength + nameLength;
    numberField = out;
    memset(out, '0', digitCount);
    out += digitCount;
    *out++ = '.';
    memcpy(out, ext, extLength);
    out[extLength] = 0;

    if (sizeOption(options, "ODBCTraceMaxFileSize", KA_TRACE_DEFAULT_FILE_SIZE, &maxFileSize) != 0)
        return 1;
    return openNextFile();
}

int KaFileTracing::openNextFile() noexcept
{
    closeFile();
    bytesWritten = 0;
    if (path == nullptr)
        return 1;
    ++fileNumber;
    if (fileNumber > maxNumFiles)
        fileNumber = 1;
    memset(numberField, '0', digitCount);
    uint64_t number = fileNumber;
    for (uint64_t i = digitCount; i > 0 && number != 0; --i, number /= 10)
        numberField[i - 1] = char('0' + number % 10);

    // Traces can hold connection strings: the file is the owner's alone, is
    // never reached through a link, and is emptied through its own
    // descriptor, appending, so that a second writer of the same name cannot
    // write over these records.
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    int error = errno;
    if (fd >= 0) {
        struct stat st;
        bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (!regular) {
            error = EINVAL;
            ::close(fd);
            fd = -1;
        } else {
            if ((st.st_mode & 077) != 0)
                (void)fchmod(fd, 0600);
            if (ftruncate(fd, 0) != 0 || (file = fdopen(fd, "a")) == nullptr) {
                error = errno;
                ::close(fd);
                fd = -1;
            }
        }
    }
    if (fd < 0) {
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(uint64_t(error))->appendText(" ")->appendText(path);
        openFailed = 1;
        return 1;
    }
    openFailed = 0;
    return 0;
}

int KaFileTracing::write(const void* bytes, size_t length)
{
    KaLockGuard guard(lock);
    if (file == nullptr)
        return openFailed;
    // A record is never split; one longer than a file gets a file of its own.
    if (bytesWritten != 0 && maxFileSize != KA_TRACE_NO_LIMIT &&
        (bytesWritten >= maxFileSize || length > maxFileSize - bytesWritten) && openNextFile() != 0)
        return 1;
    if (length == 0)
        return 0;
    bytesWritten += length;
    if (fwrite(bytes, 1, length, file) != length) {
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(uint64_t(errno));
        return 1;
    }
    if (flushMode == KA_TRACE_FLUSH_EACH_RECORD)
        fflush(file);
    return 0;
}

int KaFileTracing::flush()
{
    KaLockGuard guard(lock);
    if (file != nullptr && flushMode == KA_TRACE_FLUSH_ON_REQUEST && fflush(file) != 0) {
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(uint64_t(errno));
        return 1;
    }
    return 0;
}

int KaFileTracing::close()
{
    KaLockGuard guard(lock);
    closeFile();
    freePath();
    openFailed = 0;
    return 0;
}

// --- Memory ring --------------------------------------------------------------

KaMemoryTracing::~KaMemoryTracing()
{
    ramFree(buffer);
}

int KaMemoryTracing::configure(const char* options)
{
    uint64_t bytes = 0;
    KaLockGuard guard(lock);
    if (sizeOption(options, "ODBCTraceMemBuffSize", KA_TRACE_DEFAULT_MEMORY_SIZE, &bytes) != 0)
        return 1;
    if (bytes == 0)
        bytes = 1;
    ramFree(buffer);
    buffer = nullptr;
    size = 0;
    position = 0;
    if (bytes > SIZE_MAX)
        return 1;
    buffer = static_cast<char*>(ramAlloc(size_t(bytes)));
    if (buffer == nullptr)
        return 1;
    size = bytes;
    return 0;
}

int KaMemoryTracing::write(const void* bytes, size_t length)
{
    KaLockGuard guard(lock);
    if (buffer == nullptr)
        return 0;
    const char* from = static_cast<const char*>(bytes);
    if (length > size) {
        from += length - size;
        length = size_t(size);
        position = 0;
    } else if (position + length > size) {
        position = 0;
    }
    memcpy(buffer + position, from, length);
    position += length;
    return 0;
}

int KaMemoryTracing::close()
{
    return 0;
}

int KaMemoryTracing::flush()
{
    return 0;
}

// --- Memory, then files -----------------------------------------------------

KaMemFileTracing::~KaMemFileTracing()
{
    close();
}

int KaMemFileTracing::configure(const char* options)
{
    KaLockGuard guard(lock);
    if ((memory != nullptr || fileWriter != nullptr) && closeLocked() != 0)
        return 1;

    // The file writer flushes whenever it is asked to, so that each spill
    // of the buffer reaches the disk. Only the value's own characters are
    // replaced, whatever its length (also when it is empty).
    const char* value = nullptr;
    size_t n = 0;
    if (kaTraceOption(options, kFlushKey, &value, &n) != 0)
        return 1;
    size_t optionsLength = strlen(options);
    RamPtr<char> owned = ramMake<char>(optionsLength + sizeof kFlushKey + 4);
    if (!owned)
        return 1;
    char* fileOptions = owned.get();
    if (value != nullptr) {
        size_t before = size_t(value - options);
        memcpy(fileOptions, options, before);
        fileOptions[before] = '1';
        memcpy(fileOptions + before + 1, value + n, optionsLength - before - n + 1);
    } else {
        memcpy(fileOptions, options, optionsLength);
        memcpy(fileOptions + optionsLength, ";", 1);
        memcpy(fileOptions + optionsLength + 1, kFlushKey, sizeof kFlushKey - 1);
        memcpy(fileOptions + optionsLength + sizeof kFlushKey, "=1", 3);
    }

    memory = new KaMemoryTracing;
    fileWriter = new KaFileTracing;
    int result = 1;
    if (memory != nullptr && fileWriter != nullptr && memory->configure(options) == 0) {
        // A trace file that cannot be opened has been reported; the memory
        // buffer keeps working as a ring.
        result = fileWriter->configure(fileOptions);
        memoryPosition = &memory->position;
    } else {
        delete memory;
        delete fileWriter;
        memory = nullptr;
        fileWriter = nullptr;
        memoryPosition = nullptr;
    }
    return result;
}

int KaMemFileTracing::write(const void* bytes, size_t length)
{
    KaLockGuard guard(lock);
    if (memory == nullptr || fileWriter == nullptr)
        return 0;
    if (!fileWriter->isOpen())
        return memory->write(bytes, length) | fileWriter->openFailed;
    uint64_t size = memory->size;
    int result = 0;
    if (*memoryPosition + length > size) {
        if (fileWriter->write(memory->buffer, size_t(*memoryPosition)) != 0)
            result = 1;
        fileWriter->flush();
        *memoryPosition = 0;
    }
    const char* from = static_cast<const char*>(bytes);
    while (length > size) {
        if (fileWriter->write(from, size_t(size)) != 0)
            result = 1;
        fileWriter->flush();
        from += size;
        length -= size_t(size);
    }
    return memory->write(from, length) | result;
}

int KaMemFileTracing::closeLocked() noexcept
{
    int result = 0;
    if (memory != nullptr && fileWriter != nullptr) {
        if (*memoryPosition != 0 && fileWriter->isOpen() &&
            fileWriter->write(memory->buffer, size_t(*memoryPosition)) != 0)
            result = 1;
        if (memory->close() != 0 || fileWriter->close() != 0)
            result = 1;
    }
    delete memory;
    delete fileWriter;
    memory = nullptr;
    fileWriter = nullptr;
    memoryPosition = nullptr;
    return result;
}

int KaMemFileTracing::close()
{
    KaLockGuard guard(lock);
    return closeLocked();
}

int KaMemFileTracing::flush()
{
    return 0;
}

// --- Creation -------------------------------------------------------------------

KaTracing* createTracing(const char* options) noexcept
{
    const char* value = nullptr;
    size_t n = 0;
    if (kaTraceOption(options, "ODBCTraceMode", &value, &n) != 0)
        return nullptr;
    if (value == nullptr) {
        errPost(MSG_TRACE_MODE_INVALID);
        return nullptr;
    }
    uint64_t mode = 0;
    if (textToU64N(value, n, &mode) != 0)
        return nullptr;
    switch (mode) {
    case KA_TRACE_MODE_FILE: return new KaFileTracing;
    case KA_TRACE_MODE_MEMORY_FILE: return new KaMemFileTracing;
    case KA_TRACE_MODE_MEMORY: return new KaMemoryTracing;
    default: errPost(MSG_TRACE_MODE_INVALID); return nullptr;
    }
}

KaTracing* kaCreatePacketTracing(const KaPacketLogSettings& settings, int* connectFails) noexcept
{
    *connectFails = 0;
    char modeText[40];
    snprintf(modeText, sizeof modeText, "ODBCTraceMode=%llu", static_cast<unsigned long long>(settings.mode));
    std::unique_ptr<KaTracing> writer(createTracing(modeText));
    if (writer == nullptr) {
        *connectFails = 1;
        return nullptr;
    }
    BosLocalTime now;
    bosGetLocalTime(&now);
    const char* prefix = settings.prefix != nullptr ? settings.prefix : "pkt";
    char options[KA_TRACE_PATH_MAX + 256];
    int n = snprintf(
        options, sizeof options,
        "ODBCTraceMemBuffSize=%llu;ODBCTraceMaxFileSize=%llu;ODBCTraceMaxNumFiles=%llu;"
        "ODBCTraceFlush=%llu;TraceFile=%s%04u%02u%02u%02u%02u%02u%03u_.out",
        static_cast<unsigned long long>(settings.memBuffSize), static_cast<unsigned long long>(settings.maxFileSize),
        static_cast<unsigned long long>(settings.maxNumFiles), static_cast<unsigned long long>(settings.flush), prefix,
        unsigned(now.year), unsigned(now.month), unsigned(now.day), unsigned(now.hour), unsigned(now.minute),
        unsigned(now.second), unsigned(now.millisecond));
    if (n < 0 || size_t(n) >= sizeof options || writer->configure(options) != 0) {
        if (n < 0 || size_t(n) >= sizeof options)
            postTraceFileProblem(" Trace file too long: ", prefix);
        return nullptr;
    }
    return writer.release();
}
