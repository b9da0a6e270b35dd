// The transport base and its socket data trace.
#include "transport/kasock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/bosfile.h"

namespace {

// Bytes of one dump line: 16 hex fields of 3, two tabs, 16 + 16 characters
// and the newline.
constexpr size_t kDumpBytesPerLine = 16;
constexpr size_t kDumpLineSize = kDumpBytesPerLine * 3 + 1 + kDumpBytesPerLine + 1 + kDumpBytesPerLine + 2;
constexpr size_t kTraceMessageSize = 128;
// Numbers tried for the trace file before giving up.
constexpr int kTraceFileTries = 100000;

const char* const kTraceFormats[] = {
    "Sending %lld bytes\n",
    "Reading %lld bytes (requested %lld)\n",
    "Changed SO_RCVBUF from %lld to %lld\n",
    "Failed to change SO_RCVBUF from %lld to %lld\n",
    "SO_RCVBUF is %lld\n",
    "Changed SO_SNDBUF from %lld to %lld\n",
    "Failed to change SO_SNDBUF from %lld to %lld\n",
    "SO_SNDBUF is %lld\n",
    "%lld desired, SO_RCVBUF is %lld, \n",
    "%lld desired. SO_SNDBUF is %lld\n",
};

// The EBCDIC code points that have a printable character, by row of 16.
char ebcdicOf(uint8_t b) noexcept
{
    static const char* const special[] = {
        "\x40 ", "\x4c<", "\x4d(", "\x4e+", "\x4f|", "\x50&",  "\x5a!", "\x5b$", "\x5c*",
        "\x5d)", "\x5e;", "\x60-", "\x61/", "\x6b,", "\x6c%",  "\x6d_", "\x6e>", "\x6f?",
        "\x7a:", "\x7b#", "\x7c@", "\x7d'", "\x7e=", "\x7f\"", "\xb9`",
    };
    for (const char* pair : special) {
        if (uint8_t(pair[0]) == b)
            return pair[1];
    }
    struct Run {
        uint8_t first, last;
        char base;
    };
    static const Run runs[] = {
        {0x81, 0x89, 'a'}, {0x91, 0x99, 'j'}, {0xA2, 0xA9, 's'}, {0xC1, 0xC9, 'A'},
        {0xD1, 0xD9, 'J'}, {0xE2, 0xE9, 'S'}, {0xF0, 0xF9, '0'},
    };
    for (const Run& r : runs) {
        if (b >= r.first && b <= r.last)
            return char(r.base + (b - r.first));
    }
    return '.';
}

void writeAll(int fd, const char* text, size_t length) noexcept
{
    // The trace is best effort: a failing write must not turn the traced
    // call into a failure or leave a diagnostic on it.
    while (length > 0) {
        ssize_t n = ::write(fd, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        length -= size_t(n);
    }
}

}  // namespace

char ebcdicToAscii(uint8_t byte) noexcept
{
    return ebcdicOf(byte);
}

int32_t kaSockOpenTraceFile() noexcept
{
    char name[32];
    for (int n = 0; n < kTraceFileTries; ++n) {
        snprintf(name, sizeof name, "%d.out", n);
        int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return 0;
        }
        if (fd == 0) {
            // Descriptor 0 means "no file" to the transport.
            int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            ::close(fd);
            return moved > 0 ? moved : 0;
        }
        return fd;
    }
    return 0;
}

KaSock::KaSock(KaSock& source, int takeOver) noexcept
    : traceFile(source.traceFile), traceMode(source.traceMode), traceSink(source.traceSink),
      dumpOptions(source.dumpOptions), timeout(source.timeout), postErrors(source.postErrors),
      connected(source.connected), kind(source.kind)
{
    if (takeOver)
        source.traceFile = 0;
    else if (traceFile > 0) {
        // Both objects close their descriptor: the copy gets its own.
        int copy = fcntl(traceFile, F_DUPFD_CLOEXEC, 3);
        traceFile = copy > 0 ? copy : 0;
    }
}

KaSock::~KaSock()
{
    bosfclose(traceFile);
}

void KaSock::setTraceMode(uint16_t mode) noexcept
{
    traceMode = mode;
    if (mode != 0 && traceSink == nullptr) {
        if (traceFile == 0)
            traceFile = kaSockOpenTraceFile();
        return;
    }
    bosfclose(traceFile);
    traceFile = 0;
}

void KaSock::writeTrace(const char* text, size_t length) noexcept
{
    if (traceSink != nullptr)
        traceSink->write(text, length);
    else if (traceFile > 0)
        writeAll(traceFile, text, length);
}

void KaSock::traceData(const void* data, size_t length, int type, int64_t value) noexcept
{
    if (type < KA_TRACE_SENDING || type > KA_TRACE_SNDBUF_DESIRED)
        return;
    char line[kTraceMessageSize];
    int n =
        snprintf(line, sizeof line, kTraceFormats[type], static_cast<long long>(length), static_cast<long long>(value));
    writeTrace(line, size_t(n));
    if ((traceMode & KA_TRACE_MESSAGES_ONLY) || type > KA_TRACE_READING) {
        if (type == KA_TRACE_SNDBUF_CHANGED || type == KA_TRACE_SNDBUF_IS || type == KA_TRACE_SNDBUF_DESIRED) {
            char header[80];
            int h = snprintf(header, sizeof header, "%-48s\t%-16s\tEBCDIC\n\n", "HEX", "ASCII");
            writeTrace(header, size_t(h));
        }
        return;
    }
    if ((type == KA_TRACE_READING && (dumpOptions & KA_TRACE_NO_RECEIVE_DUMP)) ||
        (type == KA_TRACE_SENDING && (dumpOptions & KA_TRACE_NO_SEND_DUMP)))
        return;
    static const char kHex[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t start = 0; start < length; start += kDumpBytesPerLine) {
        char out[kDumpLineSize];
        size_t pos = 0;
        size_t count = length - start < kDumpBytesPerLine ? length - start : kDumpBytesPerLine;
        for (size_t i = 0; i < kDumpBytesPerLine; ++i) {
            if (i < count) {
                out[pos++] = kHex[bytes[start + i] >> 4];
                out[pos++] = kHex[bytes[start + i] & 0xF];
            } else {
                out[pos++] = ' ';
                out[pos++] = ' ';
            }
            out[pos++] = ' ';
        }
        out[pos++] = '\t';
        for (size_t i = 0; i < kDumpBytesPerLine; ++i) {
            uint8_t b = i < count ? bytes[start + i] : 0;
            // DEL is a control character too: shown as '.'.
            out[pos++] = i >= count ? ' ' : (b >= 0x20 && b < 0x7F) ? char(b) : '.';
        }
        out[pos++] = '\t';
        for (size_t i = 0; i < kDumpBytesPerLine; ++i)
            out[pos++] = i < count ? ebcdicOf(bytes[start + i]) : ' ';
        out[pos++] = '\n';
        writeTrace(out, pos);
    }
    writeTrace("\n", 1);
    if (traceSink != nullptr)
        traceSink->flush();
}
