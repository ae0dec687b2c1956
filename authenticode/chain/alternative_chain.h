// The trusted issuers for a second try at a chain, when the root program
// restricts the root the first try ended at.
#pragma once

#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

// The store's certificates that could issue `leaf` or one of `carried` (the
// certificates the signature carries), every copy of `excluded` left out.
// Building against only these lets a carried cross-certificate lead to
// another root where the first try found `excluded` by name. Null when the
// store cannot be searched.
CertificateStackPtr issuersAvoiding(X509_STORE* store, X509* leaf, STACK_OF(X509) * carried, X509* excluded);

}  // namespace authenticode
