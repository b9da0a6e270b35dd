// The Kerberos credential-cache reader (KaCredCache): reads a credential
// cache file in the MIT format and gives the ticket-granting ticket of its
// default principal with its DES session key, and the DES session key of
// another credential found by its principal texts. Nothing in the driver
// constructs it; the driver's Kerberos logins go through GSSAPI.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"

// Bytes of a DES session key.
constexpr size_t KA_CCACHE_KEY_SIZE = 8;
// Enctypes the ticket-granting ticket's key may have.
constexpr uint16_t KA_ENCTYPE_DES_CBC_CRC = 1;
constexpr uint16_t KA_ENCTYPE_DES_CBC_MD5 = 3;
// Ticket flag the reader cannot use.
constexpr uint32_t KA_CCACHE_REFUSED_TICKET_FLAG = 0x00800000;
// Bytes a caller's buffer for krbEnctypeName needs.
constexpr size_t KA_ENCTYPE_NAME_SIZE = 24;

// The name of an enctype; numbers without one are written into buffer.
const char* krbEnctypeName(int32_t enctype, char buffer[KA_ENCTYPE_NAME_SIZE]) noexcept;

class KaCredCache : public KaObject {
public:
    KaCredCache() noexcept = default;
    ~KaCredCache() override;
    KaCredCache(const KaCredCache&) = delete;
    KaCredCache& operator=(const KaCredCache&) = delete;

    // 0, or 1 with the diagnostic posted; so are the readers below.
    [[nodiscard]] int init(const char* fileName) noexcept;
    [[nodiscard]] int readTicketGrantingTicket(char* realm, size_t realmCapacity, size_t* realmLength, char* name,
                                               size_t nameCapacity, size_t* nameLength, uint8_t* ticket,
                                               size_t ticketCapacity, size_t* ticketLength,
                                               uint8_t sessionKey[KA_CCACHE_KEY_SIZE], int64_t times[4]) noexcept;
    [[nodiscard]] int findSessionKey(const char* first, size_t firstLength, const char* second, size_t secondLength,
                                     int32_t wantedEnctype, uint8_t sessionKey[KA_CCACHE_KEY_SIZE],
                                     int64_t times[4]) noexcept;
    // Loads the file unless the contents held are as new as it.
    [[nodiscard]] int refresh() noexcept;

    const char* tracePath = nullptr;
    uint8_t* contents = nullptr;
    uint64_t capacity = 0;
    uint64_t held = 0;
    int32_t file = 0;
    int64_t modified = 0;
    uint64_t searchOffset = 0;
    uint8_t version = 0;
    // The path, for the file's status (the platform layer asks by name).
    char* path = nullptr;
    // Times the file was read from disk (tests watch the re-reads).
    uint32_t loads = 0;

private:
    void trace(const char* format, ...) noexcept;
};
