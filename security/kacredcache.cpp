// The Kerberos credential-cache reader: every length and count from the
// file is checked against the bytes held before it is used.
#include "security/kacredcache.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosfile.h"

namespace {

constexpr uint8_t kCcacheMagic = 5;
constexpr uint8_t kVersionWithHeader = 4;
constexpr uint8_t kVersionWithNameType = 2;
constexpr uint8_t kVersionWithSecondEnctype = 3;
// Bytes after the key up to the addresses: four times, the session-key
// flag and the ticket flags.
constexpr uint64_t kTimesFlagsBytes = 16 + 1 + 4;
// Bytes that must follow a refused key before its credential is skipped.
constexpr uint64_t kSkipMinimum = 25;

// A bounded reader over the bytes held; a read past them posts 2796 once.
struct CcReader {
    const uint8_t* data;
    uint64_t size;
    uint64_t pos;
    bool failed = false;

    bool need(uint64_t n) noexcept
    {
        if (failed)
            return false;
        if (n > size - pos) {
            errPost(MSG_CCACHE_TRUNCATED)->addParamUnsigned(pos + n)->addParamUnsigned(size);
            failed = true;
            return false;
        }
        return true;
    }
    bool u8(uint8_t* out) noexcept
    {
        if (!need(1))
            return false;
        *out = data[pos++];
        return true;
    }
    bool u16(uint16_t* out) noexcept
    {
        if (!need(2))
            return false;
        *out = uint16_t(data[pos] << 8 | data[pos + 1]);
        pos += 2;
        return true;
    }
    bool u32(uint32_t* out) noexcept
    {
        if (!need(4))
            return false;
        *out = uint32_t(data[pos]) << 24 | uint32_t(data[pos + 1]) << 16 | uint32_t(data[pos + 2]) << 8 | data[pos + 3];
        pos += 4;
        return true;
    }
    bool skip(uint64_t n) noexcept
    {
        if (!need(n))
            return false;
        pos += n;
        return true;
    }
    // A counted text: its start and length.
    bool counted(const uint8_t** text, uint32_t* length) noexcept
    {
        if (!u32(length) || !need(*length))
            return false;
        *text = data + pos;
        pos += *length;
        return true;
    }
    // Addresses or authorisation data: a count of {16-bit type, counted bytes}.
    bool skipTagged() noexcept
    {
        uint32_t count = 0;
        if (!u32(&count))
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            uint16_t type = 0;
            const uint8_t* bytes = nullptr;
            uint32_t n = 0;
            if (!u16(&type) || !counted(&bytes, &n))
                return false;
        }
        return true;
    }
};

struct Principal {
    uint32_t count = 0;
    const uint8_t* realm = nullptr;
    uint32_t realmLength = 0;
    // The first two components; more are skipped.
    const uint8_t* part[2] = {};
    uint32_t partLength[2] = {};
};

bool readPrincipal(CcReader& r, uint8_t version, Principal* p) noexcept
{
    uint32_t nameType = 0;
    if (version >= kVersionWithNameType && !r.u32(&nameType))
        return false;
    if (!r.u32(&p->count) || !r.counted(&p->realm, &p->realmLength))
        return false;
    for (uint32_t i = 0; i < p->count; ++i) {
        const uint8_t* text = nullptr;
        uint32_t n = 0;
        if (!r.counted(&text, &n))
            return false;
        if (i < 2) {
            p->part[i] = text;
            p->partLength[i] = n;
        }
    }
    return true;
}

bool sameText(const uint8_t* a, uint32_t an, const uint8_t* b, uint32_t bn) noexcept
{
    return an == bn && (an == 0 || std::memcmp(a, b, an) == 0);
}

// A text of the file as a parameter (it is not NUL-terminated).
void addText(KaError* e, const uint8_t* text, uint32_t n) noexcept
{
    char buffer[256];
    size_t k = n < sizeof buffer - 1 ? n : sizeof buffer - 1;
    std::memcpy(buffer, text, k);
    buffer[k] = 0;
    e->addParamText(buffer);
}

void mismatch(const uint8_t* expected, uint32_t en, const uint8_t* found, uint32_t fn) noexcept
{
    KaError* e = errPost(MSG_CCACHE_PRINCIPAL_MISMATCH);
    addText(e, expected, en);
    addText(e, found, fn);
}

// A text into a caller's buffer with its NUL.
bool copyText(const uint8_t* text, uint32_t n, char* out, size_t capacity, size_t* length) noexcept
{
    if (out == nullptr || uint64_t(n) + 1 > capacity) {
        errPost(MSG_CCACHE_BUFFER_TOO_SMALL)->addParamUnsigned(n)->addParamUnsigned(uint64_t(capacity) + 1);
        return false;
    }
    std::memcpy(out, text, n);
    out[n] = 0;
    *length = n;
    return true;
}

