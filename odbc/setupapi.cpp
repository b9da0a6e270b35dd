// Data-source setup through the setup library, the data-source writer, and
// the connect dialog through the dialog library.
#include "odbc/setupapi.h"

#include <dlfcn.h>
#include <sql.h>

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kadrivername.h"
#include "kamessages.h"
#include "odbc/baseenv.h"
#include "platform/bos.h"
#include "platform/boscatalog.h"
#include "platform/boslib.h"
#include "platform/callmapper.h"

namespace {

// --- The installer library, bound at run time --------------------------------
// Looked up rather than linked: a driver manager without it must still load
// the driver.

enum : uint32_t {
    INST_POST_ERROR,
    INST_WRITE_FILE_DSN,
    INST_REMOVE_DSN,
    INST_WRITE_PROFILE,
    INST_GET_PROFILE,
    INST_COUNT
};
const CallMapperSymbol kInstallerSymbols[] = {
    {"SQLPostInstallerError", INST_POST_ERROR, 0},       {"SQLWriteFileDSN", INST_WRITE_FILE_DSN, 0},
    {"SQLRemoveDSNFromIni", INST_REMOVE_DSN, 0},         {"SQLWritePrivateProfileString", INST_WRITE_PROFILE, 0},
    {"SQLGetPrivateProfileString", INST_GET_PROFILE, 0},
};
const CallMapperTable kInstallerTable = {kInstallerSymbols, INST_COUNT, 0};
constexpr char kInstallerLibrary[] = "libodbcinst.so.2";

constexpr char kOdbcIni[] = "odbc.ini";
constexpr char kOdbcInstIni[] = "odbcinst.ini";
constexpr char kFileDsnSection[] = "ODBC";
constexpr char kDataSourcesSection[] = "ODBC Data Sources";
constexpr char kBackendEntry[] = "invokeBackend";
constexpr char kDialogLibrary[] = "libVYmbackw.so";
constexpr char kDialogEntry[] = "hive_connect_dialog_back";
constexpr char kCatalogueMissing[] = "Failed to load driver's message file.";
constexpr DWORD kCatalogueMissingCode = 100;

// The pooling settings of the driver's section handed to the setup library,
// in this order.
const char* const kPoolingKeys[] = {
    "Pooling",
    "ConnectionReset",
    "MaxPoolSize",
    "MinPoolSize",
    "MaxNumConnPools",
    "LoadBalanceTimeout",
    "MaintenaceThreadTimePeriod",
};

// Guards the process-wide handles below; each library is loaded and
// resolved once and kept.
KaCriticalSection setupLock(0, kKaLockPlain);
UtlLibCallMapper* installer = nullptr;
void* setupLibrary = nullptr;
SetupBackendFn setupBackend = nullptr;
void* dialogLibrary = nullptr;
ConnectDialogFn dialogEntry = nullptr;
int32_t setupCatalogueUsers = 0;

UtlLibCallMapper* installerBinding() noexcept
{
    KaLockGuard guard(setupLock);
    if (installer == nullptr) {
        auto* binder = new UtlLibCallMapper(kInstallerLibrary, &kInstallerTable);
        if (binder == nullptr)
            return nullptr;
        if (binder->attach() != 0) {
            delete binder;
            return nullptr;
        }
        installer = binder;
    }
    return installer;
}

template <typename Fn>
Fn installerEntry(uint32_t index) noexcept
{
    UtlLibCallMapper* binder = installerBinding();
    return binder != nullptr ? reinterpret_cast<Fn>(binder->entryPoint(index)) : nullptr;
}

void postInstallerError(DWORD code, const char* text) noexcept
{
    auto post = installerEntry<decltype(&SQLPostInstallerError)>(INST_POST_ERROR);
    if (post == nullptr)
        return;
    // The installer keeps only its own error codes.
    if (code < ODBC_ERROR_GENERAL_ERR || code > ODBC_ERROR_OUTPUT_STRING_TRUNCATED)
        code = ODBC_ERROR_REQUEST_FAILED;
    post(code, text);
}

int32_t readInstallerProfile(const char* section, const char* key, char* out, int32_t size, const char* file) noexcept
{
    out[0] = 0;
    auto get = installerEntry<decltype(&SQLGetPrivateProfileString)>(INST_GET_PROFILE);
    return get != nullptr ? get(section, key, "", out, size, file) : 0;
}

void copyBounded(char* out, size_t size, const char* text) noexcept
{
    size_t n = text != nullptr ? strlen(text) : 0;
    if (n >= size)
        n = size - 1;
    if (n > 0)
        memcpy(out, text, n);
    out[n] = 0;
}

// The catalogue text of number with "%s1" and "%s2" filled, for messages
// that go to standard error rather than to a diagnostics list.
void catalogueText(char* out, size_t size, uint16_t number, const char* s1, const char* s2) noexcept
{
    char format[KA_MESSAGE_TEXT_SIZE];
    errLoadMessage(format, sizeof format, number);
    size_t n = 0;
    out[0] = 0;
    for (const char* p = format; *p != 0 && n + 1 < size;) {
        const char* arg = nullptr;
        if (p[0] == '%' && p[1] == 's' && (p[2] == '1' || p[2] == '2'))
            arg = p[2] == '1' ? s1 : s2;
        if (arg != nullptr) {
            for (const char* a = arg; *a != 0 && n + 1 < size; ++a)
                out[n++] = *a;
            p += 3;
        } else {
            out[n++] = *p++;
        }
    }
    out[n] = 0;
}

bool catalogueOpen() noexcept
{
    // The file itself: without it the texts still come from the library.
    return bosCatalogueFileOpen();
}

SetupAttribute* newAttribute(const char* key, size_t keyLength, const char* value, size_t valueLength) noexcept
{
    auto* node = static_cast<SetupAttribute*>(ramAlloc(sizeof(SetupAttribute)));
    if (node == nullptr)
        return nullptr;
    if (keyLength >= SETUP_KEY_SIZE)
        keyLength = SETUP_KEY_SIZE - 1;
    if (valueLength >= SETUP_VALUE_SIZE)
        valueLength = SETUP_VALUE_SIZE - 1;
    memcpy(node->key, key, keyLength);
    node->key[keyLength] = 0;
    memcpy(node->value, value, valueLength);
    node->value[valueLength] = 0;
    node->next = nullptr;
    return node;
}

// Loads the dialog library once; false (after reporting on standard error
// when report is set) when it cannot be had.
bool loadDialog(bool report) noexcept
{
    if (dialogEntry != nullptr)
        return true;
    if (dialogLibrary == nullptr) {
        dialogLibrary = LoadLibrary(kDialogLibrary, 0, RTLD_NOW);
        if (dialogLibrary == nullptr) {
            if (report) {
                char loader[KA_MESSAGE_TEXT_SIZE];
                bosLoaderError(loader, sizeof loader);
                char text[KA_MESSAGE_TEXT_SIZE];
                catalogueText(text, sizeof text, MSG_SETUP_LIBRARY_LOAD_FAILED, kDialogLibrary,
                              loader[0] != 0 ? loader : "not found");
                fprintf(stderr, "%s\n", text);
            }
            return false;
        }
    }
    dialogEntry = reinterpret_cast<ConnectDialogFn>(bosGetProcAddress(dialogLibrary, kDialogEntry));
    if (dialogEntry == nullptr) {
        if (report) {
            char text[KA_MESSAGE_TEXT_SIZE];
            catalogueText(text, sizeof text, MSG_SETUP_ENTRY_MISSING, kDialogEntry, nullptr);
            fprintf(stderr, "%s\n", text);
        }
        return false;
    }
    return true;
}

}  // namespace

