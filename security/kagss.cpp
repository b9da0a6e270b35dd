// The GSSAPI binding and the Kerberos login steps: target name, context
// steps, the SASL security-layer answer, and GSSAPI statuses as
// diagnostics.
#include "security/kagss.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

#define KA_GSS_ROW(name)                                                                                               \
    {                                                                                                                  \
        "gss_" #name, KA_GSS_##name, 0                                                                                 \
    }
const CallMapperSymbol gssRows[] = {
    KA_GSS_ROW(import_name),        KA_GSS_ROW(acquire_cred),   KA_GSS_ROW(init_sec_context),
    KA_GSS_ROW(delete_sec_context), KA_GSS_ROW(release_buffer), KA_GSS_ROW(release_cred),
    KA_GSS_ROW(release_name),       KA_GSS_ROW(wrap),           KA_GSS_ROW(unwrap),
    KA_GSS_ROW(wrap_size_limit),
};
#undef KA_GSS_ROW
static_assert(sizeof gssRows / sizeof gssRows[0] == KA_GSS_ENTRIES);
// Every entry is required.
const CallMapperTable gssTable = {gssRows, KA_GSS_ENTRIES, 0};

// Kerberos principal name: 1.2.840.113554.1.2.2.1.
uint8_t kKrb5PrincipalOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02, 0x01};

// GSSAPI libraries are not known to be thread-safe everywhere: one lock
// for every call of the process.
KaCriticalSection gssLock;

// Catalogue texts of Kerberos error codes: this base plus the code.
constexpr uint16_t kKrbTextBase = 7900;

using FnImportName = OM_uint32 (*)(OM_uint32*, gss_buffer_t, gss_OID, gss_name_t*);
using FnInitSecContext = OM_uint32 (*)(OM_uint32*, gss_cred_id_t, gss_ctx_id_t*, gss_name_t, gss_OID, OM_uint32,
                                       OM_uint32, gss_channel_bindings_t, gss_buffer_t, gss_OID*, gss_buffer_t,
                                       OM_uint32*, OM_uint32*);
using FnDeleteSecContext = OM_uint32 (*)(OM_uint32*, gss_ctx_id_t*, gss_buffer_t);
using FnReleaseBuffer = OM_uint32 (*)(OM_uint32*, gss_buffer_t);
using FnReleaseCred = OM_uint32 (*)(OM_uint32*, gss_cred_id_t*);
using FnReleaseName = OM_uint32 (*)(OM_uint32*, gss_name_t*);
using FnWrap = OM_uint32 (*)(OM_uint32*, gss_ctx_id_t, int, gss_qop_t, gss_buffer_t, int*, gss_buffer_t);
using FnUnwrap = OM_uint32 (*)(OM_uint32*, gss_ctx_id_t, gss_buffer_t, gss_buffer_t, int*, gss_qop_t*);

// A call wrapper's answer when the library is not bound.
constexpr OM_uint32 kNotBound = GSS_S_UNAVAILABLE;

// UTF-16 as a new UTF-8 text; null when it does not convert or memory ran out.
char* utf8Text(const uint16_t* text, size_t* length) noexcept
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    size_t size = n * 3 + 1;
    RamPtr<char> out = ramMake<char>(size);
    if (!out) {
        ramOutOfMemory();
        return nullptr;
    }
    if (utf16ToUtf8(out.get(), size, text, int64_t(n), length, 0) != kConvDone)
        return nullptr;
    out.get()[*length] = 0;
    return out.release();
}

}  // namespace

KaSecurityServices::~KaSecurityServices() = default;

KaGSSCallMapper::KaGSSCallMapper(const char* name) noexcept : UtlLibCallMapper(name, &gssTable) {}

KaGSSCallMapper::~KaGSSCallMapper() = default;

#define KA_GSS_CALL(index, type, ...)                                                                                  \
    auto fn = reinterpret_cast<type>(entryPoint(index));                                                               \
    if (fn == nullptr)                                                                                                 \
        return kNotBound;                                                                                              \
    KaLockGuard guard(gssLock);                                                                                        \
    return fn(__VA_ARGS__)

OM_uint32 KaGSSCallMapper::importName(OM_uint32* minor, gss_buffer_t name, gss_OID type, gss_name_t* out) noexcept
{
    KA_GSS_CALL(KA_GSS_import_name, FnImportName, minor, name, type, out);
}

