#include "rootstore/root_list.h"

#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <set>

#include "authenticode/formats/catalog_subject.h"
#include "authenticode/reading/der.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/openssl_ptr.h"
#include "authenticode/signature/signed_message.h"
#include "authenticode/signature/signer_info.h"
#include "authenticode/signature/trust_list.h"

namespace rootstore {

namespace {

using authenticode::Bytes;
namespace der = authenticode::der;

// szOID_ROOT_LIST_SIGNER: the usage of the list and of its signer.
constexpr const char* rootListSignerOid = "1.3.6.1.4.1.311.10.3.9";
// szOID_CERT_PROP_ID_PREFIX: 1.3.6.1.4.1.311.10.11.<property id>.
constexpr std::uint8_t propertyPrefix[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x0B};

enum Property : unsigned {
    enhancedKeyUsage = 9,
    friendlyName = 11,
    disallowedFiletime = 104,
    disallowedEnhancedKeyUsage = 122,
    notBeforeFiletime = 126,
    notBeforeEnhancedKeyUsage = 127,
};

// Properties the list carries that play no part in code-signing trust:
// the key identifier, subject name hash, root program certificate policies,
// the SHA-256 and others of that kind.
const std::set<unsigned> knownButUnused = {3, 4, 20, 25, 29, 83, 98, 105, 119, 124};

std::string dotted(Bytes oidContents) {
    // A short-form length only: no usage OID comes near 128 bytes.
    if (oidContents.empty() || oidContents.size() > 127) {
        return {};
    }
    std::vector<std::uint8_t> encoding{0x06, static_cast<std::uint8_t>(oidContents.size())};
    encoding.insert(encoding.end(), oidContents.begin(), oidContents.end());
    const unsigned char* cursor = encoding.data();
    ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &cursor, static_cast<long>(encoding.size()));
    if (object == nullptr) {
        return {};
    }
    char text[128];
    const int length = OBJ_obj2txt(text, sizeof text, object, 1);
    ASN1_OBJECT_free(object);
    return length > 0 && static_cast<std::size_t>(length) < sizeof text ? std::string(text) : std::string();
}

// The property id N of an attribute type 1.3.6.1.4.1.311.10.11.N.
std::optional<unsigned> propertyId(Bytes type) {
    if (type.size() <= sizeof propertyPrefix || !std::equal(std::begin(propertyPrefix), std::end(propertyPrefix), type.begin())) {
        return std::nullopt;
    }
    unsigned id = 0;
    for (std::size_t i = sizeof propertyPrefix; i < type.size(); ++i) {
        if (id > 0xFFFFFF) {
            return std::nullopt;
        }
        id = id << 7 | (type[i] & 0x7Fu);
        if ((type[i] & 0x80) == 0) {
            return i + 1 == type.size() ? std::optional(id) : std::nullopt;
        }
    }
    return std::nullopt;
}

// A property's value: a SET holding one OCTET STRING.
std::optional<Bytes> propertyBytes(const authenticode::TrustedSubjectAttribute& attribute) {
    if (attribute.values.size() != 1) {
        return std::nullopt;
    }
    const auto value = der::readElement(attribute.values.front());
    if (!value || value->tag != der::tagOctetString) {
        return std::nullopt;
    }
    return value->contents;
}

std::optional<std::vector<std::string>> usagesOf(Bytes value) {
    const auto sequence = der::readElement(value);
    if (!sequence || sequence->tag != der::tagSequence || sequence->encoding.size() != value.size()) {
        return std::nullopt;
    }
    std::vector<std::string> usages;
    for (der::Reader each(sequence->contents); !each.atEnd();) {
        const auto oid = each.next(der::tagOid);
        std::string text = oid ? dotted(oid->contents) : std::string();
        if (text.empty()) {
            return std::nullopt;
        }
        usages.push_back(std::move(text));
    }
    return usages;
}

// FILETIME: 100-nanosecond intervals since 1601-01-01, little-endian.
std::optional<std::time_t> filetimeOf(Bytes value) {
    if (value.size() != 8) {
        return std::nullopt;
    }
    std::uint64_t ticks = 0;
    for (std::size_t i = 8; i-- > 0;) {
        ticks = ticks << 8 | value[i];
    }
    constexpr std::int64_t secondsFrom1601To1970 = 11644473600;
    // A FILETIME reaches past the year 30000. Past 9999 no date is ever
    // reached, and the store's four-digit years could not say it: such a date
    // is kept as the last second of 9999, which means the same.
    constexpr std::int64_t lastSecondOf9999 = 253402300799;
    return static_cast<std::time_t>(
        std::min(static_cast<std::int64_t>(ticks / 10000000) - secondsFrom1601To1970, lastSecondOf9999));
}

// UTF-16LE, NUL-terminated; characters outside ASCII become '?', as the name
// only labels the line it is written on.
std::string nameOf(Bytes value) {
    std::string name;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        const unsigned unit = value[i] | static_cast<unsigned>(value[i + 1]) << 8;
        if (unit == 0) {
            break;
        }
        name += unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
    }
    return name;
}

