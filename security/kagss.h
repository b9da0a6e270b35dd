// Kerberos through GSSAPI: KaSecurityServices is the interface of a login
// mechanism (name the target, step the context, answer the SASL
// security-layer offer), KaGSServices its GSSAPI implementation over a
// GSSAPI library bound at run time by KaGSSCallMapper. The Hive connection's
// Kerberos login (hive/hivesasl.cpp) drives it on both transports.
#pragma once
#include <gssapi/gssapi.h>

#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "platform/callmapper.h"

// Entry points of the GSSAPI library, in table order.
enum : uint32_t {
    KA_GSS_import_name,
    KA_GSS_acquire_cred,
    KA_GSS_init_sec_context,
    KA_GSS_delete_sec_context,
    KA_GSS_release_buffer,
    KA_GSS_release_cred,
    KA_GSS_release_name,
    KA_GSS_wrap,
    KA_GSS_unwrap,
    KA_GSS_wrap_size_limit,
    KA_GSS_ENTRIES
};

// The library bound when GSSClient names none, and the runtime package's
// versioned name tried when that one is not installed.
constexpr char KA_GSS_DEFAULT_LIBRARY[] = "libgssapi_krb5.so";
constexpr char KA_GSS_VERSIONED_LIBRARY[] = "libgssapi_krb5.so.2";
// Context flags of the Hive login: delegation, mutual authentication,
// replay and sequence detection.
constexpr uint32_t KA_GSS_HIVE_FLAGS = GSS_C_DELEG_FLAG | GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG;
// SASL GSSAPI security layers, as bits of the server's offer.
constexpr uint8_t KA_SASL_LAYER_NONE = 1;
constexpr uint8_t KA_SASL_LAYER_INTEGRITY = 2;
constexpr uint8_t KA_SASL_LAYER_CONFIDENTIALITY = 4;
// Kerberos error codes in GSSAPI minor statuses: the table base and the
// highest code that has a catalogue text slot.
constexpr uint32_t KA_KRB5_ERROR_BASE = 0x96C73A00u;
constexpr uint32_t KA_KRB5_ERROR_LAST = 239;

class KaSecurityServices : public KaObject {
public:
    ~KaSecurityServices() override;
    [[nodiscard]] virtual int importTargetName(const uint16_t* name) noexcept = 0;
    [[nodiscard]] virtual int importTargetNameA(const char* name) noexcept = 0;
    [[nodiscard]] virtual int initContextStep(const void* input, size_t inputLength, void* output,
                                              size_t outputCapacity, size_t* outputLength,
                                              int32_t* continueNeeded) noexcept = 0;
    [[nodiscard]] virtual int negotiateSecurityLayer(const void* serverToken, size_t serverTokenLength, void* reply,
                                                     size_t replyCapacity, size_t* replyLength) noexcept = 0;
};

class KaGSSCallMapper : public UtlLibCallMapper {
public:
    explicit KaGSSCallMapper(const char* name) noexcept;
    ~KaGSSCallMapper() override;

    // Every GSSAPI call holds the process-wide GSSAPI lock.
    OM_uint32 importName(OM_uint32* minor, gss_buffer_t name, gss_OID type, gss_name_t* out) noexcept;
    OM_uint32 initSecContext(OM_uint32* minor, gss_ctx_id_t* context, gss_name_t target, OM_uint32 flags,
                             gss_buffer_t input, gss_buffer_t output, OM_uint32* returnedFlags) noexcept;
    OM_uint32 deleteSecContext(OM_uint32* minor, gss_ctx_id_t* context) noexcept;
    OM_uint32 releaseBuffer(OM_uint32* minor, gss_buffer_t buffer) noexcept;
    OM_uint32 releaseCred(OM_uint32* minor, gss_cred_id_t* cred) noexcept;
    OM_uint32 releaseName(OM_uint32* minor, gss_name_t* name) noexcept;
    OM_uint32 wrap(OM_uint32* minor, gss_ctx_id_t context, int confidential, gss_qop_t qop, gss_buffer_t input,
                   int* confState, gss_buffer_t output) noexcept;
    OM_uint32 unwrap(OM_uint32* minor, gss_ctx_id_t context, gss_buffer_t input, gss_buffer_t output, int* confState,
                     gss_qop_t* qop) noexcept;
};

class KaGSServices : public KaSecurityServices {
public:
    // libraryName: GSSClient's library, null for the native one.
    explicit KaGSServices(const uint16_t* libraryName) noexcept;
    ~KaGSServices() override;
    KaGSServices(const KaGSServices&) = delete;
    KaGSServices& operator=(const KaGSServices&) = delete;

    [[nodiscard]] int importTargetName(const uint16_t* name) noexcept override;
    [[nodiscard]] int importTargetNameA(const char* name) noexcept override;
    [[nodiscard]] int initContextStep(const void* input, size_t inputLength, void* output, size_t outputCapacity,
                                      size_t* outputLength, int32_t* continueNeeded) noexcept override;
    // Answers with no protection, the only layer the traffic gets; an
    // offer without it fails the login.
    [[nodiscard]] int negotiateSecurityLayer(const void* serverToken, size_t serverTokenLength, void* reply,
                                             size_t replyCapacity, size_t* replyLength) noexcept override;

    // Binds the named library, else the default one (then its versioned
    // name); 0, or 1 with 2733/2734 posted.
    [[nodiscard]] int loadLibrary(const char* name) noexcept;

    gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
    gss_name_t targetName = GSS_C_NO_NAME;
    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_buffer_desc outputToken = {0, nullptr};
    gss_OID_desc nameType;
    KaGSSCallMapper* mapper = nullptr;
    char* libraryName = nullptr;
    size_t targetLength = 0;
    char* targetText = nullptr;
    uint32_t requestFlags = 0;
    // The library name given could not be copied: the login fails.
    int32_t broken = 0;
};

// A GSSAPI status as diagnostics; 0 when it is no failure, else 1.
[[nodiscard]] int postGssStatus(OM_uint32 major, OM_uint32 minor) noexcept;
// The security layer reply to a server's unwrapped offer (at least four
// bytes, or empty): reply[0] the layer chosen, reply[1..3] the size. 0, or
// 1 when the offer has no layer without protection (2765 posted).
[[nodiscard]] int kaSaslSecurityLayerReply(const uint8_t* offer, size_t offerLength, uint8_t reply[4]) noexcept;
