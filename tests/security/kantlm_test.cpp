// The NTLM mechanism against the published NTLM worked examples (user
// "User", domain "Domain", password "Password", workstation "COMPUTER",
// server challenge 0123456789abcdef, client challenge eight 0xaa bytes,
// which the tests inject through the random source), through the crypto
// library the build makes; and a table of malformed challenges.
#include "security/kantlm.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kastringw.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/hexbytes.h"
#include "support/platformtest.h"

namespace {

using Bytes = std::vector<uint8_t>;

using katest::hex;
using katest::toHex;

std::u16string u(const char* text)
{
    std::u16string out;
    for (; *text != 0; ++text)
        out.push_back(char16_t(*text));
    return out;
}

const uint16_t* p16(const std::u16string& s)
{
    return reinterpret_cast<const uint16_t*>(s.c_str());
}

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

int fixedRandom(void* out, size_t n) noexcept
{
    memset(out, 0xAA, n);
    return 0;
}

int failingRandom(void*, size_t) noexcept
{
    return 1;
}

// The worked examples' values.
const char kNtHash[] = "a4f49c406510bdcab6824ee7c30fd852";
const char kV1SessionKey[] = "d87262b0cde4b1cb7499becccdf10784";  // MD4 of the NT hash
const char kV1EssNtResponse[] = "7537f803ae367128ca458204bde7caf81e97ed2683267232";
const char kV2LmResponse[] = "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa";
const char kV2NtProof[] = "68cd0ab851e51c96aabc927bebef6a1c";
const char kV2SessionKey[] = "8de40ccadbc14a82f15cb0ad0de95ca3";
const char kV2Blob[] = "0101000000000000 0000000000000000 aaaaaaaaaaaaaaaa 00000000"
                       "02000c0044006f006d00610069006e00 01000c00530065007200760065007200 00000000"
                       "00000000";
// The NTLMv2 example's challenge: target name "Server", target
// information (domain "Domain", computer "Server", end) at 0x44.
const char kV2Challenge[] = "4e544c4d53535000 02000000 0c000c00 38000000 33828ae2 0123456789abcdef"
                            "0000000000000000 24002400 44000000 060070170000000f"
                            "530065007200760065007200"
                            "02000c0044006f006d00610069006e00 01000c00530065007200760065007200 00000000";

Bytes v2Challenge()
{
    return hex(kV2Challenge);
}

void put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void put16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

uint32_t get32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t get16(const Bytes& b, size_t at)
{
    return uint16_t(b[at] | b[at + 1] << 8);
}

// A field of an authenticate message: its bytes, found through its
// descriptor at the given header offset.
Bytes field(const Bytes& message, size_t descriptor)
{
    uint16_t length = get16(message, descriptor);
    EXPECT_EQ(length, get16(message, descriptor + 2));
    uint32_t offset = get32(message, descriptor + 4);
    EXPECT_LE(size_t(offset) + length, message.size());
    return Bytes(message.begin() + offset, message.begin() + offset + length);
}

constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xCD;

class NtlmTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;

    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    std::u16string user = u("User");
    std::u16string password = u("Password");
    std::u16string domain = u("Domain");
    std::u16string workstation = u("COMPUTER");

    int init(KaNTLMDomain& m, int32_t useV2, int32_t sendWorkstation = 1)
    {
        return m.initialize(p16(user), user.size(), p16(password), password.size(), p16(domain), KA_NTLM_NTS,
                            p16(workstation), KA_NTLM_NTS, sendWorkstation, tlsLibrary().c_str(), useV2);
    }

    // One step into a guarded buffer: the message, or the status with the
    // buffer checked untouched.
    int step(KaNTLMDomain& m, const Bytes* input, Bytes& message, size_t capacity = 4096)
    {
        std::vector<uint8_t> out(capacity + 2 * kGuard, kGuardByte);
        size_t length = 12345;
        int32_t more = -1;
        int rc = m.initContextStep(input != nullptr ? input->data() : nullptr, input != nullptr ? input->size() : 0,
                                   out.data() + kGuard, capacity, &length, &more);
        for (size_t i = 0; i < kGuard; ++i) {
            EXPECT_EQ(kGuardByte, out[i]);
            EXPECT_EQ(kGuardByte, out[kGuard + capacity + i]);
        }
        if (rc != 0) {
            EXPECT_EQ(0u, length);
            for (size_t i = 0; i < capacity; ++i)
                EXPECT_EQ(kGuardByte, out[kGuard + i]) << "a failed step copied byte " << i;
            message.clear();
            return rc;
        }
        EXPECT_LE(length, capacity);
        EXPECT_EQ(input == nullptr ? 1 : 0, more);
        message.assign(out.begin() + kGuard, out.begin() + kGuard + length);
        return rc;
    }