OM_uint32 KaGSSCallMapper::initSecContext(OM_uint32* minor, gss_ctx_id_t* context, gss_name_t target, OM_uint32 flags,
                                          gss_buffer_t input, gss_buffer_t output, OM_uint32* returnedFlags) noexcept
{
    KA_GSS_CALL(KA_GSS_init_sec_context, FnInitSecContext, minor, GSS_C_NO_CREDENTIAL, context, target, GSS_C_NO_OID,
                flags, 0, GSS_C_NO_CHANNEL_BINDINGS, input, nullptr, output, returnedFlags, nullptr);
}

OM_uint32 KaGSSCallMapper::deleteSecContext(OM_uint32* minor, gss_ctx_id_t* context) noexcept
{
    KA_GSS_CALL(KA_GSS_delete_sec_context, FnDeleteSecContext, minor, context, GSS_C_NO_BUFFER);
}

OM_uint32 KaGSSCallMapper::releaseBuffer(OM_uint32* minor, gss_buffer_t buffer) noexcept
{
    KA_GSS_CALL(KA_GSS_release_buffer, FnReleaseBuffer, minor, buffer);
}

OM_uint32 KaGSSCallMapper::releaseCred(OM_uint32* minor, gss_cred_id_t* cred) noexcept
{
    KA_GSS_CALL(KA_GSS_release_cred, FnReleaseCred, minor, cred);
}

OM_uint32 KaGSSCallMapper::releaseName(OM_uint32* minor, gss_name_t* name) noexcept
{
    KA_GSS_CALL(KA_GSS_release_name, FnReleaseName, minor, name);
}

OM_uint32 KaGSSCallMapper::wrap(OM_uint32* minor, gss_ctx_id_t context, int confidential, gss_qop_t qop,
                                gss_buffer_t input, int* confState, gss_buffer_t output) noexcept
{
    KA_GSS_CALL(KA_GSS_wrap, FnWrap, minor, context, confidential, qop, input, confState, output);
}

OM_uint32 KaGSSCallMapper::unwrap(OM_uint32* minor, gss_ctx_id_t context, gss_buffer_t input, gss_buffer_t output,
                                  int* confState, gss_qop_t* qop) noexcept
{
    KA_GSS_CALL(KA_GSS_unwrap, FnUnwrap, minor, context, input, output, confState, qop);
}
#undef KA_GSS_CALL

int postGssStatus(OM_uint32 major, OM_uint32 minor) noexcept
{
    if (major == GSS_S_COMPLETE)
        return 0;
    OM_uint32 calling = GSS_CALLING_ERROR(major) >> GSS_C_CALLING_ERROR_OFFSET;
    OM_uint32 routine = GSS_ROUTINE_ERROR(major) >> GSS_C_ROUTINE_ERROR_OFFSET;
    if (calling == 0 && routine == 0 && minor == 0)
        return 0;
    // The Kerberos reason says more than GSSAPI's class of failure, and an
    // application that shows one diagnostic shows the first: it leads.
    bool explained = false;
    if (minor > KA_KRB5_ERROR_BASE && minor <= KA_KRB5_ERROR_BASE + KA_KRB5_ERROR_LAST) {
        uint16_t number = uint16_t(kKrbTextBase + (minor - KA_KRB5_ERROR_BASE));
        char text[KA_MESSAGE_TEXT_SIZE];
        // Without a text of its own the catalogue gives the number itself.
        if (errLoadMessage(text, sizeof text, number) > 0 && !(text[0] >= '0' && text[0] <= '9')) {
            errPost(MSG_GSS_KERBEROS_ERROR)->addParamText(text);
            explained = true;
        }
    }
    if (calling == 1)
        errPost(MSG_GSS_CALL_INACCESSIBLE_READ);
    else if (calling == 2)
        errPost(MSG_GSS_CALL_INACCESSIBLE_WRITE);
    else if (calling == 3)
        errPost(MSG_GSS_CALL_BAD_STRUCTURE);
    else if (calling != 0)
        errPost(MSG_GSS_CALLING_ERROR)->addParamUnsigned(calling);
    if (routine >= 1 && routine <= 18) {
        errPost(uint16_t(MSG_GSS_BAD_MECH + routine - 1));
    } else if (routine != 0) {
        errPost(MSG_GSS_ROUTINE_ERROR)->addParamUnsigned(routine)->addParamUnsigned(minor);
        return 1;
    }
    if (minor != 0 && !explained)
        errPost(MSG_GSS_MINOR_STATUS)->addParamUnsigned(minor);
    return 1;
}

