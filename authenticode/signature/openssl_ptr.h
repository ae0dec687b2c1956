// Owning pointers for the OpenSSL objects the engine creates.
#pragma once

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace authenticode {

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslFree<PKCS7_free>>;
using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, OpenSslFree<PKCS7_SIGNER_INFO_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE_free>>;
using X509StoreContextPtr = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX_free>>;
using MdContextPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSslFree<TS_TST_INFO_free>>;
using ExtendedKeyUsagePtr = std::unique_ptr<EXTENDED_KEY_USAGE, OpenSslFree<EXTENDED_KEY_USAGE_free>>;
using BasicConstraintsPtr = std::unique_ptr<BASIC_CONSTRAINTS, OpenSslFree<BASIC_CONSTRAINTS_free>>;

inline void freeCertificateStack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
using CertificateStackPtr = std::unique_ptr<STACK_OF(X509), OpenSslFree<freeCertificateStack>>;

inline void freeAsn1Bytes(unsigned char* bytes) { OPENSSL_free(bytes); }
using Asn1BytesPtr = std::unique_ptr<unsigned char, OpenSslFree<freeAsn1Bytes>>;

// Holds a reference of its own to a certificate the engine's objects own.
inline X509Ptr keepCertificate(X509* certificate) {
    return X509Ptr(certificate != nullptr && X509_up_ref(certificate) == 1 ? certificate : nullptr);
}

}  // namespace authenticode
