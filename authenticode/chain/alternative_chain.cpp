#include "authenticode/chain/alternative_chain.h"

namespace authenticode {

namespace {

// Adds the store's certificates named as `certificate`'s issuer.
bool addIssuersOf(X509_STORE_CTX* lookup, X509* certificate, X509* excluded, STACK_OF(X509) * into) {
    STACK_OF(X509)* found = X509_STORE_CTX_get1_certs(lookup, X509_get_issuer_name(certificate));
    if (found == nullptr) {
        return true;  // none by that name
    }
    bool ok = true;
    while (X509* issuer = sk_X509_shift(found)) {
        // A certificate found twice is kept twice, which only costs a
        // comparison when the chain is built.
        const bool keep = X509_cmp(issuer, excluded) != 0;
        if (keep && sk_X509_push(into, issuer) > 0) {
            continue;
        }
        ok = ok && !keep;
        X509_free(issuer);
    }
    sk_X509_free(found);
    return ok;
}

}  // namespace

CertificateStackPtr issuersAvoiding(X509_STORE* store, X509* leaf, STACK_OF(X509) * carried, X509* excluded) {
    X509StoreContextPtr lookup(X509_STORE_CTX_new());
    CertificateStackPtr issuers(sk_X509_new_null());
    if (!lookup || !issuers || X509_STORE_CTX_init(lookup.get(), store, nullptr, nullptr) != 1) {
        return nullptr;
    }
    if (!addIssuersOf(lookup.get(), leaf, excluded, issuers.get())) {
        return nullptr;
    }
    for (int i = 0; i < sk_X509_num(carried); ++i) {
        if (!addIssuersOf(lookup.get(), sk_X509_value(carried, i), excluded, issuers.get())) {
            return nullptr;
        }
    }
    return issuers;
}

}  // namespace authenticode
