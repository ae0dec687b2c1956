#include "authenticode/trust_store.h"

#include <dirent.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

namespace authenticode {

namespace {

// The environment, except in a process running with raised privileges,
// which must not let its caller choose what it trusts.
const char* trustedEnvironment(const char* name) {
    return secure_getenv(name);
}

// Whether a name looks like the hash link c_rehash makes for a certificate:
// eight hexadecimal digits, a dot and a number.
bool isHashedName(std::string_view name) {
    if (name.size() < 10 || name[8] != '.') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (i == 8 ? c != '.' : i < 8 ? !std::isxdigit(c) : !std::isdigit(c)) {
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

// The directory setting is a list separated by colons.
bool anyHoldsHashedEntries(std::string_view directories) {
    while (!directories.empty()) {
        const std::size_t end = directories.find(':');
        if (holdsHashedEntries(std::string(directories.substr(0, end)))) {
            return true;
        }
        directories = end == std::string_view::npos ? std::string_view{} : directories.substr(end + 1);
    }
    return false;
}

}  // namespace

X509StorePtr loadMachineTrustStore() {
    X509StorePtr store(X509_STORE_new());
    if (!store) {
        return store;
    }
    const char* fileSetting = trustedEnvironment(X509_get_default_cert_file_env());
    const char* directorySetting = trustedEnvironment(X509_get_default_cert_dir_env());
    const char* directories = directorySetting != nullptr ? directorySetting : X509_get_default_cert_dir();

    // A missing file or directory is not an error here: it only means fewer
    // trusted roots, and the chain check reports what that leads to.
    if (fileSetting != nullptr) {
        X509_STORE_load_file(store.get(), fileSetting);
    } else if (!anyHoldsHashedEntries(directories)) {
        X509_STORE_load_file(store.get(), X509_get_default_cert_file());
    }
    X509_STORE_load_path(store.get(), directories);
    return store;
}

}  // namespace authenticode
