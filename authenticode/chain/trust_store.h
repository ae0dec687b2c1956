// This machine's trust: the system store as OpenSSL finds it by default, and
// the certificates its administrator marked as distrusted.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "authenticode/chain/root_properties.h"
#include "authenticode/chain/usage.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

class TrustStore {
public:
    // The trusted roots (and any intermediates the administrator added): the
    // hashed certificate directory, looked up one subject at a time, and the
    // bundle file. OpenSSL's own SSL_CERT_FILE and SSL_CERT_DIR name other
    // ones. When the directory holds hashed entries the default bundle, which
    // carries the same certificates, is not parsed: a lookup costs less than
    // reading every root. Null only if the store cannot be created.
    // Beside them, unless either setting is made, the code-signing-only
    // place (code_signing_trust.h), and in every directory the per-root
    // properties a root-program import wrote (root_properties.h).
    static std::unique_ptr<TrustStore> loadMachine();

    // The same from explicit sources: OpenSSL's two settings (null when not
    // made) and the code-signing place (null for none). For tests, which
    // cannot write to the machine's places.
    static std::unique_ptr<TrustStore> load(const char* fileSetting, const char* directorySetting,
                                            const char* codeSigningPlace);

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

    // What the store's directories say each root may be trusted for
    // (root-properties.tsv beside the certificates); empty for most stores.
    const RootProperties& rootProperties() const { return rootProperties_; }

private:
    TrustStore(X509StorePtr store, std::vector<std::string> directories)
        : store_(std::move(store)), directories_(std::move(directories)) {}

    void loadFile(const char* path);
    // The code-signing-only place: its hashed entries are looked up like
    // the machine's, and any other .pem or .crt file in it is read whole
    // (loadLooseFiles), so that dropping a file in is enough.
    void addCodeSigningPlace(const std::string& directory);
    void loadLooseFiles(const std::string& directory);
    void loadRootProperties();

    bool directoriesDistrust(X509* certificate, Usage usage) const;

    X509StorePtr store_;
    std::vector<std::string> directories_;
    std::vector<X509Ptr> rejectingCopies_;  // from the bundle file
    RootProperties rootProperties_;

    // The directories' answers, by the certificate's SHA-256 and the usage:
    // a run over many files asks about the same certificates again and
    // again, and every question opens files.
    mutable std::mutex answersMutex_;
    mutable std::map<std::string, bool> directoryAnswers_;
};

}  // namespace authenticode
