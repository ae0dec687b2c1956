// This machine's trust: the system store as OpenSSL finds it by default, and
// the certificates its administrator marked as distrusted.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "authenticode/openssl_ptr.h"

namespace authenticode {

enum class Usage {
    CodeSigning,   // the signer of a file
    TimeStamping,  // the signer of a time-stamp
};

class TrustStore {
public:
    // The trusted roots (and any intermediates the administrator added): the
    // hashed certificate directory, looked up one subject at a time, and the
    // bundle file. OpenSSL's own SSL_CERT_FILE and SSL_CERT_DIR name other
    // ones. When the directory holds hashed entries the default bundle, which
    // carries the same certificates, is not parsed: a lookup costs less than
    // reading every root. Null only if the store cannot be created.
    static std::unique_ptr<TrustStore> loadMachine();

    // The same store, loaded once per process and kept: a process that
    // verifies many files reads the store once. It is loaded again only if
    // SSL_CERT_FILE or SSL_CERT_DIR changed since. Null only if the store
    // cannot be created.
    static const TrustStore* machine();

    X509_STORE* store() const { return store_.get(); }

    // Whether the store holds this certificate with trust settings that
    // reject the usage or every usage ("openssl x509 -addreject"). Every
    // copy counts: the store keeps only the first copy of a certificate it
    // meets, which need not be the one that carries the settings.
    bool distrusts(X509* certificate, Usage usage) const;

private:
    TrustStore(X509StorePtr store, std::vector<std::string> directories)
        : store_(std::move(store)), directories_(std::move(directories)) {}

    void loadFile(const char* path);

    bool directoriesDistrust(X509* certificate, Usage usage) const;

    X509StorePtr store_;
    std::vector<std::string> directories_;
    std::vector<X509Ptr> rejectingCopies_;  // from the bundle file

    // The directories' answers, by the certificate's SHA-256 and the usage:
    // a run over many files asks about the same certificates again and
    // again, and every question opens files.
    mutable std::mutex answersMutex_;
    mutable std::map<std::string, bool> directoryAnswers_;
};

}  // namespace authenticode
