// The set of live handle objects: every environment, connection handle,
// statement and descriptor enters it when made and leaves it when destroyed,
// so that the exported entry points can tell a live handle of the right kind
// from a freed or foreign pointer without touching its memory.
#pragma once
#include <cstdint>

enum class BaseHandleKind : uint8_t { none = 0, env = 1, connection = 2, statement = 3, descriptor = 4 };

// Records the object at address as a handle of the kind. False when the set
// could not grow (the object then is refused as a handle).
[[nodiscard]] bool baseHandleAdd(const void* address, BaseHandleKind kind) noexcept;
// Forgets the object at address; nothing when it is not recorded.
void baseHandleRemove(const void* address) noexcept;
// The kind recorded for address, none when it is no live handle.
[[nodiscard]] BaseHandleKind baseHandleKindOf(const void* address) noexcept;
