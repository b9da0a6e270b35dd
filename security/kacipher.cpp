// CBC over a per-class block operation, and DES (FIPS 46-3) in software.
#include "security/kacipher.h"

#include "foundation/fast.h"

namespace {

// ---- DES tables; bit positions count from 1 at the most significant bit ----

const uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7,
};

const uint8_t kFinalPermutation[64] = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25,
};

const uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1,
};

const uint8_t kRoundPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

const uint8_t kKeyChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1, 58, 50, 42, 34, 26, 18, 10, 2, 59, 51, 43, 35, 27, 19, 11, 3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7, 62, 54, 46, 38, 30, 22, 14, 6, 61, 53, 45, 37, 29, 21, 13, 5, 28, 20, 12, 4,
};

const uint8_t kKeyChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

const uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

const uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8, 14, 6,  11, 3,  4, 9, 7, 2,  13, 12, 0, 5, 10, 3,  13, 4,  7, 15, 2,  8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0,  14, 7, 11, 10, 4,  13, 1, 5, 8, 12, 6,  9,  3, 2, 15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0, 8, 13, 3,  12, 9, 7, 5, 10, 6, 1, 13, 0,  11, 7, 4, 9, 1,  10, 14, 3, 5, 12, 2,  15, 8, 6,
     1, 4,  11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5,  9, 2, 6,  11, 13, 8, 1, 4, 10, 7,  9,  5, 0, 15, 14, 2,  3, 12},
    {13, 2,  8, 4, 6, 15, 11, 1, 10, 9, 3,  14, 5,  0, 12, 7, 1, 15, 13, 8, 10, 3,  7, 4,  12, 5,  6, 11, 0, 14, 9, 2,
     7,  11, 4, 1, 9, 12, 14, 2, 0,  6, 10, 13, 15, 3, 5,  8, 2, 1,  14, 7, 4,  10, 8, 13, 15, 12, 9, 0,  3, 5,  6, 11},
};

constexpr int kRounds = 16;
constexpr uint32_t kHalfKeyMask = 0xFFFFFFF;    // 28 bits
constexpr uint32_t kSubKeyHalfMask = 0xFFFFFF;  // 24 bits

uint64_t permute(uint64_t in, int inBits, const uint8_t* table, int n)
{
    uint64_t out = 0;
    for (int i = 0; i < n; ++i)
        out = (out << 1) | ((in >> (inBits - table[i])) & 1);
    return out;
}

uint64_t loadBig(const uint8_t* b)
{
    uint64_t v = 0;
    for (size_t i = 0; i < KA_DES_BLOCK_SIZE; ++i)
        v = (v << 8) | b[i];
    return v;
}

void storeBig(uint8_t* b, uint64_t v)
{
    for (size_t i = KA_DES_BLOCK_SIZE; i > 0; --i) {
        b[i - 1] = uint8_t(v);
        v >>= 8;
    }
}

uint32_t roundFunction(uint32_t r, uint64_t subKey)
{
    uint64_t x = permute(r, 32, kExpansion, 48) ^ subKey;
    uint32_t out = 0;
    for (int i = 0; i < 8; ++i) {
        unsigned six = unsigned(x >> (42 - 6 * i)) & 0x3F;
        unsigned row = ((six & 0x20) >> 4) | (six & 1);
        unsigned col = (six >> 1) & 0xF;
        out = (out << 4) | kSBoxes[i][row * 16 + col];
    }
    return uint32_t(permute(out, 32, kRoundPermutation, 32));
}

void xorBlock(uint8_t* block, const uint8_t* with, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        block[i] ^= with[i];
}

// Builds a schedule into `schedule`; direction 1 reverses the round order.
void desSchedule(uint32_t* schedule, const uint8_t* key, int direction)
{
    uint64_t cd = permute(loadBig(key), 64, kKeyChoice1, 56);
    uint32_t c = uint32_t(cd >> 28) & kHalfKeyMask;
    uint32_t d = uint32_t(cd) & kHalfKeyMask;
    for (int round = 0; round < kRounds; ++round) {
        int s = kKeyShifts[round];
        c = ((c << s) | (c >> (28 - s))) & kHalfKeyMask;
        d = ((d << s) | (d >> (28 - s))) & kHalfKeyMask;
        uint64_t sub = permute((uint64_t(c) << 28) | d, 56, kKeyChoice2, 48);
        int slot = direction == KA_CRYPT_DECRYPT ? kRounds - 1 - round : round;
        schedule[2 * slot] = uint32_t(sub >> 24) & kSubKeyHalfMask;
        schedule[2 * slot + 1] = uint32_t(sub) & kSubKeyHalfMask;
    }
}

