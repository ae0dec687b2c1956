#include <cstdio>

#include "inspect/report.h"

namespace inspect {

namespace {

void line(std::string& out, const std::string& indent, const std::string& label, const std::string& value) {
    out += indent + label + ": " + printable(value) + "\n";
}

void certificate(std::string& out, const std::string& indent, const CertificateFacts& facts) {
    line(out, indent, "subject", facts.subject);
    line(out, indent, "issuer", facts.issuer);
    line(out, indent, "serial", facts.serial);
    line(out, indent, "valid", facts.notBefore + " to " + facts.notAfter);
}

void chain(std::string& out, const std::string& indent, const ChainFacts& facts) {
    out += indent + "chain (" + facts.usage + ", checked at " + facts.checkedAt + "):\n";
    for (std::size_t i = 0; i < facts.certificates.size(); ++i) {
        const CertificateFacts& certificate = facts.certificates[i];
        out += indent + "  " + std::to_string(i) + " " + printable(certificate.subject) + "\n";
        out += indent + "    SHA-256 " + certificate.sha256 + "\n";
    }
    if (facts.missingIssuer) {
        out += indent + "  issuer not found: " + printable(*facts.missingIssuer) + "\n";
    }
}

}  // namespace

std::string textReport(const Inspection& inspection) {
    std::string out = printable(inspection.path) + ": " + hexCode(inspection.code) + " (" + inspection.meaning + ")\n";
    const std::string indent = "  ";
    if (inspection.format) {
        line(out, indent, "format", *inspection.format);
    }
    if (inspection.digestAlgorithm) {
        line(out, indent, "digest", *inspection.digestAlgorithm);
    }
    if (inspection.signer) {
        out += indent + "signer:\n";
        certificate(out, indent + "  ", *inspection.signer);
    }
    if (inspection.chain) {
        chain(out, indent, *inspection.chain);
    }
    if (inspection.timeStamp) {
        const TimeStampFacts& timeStamp = *inspection.timeStamp;
        out += indent + "time-stamp: " + timeStamp.kind + ", " + timeStamp.time + "\n";
        if (timeStamp.authority) {
            out += indent + "  authority:\n";
            certificate(out, indent + "    ", *timeStamp.authority);
        }
        if (timeStamp.chain) {
            chain(out, indent + "  ", *timeStamp.chain);
        }
    }
    if (inspection.nestedSignatures > 0) {
        out += indent + "nested signatures: " + std::to_string(inspection.nestedSignatures) + " (not counted)\n";
    }
    if (inspection.explanation) {
        line(out, indent, inspection.decidedBy ? "why (" + *inspection.decidedBy + ")" : "why", *inspection.explanation);
    }
    if (inspection.suggestion) {
        line(out, indent, "next", *inspection.suggestion);
    }
    return out;
}

}  // namespace inspect
