#include "security/kastoredvalue.h"

#include <cstring>

#include "foundation/fast.h"
#include "security/kacipher.h"

namespace {

// The key is assembled when it is needed, so that it stands in the library
// as no single constant, and wiped after use.
void buildKey(uint8_t key[KA_DES_KEY_SIZE]) noexcept
{
    static const uint8_t kLeft[KA_DES_KEY_SIZE] = {0x5b, 0xc2, 0x19, 0x7e, 0xa4, 0x3d, 0xe8, 0x61};
    static const uint8_t kRight[KA_DES_KEY_SIZE] = {0x2f, 0x94, 0x6a, 0xd1, 0x0c, 0xb7, 0x53, 0x8e};
    for (size_t i = 0; i < KA_DES_KEY_SIZE; ++i)
        key[i] = static_cast<uint8_t>(kLeft[i] ^ kRight[KA_DES_KEY_SIZE - 1 - i] ^ (i * 37));
}

int64_t run(uint8_t* bytes, int64_t length, int32_t mode, const uint8_t* key,
            int direction) noexcept
{
    if (mode != KA_STORED_MODE_OPTION || length < 0 ||
        length % static_cast<int64_t>(KA_DES_BLOCK_SIZE) != 0)
        return -1;
    uint8_t own[KA_DES_KEY_SIZE];
    if (key == nullptr) {
        buildKey(own);
        key = own;
    }
    static const uint8_t kZeroIv[KA_DES_BLOCK_SIZE] = {};
    DESwCBCEncryptor cipher;
    cipher.setKey(key, direction);
    cipher.setIV(kZeroIv);
    if (length != 0) {
        if (direction == KA_CRYPT_ENCRYPT)
            cipher.encrypt(bytes, bytes, static_cast<size_t>(length));
        else
            cipher.decrypt(bytes, bytes, static_cast<size_t>(length));
    }
    cipher.wipe();
    fastMemzero(own, sizeof own);
    return length;
}

}  // namespace

int32_t cryptDecode(uint8_t* bytes, int64_t length, int32_t mode, const uint8_t* key) noexcept
{
    return run(bytes, length, mode, key, KA_CRYPT_DECRYPT) < 0 ? 1 : 0;
}

int32_t cryptDecodeW(uint16_t* text, int64_t units, int32_t mode, const uint8_t* key) noexcept
{
    if (units < 0)
        return 1;
    return cryptDecode(reinterpret_cast<uint8_t*>(text), units * 2, mode, key);
}

int64_t cryptEncode(uint8_t* bytes, int64_t length, int32_t mode, const uint8_t* key) noexcept
{
    if (length < 0)
        return -1;
    auto block = static_cast<int64_t>(KA_DES_BLOCK_SIZE);
    int64_t whole = (length + block - 1) / block * block;
    std::memset(bytes + length, 0, static_cast<size_t>(whole - length));
    return run(bytes, whole, mode, key, KA_CRYPT_ENCRYPT);
}