int kaSaslSecurityLayerReply(const uint8_t* offer, size_t offerLength, uint8_t reply[4]) noexcept
{
    uint8_t layers = offerLength > 0 ? offer[0] : 0;
    // Nothing after the login wraps the traffic: a layer with protection
    // would be promised and never kept, so only "none" can be chosen.
    if ((layers & KA_SASL_LAYER_NONE) == 0) {
        errPost(MSG_GSS_SECURITY_LAYER_REQUIRED);
        return 1;
    }
    // Without a layer no wrapped message follows, so no size is offered.
    reply[0] = KA_SASL_LAYER_NONE;
    reply[1] = reply[2] = reply[3] = 0;
    return 0;
}

KaGSServices::KaGSServices(const uint16_t* name) noexcept : nameType{sizeof kKrb5PrincipalOid, kKrb5PrincipalOid}
{
    if (name == nullptr)
        return;
    size_t length = 0;
    libraryName = utf8Text(name, &length);
    if (libraryName == nullptr)
        broken = 1;
}

KaGSServices::~KaGSServices()
{
    OM_uint32 minor = 0;
    if (mapper != nullptr) {
        if (context != GSS_C_NO_CONTEXT)
            (void)mapper->deleteSecContext(&minor, &context);
        if (credential != GSS_C_NO_CREDENTIAL)
            (void)mapper->releaseCred(&minor, &credential);
        if (outputToken.value != nullptr)
            (void)mapper->releaseBuffer(&minor, &outputToken);
        if (targetName != GSS_C_NO_NAME)
            (void)mapper->releaseName(&minor, &targetName);
    }
    delete mapper;
    ramFree(libraryName);
    ramFree(targetText);
}

int KaGSServices::loadLibrary(const char* name) noexcept
{
    if (mapper != nullptr)
        return 0;
    if (broken) {
        errPost(MSG_LIBRARY_OPEN_FAILED)->addParamText("GSSClient");
        return 1;
    }
    const char* first = name != nullptr ? name : KA_GSS_DEFAULT_LIBRARY;
    std::unique_ptr<KaGSSCallMapper> made(new KaGSSCallMapper(first));
    if (made == nullptr)
        return 1;
    if (made->attach() != 0) {
        made.reset();
        // The unversioned name comes only with the development package; the
        // runtime package has the versioned one.
        if (name != nullptr)
            return 1;
        KaErrorDiscardLast();
        made.reset(new KaGSSCallMapper(KA_GSS_VERSIONED_LIBRARY));
        if (made == nullptr || made->attach() != 0)
            return 1;
    }
    mapper = made.release();
    return 0;
}

int KaGSServices::importTargetName(const uint16_t* name) noexcept
{
    if (name == nullptr) {
        errPost(MSG_GSS_NO_TARGET_NAME);
        return 1;
    }
    size_t length = 0;
    char* text = utf8Text(name, &length);
    if (text == nullptr)
        return 1;
    ramFree(targetText);
    targetText = text;
    targetLength = length;
    if (loadLibrary(libraryName) != 0)
        return 1;
    OM_uint32 minor = 0;
    if (targetName != GSS_C_NO_NAME)
        (void)mapper->releaseName(&minor, &targetName);
    gss_buffer_desc buffer = {targetLength, targetText};
    OM_uint32 major = mapper->importName(&minor, &buffer, &nameType, &targetName);
    return postGssStatus(major, minor);
}

int KaGSServices::importTargetNameA(const char* name) noexcept
{
    if (name == nullptr) {
        errPost(MSG_GSS_NO_TARGET_NAME);
        return 1;
    }
    size_t n = std::strlen(name);
    RamPtr<uint16_t> wide = ramMake<uint16_t>(n + 1);
    if (!wide) {
        ramOutOfMemory();
        return 1;
    }
    size_t length = 0;
    if (utf8ToUtf16(wide.get(), n + 1, name, int64_t(n), &length, 0) != kConvDone)
        return 1;
    wide.get()[length] = 0;
    return importTargetName(wide.get());
}

