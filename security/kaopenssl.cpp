// OpenSSL version codes, library file names and the loader.
#include "security/kaopenssl.h"

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "kadrivername.h"

namespace {

// A caller may register another name for the driver (a renamed copy);
// otherwise the loader works from the one the driver is built under.
const char* registeredBaseName = nullptr;
constexpr size_t kNameFieldMax = 128;
constexpr size_t kExtensionMax = 3;

size_t entryLength(const char* entry) noexcept
{
    const char* comma = strchr(entry, ',');
    return comma != nullptr ? static_cast<size_t>(comma - entry) : strlen(entry);
}

// Code of one entry, or -1 without a diagnostic.
int64_t entryCode(const char* entry) noexcept
{
    size_t n = entryLength(entry);
    if ((n == 6 && memcmp(entry, "latest", 6) == 0) || (n == 5 && memcmp(entry, "1.1.1", 5) == 0))
        return KA_OPENSSL_111;
    if (n == 5 && memcmp(entry, "1.0.2", 5) == 0)
        return KA_OPENSSL_102;
    return -1;
}

void postUnknownCode(int64_t code) noexcept
{
    char text[32];
    snprintf(text, sizeof text, "%lld", static_cast<long long>(code));
    errPost(MSG_OPENSSL_VERSION_UNKNOWN)->addParamText(text);
}

}  // namespace

void openSSLSetDriverBaseName(const char* baseName) noexcept
{
    registeredBaseName = baseName;
}

const char* openSSLDriverBaseName() noexcept
{
    return registeredBaseName != nullptr ? registeredBaseName : KA_DRIVER_BASE_NAME;
}

int64_t openSSLVersionCode(const char* list) noexcept
{
    if (list == nullptr)
        return KA_OPENSSL_111;
    int64_t code = entryCode(list);
    if (code < 0)
        errPost(MSG_OPENSSL_VERSION_UNKNOWN)->addParamText(list);
    return code;
}

const char* openSSLLibraryPart(int64_t code) noexcept
{
    if (code == KA_OPENSSL_111)
        return "tls";
    if (code == KA_OPENSSL_102)
        return "ssl";
    postUnknownCode(code);
    return nullptr;
}

int openSSLVersionListed(const char* list, int64_t code) noexcept
{
    if (list == nullptr)
        return code == KA_OPENSSL_111 ? 1 : 0;
    for (const char* entry = list;;) {
        if (openSSLVersionCode(entry) == code)
            return 1;
        const char* comma = strchr(entry, ',');
        if (comma == nullptr)
            return 0;
        entry = comma + 1;
    }
}

void openSSLVersionText(int64_t code, char* buffer) noexcept
{
    // Version codes are major * 10000 + minor * 100 + patch, each part two
    // digits at most.
    const int major = static_cast<int>((code / 10000) % 100);
    const int minor = static_cast<int>((code / 100) % 100);
    const int patch = static_cast<int>(code % 100);
    snprintf(buffer, KA_OPENSSL_VERSION_TEXT, "%d.%d.%d", major, minor, patch);
}

int buildOpenSSLLibraryName(const char* namePart, char* directory, char* fileName) noexcept
{
    directory[0] = '\0';
    fileName[0] = '\0';
    if (namePart == nullptr)
        return -1;
    const char* driver = openSSLDriverBaseName();
    size_t driverLength = strlen(driver);
    if (driverLength == 0 || driverLength + 3 >= KA_OPENSSL_PATH_MAX)
        return -1;
    char full[KA_OPENSSL_PATH_MAX];
    snprintf(full, sizeof full, "%s.so", driver);

    const char* slash = strrchr(full, '/');
    size_t dirLength = slash != nullptr ? static_cast<size_t>(slash - full) + 1 : 0;
    memcpy(directory, full, dirLength);
    directory[dirLength] = '\0';
    const char* name = full + dirLength;
    const char* dot = strchr(name, '.');
    size_t nameLength = dot != nullptr ? static_cast<size_t>(dot - name) : strlen(name);
    if (nameLength > kNameFieldMax) {
        errPost(MSG_FILE_NAME_TOO_LONG)->addParamText(name);
        return -1;
    }
    const char* ext = dot != nullptr ? dot + 1 : "";
    size_t extLength = strlen(ext) < kExtensionMax ? strlen(ext) : kExtensionMax;
    // Version characters: the last two, or the two before a trailing r.
    size_t end = nameLength;
    if (end > 0 && (name[end - 1] == 'r' || name[end - 1] == 'R'))
        --end;
    if (nameLength < 2 || end < 2)
        return -1;
    snprintf(fileName, KA_OPENSSL_PATH_MAX, "lib%.2s%.3s%.2s.%.*s", name, namePart, name + end - 2,
             static_cast<int>(extLength), ext);
    return 0;
}