SetupRequest* setupNewRequest(const char* driver, WORD request, int isFileDsn, const char* fileDsn) noexcept
{
    auto* record = static_cast<SetupRequest*>(ramAlloc(sizeof(SetupRequest)));
    if (record == nullptr)
        return nullptr;
    memset(record, 0, sizeof *record);
    copyBounded(record->driverDescription, sizeof record->driverDescription, driver);
    record->request = request;
    record->isFileDsn = isFileDsn ? 1 : 0;
    if (isFileDsn)
        copyBounded(record->fileDsn, sizeof record->fileDsn, fileDsn);
    if (record->driverDescription[0] != 0)
        readInstallerProfile(record->driverDescription, "Driver", record->driverPath,
                             int32_t(sizeof record->driverPath), kOdbcInstIni);
    return record;
}

int setupParseAttributes(const char* attributes, SetupAttribute** list) noexcept
{
    *list = nullptr;
    if (attributes == nullptr)
        return 0;
    for (const char* p = attributes; *p != 0; p += strlen(p) + 1) {
        const char* equals = strchr(p, '=');
        if (equals == nullptr)
            break;
        SetupAttribute* node = newAttribute(p, size_t(equals - p), equals + 1, strlen(equals + 1));
        if (node == nullptr) {
            setupFreeAttributes(*list);
            *list = nullptr;
            return 1;
        }
        setupAppendAttribute(list, node);
    }
    return 0;
}