// The root's restrictions, or why they cannot be read.
std::variant<RootRestrictions, std::string> restrictionsOf(const authenticode::TrustedSubject& subject,
                                                           std::map<unsigned, std::size_t>& unknown) {
    RootRestrictions restrictions;
    std::set<unsigned> seen;
    for (const auto& attribute : subject.attributes) {
        const auto id = propertyId(attribute.type);
        if (!id) {
            ++unknown[0];
            continue;
        }
        if (!seen.insert(*id).second) {
            return "property " + std::to_string(*id) + " given twice";
        }
        const auto value = propertyBytes(attribute);
        if (!value) {
            return "property " + std::to_string(*id) + " is not one octet string";
        }
        // Microsoft's list carries some dates as empty octet strings: a date
        // that is not there, as Windows reads it (it takes a date only when
        // it is FILETIME-sized).
        if (value->empty() && (*id == disallowedFiletime || *id == notBeforeFiletime)) {
            continue;
        }
        bool readable = true;
        switch (*id) {
            case enhancedKeyUsage:
                restrictions.usages = usagesOf(*value);
                readable = restrictions.usages.has_value();
                break;
            case disallowedEnhancedKeyUsage: {
                auto usages = usagesOf(*value);
                readable = usages.has_value();
                restrictions.disallowedUsages = usages.value_or(std::vector<std::string>{});
                break;
            }
            case notBeforeEnhancedKeyUsage:
                restrictions.notBeforeUsages = usagesOf(*value);
                readable = restrictions.notBeforeUsages.has_value();
                break;
            case disallowedFiletime:
                restrictions.disabledAt = filetimeOf(*value);
                readable = restrictions.disabledAt.has_value();
                break;
            case notBeforeFiletime:
                restrictions.notBefore = filetimeOf(*value);
                readable = restrictions.notBefore.has_value();
                break;
            case friendlyName:
                restrictions.name = nameOf(*value);
                break;
            default:
                if (!knownButUnused.contains(*id)) {
                    ++unknown[*id];
                }
                break;
        }
        if (!readable) {
            return "property " + std::to_string(*id) + " is unreadable";
        }
    }
    return restrictions;
}

bool hasUsage(X509* certificate, const char* oid) {
    int critical = 0;
    authenticode::ExtendedKeyUsagePtr usages(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(certificate, NID_ext_key_usage, &critical, nullptr)));
    for (int i = 0; usages && i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
        char text[128];
        if (OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(usages.get(), i), 1) > 0 &&
            std::string_view(text) == oid) {
            return true;
        }
    }
    return false;
}

