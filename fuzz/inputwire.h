// The socket the HiveServer2 fuzz targets read the server's answer from:
// its reads serve the input in pieces of a chosen size, its writes vanish.
// Used by fuzz_hs2reply and fuzz_hs2rows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "transport/basesocket.h"
#include "transport/kasock.h"

namespace kafuzz {

class InputWire : public BaseSocket {
public:
    InputWire() noexcept : BaseSocket(nullptr, nullptr) {}
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t piece = 1;

    int write(const void*, size_t, int32_t) noexcept override { return KA_SOCK_OK; }
    int read(void* buffer, size_t capacity, size_t* received, int32_t) noexcept override
    {
        *received = 0;
        if (size == 0)
            return KA_SOCK_LOST;
        size_t n = piece < size ? piece : size;
        if (n > capacity)
            n = capacity;
        std::memcpy(buffer, data, n);
        data += n;
        size -= n;
        *received = n;
        return KA_SOCK_OK;
    }
};

}  // namespace kafuzz
