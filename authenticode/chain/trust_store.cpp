#include "authenticode/chain/trust_store.h"

#include "authenticode/chain/code_signing_trust.h"

#include <dirent.h>
#include <sys/stat.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace authenticode {

namespace {

// The environment, except in a process running with raised privileges,
// which must not let its caller choose what it trusts.
const char* trustedEnvironment(const char* name) {
    return secure_getenv(name);
}

std::vector<std::string> splitDirectories(std::string_view list) {
    std::vector<std::string> directories;
    while (!list.empty()) {
        const std::size_t end = list.find(':');
        if (end != 0) {
            directories.emplace_back(list.substr(0, end));
        }
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
    }
    return directories;
}

// Whether a name looks like the link c_rehash makes for a certificate: eight
// hexadecimal digits, a dot and a number.
bool isHashedName(std::string_view name) {
    if (name.size() < 10 || name[8] != '.') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (i != 8 && !(i < 8 ? std::isxdigit(c) : std::isdigit(c))) {
            return false;
        }
    }
    return true;
}

bool holdsHashedEntries(const std::string& directory) {
    DIR* stream = opendir(directory.c_str());
    if (stream == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(stream)) {
        if (isHashedName(entry->d_name)) {
            found = true;
            break;
        }
    }
    closedir(stream);
    return found;
}

// Whether two paths name the same file, links followed.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool rejects(X509* certificate, Usage usage) {
    const int usageNid = usage == Usage::CodeSigning ? NID_code_sign : NID_time_stamp;
    const STACK_OF(ASN1_OBJECT)* rejected = X509_get0_reject_objects(certificate);
    for (int i = 0; i < sk_ASN1_OBJECT_num(rejected); ++i) {
        const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(rejected, i));
        if (nid == usageNid || nid == NID_anyExtendedKeyUsage) {
            return true;
        }
    }
    return false;
}

// Calls `visit` with every certificate in a PEM file, trust settings kept.
template <typename Visit>
void forEachCertificateIn(const std::string& path, Visit visit) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return;
    }
    STACK_OF(X509_INFO)* entries = PEM_X509_INFO_read(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    for (int i = 0; i < sk_X509_INFO_num(entries); ++i) {
        if (X509* certificate = sk_X509_INFO_value(entries, i)->x509) {
            visit(certificate);
        }
    }
    sk_X509_INFO_pop_free(entries, X509_INFO_free);
}

}  // namespace

std::unique_ptr<TrustStore> TrustStore::loadMachine() {
    const char* fileSetting = trustedEnvironment(X509_get_default_cert_file_env());
    const char* directorySetting = trustedEnvironment(X509_get_default_cert_dir_env());
    // Either setting means the caller chooses every root: the code-signing
    // place then counts only where SSL_CERT_DIR names it.
    const bool chosen = fileSetting != nullptr || directorySetting != nullptr;
    return load(fileSetting, directorySetting, chosen ? nullptr : codeSigningTrustDirectory());
}

std::unique_ptr<TrustStore> TrustStore::load(const char* fileSetting, const char* directorySetting,
                                             const char* codeSigningPlace) {
    X509StorePtr store(X509_STORE_new());
    if (!store) {
        return nullptr;
    }
    const char* directories = directorySetting != nullptr ? directorySetting : X509_get_default_cert_dir();

    std::unique_ptr<TrustStore> trust(new TrustStore(std::move(store), splitDirectories(directories)));
    // A missing file or directory is not an error here: it only means fewer
    // trusted roots, and the chain check reports what that leads to.
    bool anyHashed = false;
    bool defaultDirectoryHashed = false;
    for (const std::string& directory : trust->directories_) {
        const bool hashed = holdsHashedEntries(directory);
        anyHashed = anyHashed || hashed;
        defaultDirectoryHashed = defaultDirectoryHashed || (hashed && sameFile(directory, X509_get_default_cert_dir()));
    }
    // A setting that names the default bundle while the default directory is
    // in use changes nothing, and is common (some systems set it for every
    // program): the bundle is read only where the directory cannot serve.
    const bool namesDefaultBundle = fileSetting != nullptr && sameFile(fileSetting, X509_get_default_cert_file());
    if (fileSetting != nullptr && !(namesDefaultBundle && defaultDirectoryHashed)) {
        trust->loadFile(fileSetting);
    } else if (fileSetting == nullptr && !anyHashed) {
        trust->loadFile(X509_get_default_cert_file());
    }
    X509_STORE_load_path(trust->store(), directories);
    // The code-signing place named in SSL_CERT_DIR is read as it would be by
    // default, loose files included.
    for (const std::string& directory : splitDirectories(directories)) {
        if (sameFile(directory, codeSigningTrustDirectory())) {
            trust->loadLooseFiles(directory);
        }
    }
    if (codeSigningPlace != nullptr) {
        trust->addCodeSigningPlace(codeSigningPlace);
    }
    trust->loadRootProperties();
    return trust;
}