// The signer's chain at `at`, to a pinned root and nothing else.
std::optional<std::string> checkSignerChain(X509* signer, STACK_OF(X509) * certificates, std::time_t at,
                                            const std::vector<Sha256>& pins, const std::vector<X509*>& candidates) {
    authenticode::X509StorePtr store(X509_STORE_new());
    if (!store) {
        return "out of memory";
    }
    std::size_t anchors = 0;
    for (X509* candidate : candidates) {
        if (std::find(pins.begin(), pins.end(), sha256Of(candidate)) != pins.end()) {
            X509_STORE_add_cert(store.get(), candidate);
            ++anchors;
        }
    }
    if (anchors == 0) {
        return "none of the pinned root certificates is among the input certificates";
    }
    authenticode::X509StoreContextPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), signer, certificates) != 1) {
        return "out of memory";
    }
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_time(parameters, at);
    if (X509_verify_cert(context.get()) != 1) {
        return std::string("the list's signer does not chain to a pinned root at the list's date: ") +
               X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
    }
    if (!hasUsage(signer, rootListSignerOid)) {
        return "the list's signer is not a root list signer";
    }
    return std::nullopt;
}

}  // namespace

Sha256 sha256Of(X509* certificate) {
    Sha256 digest{};
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), digest.data(), &length);
    return digest;
}


std::variant<RootList, std::string> readRootList(Bytes der, const std::vector<Sha256>& pins,
                                                 const std::vector<X509*>& candidates) {
    if (authenticode::encapsulatesTrustList(der) == false) {
        return std::string("the signed content is not a certificate trust list");
    }
    auto decoded = authenticode::decodeSignedMessage(der);
    if (std::holds_alternative<authenticode::Reason>(decoded)) {
        return std::string("the list is not a signed message (truncated or damaged?)");
    }
    const auto& message = std::get<authenticode::SignedMessage>(decoded);
    if (!authenticode::checkCatalogContent(message).passed()) {
        return std::string("the signed content is not a certificate trust list");
    }
    const auto signer = authenticode::checkSignerInfo(message.signer, message.certificates, message.digestedContent,
                                                      authenticode::bytesOf(message.contentType));
    if (signer.status != authenticode::SignerStatus::Valid) {
        return std::string("the list's signature does not verify");
    }
    const auto list = authenticode::readTrustList(message.content);
    if (!list) {
        return std::string("the certificate trust list is malformed");
    }
    const bool forRoots = std::any_of(list->subjectUsages.begin(), list->subjectUsages.end(),
                                      [](Bytes oid) { return dotted(oid) == rootListSignerOid; });
    if (!forRoots) {
        return std::string("the list is not a root list (its usage is not root list signing)");
    }
    if (auto error = checkSignerChain(signer.certificate, message.certificates, list->thisUpdate, pins, candidates)) {
        return *error;
    }
    auto read = readRootListEntries(list->trustedSubjects);
    if (!read) {
        return std::string("an entry of the list is malformed");
    }
    read->thisUpdate = list->thisUpdate;
    read->nextUpdate = list->nextUpdate;
    return std::move(*read);
}

std::optional<RootList> readRootListEntries(Bytes trustedSubjects) {
    const auto subjects = authenticode::readTrustedSubjects(trustedSubjects);
    if (!subjects) {
        return std::nullopt;
    }
    RootList read;
    read.entryCount = subjects->size();
    std::map<Thumbprint, std::size_t> occurrences;
    for (const auto& subject : *subjects) {
        if (subject.identifier.size() == sizeof(Thumbprint)) {
            Thumbprint thumbprint{};
            std::copy(subject.identifier.begin(), subject.identifier.end(), thumbprint.begin());
            ++occurrences[thumbprint];
        }
    }
    for (const auto& subject : *subjects) {
        Thumbprint thumbprint{};
        if (subject.identifier.size() != thumbprint.size()) {
            read.rejected.emplace_back(thumbprint, "identifier is not a SHA-1 thumbprint");
            continue;
        }
        std::copy(subject.identifier.begin(), subject.identifier.end(), thumbprint.begin());
        // Two entries for one root may disagree; neither is taken.
        if (occurrences[thumbprint] > 1) {
            read.rejected.emplace_back(thumbprint, "duplicate entry");
            continue;
        }
        auto restrictions = restrictionsOf(subject, read.unknownProperties);
        if (auto* error = std::get_if<std::string>(&restrictions)) {
            read.rejected.emplace_back(thumbprint, *error);
            continue;
        }
        read.entries.push_back({thumbprint, std::move(std::get<RootRestrictions>(restrictions))});
    }
    return read;
}

}  // namespace rootstore
