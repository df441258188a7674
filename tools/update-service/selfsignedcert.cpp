#include "selfsignedcert.h"

#include <openssl/bn.h>
#include <openssl/x509v3.h>

namespace updateservice {

namespace {

constexpr const char* kCommonName = "127.0.0.1";
constexpr const char* kSubjectAltNames = "IP:127.0.0.1,DNS:localhost";
// Tolerates a client clock running a little behind ours.
constexpr long kBackdateSeconds = 60 * 60;
constexpr long kValiditySeconds = 24 * 60 * 60;
constexpr int kSerialBits = 64;

// Clients may cache certificates by issuer and serial, so every certificate gets its own serial.
bool setRandomSerial(X509* certificate)
{
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(BN_new(), BN_free);
    return serial && BN_rand(serial.get(), kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool setValidity(X509* certificate)
{
    return X509_gmtime_adj(X509_getm_notBefore(certificate), -kBackdateSeconds) != nullptr &&
           X509_gmtime_adj(X509_getm_notAfter(certificate), kValiditySeconds) != nullptr;
}

bool setSelfIssuedName(X509* certificate)
{
    X509_NAME* name = X509_get_subject_name(certificate);
    const auto* commonName = reinterpret_cast<const unsigned char*>(kCommonName);
    return X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, commonName, -1, -1, 0) == 1 &&
           X509_set_issuer_name(certificate, name) == 1;
}

bool addSubjectAltNames(X509* certificate)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, kSubjectAltNames);
    if (extension == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool fillAndSign(X509* certificate, EVP_PKEY* key)
{
    constexpr long kVersion3 = 2;
    return X509_set_version(certificate, kVersion3) == 1 && setRandomSerial(certificate) &&
           setValidity(certificate) && setSelfIssuedName(certificate) &&
           addSubjectAltNames(certificate) && X509_set_pubkey(certificate, key) == 1 &&
           X509_sign(certificate, key, EVP_sha256()) > 0;
}

} // namespace

SelfSignedCertificate makeSelfSignedCertificate()
{
    SelfSignedCertificate result;
    result.privateKey.reset(EVP_EC_gen("P-256"));
    result.certificate.reset(X509_new());
    if (!result.privateKey || !result.certificate ||
        !fillAndSign(result.certificate.get(), result.privateKey.get())) {
        return {};
    }
    return result;
}

} // namespace updateservice