const TrustStore* TrustStore::machine() {
    // What the store was loaded from: the two settings, and whether each was
    // set at all.
    struct Settings {
        std::optional<std::string> file;
        std::optional<std::string> directory;
        bool operator==(const Settings&) const = default;
    };
    const auto setting = [](const char* name) -> std::optional<std::string> {
        const char* value = trustedEnvironment(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    static std::unique_ptr<TrustStore> cached;
    static Settings loadedFrom;
    const Settings now{setting(X509_get_default_cert_file_env()), setting(X509_get_default_cert_dir_env())};
    if (!cached || !(now == loadedFrom)) {
        cached = loadMachine();
        loadedFrom = now;
    }
    return cached.get();
}

void TrustStore::loadFile(const char* path) {
    forEachCertificateIn(path, [this](X509* certificate) {
        X509_STORE_add_cert(store_.get(), certificate);
        if (X509_get0_reject_objects(certificate) != nullptr && X509_up_ref(certificate) == 1) {
            rejectingCopies_.emplace_back(certificate);
        }
    });
}

void TrustStore::loadLooseFiles(const std::string& directory) {
    DIR* stream = opendir(directory.c_str());
    if (stream == nullptr) {
        return;
    }
    std::vector<std::string> files;
    while (const dirent* entry = readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (!isHashedName(name) && (name.ends_with(".pem") || name.ends_with(".crt"))) {
            files.push_back(directory + "/" + entry->d_name);
        }
    }
    closedir(stream);
    // Sorted, so that which copy of a certificate the store keeps does not
    // depend on the order the file system lists them in.
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        loadFile(file.c_str());
    }
}

void TrustStore::addCodeSigningPlace(const std::string& directory) {
    loadLooseFiles(directory);
    X509_STORE_load_path(store_.get(), directory.c_str());
    directories_.push_back(directory);
}

void TrustStore::loadRootProperties() {
    for (const std::string& directory : directories_) {
        rootProperties_.loadFile(directory + "/" + rootPropertiesFileName);
    }
}

bool TrustStore::distrusts(X509* certificate, Usage usage) const {
    for (const X509Ptr& copy : rejectingCopies_) {
        if (X509_cmp(copy.get(), certificate) == 0 && rejects(copy.get(), usage)) {
            return true;
        }
    }
    return directoriesDistrust(certificate, usage);
}

bool TrustStore::directoriesDistrust(X509* certificate, Usage usage) const {
    std::string key(EVP_MAX_MD_SIZE + 1, '\0');
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), reinterpret_cast<unsigned char*>(key.data()), &length) != 1) {
        key.clear();
    } else {
        key.resize(length);
        key.push_back(usage == Usage::CodeSigning ? 'c' : 't');
        const std::lock_guard lock(answersMutex_);
        if (const auto known = directoryAnswers_.find(key); known != directoryAnswers_.end()) {
            return known->second;
        }
    }
    // In a hashed directory every copy of a subject's certificates sits in
    // <hash>.0, <hash>.1 and so on.
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx", X509_subject_name_hash(certificate));
    bool distrusted = false;
    for (const std::string& directory : directories_) {
        for (int index = 0; !distrusted; ++index) {
            const std::string path = directory + "/" + hash + "." + std::to_string(index);
            bool exists = false;
            forEachCertificateIn(path, [&](X509* copy) {
                exists = true;
                distrusted = distrusted || (X509_cmp(copy, certificate) == 0 && rejects(copy, usage));
            });
            if (!exists) {
                break;
            }
        }
    }
    // Bounded: a run over files from thousands of publishers starts over.
    constexpr std::size_t maximumAnswers = 4096;
    if (!key.empty()) {
        const std::lock_guard lock(answersMutex_);
        if (directoryAnswers_.size() >= maximumAnswers) {
            directoryAnswers_.clear();
        }
        directoryAnswers_.emplace(std::move(key), distrusted);
    }
    return distrusted;
}

}  // namespace authenticode
