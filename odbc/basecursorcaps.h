// The capability word of a cursor type (BaseConnection::keysetCursorOps and
// its siblings, filled when the connection completes): a bit in the low
// bytes says the driver does the operation itself, the same bit 16 places
// higher that the framework emulates it.
#pragma once
#include <cstdint>

// Operations on the rowset and the lock types, as the driver offers them.
constexpr uint64_t kBaseCapUpdate = 0x1;
constexpr uint64_t kBaseCapDelete = 0x2;
constexpr uint64_t kBaseCapRefresh = 0x4;
constexpr uint64_t kBaseCapPosition = 0x8;
constexpr uint64_t kBaseCapAdd = 0x10;
constexpr uint64_t kBaseCapLockNoChange = 0x20;
constexpr uint64_t kBaseCapBookmarks = 0x40;
constexpr uint64_t kBaseCapLockExclusive = 0x80;
constexpr uint64_t kBaseCapLockUnlock = 0x100;
// The work's cursor row count is reported.
constexpr uint64_t kBaseCapCursorRowCount = 0x200;

// How far an emulated bit lies above the driver's.
constexpr int kBaseCapEmulatedShift = 16;
constexpr uint64_t kBaseCapEmulatedUpdate = kBaseCapUpdate << kBaseCapEmulatedShift;
constexpr uint64_t kBaseCapEmulatedDelete = kBaseCapDelete << kBaseCapEmulatedShift;
constexpr uint64_t kBaseCapEmulatedRefresh = kBaseCapRefresh << kBaseCapEmulatedShift;
constexpr uint64_t kBaseCapEmulatedPosition = kBaseCapPosition << kBaseCapEmulatedShift;
constexpr uint64_t kBaseCapEmulatedAdd = kBaseCapAdd << kBaseCapEmulatedShift;
constexpr uint64_t kBaseCapEmulatedLockNoChange = kBaseCapLockNoChange << kBaseCapEmulatedShift;
// Bookmarks that are row numbers.
constexpr uint64_t kBaseCapEmulatedBookmarks = kBaseCapBookmarks << kBaseCapEmulatedShift;
// In the static cursor's word: the framework keeps the rows itself (a
// static cursor over a forward-only driver result), which widens the static
// cursor's attributes.
constexpr uint64_t kBaseCapStaticEmulated = 0x800000;