    uint16_t firstNative() const { return errors.size() > 0 ? errors.native(0) : 0; }
};

TEST_F(NtlmTest, NtHashOfThePasswordIsTheExamplesHash)
{
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    ASSERT_EQ(0, init(m, 0));
    uint8_t hash[KA_NTLM_HASH_SIZE];
    ASSERT_EQ(0, m.authenticate.ntHash(hash));
    EXPECT_EQ(kNtHash, toHex(hash, sizeof hash));
}

TEST_F(NtlmTest, NegotiateMessageCarriesUpperCasedDomainAndWorkstation)
{
    struct Case {
        int32_t sendWorkstation;
        const char* expected;
    };
    const Case cases[] = {
        {1, "4e544c4d53535000 01000000 b7b208e2 0c000c00 28000000 10001000 34000000 0501280a0000000f"
            "44004f004d00410049004e00 43004f004d00500055005400450052 00"},
        {0, "4e544c4d53535000 01000000 b79208e2 0c000c00 28000000 00000000 28000000 0501280a0000000f"
            "44004f004d00410049004e00"},
    };
    for (const Case& c : cases) {
        KaNTLMDomain m;
        m.randomSource = &fixedRandom;
        ASSERT_EQ(0, init(m, 0, c.sendWorkstation));
        Bytes message;
        ASSERT_EQ(0, step(m, nullptr, message)) << c.sendWorkstation;
        EXPECT_EQ(toHex(hex(c.expected)), toHex(message)) << c.sendWorkstation;
    }
}

TEST_F(NtlmTest, NtlmV2AuthenticateMessageMatchesTheExample)
{
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    ASSERT_EQ(0, init(m, 1));
    Bytes negotiate, message;
    ASSERT_EQ(0, step(m, nullptr, negotiate));
    Bytes challenge = v2Challenge();
    ASSERT_EQ(0, step(m, &challenge, message)) << (errors.size() ? errors.text(0) : "");

    // The parsed challenge.
    EXPECT_EQ(u("Server"), std::u16string(reinterpret_cast<char16_t*>(m.challenge.targetName.data)));
    EXPECT_EQ(u("Server"), std::u16string(reinterpret_cast<char16_t*>(m.challenge.infoTexts[0].data)));
    EXPECT_EQ(u("Domain"), std::u16string(reinterpret_cast<char16_t*>(m.challenge.infoTexts[1].data)));

    ASSERT_EQ(232u, message.size());
    EXPECT_EQ("4e544c4d5353500003000000", toHex(message.data(), 12));
    EXPECT_EQ(0xE2888235u, get32(message, 60));
    EXPECT_EQ("0501280a0000000f", toHex(message.data() + 64, 8));
    // Payload in header order, each field right behind the one before.
    const size_t descriptors[] = {12, 20, 28, 36, 44, 52};
    uint32_t expectedOffset = KA_NTLM_AUTHENTICATE_HEADER;
    for (size_t d : descriptors) {
        EXPECT_EQ(expectedOffset, get32(message, d + 4)) << d;
        expectedOffset += get16(message, d);
    }
    EXPECT_EQ(message.size(), expectedOffset);

    EXPECT_EQ(kV2LmResponse, toHex(field(message, 12)));
    Bytes nt = field(message, 20);
    ASSERT_EQ(84u, nt.size());
    EXPECT_EQ(kV2NtProof, toHex(nt.data(), 16));
    EXPECT_EQ(toHex(hex(kV2Blob)), toHex(nt.data() + 16, nt.size() - 16));
    EXPECT_EQ("44006f006d00610069006e00", toHex(field(message, 28)));  // as given, not upper-cased
    EXPECT_EQ("5500730065007200", toHex(field(message, 36)));
    EXPECT_EQ("43004f004d0050005500540045005200", toHex(field(message, 44)));
    EXPECT_EQ(kV2SessionKey, toHex(field(message, 52)));
}

TEST_F(NtlmTest, NtlmV1WithExtendedSessionSecurityMatchesTheExample)
{
    // The example's challenge with key exchange and 128-bit keys added,
    // without target information.
    Bytes challenge = v2Challenge();
    put32(challenge, 20, 0xE20A8233u);
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    ASSERT_EQ(0, init(m, 0));
    Bytes message;
    ASSERT_EQ(0, step(m, &challenge, message)) << (errors.size() ? errors.text(0) : "");
    ASSERT_EQ(172u, message.size());
    EXPECT_EQ(0xE2888235u, get32(message, 60));
    EXPECT_EQ("aaaaaaaaaaaaaaaa" + std::string(32, '0'), toHex(field(message, 12)));
    EXPECT_EQ(kV1EssNtResponse, toHex(field(message, 20)));
    EXPECT_EQ(kV1SessionKey, toHex(field(message, 52)));
    EXPECT_EQ(nullptr, m.challenge.targetInfo);
}