int KaGSServices::initContextStep(const void* input, size_t inputLength, void* output, size_t outputCapacity,
                                  size_t* outputLength, int32_t* continueNeeded) noexcept
{
    *outputLength = 0;
    *continueNeeded = 0;
    if (targetName == GSS_C_NO_NAME || mapper == nullptr) {
        errPost(MSG_GSS_NO_TARGET_NAME);
        return 1;
    }
    gss_buffer_desc in = {0, nullptr};
    if (input != nullptr && inputLength != 0) {
        in.length = inputLength;
        in.value = const_cast<void*>(input);
    }
    OM_uint32 minor = 0;
    OM_uint32 returned = 0;
    if (outputToken.value != nullptr)
        (void)mapper->releaseBuffer(&minor, &outputToken);
    OM_uint32 major = mapper->initSecContext(&minor, &context, targetName, requestFlags, &in, &outputToken, &returned);
    if (major == GSS_S_BAD_NAMETYPE) {
        // A library without the Kerberos name type takes the name as it stands.
        OM_uint32 releaseMinor = 0;
        OM_uint32 releaseMajor = mapper->releaseName(&releaseMinor, &targetName);
        if (postGssStatus(releaseMajor, releaseMinor) != 0)
            return 1;
        gss_buffer_desc buffer = {targetLength, targetText};
        OM_uint32 importMajor = mapper->importName(&releaseMinor, &buffer, GSS_C_NO_OID, &targetName);
        if (postGssStatus(importMajor, releaseMinor) != 0)
            return 1;
        major = mapper->initSecContext(&minor, &context, targetName, requestFlags, &in, &outputToken, &returned);
    }
    if (GSS_ERROR(major) && postGssStatus(major, minor) != 0)
        return 1;
    if (outputToken.length > 0) {
        if (outputToken.length > outputCapacity) {
            errPost(MSG_GSS_TOKEN_TOO_LONG)->addParamUnsigned(outputToken.length)->addParamUnsigned(outputCapacity);
            return 1;
        }
        std::memcpy(output, outputToken.value, outputToken.length);
        *outputLength = outputToken.length;
    }
    *continueNeeded = (major & GSS_S_CONTINUE_NEEDED) != 0 ? 1 : 0;
    return GSS_ERROR(major) ? postGssStatus(major, minor) : 0;
}

int KaGSServices::negotiateSecurityLayer(const void* serverToken, size_t serverTokenLength, void* reply,
                                         size_t replyCapacity, size_t* replyLength) noexcept
{
    *replyLength = 0;
    if (mapper == nullptr || context == GSS_C_NO_CONTEXT) {
        errPost(MSG_GSS_NO_TARGET_NAME);
        return 1;
    }
    gss_buffer_desc in = {serverTokenLength, const_cast<void*>(serverToken)};
    gss_buffer_desc offer = {0, nullptr};
    OM_uint32 minor = 0;
    int confState = 0;
    gss_qop_t qop = 0;
    OM_uint32 major = mapper->unwrap(&minor, context, &in, &offer, &confState, &qop);
    if (postGssStatus(major, minor) != 0)
        return 1;
    uint8_t answer[4];
    int rc = kaSaslSecurityLayerReply(static_cast<const uint8_t*>(offer.value), offer.length, answer);
    OM_uint32 releaseMinor = 0;
    (void)mapper->releaseBuffer(&releaseMinor, &offer);
    if (rc != 0)
        return 1;
    gss_buffer_desc plain = {sizeof answer, answer};
    gss_buffer_desc wrapped = {0, nullptr};
    major = mapper->wrap(&minor, context, 0, qop, &plain, &confState, &wrapped);
    if (postGssStatus(major, minor) != 0) {
        if (wrapped.value != nullptr)
            (void)mapper->releaseBuffer(&releaseMinor, &wrapped);
        return 1;
    }
    // The caller's buffer is bounded; a longer reply is refused.
    if (wrapped.length > replyCapacity) {
        errPost(MSG_GSS_TOKEN_TOO_LONG)->addParamUnsigned(wrapped.length)->addParamUnsigned(replyCapacity);
        rc = 1;
    } else {
        std::memcpy(reply, wrapped.value, wrapped.length);
        *replyLength = wrapped.length;
    }
    (void)mapper->releaseBuffer(&releaseMinor, &wrapped);
    return rc;
}