KaOpenSSLCallMapperLoader::~KaOpenSSLCallMapperLoader() = default;

int KaOpenSSLCallMapperLoader::setLibraryPath(const char* path) noexcept
{
    if (path == nullptr)
        return 1;
    size_t n = strlen(path);
    char* copy = static_cast<char*>(ramAlloc(n + 1));
    if (copy == nullptr)
        return 1;
    memcpy(copy, path, n + 1);
    ramFree(libraryName);
    libraryName = copy;
    return attach();
}

void KaOpenSSLCallMapperLoader::handOver(KaOpenSSLCallMapperLoader& to) noexcept
{
    to.mapper = mapper;
    ramFree(to.libraryName);
    to.libraryName = libraryName;
    to.symbolTable = symbolTable;
    to.versionCode = versionCode;
    mapper = nullptr;
    libraryName = nullptr;
}

int KaOpenSSLCallMapperLoader::create(KaOpenSSLCallMapperLoader** out, const char* versions, const char* explicitPath,
                                      const KaOpenSSLTables* tables) noexcept
{
    *out = nullptr;
    std::unique_ptr<KaOpenSSLCallMapperLoader> loader(new KaOpenSSLCallMapperLoader());
    if (loader == nullptr)
        return -1;
    const char* entry = versions;
    bool withDirectory = false;
    char candidate[2 * KA_OPENSSL_PATH_MAX];
    for (;;) {
        char directory[KA_OPENSSL_PATH_MAX];
        char fileName[KA_OPENSSL_PATH_MAX];
        int64_t code = KA_OPENSSL_111;
        if (explicitPath == nullptr) {
            code = openSSLVersionCode(entry);
            if (code < 0)
                break;
            if (buildOpenSSLLibraryName(openSSLLibraryPart(code), directory, fileName) != 0)
                break;
            snprintf(candidate, sizeof candidate, "%s%s", withDirectory ? directory : "", fileName);
            loader->symbolTable = code == KA_OPENSSL_102 ? &tables->v102 : &tables->v111;
        } else {
            if (withDirectory) {
                char unused[KA_OPENSSL_PATH_MAX];
                if (buildOpenSSLLibraryName("tls", directory, unused) != 0)
                    break;
                snprintf(candidate, sizeof candidate, "%s%s", directory, explicitPath);
            } else {
                snprintf(candidate, sizeof candidate, "%s", explicitPath);
            }
            loader->symbolTable = &tables->any;
        }
        if (loader->setLibraryPath(candidate) == 0) {
            if (explicitPath == nullptr) {
                loader->versionCode = code;
                *out = loader.release();
                return 0;
            }
            // An explicit library's version is told by what it resolved.
            uint32_t incomplete = 0;
            for (uint32_t i = 0; i < tables->any.count; ++i) {
                const CallMapperSymbol& row = tables->any.entries[i];
                if (loader->entryPoint(row.index) == nullptr)
                    incomplete |= row.flags & KA_OPENSSL_NEED_BOTH;
            }
            if ((incomplete & KA_OPENSSL_NEED_111) == 0) {
                loader->versionCode = KA_OPENSSL_111;
            } else if ((incomplete & KA_OPENSSL_NEED_102) == 0) {
                loader->versionCode = KA_OPENSSL_102;
            } else {
                errPost(MSG_OPENSSL_LIBRARY_INCOMPLETE)->addParamText(explicitPath);
                return -1;
            }
            *out = loader.release();
            return 0;
        }
        if (!withDirectory) {
            KaErrorDiscardLast();
            withDirectory = true;
            continue;
        }
        const char* comma = explicitPath == nullptr && entry != nullptr ? strchr(entry, ',') : nullptr;
        if (comma != nullptr && comma[1] != '\0') {
            KaErrorDiscardLast();
            withDirectory = false;
            entry = comma + 1;
            continue;
        }
        errPost(MSG_OPENSSL_LOAD_FAILED);
        break;
    }
    return -1;
}