TEST_F(NtlmTest, ResponseKindFollowsPasswordLengthAndTargetInformation)
{
    struct Case {
        const char* password;
        int32_t useV2;
        uint32_t challengeFlags;
        size_t ntLength;
        size_t lmLength;
    };
    const Case cases[] = {
        {"Password", 0, 0xE28A8233u, 24, 24},         // v1
        {"Password", 1, 0xE28A8233u, 48 + 36, 24},    // v2 asked for
        {"ABCDEFGHIJKLMN", 0, 0xE28A8233u, 24, 24},   // 14 units: v1
        {"ABCDEFGHIJKLMNO", 0, 0xE28A8233u, 84, 24},  // 15 units force v2
        {"Password", 1, 0xE20A8233u, 48, 24},         // no target information
        {"ABCDEFGHIJKLMNO", 0, 0x620A8233u, 48, 24},  // and 128-bit only
    };
    for (const Case& c : cases) {
        password = u(c.password);
        KaNTLMDomain m;
        m.randomSource = &fixedRandom;
        ASSERT_EQ(0, init(m, c.useV2));
        Bytes challenge = v2Challenge();
        put32(challenge, 20, c.challengeFlags);
        Bytes message;
        ASSERT_EQ(0, step(m, &challenge, message)) << c.password << " " << (errors.size() ? errors.text(0) : "");
        EXPECT_EQ(c.ntLength, field(message, 20).size()) << c.password;
        EXPECT_EQ(c.lmLength, field(message, 12).size()) << c.password;
        EXPECT_EQ((c.challengeFlags & KA_NTLM_NEGOTIATE_56) ? 0xE2888235u : 0x62888235u, get32(message, 60));
    }
}

TEST_F(NtlmTest, WithoutWorkstationTheAuthenticateMessageCarriesNone)
{
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    ASSERT_EQ(0, init(m, 1, 0));
    Bytes challenge = v2Challenge();
    Bytes message;
    ASSERT_EQ(0, step(m, &challenge, message));
    EXPECT_EQ(0u, field(message, 44).size());
    EXPECT_EQ(get32(message, 44 + 4), get32(message, 52 + 4));
    EXPECT_EQ(232u - 16u, message.size());
    EXPECT_EQ(kV2SessionKey, toHex(field(message, 52)));
}

TEST_F(NtlmTest, ClientChallengeIsFreshWithoutTheSeam)
{
    Bytes lm[2];
    for (Bytes& out : lm) {
        KaNTLMDomain m;
        ASSERT_EQ(0, init(m, 1));
        Bytes challenge = v2Challenge();
        Bytes message;
        ASSERT_EQ(0, step(m, &challenge, message));
        out = field(message, 12);
        ASSERT_EQ(24u, out.size());
    }
    // The LMv2 response ends with the client challenge.
    EXPECT_NE(toHex(lm[0].data() + 16, 8), toHex(lm[1].data() + 16, 8));
    EXPECT_NE("aaaaaaaaaaaaaaaa", toHex(lm[0].data() + 16, 8));
}

struct Malformed {
    const char* name;
    std::function<void(Bytes&)> change;
    uint16_t message;
};

