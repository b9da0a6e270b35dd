// The ini readers over arbitrary file text: the in-memory image readers
// (sections, keys, values and key lists), the line reader, the file readers
// of the cache on a private entry, and the file-by-line reader with a buffer
// size the first byte picks. The file is an anonymous memory file, reached
// by its descriptor's name, so that no path is guessed or left behind.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzzfixture.h"
#include "platform/kafilebyline.h"
#include "platform/kaini.h"
#include "platform/kainiimage.h"

namespace {

const char* const kSections[] = {"ODBC", "a", "Data Source", "", "[x]"};
const char* const kKeys[] = {"Driver", "k", "Trace", "", nullptr};
const uint16_t kSectionW[] = {'O', 'D', 'B', 'C', 0};
const uint16_t kKeyW[] = {'D', 'r', 'i', 'v', 'e', 'r', 0};
const uint16_t kDefaultW[] = {'d', 0};

void images(const std::vector<char>& image, int32_t room) noexcept
{
    const char* text = image.data();
    const int64_t length = int64_t(image.size());  // the bytes and their 0
    std::vector<char> out(static_cast<size_t>(room));
    for (const char* section : kSections) {
        for (const char* key : kKeys) {
            int32_t n = getProfileStringFromImage(text, length, section, key, "dflt", out.data(), room);
            kafuzz::check(n >= 0 && n <= room, "image reader reports more than its room");
        }
        char header[64];
        std::snprintf(header, sizeof header, "[%s]", section);
        const char* start = nullptr;
        const char* next = nullptr;
        if (findSectionInImage(text, length, header, &start, &next) == 1) {
            kafuzz::check(start >= text && next >= start && next <= text + length, "section outside the image");
            const char* line = start;
            const char* valueStart = nullptr;
            const char* valueEnd = nullptr;
            if (findKeyInImage(text, "k", &line, next, &valueStart, &valueEnd) == 1)
                kafuzz::check(valueStart <= valueEnd && valueEnd <= next, "value outside its section");
        }
    }
}

void lines(const std::vector<char>& image, int64_t capacity) noexcept
{
    std::vector<char> out(static_cast<size_t>(capacity));
    int64_t position = 0;
    const int64_t end = int64_t(image.size()) - 1;
    for (size_t steps = 0; steps <= image.size(); ++steps) {
        int64_t length = 0;
        const int64_t before = position;
        bosIniReadLine(image.data(), &position, out.data(), capacity, &length);
        if (length == -1)
            break;
        kafuzz::check(position > before && position <= end, "line reader does not move on inside the text");
    }
}

void files(const char* path, int32_t room, uint64_t lineBuffer) noexcept
{
    std::vector<char> out(static_cast<size_t>(room));
    for (const char* section : kSections) {
        (void)bosGetProfileStringFile(section, "Driver", "dflt", out.data(), room, path);
        (void)bosGetProfileIntFile(section, "k", 7, path);
    }
    KaIniFileCache entry;
    if (KaIniOpen(&entry, path, kIniOpenRead) == 0) {
        (void)entry.getProfileString(nullptr, nullptr, "", out.data(), room, 1);
        (void)entry.getProfileString("ODBC", nullptr, "", out.data(), room, 1);
        (void)entry.getProfileSection("a", out.data(), room);
        (void)entry.getProfileInt("a", "k", -1);
        std::vector<uint16_t> wide(static_cast<size_t>(room));
        (void)entry.getProfileStringW(kSectionW, kKeyW, kDefaultW, wide.data(), room);
    }
    KaFileByLine reader;
    if (reader.open(path, lineBuffer) != 0)
        return;
    KaSubString line;
    for (int steps = 0; steps < 4096; ++steps) {
        if (reader.readLine(&line) != 0 || line.len == 0)
            break;
        if (steps % 7 == 3)
            reader.resetBuffer();
    }
    (void)reader.readNonBlankLine(&line);
    (void)reader.close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    kafuzz::DiagnosticScope diagnostics;
    const uint8_t options = data[0];
    std::vector<char> image(data + 1, data + size);
    image.push_back(0);
    const int32_t room = int32_t(options % 64) + 1;
    images(image, room);
    lines(image, room);

    const int fd = memfd_create("fuzz_ini", 0);
    if (fd < 0)
        return 0;
    if (write(fd, data + 1, size - 1) == ssize_t(size - 1)) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        files(path, room, uint64_t(options >> 2));
    }
    close(fd);
    return 0;
}