bool readTimes(CcReader& r, int64_t times[4]) noexcept
{
    for (int i = 0; i < 4; ++i) {
        uint32_t t = 0;
        if (!r.u32(&t))
            return false;
        if (times != nullptr)
            times[i] = int64_t(t);
    }
    return true;
}

// The realm of the configuration entries of a cache.
const uint8_t kConfigRealm[] = {'X', '-', 'C', 'A', 'C', 'H', 'E', 'C', 'O', 'N', 'F', ':'};

// What follows a credential's principals: keyblock, times, flags,
// addresses, authorisation data and both tickets.
bool skipCredentialBody(CcReader& r, uint8_t version) noexcept
{
    uint16_t enctype = 0;
    const uint8_t* bytes = nullptr;
    uint32_t n = 0;
    if (!r.u16(&enctype) || (version == kVersionWithSecondEnctype && !r.u16(&enctype)) || !r.counted(&bytes, &n))
        return false;
    return r.skip(kTimesFlagsBytes) && r.skipTagged() && r.skipTagged() && r.counted(&bytes, &n) &&
           r.counted(&bytes, &n);
}

}  // namespace

const char* krbEnctypeName(int32_t enctype, char buffer[KA_ENCTYPE_NAME_SIZE]) noexcept
{
    switch (enctype) {
    case 0: return "none";
    case 1: return "des-cbc-crc";
    case 2: return "des-cbc-md4";
    case 3: return "des-cbc-md5";
    case 4: return "des-cbc-raw";
    case 5: return "des3-cbc-sha";
    case 6: return "des3-cbc-raw";
    case 8: return "des3-hmac-sha1";
    case 16: return "des3-cbc-sha1";
    case 17: return "aes128-cts-hmac-sha1-96";
    case 18: return "aes256-cts-hmac-sha1-96";
    case 23: return "arcfour-hmac-md5";
    case 24: return "arcfour-hmac-exp";
    default: std::snprintf(buffer, KA_ENCTYPE_NAME_SIZE, "%d", int(enctype)); return buffer;
    }
}

KaCredCache::~KaCredCache()
{
    ramFree(contents);
    ramFree(path);
    if (file != 0)
        (void)bosfclose(file);
}

