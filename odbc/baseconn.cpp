// The physical connection and the connection handle: construction, resource
// strings and the data-source name.
#include "odbc/baseconn.h"

#include <cstring>

#include "convert/numtext.h"
#include "convert/textcvt.h"
#include "foundation/ram.h"

namespace {

const char kNotOverridden[] = " Driver failed to override getDriverResourceStr";

int32_t unitLength(const uint16_t* s) noexcept
{
    int32_t n = 0;
    if (s != nullptr)
        while (s[n] != 0)
            ++n;
    return n;
}

}  // namespace

BaseConnection::BaseConnection(BaseEnv* owner) noexcept
    : env(owner), handle(nullptr), dsnNameW(nullptr), dsnNameA(nullptr), driverTextMode(1),
      connectionFlags(0), appCodePage(kCpLatin1), workarounds(0), doubleToStringPrecision(0),
      roundingMode(0), timestampTruncationBehavior(0), allowHH24(0), allowTime24(0), dbmsName(nullptr)
{
}

BaseConnection::~BaseConnection()
{
    ramFree(dsnNameW);
    ramFree(dsnNameA);
    ramFree(dbmsName);
}

int32_t BaseConnection::driverResourceStrA(uint32_t id, char* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 0;
    char text[kNumTextCapacity + sizeof kNotOverridden + 1];
    size_t n = u64ToText(text, id);
    std::memcpy(text + n, kNotOverridden, sizeof kNotOverridden);
    n += sizeof kNotOverridden - 1;
    if (n > static_cast<size_t>(capacity - 1))
        n = static_cast<size_t>(capacity - 1);
    std::memcpy(out, text, n);
    out[n] = 0;
    return static_cast<int32_t>(n);
}

int32_t BaseConnection::driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 0;
    char text[kNumTextCapacity + sizeof kNotOverridden + 1];
    int32_t n = BaseConnection::driverResourceStrA(id, text, sizeof text);
    if (n > capacity - 1)
        n = capacity - 1;
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(text[i]);
    out[n] = 0;
    return n;
}

int32_t BaseConnection::getResourceString(uint32_t id, uint16_t* outW) noexcept
{
    if ((connectionFlags & kBaseConnUnicodeDriver) != 0) {
        driverResourceStr(id, outW, kBaseResourceTextUnits);
        outW[kBaseResourceTextUnits - 1] = 0;
        return unitLength(outW);
    }
    char narrow[kBaseResourceTextUnits * 2];
    int32_t n = driverResourceStrA(id, narrow, sizeof narrow);
    if (n < 0)
        n = 0;
    int64_t cp = driverTextMode == 2 ? kCpUtf16LE : driverTextMode == 3 ? kCpUtf8 : appCodePage;
    int64_t produced = 0;
    int32_t truncated = 0;
    if (baseConvertTextToBuffer(cp, narrow, n, kCpUtf16LE, outW, kBaseResourceTextUnits * 2, 0,
                                &produced, &truncated, &icuCache) != 0) {
        outW[0] = 0;
        return 0;
    }
    outW[kBaseResourceTextUnits - 1] = 0;
    return unitLength(outW);
}

const char* BaseConnection::getDsnName() noexcept
{
    if ((dsnNameA == nullptr || dsnNameA[0] == 0) && dsnNameW != nullptr && dsnNameW[0] != 0) {
        ramFree(dsnNameA);
        dsnNameA = nullptr;
        BaseTextContext context{&icuCache, 1, appCodePage, 4, 1};
        int64_t produced = 0;
        if (baseAllocFromWide(context, dsnNameW, kTextNts, appCodePage, &dsnNameA, &produced, 4,
                              1) != 0)
            dsnNameA = ramDupWToBytes(dsnNameW, static_cast<size_t>(unitLength(dsnNameW)));
    }
    if (dsnNameA == nullptr || dsnNameA[0] == 0)
        return "Default";
    return dsnNameA;
}

int16_t BaseConnection::setDsnName(const uint16_t* textW) noexcept
{
    uint16_t* copy = nullptr;
    if (textW != nullptr) {
        size_t n = static_cast<size_t>(unitLength(textW));
        copy = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
        if (copy == nullptr)
            return 1;
        std::memcpy(copy, textW, (n + 1) * 2);
    }
    ramFree(dsnNameW);
    dsnNameW = copy;
    ramFree(dsnNameA);
    dsnNameA = nullptr;
    return 0;
}

BaseStubConnection::BaseStubConnection(BaseEnv* owner) noexcept
    : magic(kBaseStubMagic), handleKey{}, env(owner), current(nullptr), diagnostics(nullptr)
{
}

BaseStubConnection::~BaseStubConnection()
{
    magic = 0;
}
