// SCRAM client proofs (salted password by iterated HMAC, client and server
// keys, signatures over the exchange's messages).
#include "security/kascram.h"

#include <cstring>

#include "foundation/fast.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"

namespace {

char* dupText(const char* text) noexcept
{
    if (text == nullptr)
        return nullptr;
    size_t n = strlen(text);
    auto* copy = static_cast<char*>(ramAlloc(n + 1));
    if (copy != nullptr)
        memcpy(copy, text, n + 1);
    return copy;
}

// Frees a text, wiping it first: passwords and messages carry secrets.
void freeText(char*& text) noexcept
{
    if (text != nullptr) {
        fastMemzero(text, strlen(text));
        ramFree(text);
        text = nullptr;
    }
}

void freeBytes(uint8_t*& bytes, size_t n) noexcept
{
    if (bytes != nullptr) {
        fastMemzero(bytes, n);
        ramFree(bytes);
        bytes = nullptr;
    }
}

}  // namespace

KaScramClient::KaScramClient(const char* userName, const char* allowedVersions, const char* library) noexcept
    : KaCipherAPI(allowedVersions)
{
    setLibraryPath(library);
    keyLength = 0;
    (void)newContext();
    initStatus = newState(userName);
}

KaScramClient::~KaScramClient()
{
    freeState();
    freeContext();
}

int KaScramClient::newState(const char* userName) noexcept
{
    state = new (ramAlloc(sizeof(KaScramState))) KaScramState();
    if (state == nullptr)
        return 1;
    if (userName != nullptr) {
        state->userName = dupText(userName);
        if (state->userName == nullptr)
            return 1;
    }
    return 0;
}

void KaScramClient::freeState() noexcept
{
    if (state == nullptr)
        return;
    freeText(state->password);
    freeText(state->userName);
    freeText(state->text1);
    freeText(state->clientFirstBare);
    freeText(state->clientFinalWithoutProof);
    freeText(state->serverFirst);
    freeBytes(state->salt, state->saltLength);
    freeText(state->text2);
    freeText(state->text3);
    freeBytes(state->serverSignature, KA_SCRAM_KEY);
    fastMemzero(state->saltedPassword, sizeof state->saltedPassword);
    state->~KaScramState();
    ramFree(state);
    state = nullptr;
}

int KaScramClient::setPassword(const char* password) noexcept
{
    if (state == nullptr)
        return 1;
    freeText(state->password);
    state->password = dupText(password);
    return password != nullptr && state->password == nullptr ? 1 : 0;
}

int KaScramClient::setMessages(const char* clientFirstBare, const char* serverFirst,
                               const char* clientFinalWithoutProof) noexcept
{
    if (state == nullptr)
        return 1;
    freeText(state->clientFirstBare);
    freeText(state->serverFirst);
    freeText(state->clientFinalWithoutProof);
    state->clientFirstBare = dupText(clientFirstBare);
    state->serverFirst = dupText(serverFirst);
    state->clientFinalWithoutProof = dupText(clientFinalWithoutProof);
    return state->clientFirstBare == nullptr || state->serverFirst == nullptr ||
                   state->clientFinalWithoutProof == nullptr
               ? 1
               : 0;
}

int KaScramClient::setSalt(const uint8_t* salt, size_t length, uint64_t iterations) noexcept
{
    if (state == nullptr)
        return 1;
    freeBytes(state->salt, state->saltLength);
    state->saltLength = 0;
    state->iterations = iterations;
    if (length == 0)
        return 0;
    state->salt = static_cast<uint8_t*>(ramAlloc(length));
    if (state->salt == nullptr)
        return 1;
    memcpy(state->salt, salt, length);
    state->saltLength = length;
    return 0;
}

int KaScramClient::setServerSignature(const uint8_t* signature) noexcept
{
    if (state == nullptr)
        return 1;
    freeBytes(state->serverSignature, KA_SCRAM_KEY);
    state->serverSignature = static_cast<uint8_t*>(ramAlloc(KA_SCRAM_KEY));
    if (state->serverSignature == nullptr)
        return 1;
    memcpy(state->serverSignature, signature, KA_SCRAM_KEY);
    return 0;
}

uint8_t KaScramClient::makeNonce(uint8_t* buffer) noexcept
{
    KaCipherCallMapper* m = mapper();
    return m == nullptr ? 0 : uint8_t(m->RAND_bytes(buffer, int(KA_SCRAM_NONCE)));
}

// Every key and result is KA_SCRAM_KEY bytes, which only SHA-256 fills
// exactly: a shorter digest would leave bytes unset and a longer one would
// write past them, so the other selectors are refused.
const void* KaScramClient::digest(int32_t selector) noexcept
{
    KaCipherCallMapper* m = mapper();
    if (m == nullptr || selector != KA_SCRAM_SHA256)
        return nullptr;
    return m->EVP_sha256();
}

int KaScramClient::hmac(const void* md, const uint8_t* key, size_t keyLength, const uint8_t* data1, size_t length1,
                        const uint8_t* data2, size_t length2, uint8_t* out) noexcept
{
    KaCipherCallMapper* m = cipherMapper;
    void* context = m->newHmacContext();
    if (context == nullptr)
        return 1;
    int failed = 1;
    unsigned outLength = 0;
    if (m->initHmacContext(context) == 1 && m->HMAC_Init_ex(context, key, int(keyLength), md, nullptr) == 1 &&
        m->HMAC_Update(context, data1, length1) == 1 &&
        (length2 == 0 || m->HMAC_Update(context, data2, length2) == 1) &&
        m->HMAC_Final(context, out, &outLength) == 1 && outLength == KA_SCRAM_KEY)
        failed = 0;
    m->freeHmacContext(context);
    return failed;
}

