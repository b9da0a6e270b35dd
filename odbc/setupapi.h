// Data-source setup and the connect dialog. The ODBC installer's requests
// (ConfigDSN, ConfigFileDSN) go to a separate setup library of the driver's
// family, loaded by name at run time with the driver's pooling settings;
// the setup library may write the data source back with setupWriteDsn.
// Prompting during connect goes to a dialog library the same way. Neither
// library is part of the driver; this file fixes how they are found and
// called and the records they are handed.
#pragma once
#include <odbcinst.h>

#include <cstddef>
#include <cstdint>

constexpr size_t SETUP_TEXT_SIZE = 1024;
constexpr size_t SETUP_KEY_SIZE = 512;
constexpr size_t SETUP_VALUE_SIZE = 1024;
constexpr size_t SETUP_POOL_VALUE_SIZE = 256;

// Handed to the setup library; a fixed layout of 5128 bytes, texts
// NUL-terminated.
struct SetupRequest {
    char driverDescription[SETUP_TEXT_SIZE];  // also the section of odbcinst.ini
    char oldDsn[SETUP_TEXT_SIZE];             // empty at creation
    uint16_t request;                         // the installer's ODBC_ADD_DSN, ODBC_CONFIG_DSN, ...
    char newDsn[SETUP_TEXT_SIZE];             // empty at creation
    char driverPath[SETUP_TEXT_SIZE];         // "Driver" of the description's section
    char fileDsn[SETUP_TEXT_SIZE];
    int32_t isFileDsn;
};
static_assert(sizeof(SetupRequest) == 5128);
static_assert(offsetof(SetupRequest, request) == 2048);
static_assert(offsetof(SetupRequest, newDsn) == 2050);
static_assert(offsetof(SetupRequest, isFileDsn) == 5124);

// One key=value pair of the attribute list, in order of appearance.
struct SetupAttribute {
    char key[SETUP_KEY_SIZE];
    char value[SETUP_VALUE_SIZE];
    SetupAttribute* next;
};
static_assert(sizeof(SetupAttribute) == 1544);

// The setup library's entry point "invokeBackend": 0 on success.
using SetupBackendFn = int (*)(HWND window, SetupRequest* request, SetupAttribute* attributes);
// The dialog library's entry point "hive_connect_dialog_back" with the
// prompt's seven arguments, handed through unchanged: 0 on success.
using ConnectDialogFn = int (*)(void*, void*, void*, void*, void*, void*, void*);

extern "C" {

BOOL ConfigFileDSN(HWND window, WORD request, LPCSTR driver, LPCSTR attributes, LPCSTR fileDsn);

}  // extern "C"

// The whole installer request: TRUE (1) or FALSE (0); every diagnostic
// reaches the installer through SQLPostInstallerError.
int loadSetupLibrary(HWND window, WORD request, const char* driver, const char* attributes, int isFileDsn,
                     const char* fileDsn) noexcept;
// A new record (freed with ramFree), or null when memory runs out.
SetupRequest* setupNewRequest(const char* driver, WORD request, int isFileDsn, const char* fileDsn) noexcept;
// Pairs separated by NUL and ended by an empty one; a pair without "=" ends
// the list. Keys and values longer than their fields are cut. *list null
// when there are none. 1 when memory runs out (the list is freed).
[[nodiscard]] int setupParseAttributes(const char* attributes, SetupAttribute** list) noexcept;
const char* setupFindAttribute(const SetupAttribute* list, const char* key) noexcept;
void setupAppendAttribute(SetupAttribute** list, SetupAttribute* node) noexcept;
void setupFreeAttributes(SetupAttribute* list) noexcept;
// Loads the setup library (the driver's base name without a final "s",
// then "r") once and calls it with the request and the attributes, to
// which the pooling keys of the driver's section are appended. 0 or 1.
[[nodiscard]] int setupInvokeBackend(HWND window, SetupRequest* request, SetupAttribute** attributes,
                                     const char* driverBaseName) noexcept;
// Writes the data source the request names through the installer: TRUE when
// the last write succeeded, FALSE when one failed; TRUE without writing for
// requests other than adding or configuring.
int setupWriteDsn(const SetupAttribute* attributes, const SetupRequest* request) noexcept;

// Whether a dialog library can be loaded: without one the driver's prompt
// modes behave as SQL_DRIVER_NOPROMPT.
bool connectDialogAvailable() noexcept;
// 0 when the dialog returned 0, else -1 (failures reported on stderr).
int runConnectDialog(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6, void* a7) noexcept;
