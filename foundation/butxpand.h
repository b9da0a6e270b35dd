// Accelerator characters of dialog labels: the marker characters come from
// the message catalogue; each label gets a marker before a character that
// no other label of the same dialog uses yet. Used by a dialog back end.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t BUT_ACCELERATOR_SET_SIZE = 32;  // 256 bits
constexpr size_t BUT_MARKERS_SIZE = 88;
constexpr size_t BUT_LABEL_SIZE = 264;  // a label after formatting, terminator included

// The marker characters, or an empty text when the catalogue has none.
void butAcceleratorMarkers(char out[BUT_MARKERS_SIZE]) noexcept;
// The first occurrence in label of the first marker character found in it.
const char* butFindAccelerator(const char* label) noexcept;
// Records the character after the label's marker as used.
void butMarkAccelerator(uint8_t set[BUT_ACCELERATOR_SET_SIZE], const char* label) noexcept;
// label (labelSize bytes) is a template whose "%s" take the arguments in
// turn (arg1 null: the label as it stands); the result is cut to
// BUT_LABEL_SIZE - 1 and to labelSize. Unless it holds a marker already, the
// first marker is inserted before its first unused non-blank character.
void butAssignAccelerator(uint8_t set[BUT_ACCELERATOR_SET_SIZE], char* label, size_t labelSize,
                          const char* arg1 = nullptr, const char* arg2 = nullptr, const char* arg3 = nullptr,
                          const char* arg4 = nullptr) noexcept;