// The key halves of a triple-DES key store.
const uint8_t* tripleKey(const uint8_t* store, uint64_t variant, int which)
{
    if (which == 2 && variant == KA_DES3_TWO_KEY)
        return store;
    return store + which * KA_DES_KEY_SIZE;
}

size_t tripleKeySize(uint64_t variant)
{
    return variant == KA_DES3_TWO_KEY ? 2 * KA_DES_KEY_SIZE : KA_DES3_KEY_SIZE;
}

void buildTripleEncryption(DESwCBCEncryptor* stages, const uint8_t* store, uint64_t variant)
{
    stages[0].setKey(tripleKey(store, variant, 0), KA_CRYPT_ENCRYPT);
    stages[1].setKey(tripleKey(store, variant, 1), KA_CRYPT_DECRYPT);
    stages[2].setKey(tripleKey(store, variant, 2), KA_CRYPT_ENCRYPT);
}

void buildTripleDecryption(DESwCBCEncryptor* stages, const uint8_t* store, uint64_t variant)
{
    stages[0].setKey(tripleKey(store, variant, 2), KA_CRYPT_DECRYPT);
    stages[1].setKey(tripleKey(store, variant, 1), KA_CRYPT_ENCRYPT);
    stages[2].setKey(tripleKey(store, variant, 0), KA_CRYPT_DECRYPT);
}

void runTriple(const DESwCBCEncryptor* stages, uint8_t* block)
{
    stages[0].desBlock(block);
    stages[1].desBlock(block);
    stages[2].desBlock(block);
}

}  // namespace

// ---- KaCrypto -------------------------------------------------------------

KaCrypto::~KaCrypto() = default;

void KaCrypto::cryptBlock(uint8_t*, const uint8_t*, int) noexcept {}

void KaCrypto::cryptStream(size_t, const uint8_t*, uint8_t*) noexcept {}

void KaCrypto::encrypt(const void* source, void* destination, size_t count) noexcept
{
    auto* src = static_cast<const uint8_t*>(source);
    auto* dst = static_cast<uint8_t*>(destination);
    if (blockSize == 0) {
        cryptStream(count, src, dst);
        return;
    }
    if (blockSize > KA_CIPHER_MAX_BLOCK || count == 0)
        return;
    size_t bs = blockSize;
    size_t blocks = (count + bs - 1) / bs;
    if (src == dst) {
        // In place restarts from the IV every time.
        uint8_t chaining[KA_CIPHER_MAX_BLOCK];
        fastMemcpy(chaining, iv, bs);
        for (size_t i = 0; i < blocks; ++i) {
            uint8_t* block = dst + i * bs;
            cryptBlock(block, chaining, KA_CRYPT_ENCRYPT);
            fastMemcpy(chaining, block, bs);
        }
        fastMemzero(chaining, sizeof chaining);
        return;
    }
    uint8_t work[KA_CIPHER_MAX_BLOCK];
    fastMemcpy(work, src, bs);
    cryptBlock(work, chain, KA_CRYPT_ENCRYPT);
    fastMemcpy(dst, work, bs);
    fastMemzero(work, sizeof work);
    for (size_t i = 1; i < blocks; ++i) {
        fastMemcpy(dst + i * bs, src + i * bs, bs);
        cryptBlock(dst + i * bs, dst + (i - 1) * bs, KA_CRYPT_ENCRYPT);
    }
    // Consecutive separate-buffer calls continue one CBC stream.
    fastMemcpy(chain, dst + (blocks - 1) * bs, bs);
}

