// The credential-cache reader over arbitrary bytes as the cache file: both
// readers must end in success or a diagnostic, with every length from the
// file kept inside it, and a found ticket inside the caller's buffer.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzzfixture.h"
#include "security/kacredcache.h"

namespace {

const char* scratchFile()
{
    static char path[64] = {};
    if (path[0] == 0) {
        std::snprintf(path, sizeof path, "/tmp/fuzz_ccache.XXXXXX");
        int fd = mkstemp(path);
        kafuzz::check(fd >= 0, "a scratch file can be made");
        close(fd);
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* path = scratchFile();
    FILE* f = std::fopen(path, "wb");
    kafuzz::check(f != nullptr, "the scratch file opens");
    if (size > 0)
        kafuzz::check(std::fwrite(data, 1, size, f) == size, "the input is written");
    std::fclose(f);
    kafuzz::DiagnosticScope diagnostics;
    // A fresh reader loads the file whatever its modification time.
    KaCredCache cache;
    if (cache.init(path) != 0)
        return 0;
    char realm[32];
    char name[32];
    uint8_t ticket[128];
    uint8_t key[KA_CCACHE_KEY_SIZE];
    int64_t times[4];
    size_t realmLength = 0;
    size_t nameLength = 0;
    size_t ticketLength = 0;
    int rc = cache.readTicketGrantingTicket(realm, sizeof realm, &realmLength, name, sizeof name, &nameLength, ticket,
                                            sizeof ticket, &ticketLength, key, times);
    kafuzz::check(rc != 0 || ticketLength <= sizeof ticket, "a ticket fits its buffer");
    kafuzz::check(rc == 0 || diagnostics.list.recordCount() > 0, "a failure says why");
    if (rc == 0) {
        size_t before = diagnostics.list.recordCount();
        if (cache.findSessionKey("hive", 4, "localhost", 9, 0, key, times) != 0)
            kafuzz::check(diagnostics.list.recordCount() > before, "a failed search says why");
        (void)cache.findSessionKey("krbtgt", 6, realm, realmLength, 18, key, nullptr);
    }
    return 0;
}