int KaScramClient::saltPassword(const char* password, size_t passwordLength, const uint8_t* salt, size_t saltLength,
                                uint64_t iterations, int32_t selector, uint8_t* out) noexcept
{
    const void* md = digest(selector);
    if (md == nullptr)
        return 1;
    static const uint8_t blockOne[4] = {0, 0, 0, 1};
    uint8_t u[KA_SCRAM_KEY];
    const auto* key = reinterpret_cast<const uint8_t*>(password);
    if (hmac(md, key, passwordLength, salt, saltLength, blockOne, sizeof blockOne, u) != 0)
        return 1;
    memcpy(out, u, KA_SCRAM_KEY);
    int failed = 0;
    for (uint64_t i = 2; i <= iterations && failed == 0; ++i) {
        uint8_t next[KA_SCRAM_KEY];
        failed = hmac(md, key, passwordLength, u, KA_SCRAM_KEY, nullptr, 0, next);
        memcpy(u, next, KA_SCRAM_KEY);
        for (size_t b = 0; b < KA_SCRAM_KEY; ++b)
            out[b] ^= u[b];
        fastMemzero(next, sizeof next);
    }
    fastMemzero(u, sizeof u);
    return failed;
}

int KaScramClient::clientKey(const uint8_t* salted, int32_t selector, uint8_t* out) noexcept
{
    const void* md = digest(selector);
    static const char text[] = "Client Key";
    return md == nullptr ? 1
                         : hmac(md, salted, KA_SCRAM_KEY, reinterpret_cast<const uint8_t*>(text), sizeof text - 1,
                                nullptr, 0, out);
}

int KaScramClient::serverKey(const uint8_t* salted, int32_t selector, uint8_t* out) noexcept
{
    const void* md = digest(selector);
    static const char text[] = "Server Key";
    return md == nullptr ? 1
                         : hmac(md, salted, KA_SCRAM_KEY, reinterpret_cast<const uint8_t*>(text), sizeof text - 1,
                                nullptr, 0, out);
}

int KaScramClient::hashKey(const uint8_t* key, uint8_t* out) noexcept
{
    KaCipherCallMapper* m = mapper();
    if (m == nullptr)
        return 1;
    void* context = m->newSha256Context();
    if (context == nullptr)
        return 1;
    int failed = m->SHA256_Init(context) == 1 && m->SHA256_Update(context, key, KA_SCRAM_KEY) == 1 &&
                         m->SHA256_Final(out, context) == 1
                     ? 0
                     : 1;
    m->freeSha256Context(context);
    return failed;
}

// HMAC(key; client-first-message-bare "," server-first-message ","
// client-final-message-without-proof).
int KaScramClient::authSignature(const uint8_t* key, int32_t selector, uint8_t* out) noexcept
{
    const void* md = digest(selector);
    KaScramState* s = state;
    if (md == nullptr || s->clientFirstBare == nullptr || s->serverFirst == nullptr ||
        s->clientFinalWithoutProof == nullptr)
        return 1;
    size_t a = strlen(s->clientFirstBare);
    size_t b = strlen(s->serverFirst);
    size_t c = strlen(s->clientFinalWithoutProof);
    size_t total = a + b + c + 2;
    RamWipedPtr<uint8_t> message(static_cast<uint8_t*>(ramAlloc(total)), total);
    if (!message)
        return 1;
    uint8_t* m = message.get();
    memcpy(m, s->clientFirstBare, a);
    m[a] = ',';
    memcpy(m + a + 1, s->serverFirst, b);
    m[a + 1 + b] = ',';
    memcpy(m + a + b + 2, s->clientFinalWithoutProof, c);
    return hmac(md, key, KA_SCRAM_KEY, m, total, nullptr, 0, out);
}

int KaScramClient::clientProof(KaScramState* s, int32_t selector, uint8_t* proof) noexcept
{
    if (s == nullptr || s != state || s->password == nullptr || digest(selector) == nullptr)
        return 1;
    if (saltPassword(s->password, strlen(s->password), s->salt, s->saltLength, s->iterations, selector,
                     s->saltedPassword) != 0)
        return 1;
    uint8_t key[KA_SCRAM_KEY];
    uint8_t stored[KA_SCRAM_KEY];
    uint8_t signature[KA_SCRAM_KEY];
    int failed = clientKey(s->saltedPassword, selector, key) != 0 || hashKey(key, stored) != 0 ||
                         authSignature(stored, selector, signature) != 0
                     ? 1
                     : 0;
    if (failed == 0) {
        for (size_t i = 0; i < KA_SCRAM_KEY; ++i)
            proof[i] = uint8_t(key[i] ^ signature[i]);
    }
    fastMemzero(key, sizeof key);
    fastMemzero(stored, sizeof stored);
    fastMemzero(signature, sizeof signature);
    return failed;
}

int KaScramClient::verifyServerSignature(KaScramState* s, int32_t selector) noexcept
{
    if (s == nullptr || s != state || s->serverSignature == nullptr || digest(selector) == nullptr)
        return 0;
    uint8_t key[KA_SCRAM_KEY];
    uint8_t expected[KA_SCRAM_KEY];
    int ok = 0;
    if (serverKey(s->saltedPassword, selector, key) == 0 && authSignature(key, selector, expected) == 0) {
        // Compared in full whatever differs, so timing tells nothing.
        uint8_t diff = 0;
        for (size_t i = 0; i < KA_SCRAM_KEY; ++i)
            diff |= uint8_t(expected[i] ^ s->serverSignature[i]);
        ok = diff == 0 ? 1 : 0;
    }
    fastMemzero(key, sizeof key);
    fastMemzero(expected, sizeof expected);
    return ok;
}
