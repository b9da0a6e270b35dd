// Run-time binding of OpenSSL: version codes of the supported call sets, the
// file names of the libraries that carry them, and the loader that finds,
// loads and resolves one of them for the SSL, crypto and cipher mappers.
// The driver never links OpenSSL; libVYtls28.so comes with it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/callmapper.h"

// Version codes: major * 10000 + minor * 100 + patch.
constexpr int64_t KA_OPENSSL_111 = 10101;
constexpr int64_t KA_OPENSSL_102 = 10002;
constexpr int64_t KA_OPENSSL_UNDETERMINED = 32768;

// Row masks of the symbol tables: which call set needs a row; an alias row
// names the 1.1.1 spelling of the 1.0.2 row before it with the same index.
constexpr uint32_t KA_OPENSSL_NEED_102 = 1;
constexpr uint32_t KA_OPENSSL_NEED_111 = 2;
constexpr uint32_t KA_OPENSSL_NEED_BOTH = 3;
constexpr uint32_t KA_OPENSSL_ALIAS_111 = KA_OPENSSL_NEED_111 | CALLMAPPER_KEEP_SLOT;
// Resolve mask of the descriptor used before the version is known.
constexpr uint32_t KA_OPENSSL_RESOLVE_ANY = 0x80;

constexpr char KA_OPENSSL_DEFAULT_VERSIONS[] = "1.1.1,1.0.2";
// Room for a version text ("1.1.1") and its terminator.
constexpr size_t KA_OPENSSL_VERSION_TEXT = 16;
// Longest library file name or path the loader builds.
constexpr size_t KA_OPENSSL_PATH_MAX = 1024;

// SSL_CTX_set_verify modes (SSL_VERIFY_NONE, SSL_VERIFY_PEER).
constexpr int KA_SSL_VERIFY_NONE = 0;
constexpr int KA_SSL_VERIFY_PEER = 1;

// The three descriptors of one table: version undetermined, 1.0.2, 1.1.1.
struct KaOpenSSLTables {
    CallMapperTable any;
    CallMapperTable v102;
    CallMapperTable v111;
};

// The driver's base file name (no directory, no extension) that library
// names derive from; the connection framework registers its own at load.
void openSSLSetDriverBaseName(const char* baseName) noexcept;
const char* openSSLDriverBaseName() noexcept;

// Code of the list's first entry, or -1 with MSG_OPENSSL_VERSION_UNKNOWN posted.
[[nodiscard]] int64_t openSSLVersionCode(const char* list) noexcept;
// "tls" or "ssl", or null with MSG_OPENSSL_VERSION_UNKNOWN posted.
const char* openSSLLibraryPart(int64_t code) noexcept;
[[nodiscard]] int openSSLVersionListed(const char* list, int64_t code) noexcept;
// major.minor.patch into buffer (KA_OPENSSL_VERSION_TEXT bytes).
void openSSLVersionText(int64_t code, char* buffer) noexcept;
// directory and fileName hold KA_OPENSSL_PATH_MAX bytes each; 0 or -1.
[[nodiscard]] int buildOpenSSLLibraryName(const char* namePart, char* directory, char* fileName) noexcept;

class KaOpenSSLCallMapperLoader : public UtlLibCallMapper {
public:
    int64_t versionCode = KA_OPENSSL_UNDETERMINED;

    KaOpenSSLCallMapperLoader() noexcept : UtlLibCallMapper(nullptr, nullptr) {}
    ~KaOpenSSLCallMapperLoader() override;

    // Loads the first library of the list that can be loaded (or the
    // explicit path) and tells its version; 0, or -1 with diagnostics.
    [[nodiscard]] static int create(KaOpenSSLCallMapperLoader** out, const char* versions, const char* explicitPath,
                                    const KaOpenSSLTables* tables) noexcept;

    // Replaces the path and attaches to the shared mapper of (path, table).
    [[nodiscard]] virtual int setLibraryPath(const char* path) noexcept;

    // Moves the shared mapper and path into a new mapper; the loader keeps neither.
    void handOver(KaOpenSSLCallMapperLoader& to) noexcept;
};
