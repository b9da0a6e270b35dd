// The client side of a SCRAM exchange: the salted password, the client
// proof and the check of the server signature, with HMAC and SHA-256 from
// the run-time-loaded crypto library. The exchange's messages are built and
// parsed by its caller, which fills the state through the setters.
#pragma once
#include <cstddef>
#include <cstdint>

#include "security/kacipherapi.h"

// Digest selectors of the exchange.
constexpr int32_t KA_SCRAM_MD5 = 1;
constexpr int32_t KA_SCRAM_SHA1 = 2;
constexpr int32_t KA_SCRAM_SHA256 = 3;
constexpr int32_t KA_SCRAM_SHA512 = 5;

// Keys, proofs and signatures are SHA-256 sized.
constexpr size_t KA_SCRAM_KEY = 32;
constexpr size_t KA_SCRAM_NONCE = 18;

struct KaScramState {
    uint64_t reserved = 0;
    char* password = nullptr;
    char* userName = nullptr;
    uint8_t saltedPassword[KA_SCRAM_KEY] = {};
    char* text1 = nullptr;
    char* clientFirstBare = nullptr;
    char* clientFinalWithoutProof = nullptr;
    char* serverFirst = nullptr;
    uint8_t* salt = nullptr;
    uint64_t saltLength = 0;
    uint64_t iterations = 0;
    char* text2 = nullptr;
    char* text3 = nullptr;
    uint8_t* serverSignature = nullptr;  // KA_SCRAM_KEY bytes when set
};

class KaScramClient : public KaCipherAPI {
public:
    KaScramState* state = nullptr;
    int32_t initStatus = 1;  // 0 once the state is made

    // The library path, null for the default, picks the crypto library.
    KaScramClient(const char* userName, const char* allowedVersions, const char* library = nullptr) noexcept;
    ~KaScramClient();
    KaScramClient(const KaScramClient&) = delete;
    KaScramClient& operator=(const KaScramClient&) = delete;

    // Each setter copies its argument; 0, or 1 when the copy failed.
    [[nodiscard]] int setPassword(const char* password) noexcept;
    [[nodiscard]] int setMessages(const char* clientFirstBare, const char* serverFirst,
                                  const char* clientFinalWithoutProof) noexcept;
    [[nodiscard]] int setSalt(const uint8_t* salt, size_t length, uint64_t iterations) noexcept;
    [[nodiscard]] int setServerSignature(const uint8_t* signature) noexcept;

    // KA_SCRAM_NONCE random bytes; 1 on success, as the library answers.
    uint8_t makeNonce(uint8_t* buffer) noexcept;
    // KA_SCRAM_KEY bytes of ClientProof; 0, or 1 when the selector is not
    // SHA-256, the state is incomplete or the library fails.
    [[nodiscard]] int clientProof(KaScramState* s, int32_t selector, uint8_t* proof) noexcept;
    // 1 when the state's server signature is right, else 0.
    [[nodiscard]] int verifyServerSignature(KaScramState* s, int32_t selector) noexcept;

private:
    [[nodiscard]] int newState(const char* userName) noexcept;
    void freeState() noexcept;
    const void* digest(int32_t selector) noexcept;
    [[nodiscard]] int hmac(const void* md, const uint8_t* key, size_t keyLength, const uint8_t* data1, size_t length1,
                           const uint8_t* data2, size_t length2, uint8_t* out) noexcept;
    [[nodiscard]] int saltPassword(const char* password, size_t passwordLength, const uint8_t* salt, size_t saltLength,
                                   uint64_t iterations, int32_t selector, uint8_t* out) noexcept;
    [[nodiscard]] int clientKey(const uint8_t* salted, int32_t selector, uint8_t* out) noexcept;
    [[nodiscard]] int hashKey(const uint8_t* key, uint8_t* out) noexcept;
    [[nodiscard]] int serverKey(const uint8_t* salted, int32_t selector, uint8_t* out) noexcept;
    [[nodiscard]] int authSignature(const uint8_t* key, int32_t selector, uint8_t* out) noexcept;
};