void KaCredCache::trace(const char* format, ...) noexcept
{
    if (tracePath == nullptr)
        return;
    FILE* f = std::fopen(tracePath, "a");
    if (f == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fclose(f);
}

int KaCredCache::init(const char* fileName) noexcept
{
    trace("KaCredCache::init (%s)\n", fileName != nullptr ? fileName : "");
    if (fileName == nullptr)
        return 1;
    size_t n = std::strlen(fileName);
    if (n >= BOS_PATH_SIZE) {
        errPost(MSG_CCACHE_FILE_ERROR)->addParamSigned(ENAMETOOLONG);
        return 1;
    }
    char name[BOS_PATH_SIZE];
    std::memcpy(name, fileName, n + 1);
    path = static_cast<char*>(ramAlloc(n + 1));
    if (path == nullptr) {
        ramOutOfMemory();
        return 1;
    }
    std::memcpy(path, fileName, n + 1);
    if (bosfopen(name, BOS_OPEN_NO_LOCK, &file) != 0) {
        trace("bosFileOpen failed\n");
        file = 0;
        return 1;
    }
    ramFree(contents);
    contents = nullptr;
    capacity = held = 0;
    modified = 0;
    return 0;
}

int KaCredCache::refresh() noexcept
{
    int32_t mtime = 0;
    uint64_t size = 0;
    if (file == 0 || path == nullptr || bosGetFileTimeSize(path, &mtime, &size) != 0) {
        trace("fstat failed: %d\n", errno);
        errPost(MSG_CCACHE_FILE_ERROR)->addParamSigned(errno);
        return 1;
    }
    trace("Time\tfile: %lld, last: %lld\n", (long long)mtime, (long long)modified);
    if (modified != 0 && modified >= int64_t(mtime))
        return 0;
    trace("Size\tfile: %d, last: %d\n", int(size), int(held));
    if (capacity < size) {
        ramFree(contents);
        contents = static_cast<uint8_t*>(ramAlloc(size != 0 ? size : 1));
        if (contents == nullptr) {
            capacity = 0;
            held = 0;
            ramOutOfMemory();
            return 1;
        }
        capacity = size;
    }
    uint64_t count = 0;
    if (bosfread(file, 0, contents, size, &count) != 0) {
        trace("bosFileRead failed\n");
        held = 0;
        return 1;
    }
    trace("Read %d bytes\n", int(count));
    if (tracePath != nullptr) {
        for (uint64_t i = 0; i < count; ++i)
            trace("%02x", contents[i]);
        trace("\n");
    }
    if (count != size) {
        held = 0;
        errPost(MSG_CCACHE_FILE_ERROR)->addParamSigned(errno);
        return 1;
    }
    held = size;
    modified = mtime;
    ++loads;
    return 0;
}

int KaCredCache::readTicketGrantingTicket(char* realm, size_t realmCapacity, size_t* realmLength, char* name,
                                          size_t nameCapacity, size_t* nameLength, uint8_t* ticket,
                                          size_t ticketCapacity, size_t* ticketLength,
                                          uint8_t sessionKey[KA_CCACHE_KEY_SIZE], int64_t times[4]) noexcept
{
    if (refresh() != 0)
        return 1;
    CcReader r{contents, held, 0};
    if (held < 2) {
        errPost(MSG_CCACHE_TRUNCATED)->addParamUnsigned(2)->addParamUnsigned(held);
        return 1;
    }
    if (contents[0] != kCcacheMagic) {
        errPost(MSG_CCACHE_NOT_A_CACHE);
        return 1;
    }
    version = contents[1];
    r.pos = 2;
    if (version >= kVersionWithHeader) {
        uint16_t headerLength = 0;
        if (!r.u16(&headerLength) || !r.skip(headerLength))
            return 1;
    }
    Principal self;
    if (!readPrincipal(r, version, &self))
        return 1;
    if (self.count != 1) {
        errPost(MSG_CCACHE_DEFAULT_PRINCIPAL)->addParamUnsigned(self.count);
        return 1;
    }
    if (!copyText(self.realm, self.realmLength, realm, realmCapacity, realmLength) ||
        !copyText(self.part[0], self.partLength[0], name, nameCapacity, nameLength))
        return 1;
    Principal client;
    Principal server;
    // kinit puts configuration entries (their server realm "X-CACHECONF:")
    // before the credentials: they are no ticket and are passed over.
    for (;;) {
        if (!readPrincipal(r, version, &client) || !readPrincipal(r, version, &server))
            return 1;
        if (!sameText(server.realm, server.realmLength, kConfigRealm, sizeof kConfigRealm))
            break;
        if (!skipCredentialBody(r, version))
            return 1;
    }
    if (client.count != 1) {
        errPost(MSG_CCACHE_COMPONENT_COUNT)->addParamUnsigned(client.count)->addParamUnsigned(1);
        return 1;
    }
    if (!sameText(self.realm, self.realmLength, client.realm, client.realmLength)) {
        mismatch(self.realm, self.realmLength, client.realm, client.realmLength);
        return 1;
    }
    if (!sameText(self.part[0], self.partLength[0], client.part[0], client.partLength[0])) {
        mismatch(self.part[0], self.partLength[0], client.part[0], client.partLength[0]);
        return 1;
    }
    if (server.count != 2) {
        errPost(MSG_CCACHE_COMPONENT_COUNT)->addParamUnsigned(server.count)->addParamUnsigned(2);
        return 1;
    }
    static const uint8_t kTgs[] = {'k', 'r', 'b', 't', 'g', 't'};
    if (!sameText(self.realm, self.realmLength, server.realm, server.realmLength)) {
        mismatch(self.realm, self.realmLength, server.realm, server.realmLength);
        return 1;
    }
    if (!sameText(kTgs, sizeof kTgs, server.part[0], server.partLength[0])) {
        mismatch(kTgs, sizeof kTgs, server.part[0], server.partLength[0]);
        return 1;
    }
    if (!sameText(self.realm, self.realmLength, server.part[1], server.partLength[1])) {
        mismatch(self.realm, self.realmLength, server.part[1], server.partLength[1]);
        return 1;
    }
    uint16_t enctype = 0;
    if (!r.u16(&enctype))
        return 1;
    if (enctype != KA_ENCTYPE_DES_CBC_CRC && enctype != KA_ENCTYPE_DES_CBC_MD5) {
        char buffer[KA_ENCTYPE_NAME_SIZE];
        errPost(MSG_CCACHE_TGT_NOT_DES)
            ->addParamText(krbEnctypeName(KA_ENCTYPE_DES_CBC_CRC, buffer))
            ->addParamText(krbEnctypeName(KA_ENCTYPE_DES_CBC_MD5, buffer))
            ->addParamText(krbEnctypeName(enctype, buffer));
        return 1;
    }
    uint16_t repeated = 0;
    if (version == kVersionWithSecondEnctype && !r.u16(&repeated))
        return 1;
    const uint8_t* key = nullptr;
    uint32_t keyLength = 0;
    if (!r.counted(&key, &keyLength))
        return 1;
    if (keyLength != KA_CCACHE_KEY_SIZE) {
        errPost(MSG_CCACHE_KEY_LENGTH)->addParamUnsigned(KA_CCACHE_KEY_SIZE)->addParamUnsigned(keyLength);
        return 1;
    }
    if (!readTimes(r, times))
        return 1;
    uint8_t isSessionKey = 0;
    uint32_t flags = 0;
    if (!r.u8(&isSessionKey) || !r.u32(&flags))
        return 1;
    if ((flags & KA_CCACHE_REFUSED_TICKET_FLAG) != 0) {
        errPost(MSG_CCACHE_TICKET_FLAG);
        return 1;
    }
    if (!r.skipTagged() || !r.skipTagged())
        return 1;
    const uint8_t* ticketBytes = nullptr;
    uint32_t n = 0;
    if (!r.counted(&ticketBytes, &n))
        return 1;
    if (ticket == nullptr || n > ticketCapacity) {
        errPost(MSG_CCACHE_BUFFER_TOO_SMALL)->addParamUnsigned(n)->addParamUnsigned(ticketCapacity);
        return 1;
    }
    std::memcpy(ticket, ticketBytes, n);
    *ticketLength = n;
    std::memcpy(sessionKey, key, KA_CCACHE_KEY_SIZE);
    searchOffset = r.pos;
    return 0;
}

int KaCredCache::findSessionKey(const char* first, size_t firstLength, const char* second, size_t secondLength,
                                int32_t wantedEnctype, uint8_t sessionKey[KA_CCACHE_KEY_SIZE],
                                int64_t times[4]) noexcept
{
    if (refresh() != 0)
        return 1;
    if (first == nullptr || second == nullptr || firstLength == 0 || secondLength == 0)
        return 1;
    uint64_t at = searchOffset <= held ? searchOffset : held;
    bool refused = false;
    int32_t lastSeen = 0;
    // A counted text: the byte before it is the low byte of its length.
    auto find = [&](const char* text, size_t n, uint64_t from, uint64_t* end) noexcept {
        for (uint64_t i = from < 1 ? 1 : from; n <= held && i + n <= held; ++i) {
            if (contents[i - 1] == uint8_t(n) && std::memcmp(contents + i, text, n) == 0) {
                *end = i + n;
                return true;
            }
        }
        return false;
    };
    auto notFound = [&](const char* text, size_t n) noexcept {
        char buffer[KA_ENCTYPE_NAME_SIZE];
        char other[KA_ENCTYPE_NAME_SIZE];
        if (refused) {
            errPost(MSG_CCACHE_ENCTYPE_NOT_FOUND)
                ->addParamText(krbEnctypeName(wantedEnctype, buffer))
                ->addParamText(krbEnctypeName(lastSeen, other));
        } else {
            addText(errPost(MSG_CCACHE_PRINCIPAL_NOT_FOUND), reinterpret_cast<const uint8_t*>(text), uint32_t(n));
        }
        return 1;
    };
    for (;;) {
        uint64_t afterFirst = 0;
        uint64_t afterSecond = 0;
        if (!find(first, firstLength, at, &afterFirst))
            return notFound(first, firstLength);
        if (!find(second, secondLength, afterFirst, &afterSecond))
            return notFound(second, secondLength);
        CcReader r{contents, held, afterSecond};
        uint16_t enctype = 0;
        if (!r.u16(&enctype))
            return 1;
        if (version == kVersionWithSecondEnctype) {
            uint16_t repeated = 0;
            if (!r.u16(&repeated))
                return 1;
        }
        const uint8_t* key = nullptr;
        uint32_t keyLength = 0;
        if (!r.counted(&key, &keyLength))
            return 1;
        if (keyLength != KA_CCACHE_KEY_SIZE) {
            errPost(MSG_CCACHE_KEY_LENGTH)->addParamUnsigned(KA_CCACHE_KEY_SIZE)->addParamUnsigned(keyLength);
            return 1;
        }
        if (wantedEnctype == 0 || wantedEnctype == enctype) {
            if (times != nullptr && !readTimes(r, times))
                return 1;
            std::memcpy(sessionKey, key, KA_CCACHE_KEY_SIZE);
            return 0;
        }
        refused = true;
        lastSeen = enctype;
        if (!r.need(kSkipMinimum) || !r.skip(kTimesFlagsBytes) || !r.skipTagged() || !r.skipTagged())
            return 1;
        const uint8_t* bytes = nullptr;
        uint32_t n = 0;
        if (!r.counted(&bytes, &n) || !r.counted(&bytes, &n))
            return 1;
        at = r.pos;
    }
}
