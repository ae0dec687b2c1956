// Checking one PKCS#7 SignerInfo: the primary signer, a countersigner or the
// signer of a time-stamp token.
#pragma once

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "authenticode/reading/bytes.h"

namespace authenticode {

enum class SignerStatus {
    Valid,
    CertificateMissing,    // no certificate in the message matches the signer's identifier
    UnsupportedAlgorithm,  // the signer's digest algorithm is not one we verify
    Invalid,               // attributes or signature do not verify
};

// Which encodings of an RSA signature a signer may use.
enum class SignatureForms {
    Standard,              // PKCS#1 v1.5 with a DigestInfo (and ECDSA)
    AlsoLegacyBareDigest,  // also the bare digest without a DigestInfo, as old countersignatures have
};

struct SignerCheck {
    SignerStatus status;
    X509* certificate;  // the signer's certificate when found; owned by the message
};

// Checks that `signer` signed `digestedContent`: its certificate is among
// `certificates`; if it has authenticated attributes, their content type is
// `contentType` (when not empty) and their message digest is the digest of
// `digestedContent`, and the signature over the attributes verifies;
// without attributes, the signature over the content itself verifies.
SignerCheck checkSignerInfo(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certificates, Bytes digestedContent,
                            Bytes contentType, SignatureForms forms = SignatureForms::Standard);

// The value of an authenticated attribute that appears exactly once with
// exactly one value; null otherwise.
ASN1_TYPE* singleAttributeValue(const STACK_OF(X509_ATTRIBUTE) * attributes, int nid);

}  // namespace authenticode