const char* setupFindAttribute(const SetupAttribute* list, const char* key) noexcept
{
    for (; list != nullptr; list = list->next)
        if (strcmp(list->key, key) == 0)
            return list->value;
    return nullptr;
}

void setupAppendAttribute(SetupAttribute** list, SetupAttribute* node) noexcept
{
    node->next = nullptr;
    SetupAttribute** tail = list;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = node;
}

void setupFreeAttributes(SetupAttribute* list) noexcept
{
    while (list != nullptr) {
        SetupAttribute* next = list->next;
        ramFree(list);
        list = next;
    }
}

int setupInvokeBackend(HWND window, SetupRequest* request, SetupAttribute** attributes,
                       const char* driverBaseName) noexcept
{
    SetupBackendFn backend = nullptr;
    {
        KaLockGuard guard(setupLock);
        if (setupLibrary == nullptr) {
            char name[BOS_PATH_SIZE];
            size_t n = strlen(driverBaseName);
            if (n > 0 && driverBaseName[n - 1] == 's')
                --n;
            if (n + 2 > sizeof name)
                return 1;
            memcpy(name, driverBaseName, n);
            name[n] = 'r';
            name[n + 1] = 0;
            const KaDiagMark mark;
            setupLibrary = LoadLibrary(name, 0, 0);
            if (setupLibrary == nullptr) {
                // A library not found at all leaves no trace of its own.
                if (mark.posted() == 0)
                    errPost(MSG_SETUP_LIBRARY_LOAD_FAILED)->addParamText(name)->addParamText("not found");
                return 1;
            }
        }
        if (setupBackend == nullptr) {
            setupBackend = reinterpret_cast<SetupBackendFn>(bosGetProcAddress(setupLibrary, kBackendEntry));
            if (setupBackend == nullptr) {
                KaError* rec = errPost(MSG_SETUP_ENTRY_MISSING)->addParamText(kBackendEntry);
                if (!rec->isStatic())
                    rec->userData = MSG_SETUP_ENTRY_MISSING;
                return 1;
            }
        }
        backend = setupBackend;
    }
    const char* section = request->driverDescription;
    for (const char* key : kPoolingKeys) {
        char value[SETUP_POOL_VALUE_SIZE];
        readInstallerProfile(section, key, value, int32_t(sizeof value), kOdbcInstIni);
        if (value[0] == 0)
            continue;
        SetupAttribute* node = newAttribute(key, strlen(key), value, strlen(value));
        if (node == nullptr)
            return 1;
        setupAppendAttribute(attributes, node);
    }
    return backend(window, request, *attributes) != 0 ? 1 : 0;
}