void KaCrypto::decrypt(const void* source, void* destination, size_t count) noexcept
{
    auto* src = static_cast<const uint8_t*>(source);
    auto* dst = static_cast<uint8_t*>(destination);
    if (blockSize == 0) {
        cryptStream(count, src, dst);
        return;
    }
    if (blockSize > KA_CIPHER_MAX_BLOCK || count == 0)
        return;
    size_t bs = blockSize;
    size_t blocks = (count + bs - 1) / bs;
    uint8_t work[KA_CIPHER_MAX_BLOCK];
    if (src == dst) {
        uint8_t cipherBlock[KA_CIPHER_MAX_BLOCK];
        for (size_t i = 0; i < blocks; ++i) {
            uint8_t* block = dst + i * bs;
            fastMemcpy(cipherBlock, block, bs);
            fastMemcpy(work, block, bs);
            cryptBlock(work, chain, KA_CRYPT_DECRYPT);
            fastMemcpy(chain, cipherBlock, bs);
            fastMemcpy(block, work, bs);
        }
        fastMemzero(work, sizeof work);
        return;
    }
    fastMemcpy(work, src, bs);
    cryptBlock(work, chain, KA_CRYPT_DECRYPT);
    fastMemcpy(dst, work, bs);
    for (size_t i = 1; i < blocks; ++i) {
        fastMemcpy(work, src + i * bs, bs);
        cryptBlock(work, src + (i - 1) * bs, KA_CRYPT_DECRYPT);
        fastMemcpy(dst + i * bs, work, bs);
    }
    fastMemzero(work, sizeof work);
    fastMemcpy(chain, src + (blocks - 1) * bs, bs);
}

void KaCrypto::decryptTo(const void* source, void* destination, size_t count) noexcept
{
    decrypt(source, destination, count);
}

void KaCrypto::encryptText(const char* text, void* destination) noexcept
{
    encryptText(text, text != nullptr ? fastStrlen(text) : 0, destination);
}

void KaCrypto::encryptText(const void* source, size_t count, void* destination) noexcept
{
    if (blockSize == 0 || blockSize > KA_CIPHER_MAX_BLOCK || count == 0)
        return;
    auto* src = static_cast<const uint8_t*>(source);
    auto* dst = static_cast<uint8_t*>(destination);
    size_t bs = blockSize;
    size_t blocks = (count + bs - 1) / bs;
    uint8_t chaining[KA_CIPHER_MAX_BLOCK];
    fastMemcpy(chaining, iv, bs);
    for (size_t i = 0; i < blocks; ++i) {
        uint8_t* block = dst + i * bs;
        size_t take = count - i * bs < bs ? count - i * bs : bs;
        fastMemcpy(block, src + i * bs, take);
        // The text is not read past its end; the last block is padded with zeros.
        if (take < bs)
            fastMemset(block + take, 0, bs - take);
        cryptBlock(block, chaining, KA_CRYPT_ENCRYPT);
        fastMemcpy(chaining, block, bs);
    }
}

// ---- DESwCBCEncryptor ------------------------------------------------------

DESwCBCEncryptor::DESwCBCEncryptor() noexcept
{
    iv = ivStore;
    chain = chainStore;
    reinit = 1;
    blockSize = KA_DES_BLOCK_SIZE;
}

DESwCBCEncryptor::~DESwCBCEncryptor()
{
    wipe();
}

void DESwCBCEncryptor::setKey(const uint8_t* key, int direction) noexcept
{
    desSchedule(schedule, key, direction);
}

void DESwCBCEncryptor::setIV(const uint8_t* ivBytes) noexcept
{
    fastMemcpy(ivStore, ivBytes, KA_DES_BLOCK_SIZE);
    fastMemcpy(chainStore, ivBytes, KA_DES_BLOCK_SIZE);
}

void DESwCBCEncryptor::cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept
{
    // The schedule decides encryption or decryption; direction only places the XOR.
    if (direction == KA_CRYPT_ENCRYPT) {
        xorBlock(block, chaining, KA_DES_BLOCK_SIZE);
        desBlock(block);
    } else {
        desBlock(block);
        xorBlock(block, chaining, blockSize);
    }
}

void DESwCBCEncryptor::desBlock(uint8_t* block) const noexcept
{
    uint64_t ip = permute(loadBig(block), 64, kInitialPermutation, 64);
    uint32_t left = uint32_t(ip >> 32);
    uint32_t right = uint32_t(ip);
    for (int round = 0; round < kRounds; ++round) {
        uint64_t sub = (uint64_t(schedule[2 * round]) << 24) | schedule[2 * round + 1];
        uint32_t next = left ^ roundFunction(right, sub);
        left = right;
        right = next;
    }
    uint64_t preOutput = (uint64_t(right) << 32) | left;
    storeBig(block, permute(preOutput, 64, kFinalPermutation, 64));
}

void DESwCBCEncryptor::wipe() noexcept
{
    fastMemzero(schedule, sizeof schedule);
    fastMemzero(ivStore, sizeof ivStore);
    fastMemzero(chainStore, sizeof chainStore);
}

