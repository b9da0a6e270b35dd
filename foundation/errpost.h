// The err* operations with which every part of the driver posts a
// diagnostic by message number into the calling thread's current error list,
// the loading of catalogue texts, and the message box.
#pragma once
#include <cstddef>
#include <cstdint>

class KaError;

// Size of the catalogue text buffers, in units or bytes; longer texts are cut.
constexpr size_t KA_MESSAGE_TEXT_SIZE = 1024;

// Each returns the new record, so that parameters can be chained; with no
// current list (or no memory) the process-wide parameter sink is returned.
KaError* errPost(uint16_t number) noexcept;
KaError* errPostWarning(uint16_t number) noexcept;
KaError* errPostText(uint16_t number, const uint16_t* text) noexcept;
KaError* errPostTextA(uint16_t number, const char* text) noexcept;
// Appends the catalogue text to the last record (or the record at index) and
// restarts its parameter numbering, so that following parameters fill the
// placeholders of the appended text.
KaError* errAppendMessage(uint16_t number) noexcept;
KaError* errAppendMessageAt(uint16_t number, size_t index) noexcept;

// Catalogue text of the number into buffer (capacity in units or bytes,
// terminator included); the text is cut to fit. Without a catalogue the
// text is the number in decimal. Returns the length of the text stored.
size_t errLoadMessageW(uint16_t* buffer, size_t units, uint16_t number) noexcept;
size_t errLoadMessage(char* buffer, size_t size, uint16_t number) noexcept;

// Where catalogue texts come from. The foundation reads no catalogue itself:
// the operating-system layer, which opens it, installs its readers here.
// Each stores the text of number, cut to fit and terminated, and returns its
// length. With no source installed a text is the number in decimal, as with
// a missing catalogue.
struct KaMessageSource {
    int64_t (*load)(uint32_t number, char* buffer, size_t size) noexcept;
    int64_t (*loadW)(uint32_t number, uint16_t* buffer, size_t units) noexcept;
};
// The source must outlive every later post; null restores the default.
void errSetMessageSource(const KaMessageSource* source) noexcept;

// The system's message box: the text (and caption) on standard output.
int errShowMessage(const char* text, const char* caption, int flag) noexcept;
int16_t errMessageBox(const char* text, const char* caption, int16_t flag) noexcept;
