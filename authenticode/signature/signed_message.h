// A PKCS#7 SignedData message with one signer, decoded by OpenSSL: the
// primary signature, and the RFC 3161 time-stamp tokens inside it.
#pragma once

#include <variant>

#include "authenticode/reading/bytes.h"
#include "authenticode/reason.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

struct SignedMessage {
    Pkcs7Ptr pkcs7;
    PKCS7_SIGNER_INFO* signer;        // owned by pkcs7
    STACK_OF(X509) * certificates;    // owned by pkcs7; may be null
    const ASN1_OBJECT* contentType;   // owned by pkcs7
    // The encapsulated content: the whole encoding of a structure, or the
    // value of an octet string.
    Bytes content;
    // The bytes the signer's message digest covers: the contents octets of
    // the encapsulated content, without its tag and length.
    Bytes digestedContent;
};

// Decodes `der`, which must be exactly one ContentInfo of type signedData
// whose encapsulated content is present. The first SignerInfo is the signer;
// certificates of kinds other than X.509 are skipped. MalformedMessage if it
// is not one; NoSignature if it has no signer at all.
std::variant<SignedMessage, Reason> decodeSignedMessage(Bytes der);

// How many nested signatures the signer carries beside the primary one. The
// verdict never counts them; they are reported as present.
int nestedSignatureCount(const SignedMessage& message);

}  // namespace authenticode
