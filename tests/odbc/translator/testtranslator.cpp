// A translation library for the connection tests: towards the driver it
// turns ASCII letters of UTF-16 text to upper case in place. Option 7 makes
// it fail without a message, option 8 with one.
#include <cstdint>
#include <cstring>

extern "C" {

int SQLDataSourceToDriver(uint32_t option, int16_t type, void* in, int32_t inLength, void* out, int32_t outSize,
                          int32_t* outLength, unsigned char* message, int16_t messageSize, int16_t* messageLength)
{
    *messageLength = 0;
    if (option == 7)
        return 0;
    if (option == 8) {
        std::strncpy(reinterpret_cast<char*>(message), "no table", static_cast<size_t>(messageSize));
        *messageLength = 8;
        return 0;
    }
    int32_t n = inLength < outSize ? inLength : outSize;
    auto* units = static_cast<uint16_t*>(out);
    if (out != in)
        std::memmove(out, in, static_cast<size_t>(n));
    for (int32_t i = 0; i < n / 2; ++i)
        if (units[i] >= 'a' && units[i] <= 'z')
            units[i] = static_cast<uint16_t>(units[i] - 32);
    *outLength = n;
    return 1;
}

int SQLDriverToDataSource(uint32_t option, int16_t type, void* in, int32_t inLength, void* out, int32_t outSize,
                          int32_t* outLength, unsigned char* message, int16_t messageSize, int16_t* messageLength)
{
    *messageLength = 0;
    int32_t n = inLength < outSize ? inLength : outSize;
    if (out != in)
        std::memmove(out, in, static_cast<size_t>(n));
    *outLength = n;
    return 1;
}
}
