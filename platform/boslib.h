// Library search and loading through the operating-system layer: the search
// for a file along the directories the bits name, the loading of shared
// libraries with the driver's version suffix, and the install directory the
// search and the message catalogue start from. Used by the environment and
// the entry points (the install directory) and by whatever loads a shared
// library.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t BOS_INSTALL_DIR_SIZE = 1025;

// Search bits of LocateFile, in the order the search list is built.
enum : uint32_t {
    BOS_SEARCH_PATH = 0x1,     // $PATH
    BOS_SEARCH_HOME = 0x2,     // $HOME
    BOS_SEARCH_KA = 0x4,       // $KA, $KALIB
    BOS_SEARCH_LIBPATH = 0x8,  // $LD_LIBRARY_PATH_64, $LD_RUN_PATH, /usr/local/lib; also "../"
    BOS_SEARCH_CWD = 0x10,
    BOS_SEARCH_INSTALL = 0x20,  // install directory and its "lib"
};

// Empty until first needed; without a trailing "/".
extern char bosInstallDir[BOS_INSTALL_DIR_SIZE];

// pathOut: BOS_PATH_SIZE bytes or null. 0 when found, 1 when not (posts nothing).
[[nodiscard]] int LocateFile(char* pathOut, const char* name, uint32_t searchBits);
// Library handle or null.
[[nodiscard]] void* LoadLibrary(const char* name, int32_t versionFlag, int32_t loaderFlags);
[[nodiscard]] void* LoadLibraryW(const uint16_t* name, int32_t versionFlag);
// Appends the driver's version suffix "28"; 1 when it does not fit.
[[nodiscard]] int bosAppendVersionSuffix(char* name, size_t size);
// dir null: $TW_INSTALLDIR, else InstallDir of [ODBC] in odbc.ini, then in
// odbcinst.ini. Returns 1 when the install directory stays empty; callers
// that go on without one may ignore that.
int bosInitInstallDir(const char* dir);
// Copies the install directory into out (size bytes) under its lock.
void bosGetInstallDir(char* out, size_t size);
