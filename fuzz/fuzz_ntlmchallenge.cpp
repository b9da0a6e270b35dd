// The NTLM challenge reader over arbitrary bytes as the server's answer:
// every input ends in a parsed challenge or a diagnostic, and what the
// reader keeps lies inside the input. The responses built from a parsed
// challenge read only what it kept (the unit tests run them).
#include <cstddef>
#include <cstdint>

#include "fuzzfixture.h"
#include "security/kantlm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope diagnostics;
    KaNTLMChallenge challenge;
    if (challenge.parse(data, size) != 0) {
        kafuzz::check(diagnostics.list.recordCount() > 0, "a refused challenge says why");
        return 0;
    }
    kafuzz::check(size >= KA_NTLM_CHALLENGE_HEADER, "a parsed challenge holds its fixed part");
    kafuzz::check(challenge.targetInfoBytes <= size - KA_NTLM_CHALLENGE_HEADER,
                  "the target information lies inside the input");
    kafuzz::check(challenge.targetInfoBytes + KA_NTLM_V2_RESPONSE_FIXED <= KA_NTLM_FIELD_MAX,
                  "an NTLMv2 response over it fits its field");
    kafuzz::check(size_t(challenge.targetName.length) * 2 <= size - KA_NTLM_CHALLENGE_HEADER,
                  "the target name lies inside the input");
    kafuzz::check(challenge.channelBindingsLength <= challenge.targetInfoBytes, "channel bindings lie inside it");
    for (const KaNTLMText& text : challenge.infoTexts)
        kafuzz::check(size_t(text.length) * 2 <= challenge.targetInfoBytes, "an item text lies inside it");
    uint32_t flags = 0;
    size_t before = diagnostics.list.recordCount();
    if (challenge.checkFlags(&flags) != 0)
        kafuzz::check(diagnostics.list.recordCount() > before, "refused flags say why");
    else
        kafuzz::check(flags == KA_NTLM_AUTHENTICATE_FLAGS || flags == KA_NTLM_AUTHENTICATE_FLAGS_56,
                      "accepted flags give one of the two answers");
    return 0;
}