int loadSetupLibrary(HWND window, WORD request, const char* driver, const char* attributes, int isFileDsn,
                     const char* fileDsn) noexcept
{
    KaErrorList collected;
    KaErrorListScope scope(&collected);
    bosInitInstallDir(nullptr);
    char base[BOS_PATH_SIZE];
    if (!baseDriverBaseName(base, sizeof base))
        copyBounded(base, sizeof base, KA_DRIVER_BASE_NAME);
    OpenStrings(base, nullptr, nullptr, &setupCatalogueUsers);
    int result = 0;
    if (!catalogueOpen()) {
        postInstallerError(kCatalogueMissingCode, kCatalogueMissing);
    } else {
        SetupRequest* record = setupNewRequest(driver, request, isFileDsn, fileDsn);
        SetupAttribute* list = nullptr;
        if (record != nullptr && setupParseAttributes(attributes, &list) == 0 &&
            setupInvokeBackend(window, record, &list, base) == 0)
            result = 1;
        setupFreeAttributes(list);
        ramFree(record);
    }
    // Released on every path: the reference is the setup call's alone.
    CloseStrings(nullptr, &setupCatalogueUsers);
    for (size_t i = 0; i < collected.recordCount(); ++i) {
        KaError* rec = collected.recordAt(i);
        postInstallerError(DWORD(rec->userData), rec->messageA());
    }
    return result;
}

int setupWriteDsn(const SetupAttribute* attributes, const SetupRequest* request) noexcept
{
    if (request == nullptr || (request->request != ODBC_ADD_DSN && request->request != ODBC_CONFIG_DSN))
        return 1;
    auto writeFile = installerEntry<decltype(&SQLWriteFileDSN)>(INST_WRITE_FILE_DSN);
    auto remove = installerEntry<decltype(&SQLRemoveDSNFromIni)>(INST_REMOVE_DSN);
    auto write = installerEntry<decltype(&SQLWritePrivateProfileString)>(INST_WRITE_PROFILE);
    if (writeFile == nullptr || remove == nullptr || write == nullptr)
        return 0;
    const char* dsn = request->newDsn;
    BOOL ok;
    if (request->isFileDsn) {
        writeFile(request->fileDsn, kFileDsnSection, nullptr, nullptr);
        ok = writeFile(request->fileDsn, kFileDsnSection, "Driver", request->driverDescription);
    } else {
        if (dsn[0] == 0)
            return 0;
        remove(dsn);
        if (request->oldDsn[0] != 0 && strcmp(request->oldDsn, dsn) != 0)
            remove(request->oldDsn);
        ok = write(kDataSourcesSection, dsn, request->driverDescription, kOdbcIni) &&
             write(dsn, "Driver", request->driverPath, kOdbcIni);
    }
    if (!ok)
        return 0;
    for (const SetupAttribute* a = attributes; a != nullptr; a = a->next) {
        if (strcmp(a->key, "DSN") == 0)
            continue;
        ok = request->isFileDsn ? writeFile(request->fileDsn, kFileDsnSection, a->key, a->value)
                                : write(dsn, a->key, a->value, kOdbcIni);
        if (!ok)
            return 0;
    }
    return ok ? 1 : 0;
}

bool connectDialogAvailable() noexcept
{
    KaLockGuard guard(setupLock);
    return loadDialog(false);
}

int runConnectDialog(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6, void* a7) noexcept
{
    ConnectDialogFn entry = nullptr;
    {
        KaLockGuard guard(setupLock);
        if (!loadDialog(true))
            return -1;
        entry = dialogEntry;
    }
    return entry(a1, a2, a3, a4, a5, a6, a7) == 0 ? 0 : -1;
}

extern "C" {

__attribute__((visibility("default"))) BOOL ConfigDSN(HWND window, WORD request, LPCSTR driver, LPCSTR attributes)
{
    return loadSetupLibrary(window, request, driver, attributes, 0, nullptr) ? SQL_TRUE : SQL_FALSE;
}

__attribute__((visibility("default"))) BOOL ConfigFileDSN(HWND window, WORD request, LPCSTR driver, LPCSTR attributes,
                                                          LPCSTR fileDsn)
{
    return loadSetupLibrary(window, request, driver, attributes, 1, fileDsn) ? SQL_TRUE : SQL_FALSE;
}

}  // extern "C"