// ---- DESwCBCEncryptorOracle ------------------------------------------------

DESwCBCEncryptorOracle::DESwCBCEncryptorOracle() noexcept
{
    iv = ivStore;
    chain = chainStore;
    reinit = 1;
    blockSize = KA_DES_BLOCK_SIZE;
}

DESwCBCEncryptorOracle::~DESwCBCEncryptorOracle()
{
    fastMemzero(ivStore, sizeof ivStore);
    fastMemzero(chainStore, sizeof chainStore);
}

void DESwCBCEncryptorOracle::setKey(const uint8_t* key, int direction) noexcept
{
    stage.setKey(key, direction);
}

void DESwCBCEncryptorOracle::setIV(const uint8_t* ivBytes) noexcept
{
    fastMemcpy(ivStore, ivBytes, KA_DES_BLOCK_SIZE);
    fastMemcpy(chainStore, ivBytes, KA_DES_BLOCK_SIZE);
}

void DESwCBCEncryptorOracle::cryptBlock(uint8_t* block, const uint8_t*, int) noexcept
{
    uint8_t saved[KA_DES_BLOCK_SIZE];
    fastMemcpy(saved, block, KA_DES_BLOCK_SIZE);
    stage.desBlock(block);
    xorBlock(block, chainStore, KA_DES_BLOCK_SIZE);
    fastMemcpy(chainStore, saved, KA_DES_BLOCK_SIZE);
}

// ---- DES3EncryptorOracleBase ----------------------------------------------

DES3EncryptorOracleBase::DES3EncryptorOracleBase() noexcept
{
    iv = ivStore;
    chain = chainStore;
    reinit = 1;
    blockSize = KA_DES_BLOCK_SIZE;
}

DES3EncryptorOracleBase::~DES3EncryptorOracleBase()
{
    fastMemzero(keyStore, sizeof keyStore);
    fastMemzero(ivStore, sizeof ivStore);
    fastMemzero(chainStore, sizeof chainStore);
}

void DES3EncryptorOracleBase::setKeyLength(uint64_t newVariant) noexcept
{
    if (newVariant != variant) {
        variant = newVariant;
        reinit = 1;
    }
}

void DES3EncryptorOracleBase::setKey(const uint8_t* key, int) noexcept
{
    fastMemcpy(keyStore, key, tripleKeySize(variant));
    reinit = 1;
}

void DES3EncryptorOracleBase::setIV(const uint8_t* ivBytes) noexcept
{
    fastMemcpy(ivStore, ivBytes, KA_DES_BLOCK_SIZE);
    fastMemcpy(chainStore, ivBytes, KA_DES_BLOCK_SIZE);
}

void DES3EncryptorOracleBase::installDecryptionKey(const uint8_t* key) noexcept
{
    fastMemcpy(keyStore, key, tripleKeySize(variant));
    buildTripleDecryption(stages, keyStore, variant);
}

void DES3EncryptorOracleBase::prepareEncryption() noexcept
{
    if (reinit != 0) {
        buildTripleEncryption(stages, keyStore, variant);
        reinit = 0;
    }
}

// ---- DES3EncryptorOracle ---------------------------------------------------

void DES3EncryptorOracle::setDecryptionKey(const uint8_t* key, const uint8_t* ivBytes) noexcept
{
    installDecryptionKey(key);
    setIV(ivBytes);
    reinit = 0;
}

void DES3EncryptorOracle::cryptBlock(uint8_t* block, const uint8_t*, int) noexcept
{
    prepareEncryption();
    uint8_t saved[KA_DES_BLOCK_SIZE];
    fastMemcpy(saved, block, KA_DES_BLOCK_SIZE);
    runTriple(stages, block);
    xorBlock(block, chainStore, KA_DES_BLOCK_SIZE);
    fastMemcpy(chainStore, saved, KA_DES_BLOCK_SIZE);
}

// ---- DES3EncryptorOracleE --------------------------------------------------

void DES3EncryptorOracleE::setDecryptionKey(const uint8_t* key) noexcept
{
    installDecryptionKey(key);
    reinit = 0;
}

void DES3EncryptorOracleE::cryptBlock(uint8_t* block, const uint8_t*, int) noexcept
{
    prepareEncryption();
    xorBlock(block, chainStore, KA_DES_BLOCK_SIZE);
    runTriple(stages, block);
    fastMemcpy(chainStore, block, KA_DES_BLOCK_SIZE);
}
