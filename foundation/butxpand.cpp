// Accelerator markers of dialog labels.
#include "foundation/butxpand.h"

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "kamessages.h"

namespace {

char lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool used(const uint8_t* set, char c)
{
    auto u = uint8_t(lowered(c));
    return (set[u / 8] & (1u << (u % 8))) != 0;
}

// Appends text to out (length *n, capacity size incl. terminator), cut to fit.
void appendBounded(char* out, size_t size, size_t* n, const char* text, size_t length)
{
    size_t room = size - 1 - *n;
    if (length > room)
        length = room;
    memcpy(out + *n, text, length);
    *n += length;
    out[*n] = 0;
}

}  // namespace

void butAcceleratorMarkers(char out[BUT_MARKERS_SIZE]) noexcept
{
    size_t n = errLoadMessage(out, BUT_MARKERS_SIZE, MSG_ACCELERATOR_MARKERS);
    // Without a catalogue the text is the message's number: no markers then.
    char number[16];
    snprintf(number, sizeof number, "%u", unsigned(MSG_ACCELERATOR_MARKERS));
    if (n == 0 || strcmp(out, number) == 0)
        out[0] = 0;
}

const char* butFindAccelerator(const char* label) noexcept
{
    if (label == nullptr)
        return nullptr;
    char markers[BUT_MARKERS_SIZE];
    butAcceleratorMarkers(markers);
    // Markers are ASCII, which never occurs inside a multibyte character.
    for (const char* m = markers; *m != 0; ++m) {
        const char* found = strchr(label, *m);
        if (found != nullptr)
            return found;
    }
    return nullptr;
}

void butMarkAccelerator(uint8_t set[BUT_ACCELERATOR_SET_SIZE], const char* label) noexcept
{
    const char* marker = butFindAccelerator(label);
    if (marker == nullptr || marker[1] == 0)
        return;
    auto u = uint8_t(lowered(marker[1]));
    set[u / 8] = uint8_t(set[u / 8] | (1u << (u % 8)));
}

void butAssignAccelerator(uint8_t set[BUT_ACCELERATOR_SET_SIZE], char* label, size_t labelSize, const char* arg1,
                          const char* arg2, const char* arg3, const char* arg4) noexcept
{
    if (label == nullptr || labelSize == 0)
        return;
    size_t size = labelSize < BUT_LABEL_SIZE ? labelSize : BUT_LABEL_SIZE;
    char text[BUT_LABEL_SIZE];
    size_t n = 0;
    text[0] = 0;
    const char* args[] = {arg1, arg2, arg3, arg4};
    size_t next = 0;
    for (const char* p = label; *p != 0;) {
        if (arg1 != nullptr && p[0] == '%' && p[1] == 's') {
            const char* arg = next < 4 && args[next] != nullptr ? args[next] : "";
            ++next;
            appendBounded(text, size, &n, arg, strlen(arg));
            p += 2;
        } else {
            appendBounded(text, size, &n, p, 1);
            ++p;
        }
    }
    char markers[BUT_MARKERS_SIZE];
    butAcceleratorMarkers(markers);
    if (markers[0] != 0 && size >= 3 && butFindAccelerator(text) == nullptr) {
        size_t at = 0;
        for (size_t i = 0; i < n; ++i) {
            char c = text[i];
            if (c != ' ' && c != '\t' && !used(set, c)) {
                at = i;
                break;
            }
        }
        if (n + 1 > size - 1)
            n = size - 2;  // room for the marker: the label's end is cut
        if (at > n)
            at = n;
        memmove(text + at + 1, text + at, n - at);
        text[at] = markers[0];
        text[n + 1] = 0;
    }
    memcpy(label, text, strlen(text) + 1);
    butMarkAccelerator(set, label);
}
