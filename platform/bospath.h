// Paths and directories of the operating-system layer: full names from a
// directory, a name and a default extension, splitting a name, home-relative
// and absolute names, the working directory, and the enumerations of
// subdirectories, mounted file systems and files matching a pattern. The
// resolution of the configuration-file names that bosfopen opens lives here
// as well. Buffers are BOS_PATH_SIZE bytes unless a comment says otherwise.
#pragma once
#include <cstddef>
#include <cstdint>

// bosSplitPath: name part at most 128 characters, extension at most 3.
constexpr size_t BOS_SPLIT_NAME_MAX = 128;
constexpr size_t BOS_SPLIT_EXT_MAX = 3;

// out: BOS_PATH_SIZE bytes; 1 when the result does not fit (out empty).
[[nodiscard]] int bospath(char* out, const char* dir, const char* name, const char* defaultExt);
// out: BOS_PATH_SIZE units.
[[nodiscard]] int bospathW(uint16_t* out, const uint16_t* dir, const uint16_t* name, const uint16_t* defaultExt);
// path (in/out) is cut to its directory; name: BOS_SPLIT_NAME_MAX + 1 bytes,
// ext: BOS_SPLIT_EXT_MAX + 1 bytes.
[[nodiscard]] int bosSplitPath(char* path, char* name, char* ext, int report);
[[nodiscard]] int bosSplitPathW(uint16_t* path, uint16_t* name, uint16_t* ext, int report);
void bosStripCwd(char* path);
// name: 1 when the result does not fit (name unchanged).
[[nodiscard]] int bosHomePath(char* name);
// Left unchanged (result 1) when the absolute form does not fit or the
// current directory cannot be read.
[[nodiscard]] int bosMakeAbsolutePath(char* path);
// Empty when the directory cannot be read; slash: end it with "/".
void bosGetCwd(char* buffer, int slash);
[[nodiscard]] int bosChdir(const char* path);

// Enumerations: *cursor null on the first call; at the end the cursor is
// freed and set to null and name is empty.
[[nodiscard]] int bosNextSubdir(void** cursor, char* name);
[[nodiscard]] int bosNextMount(void** cursor, char* name);
// First call: name holds the pattern (shell wildcards); every call returns
// the next matching file name (without its directory) in name.
[[nodiscard]] int bosFindFiles(void** cursor, char* name);
