#pragma once

#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace updateservice {

struct EvpPkeyDeleter
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

struct X509Deleter
{
    void operator()(X509* certificate) const { X509_free(certificate); }
};

struct SelfSignedCertificate
{
    std::unique_ptr<EVP_PKEY, EvpPkeyDeleter> privateKey;
    std::unique_ptr<X509, X509Deleter> certificate;
};

// A fresh P-256 key and a certificate for 127.0.0.1 and localhost signed with it, valid for a
// day. Both members are null when OpenSSL fails.
SelfSignedCertificate makeSelfSignedCertificate();

} // namespace updateservice
