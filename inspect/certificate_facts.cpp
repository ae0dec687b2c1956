#include "inspect/certificate_facts.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <array>
#include <memory>

namespace inspect {

namespace {

std::string hexOf(const unsigned char* bytes, std::size_t length) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string timeOf(const ASN1_TIME* time) {
    std::tm broken{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &broken) != 1) {
        return "";
    }
    return isoTime(timegm(&broken));
}

}  // namespace

std::string isoTime(std::time_t time) {
    std::tm broken{};
    if (gmtime_r(&time, &broken) == nullptr) {
        return "";
    }
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &broken);
    return std::string(text, length);
}

std::string nameOf(const X509_NAME* name) {
    // UTF-8 as written, not escaped byte by byte: the reports escape what
    // their reader cannot take.
    const unsigned long flags = XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB;
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    if (!out || name == nullptr || X509_NAME_print_ex(out.get(), name, 0, flags) < 0) {
        return "";
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

CertificateFacts factsOf(X509* certificate) {
    CertificateFacts facts;
    facts.subject = nameOf(X509_get_subject_name(certificate));
    facts.issuer = nameOf(X509_get_issuer_name(certificate));
    if (const ASN1_INTEGER* serial = X509_get0_serialNumber(certificate)) {
        facts.serial = hexOf(ASN1_STRING_get0_data(serial), static_cast<std::size_t>(ASN1_STRING_length(serial)));
    }
    facts.notBefore = timeOf(X509_get0_notBefore(certificate));
    facts.notAfter = timeOf(X509_get0_notAfter(certificate));
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) == 1) {
        facts.sha256 = hexOf(digest.data(), length);
    }
    return facts;
}

}  // namespace inspect
