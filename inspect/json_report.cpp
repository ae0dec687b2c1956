#include <cstdio>

#include "inspect/report.h"
#include "inspect/utf8_scan.h"

namespace inspect {

namespace {

// A JSON string. JSON text is Unicode: a byte that is not part of well-formed
// UTF-8 (a file name need not be) becomes U+FFFD.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    forEachUtf8(text, [&out](std::string_view unit, bool valid) {
        if (!valid) {
            out += "\\ufffd";
            return;
        }
        const auto first = static_cast<unsigned char>(unit[0]);
        if (first == '"' || first == '\\') {
            out += '\\';
            out += unit;
        } else if (first < 0x20 || first == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", first);
            out += escaped;
        } else {
            out += unit;
        }
    });
    return out + "\"";
}

class Object {
public:
    Object& field(const char* name, const std::string& rawValue) {
        text_ += (text_.size() > 1 ? ",\"" : "\"") + std::string(name) + "\":" + rawValue;
        return *this;
    }
    Object& string(const char* name, const std::string& value) { return field(name, jsonString(value)); }
    Object& optionalString(const char* name, const std::optional<std::string>& value) {
        return field(name, value ? jsonString(*value) : "null");
    }
    std::string done() { return text_ + "}"; }

private:
    std::string text_ = "{";
};

std::string certificate(const CertificateFacts& facts) {
    return Object()
        .string("subject", facts.subject)
        .string("issuer", facts.issuer)
        .string("serial", facts.serial)
        .string("not_before", facts.notBefore)
        .string("not_after", facts.notAfter)
        .string("sha256", facts.sha256)
        .done();
}

std::string optionalCertificate(const std::optional<CertificateFacts>& facts) {
    return facts ? certificate(*facts) : "null";
}

std::string chain(const std::optional<ChainFacts>& facts) {
    if (!facts) {
        return "null";
    }
    std::string certificates = "[";
    for (const CertificateFacts& facts_ : facts->certificates) {
        if (certificates.size() > 1) {
            certificates += ',';
        }
        certificates += certificate(facts_);
    }
    certificates += "]";
    return Object()
        .string("usage", facts->usage == "code signing" ? "code_signing" : "time_stamping")
        .string("checked_at", facts->checkedAt)
        .field("trusted", facts->trusted ? "true" : "false")
        .field("certificates", certificates)
        .optionalString("missing_issuer", facts->missingIssuer)
        .done();
}

}  // namespace

std::string jsonReport(const Inspection& inspection) {
    std::string timeStamp = "null";
    if (inspection.timeStamp) {
        timeStamp = Object()
                        .string("kind", inspection.timeStamp->kind == "RFC 3161" ? "rfc3161" : "countersignature")
                        .string("time", inspection.timeStamp->time)
                        .field("authority", optionalCertificate(inspection.timeStamp->authority))
                        .field("chain", chain(inspection.timeStamp->chain))
                        .done();
    }
    return Object()
               .string("file", inspection.path)
               .string("code", hexCode(inspection.code))
               .field("verified", inspection.code == 0 ? "true" : "false")
               .string("reason", inspection.reason)
               .string("meaning", inspection.meaning)
               .optionalString("error", inspection.fileError)
               .optionalString("format", inspection.format)
               .optionalString("digest_algorithm", inspection.digestAlgorithm)
               .field("signer", optionalCertificate(inspection.signer))
               .field("chain", chain(inspection.chain))
               .field("timestamp", timeStamp)
               .field("nested_signatures", std::to_string(inspection.nestedSignatures))
               .optionalString("decided_by", inspection.decidedBy)
               .optionalString("explanation", inspection.explanation)
               .optionalString("suggestion", inspection.suggestion)
               .done() +
           "\n";
}

}  // namespace inspect