TEST_F(NtlmTest, MalformedChallengesAreRefusedWithTheirDiagnostic)
{
    const Malformed cases[] = {
        {"shorter than the fixed part", [](Bytes& b) { b.resize(55); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"a few bytes", [](Bytes& b) { b.resize(3); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"bad signature", [](Bytes& b) { b[4] = 'X'; }, MSG_NTLM_NOT_A_CHALLENGE},
        {"wrong type", [](Bytes& b) { put32(b, 8, 3); }, MSG_NTLM_NOT_A_CHALLENGE},
        {"wrong revision", [](Bytes& b) { b[55] = 14; }, MSG_NTLM_NOT_A_CHALLENGE},
        {"target name beyond the end", [](Bytes& b) { put32(b, 16, 100); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"huge target name", [](Bytes& b) { put16(b, 12, 0xFFFF); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"target name offset wraps", [](Bytes& b) { put32(b, 16, 0xFFFFFFF8u); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"target information beyond the end", [](Bytes& b) { put32(b, 44, 0x50); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"huge target information", [](Bytes& b) { put16(b, 40, 0xFFFF); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"target information offset wraps", [](Bytes& b) { put32(b, 44, 0xFFFFFFFFu); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"target name inside the header", [](Bytes& b) { put32(b, 16, 8); }, MSG_NTLM_FIELD_MISPLACED},
        {"fields overlap", [](Bytes& b) { put32(b, 44, 0x3C); }, MSG_NTLM_FIELD_MISPLACED},
        {"items without an end", [](Bytes& b) { put16(b, 40, 32); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"item longer than the information", [](Bytes& b) { put16(b, 0x44 + 2, 0x40); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"item length cut in half", [](Bytes& b) { put16(b, 40, 34); }, MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"single-host item", [](Bytes& b) { put16(b, 0x44, 8); }, MSG_NTLM_SINGLE_HOST},
        {"unknown item", [](Bytes& b) { put16(b, 0x44, 11); }, MSG_NTLM_TARGET_INFO_UNKNOWN},
        {"flags item of the wrong size", [](Bytes& b) { put16(b, 0x44, KA_NTLM_AV_FLAGS); },
         MSG_NTLM_MESSAGE_ENDS_EARLY},
        {"no key exchange", [](Bytes& b) { put32(b, 20, get32(b, 20) & ~0x40000000u); }, MSG_NTLM_NO_KEY_EXCHANGE},
        {"no 128-bit keys", [](Bytes& b) { put32(b, 20, get32(b, 20) & ~0x20000000u); }, MSG_NTLM_NO_128_BIT},
        {"LM session key", [](Bytes& b) { put32(b, 20, get32(b, 20) | 0x00400000u); }, MSG_NTLM_WEAK_SESSION_KEY},
        {"identify", [](Bytes& b) { put32(b, 20, get32(b, 20) | 0x00100000u); }, MSG_NTLM_IDENTIFY},
        {"no extended security", [](Bytes& b) { put32(b, 20, get32(b, 20) & ~0x00080000u); },
         MSG_NTLM_NO_EXTENDED_SECURITY},
        {"anonymous", [](Bytes& b) { put32(b, 20, get32(b, 20) | 0x00000800u); }, MSG_NTLM_NULL_SESSION},
        {"LM key", [](Bytes& b) { put32(b, 20, get32(b, 20) | 0x00000080u); }, MSG_NTLM_WEAK_SESSION_KEY},
        {"NTLMv1 without NTLM", [](Bytes& b) { put32(b, 20, get32(b, 20) & ~0x00000200u); }, MSG_NTLM_WEAK_SESSION_KEY},
    };
    for (const Malformed& c : cases) {
        katest::ErrorScope local;
        KaNTLMDomain m;
        m.randomSource = &fixedRandom;
        // NTLMv1, so that the case without NTLM is refused too.
        ASSERT_EQ(0, init(m, 0));
        Bytes challenge = v2Challenge();
        c.change(challenge);
        Bytes message;
        EXPECT_EQ(1, step(m, &challenge, message)) << c.name;
        ASSERT_GT(local.size(), 0u) << c.name;
        EXPECT_EQ(c.message, local.native(0)) << c.name << ": " << local.text(0);
        if (c.message == MSG_NTLM_TARGET_INFO_UNKNOWN) {
            EXPECT_NE(std::string::npos, local.text(0).find("11")) << local.text(0);
        }
    }
}

TEST_F(NtlmTest, MissingInputsAreRefused)
{
    struct Case {
        const char* name;
        bool user, password, domain, workstation;
        uint16_t message;
    };
    const Case cases[] = {
        {"no user", false, true, true, true, MSG_NTLM_NO_USER},
        {"no password", true, false, true, true, MSG_NTLM_NO_PASSWORD},
        {"no domain", true, true, false, true, MSG_NTLM_NO_DOMAIN},
        {"no workstation", true, true, true, false, MSG_NTLM_NO_WORKSTATION},
    };
    for (const Case& c : cases) {
        katest::ErrorScope local;
        KaNTLMDomain m;
        m.randomSource = &fixedRandom;
        EXPECT_EQ(1, m.initialize(c.user ? p16(user) : nullptr, c.user ? user.size() : 0,
                                  c.password ? p16(password) : nullptr, c.password ? password.size() : 0,
                                  c.domain ? p16(domain) : nullptr, KA_NTLM_NTS,
                                  c.workstation ? p16(workstation) : nullptr, KA_NTLM_NTS, 1, tlsLibrary().c_str(), 0))
            << c.name;
        ASSERT_GT(local.size(), 0u) << c.name;
        EXPECT_EQ(c.message, local.native(0)) << c.name;
        // A mechanism whose set-up failed makes no message.
        Bytes message;
        EXPECT_EQ(1, step(m, nullptr, message)) << c.name;
    }
}

TEST_F(NtlmTest, FailingRandomSourceFailsTheSetUp)
{
    KaNTLMDomain m;
    m.randomSource = &failingRandom;
    EXPECT_EQ(1, init(m, 1));
    EXPECT_EQ(MSG_NTLM_NO_RANDOM, firstNative());
}

TEST_F(NtlmTest, MessageLongerThanTheBufferIsRefusedWhole)
{
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    ASSERT_EQ(0, init(m, 1));
    Bytes message;
    // The negotiate message is 40 + 12 + 16 bytes.
    EXPECT_EQ(1, step(m, nullptr, message, 67));
    EXPECT_EQ(MSG_NTLM_TOKEN_TOO_LONG, firstNative());
    EXPECT_EQ(0, step(m, nullptr, message, 68));
    EXPECT_EQ(68u, message.size());
    Bytes challenge = v2Challenge();
    EXPECT_EQ(1, step(m, &challenge, message, 231));
    EXPECT_EQ(0, step(m, &challenge, message, 232));
}

TEST_F(NtlmTest, TextsLongerThanAFieldAreRefused)
{
    std::u16string longUser(40000, u'x');
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    EXPECT_EQ(1, m.initialize(p16(longUser), longUser.size(), p16(password), password.size(), p16(domain), KA_NTLM_NTS,
                              p16(workstation), KA_NTLM_NTS, 1, tlsLibrary().c_str(), 1));
    EXPECT_EQ(MSG_NTLM_FIELD_TOO_LONG, firstNative());
}

TEST_F(NtlmTest, SecretsAreNotKeptInThePlain)
{
    KaNTLMDomain m;
    m.randomSource = &fixedRandom;
    ASSERT_EQ(0, init(m, 1));
    Bytes challenge = v2Challenge();
    Bytes message;
    ASSERT_EQ(0, step(m, &challenge, message));
    // The password is held encrypted; the responses and session key are
    // gone once the message is out.
    const KaMemoryBuffer* held = m.authenticate.password;
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(KA_MEMBUF_ENCRYPTED, held->state);
    std::string plain = toHex(reinterpret_cast<const uint8_t*>(p16(password)), password.size() * 2);
    EXPECT_NE(plain, toHex(reinterpret_cast<const uint8_t*>(held->data), password.size() * 2));
    EXPECT_EQ(nullptr, m.authenticate.ntResponse);
    EXPECT_EQ(nullptr, m.challenge.buffer.bytes);  // the server's message is not kept
    EXPECT_EQ(std::string(32, '0'), toHex(m.authenticate.sessionKey, KA_NTLM_HASH_SIZE));
}

TEST_F(NtlmTest, FlagsTextNamesEachKnownFlagFromTheTop)
{
    struct Case {
        uint32_t flags;
        const char* text;
    };
    const Case cases[] = {
        {0x00000001u, "NEGOTIATE_UNICODE|"},
        {0x00000000u, ""},
        {0x04000000u, ""},  // not a flag the text knows
        {0xA0000201u, "NEGOTIATE_56|NEGOTIATE_128|NEGOTIATE_NTLM|NEGOTIATE_UNICODE|"},
        {0x00882000u, "NEGOTIATE_TARGET_INFO|NEGOTIATE_EXTENDED_SESSIONSECURITY|NEGOTIATE_OEM_WORKSTATION_SUPPLIED|"},
    };
    for (const Case& c : cases) {
        KaStringW text;
        ASSERT_EQ(0, KaNTLMFlagsText(c.flags, text));
        std::string narrow;
        for (size_t i = 0; i < text.len; ++i)
            narrow.push_back(char(text.data[i]));
        EXPECT_EQ(c.text, narrow) << std::hex << c.flags;
    }
}

TEST(NtlmDesKey, SevenBytesSpreadWithOddParity)
{
    struct Case {
        const char* seven;
        const char* key;
    };
    const Case cases[] = {
        {"00000000000000", "0101010101010101"},
        {"ffffffffffffff", "fefefefefefefefe"},
        // The first seven bytes of the example's NT hash.
        {"a4f49c406510bd", "a47a26890729437a"},
    };
    for (const Case& c : cases) {
        Bytes seven = hex(c.seven);
        uint8_t key[8];
        kaNTLMDesKey(seven.data(), key);
        EXPECT_EQ(c.key, toHex(key, 8)) << c.seven;
    }
}

}  // namespace
