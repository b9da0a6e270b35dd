// AES, triple DES and RC4 through the cipher call mapper.
#include "security/kaevpcipher.h"

#include <cstring>

#include "foundation/fast.h"

namespace {

// Copies what the library returned and zero-fills the rest of the block:
// a block the library holds back (padding on, decrypting) comes out as zeros.
void runBlock(KaCipherCallMapper& m, void* context, uint8_t* block, size_t size, int direction) noexcept
{
    uint8_t work[KA_CIPHER_MAX_BLOCK * 2];
    int produced = 0;
    if (direction != KA_CRYPT_ENCRYPT)
        (void)m.EVP_DecryptUpdate(context, work, &produced, block, static_cast<int>(size));
    else
        (void)m.EVP_EncryptUpdate(context, work, &produced, block, static_cast<int>(size));
    size_t n = produced > 0 ? static_cast<size_t>(produced) : 0;
    if (n > size)
        n = size;
    memcpy(block, work, n);
    memset(block + n, 0, size - n);
    fastMemzero(work, sizeof work);
}

void startCipher(KaCipherCallMapper& m, void* context, const void* cipher, const uint8_t* key, const uint8_t* iv,
                 int32_t padding, int direction) noexcept
{
    if (direction != KA_CRYPT_ENCRYPT)
        (void)m.EVP_DecryptInit_ex(context, cipher, nullptr, key, iv);
    else
        (void)m.EVP_EncryptInit_ex(context, cipher, nullptr, key, iv);
    (void)m.EVP_CIPHER_CTX_set_padding(context, padding);
}

// Stores a new key length in the API part and, when it differs, in the mapper.
void changeKeyLength(KaCipherAPI& api, int32_t& reinit, uint64_t length) noexcept
{
    api.keyLength = length;
    if (api.cipherMapper != nullptr && api.cipherMapper->keyLength != length) {
        api.cipherMapper->keyLength = length;
        reinit = 1;
    }
}

uint64_t mapperKeyLength(const KaCipherAPI& api) noexcept
{
    return api.cipherMapper != nullptr ? api.cipherMapper->keyLength
                                       : (api.keyLength != 0 ? api.keyLength : KA_CIPHER_DEFAULT_KEY_LENGTH);
}

}  // namespace

AESwCBCEncryptor::AESwCBCEncryptor(const char* allowedVersions) noexcept : KaCipherAPI(allowedVersions)
{
    iv = ivStore;
    chain = chainStore;
    reinit = 1;
    blockSize = KA_AES_BLOCK_SIZE;
}

AESwCBCEncryptor::~AESwCBCEncryptor()
{
    freeContext();
    fastMemzero(keyStore, sizeof keyStore);
    fastMemzero(ivStore, sizeof ivStore);
    fastMemzero(chainStore, sizeof chainStore);
}

void AESwCBCEncryptor::setKey(const uint8_t* key, int) noexcept
{
    uint64_t n = mapperKeyLength(*this);
    memcpy(keyStore, key, n < sizeof keyStore ? n : sizeof keyStore);
    reinit = 1;
}

void AESwCBCEncryptor::setIV(const uint8_t* ivBytes) noexcept
{
    memcpy(ivStore, ivBytes, KA_AES_BLOCK_SIZE);
    memcpy(chainStore, ivBytes, KA_AES_BLOCK_SIZE);
    reinit = 1;
}

void AESwCBCEncryptor::setKeyLength(uint64_t length) noexcept
{
    changeKeyLength(*this, reinit, length);
}

void AESwCBCEncryptor::setPadding(int32_t flag) noexcept
{
    if (flag != padding) {
        padding = flag;
        reinit = 1;
    }
}

void AESwCBCEncryptor::cryptBlock(uint8_t* block, const uint8_t*, int direction) noexcept
{
    KaCipherCallMapper* m = cipherMapper;
    if (m == nullptr || cipherContext == nullptr)
        return;
    if (reinit) {
        const void* cipher = m->keyLength == 32   ? m->EVP_aes_256_cbc()
                             : m->keyLength == 16 ? m->EVP_aes_128_cbc()
                                                  : m->EVP_aes_192_cbc();
        startCipher(*m, cipherContext, cipher, keyStore, ivStore, padding, direction);
        reinit = 0;
    }
    runBlock(*m, cipherContext, block, KA_AES_BLOCK_SIZE, direction);
}

