// Replacing a file by a complete new one in a single step, for writers that
// build a new file beside the old one so that a failure never loses it.
// Used by the query files.
#pragma once

// Renames from over to, replacing a file at to atomically (both in one
// file system). Posts MSG_RENAME_FAILED and returns 1 on failure.
[[nodiscard]] int bosReplaceFile(const char* from, const char* to) noexcept;
