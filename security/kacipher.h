// Symmetric ciphers: the abstract CBC runner KaCrypto, DES in software
// (DESwCBCEncryptor) and the DES stage classes built from it. The encrypted
// memory buffer, the key-store reader and NTLM use them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"

constexpr size_t KA_DES_BLOCK_SIZE = 8;
constexpr size_t KA_DES_KEY_SIZE = 8;
constexpr size_t KA_DES3_KEY_SIZE = 24;
// Largest block of any cipher (AES); sizes the work blocks of KaCrypto.
constexpr size_t KA_CIPHER_MAX_BLOCK = 16;
// Words of a DES key schedule: two per round.
constexpr size_t KA_DES_SCHEDULE_WORDS = 32;

// Directions of setKey and cryptBlock.
constexpr int KA_CRYPT_ENCRYPT = 0;
constexpr int KA_CRYPT_DECRYPT = 1;

// The variant value that selects two-key triple DES.
constexpr uint64_t KA_DES3_TWO_KEY = 14;

class KaCrypto : public KaObject {
public:
    uint8_t* iv = nullptr;     // the IV as last set
    uint8_t* chain = nullptr;  // where the next separate-buffer operation continues
    int32_t reinit = 1;
    uint16_t blockSize = 0;

    KaCrypto() noexcept = default;
    ~KaCrypto() override;
    KaCrypto(const KaCrypto&) = delete;
    KaCrypto& operator=(const KaCrypto&) = delete;

    virtual void setKey(const uint8_t* key, int direction) noexcept = 0;
    virtual void setIV(const uint8_t* ivBytes) noexcept = 0;
    // Chaining value XORed in before (encryption) or after (decryption).
    virtual void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept;
    virtual void cryptStream(size_t count, const uint8_t* source, uint8_t* destination) noexcept;

    // Whole blocks are read and written: both buffers hold length rounded up
    // to the block size. In place when source and destination are the same.
    void encrypt(const void* source, void* destination, size_t count) noexcept;
    void decrypt(const void* source, void* destination, size_t count) noexcept;
    void decryptTo(const void* source, void* destination, size_t count) noexcept;
    // The text's bytes (no terminator) into a separate buffer of whole
    // blocks, chained from the IV; neither IV nor running chain changes.
    void encryptText(const char* text, void* destination) noexcept;
    void encryptText(const void* source, size_t count, void* destination) noexcept;
};

class DESwCBCEncryptor : public KaCrypto {
public:
    uint8_t ivStore[KA_DES_BLOCK_SIZE] = {};
    uint8_t chainStore[KA_DES_BLOCK_SIZE] = {};
    uint32_t schedule[KA_DES_SCHEDULE_WORDS] = {};

    DESwCBCEncryptor() noexcept;
    ~DESwCBCEncryptor() override;

    // Direction 1 builds the decryption schedule; parity bits are ignored.
    void setKey(const uint8_t* key, int direction) noexcept override;
    void setIV(const uint8_t* ivBytes) noexcept override;
    void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept override;

    // One DES block under the installed schedule, no chaining.
    void desBlock(uint8_t* block) const noexcept;
    // Overwrites key schedule, IV and chain with zeros.
    void wipe() noexcept;
};

// One DES stage doing its own CBC decryption chaining when keyed with
// direction 1.
class DESwCBCEncryptorOracle : public KaCrypto {
public:
    DESwCBCEncryptor stage;
    uint8_t ivStore[KA_DES_BLOCK_SIZE] = {};
    uint8_t chainStore[KA_DES_BLOCK_SIZE] = {};

    DESwCBCEncryptorOracle() noexcept;
    ~DESwCBCEncryptorOracle() override;
    void setKey(const uint8_t* key, int direction) noexcept override;
    void setIV(const uint8_t* ivBytes) noexcept override;
    void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept override;
};

// Triple DES out of three software stages (K1 at key bytes 0-7, K2 at 8-15,
// K3 at 16-23; the two-key variant uses K1 for K3). The plain form chains as
// CBC decryption, the E form as CBC encryption; both keep their key, IV and
// chain here.
class DES3EncryptorOracleBase : public KaCrypto {
public:
    uint64_t variant = 0;
    DESwCBCEncryptor stages[3];
    uint8_t keyStore[KA_DES3_KEY_SIZE] = {};
    uint8_t ivStore[KA_DES_BLOCK_SIZE] = {};
    uint8_t chainStore[KA_DES_BLOCK_SIZE] = {};

    DES3EncryptorOracleBase() noexcept;
    ~DES3EncryptorOracleBase() override;
    void setKey(const uint8_t* key, int direction) noexcept override;
    void setIV(const uint8_t* ivBytes) noexcept override;

    void setKeyLength(uint64_t newVariant) noexcept;

protected:
    // Copies the key and builds the stages for decryption.
    void installDecryptionKey(const uint8_t* key) noexcept;
    // Builds the stages for encryption when the key or variant changed.
    void prepareEncryption() noexcept;
};

class DES3EncryptorOracle : public DES3EncryptorOracleBase {
public:
    void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept override;
    void setDecryptionKey(const uint8_t* key, const uint8_t* ivBytes) noexcept;
};

class DES3EncryptorOracleE : public DES3EncryptorOracleBase {
public:
    void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept override;
    void setDecryptionKey(const uint8_t* key) noexcept;
};