DES3Encryptor::DES3Encryptor(const char* allowedVersions) noexcept : KaCipherAPI(allowedVersions)
{
    iv = ivStore;
    chain = chainStore;
    reinit = 1;
    blockSize = KA_DES_BLOCK_SIZE;
}

DES3Encryptor::~DES3Encryptor()
{
    freeContext();
    fastMemzero(keyStore, sizeof keyStore);
    fastMemzero(ivStore, sizeof ivStore);
    fastMemzero(chainStore, sizeof chainStore);
}

void DES3Encryptor::setKey(const uint8_t* key, int) noexcept
{
    memcpy(keyStore, key, mapperKeyLength(*this) == KA_DES3_TWO_KEY ? 2 * KA_DES_KEY_SIZE : KA_DES3_KEY_SIZE);
    reinit = 1;
}

void DES3Encryptor::setIV(const uint8_t* ivBytes) noexcept
{
    memcpy(ivStore, ivBytes, KA_DES_BLOCK_SIZE);
    memcpy(chainStore, ivBytes, KA_DES_BLOCK_SIZE);
    reinit = 1;
}

void DES3Encryptor::setKeyLength(uint64_t length) noexcept
{
    changeKeyLength(*this, reinit, length);
}

void DES3Encryptor::setPadding(int32_t flag) noexcept
{
    if (flag != padding) {
        padding = flag;
        reinit = 1;
    }
}

void DES3Encryptor::cryptBlock(uint8_t* block, const uint8_t*, int direction) noexcept
{
    KaCipherCallMapper* m = cipherMapper;
    if (m == nullptr || cipherContext == nullptr)
        return;
    if (reinit) {
        const void* cipher = m->keyLength == KA_DES3_TWO_KEY ? m->EVP_des_ede_cbc() : m->EVP_des_ede3_cbc();
        startCipher(*m, cipherContext, cipher, keyStore, ivStore, padding, direction);
        reinit = 0;
    }
    runBlock(*m, cipherContext, block, KA_DES_BLOCK_SIZE, direction);
}

RC4Encryptor::RC4Encryptor(const char* allowedVersions) noexcept : KaCipherAPI(allowedVersions)
{
    reinit = 1;
    blockSize = 0;
}

RC4Encryptor::~RC4Encryptor()
{
    freeContext();
    fastMemzero(keyStore, sizeof keyStore);
}

void RC4Encryptor::setKey(const uint8_t* key, int) noexcept
{
    uint64_t n = mapperKeyLength(*this);
    memcpy(keyStore, key, n < sizeof keyStore ? n : sizeof keyStore);
    reinit = 1;
}

void RC4Encryptor::setIV(const uint8_t*) noexcept {}

void RC4Encryptor::setKeyLength(uint64_t length) noexcept
{
    changeKeyLength(*this, reinit, length);
}

void RC4Encryptor::cryptStream(size_t count, const uint8_t* source, uint8_t* destination) noexcept
{
    KaCipherCallMapper* m = cipherMapper;
    if (m == nullptr || cipherContext == nullptr || count == 0)
        return;
    if (reinit) {
        (void)m->EVP_EncryptInit_ex(cipherContext, m->EVP_rc4(), nullptr, nullptr, nullptr);
        (void)m->EVP_CIPHER_CTX_set_key_length(cipherContext, static_cast<int>(m->keyLength));
        (void)m->EVP_EncryptInit_ex(cipherContext, nullptr, nullptr, keyStore, nullptr);
        reinit = 0;
    }
    // The library takes int lengths; long requests go in slices.
    constexpr size_t kSlice = 1u << 30;
    while (count > 0) {
        size_t n = count < kSlice ? count : kSlice;
        int produced = 0;
        (void)m->EVP_EncryptUpdate(cipherContext, destination, &produced, source, static_cast<int>(n));
        source += n;
        destination += n;
        count -= n;
    }
}
