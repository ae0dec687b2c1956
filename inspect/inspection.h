// One file as the companion command reports it: the verdict the engine gives
// (the same code trustcheck prints) and what it saw on the way, as plain
// values ready to print.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace inspect {

struct CertificateFacts {
    std::string subject;
    std::string issuer;
    std::string serial;     // hexadecimal
    std::string notBefore;  // ISO 8601, UTC
    std::string notAfter;
    std::string sha256;     // fingerprint of the DER, hexadecimal
};

struct ChainFacts {
    std::string usage;      // "code signing" or "time stamping"
    std::string checkedAt;  // the time the chain was checked at
    std::vector<CertificateFacts> certificates;  // leaf first
    bool trusted = false;
    // Where the chain stopped short of a root: the name of the issuer that
    // was found neither in the signature nor on this machine.
    std::optional<std::string> missingIssuer;
};

struct TimeStampFacts {
    std::string kind;  // "RFC 3161" or "countersignature"
    std::string time;
    std::optional<CertificateFacts> authority;
    std::optional<ChainFacts> chain;
};

struct Inspection {
    std::string path;
    std::uint32_t code = 0;
    std::string reason;       // the engine's reason, as a stable identifier
    std::string meaning;      // what the code means, in a few words
    std::optional<std::string> fileError;  // the system's reason a file could not be read
    std::optional<std::string> format;
    std::optional<std::string> digestAlgorithm;
    std::optional<CertificateFacts> signer;
    std::optional<ChainFacts> chain;
    std::optional<TimeStampFacts> timeStamp;
    int nestedSignatures = 0;
    std::optional<std::string> decidedBy;    // which check decided, as an identifier
    std::optional<std::string> explanation;  // why, in words
    std::optional<std::string> suggestion;   // what to do next, where there is something
};

// Verifies the file at `path` as trustcheck does, as of `now`, and gathers
// what the checks saw.
Inspection inspectFile(const std::string& path, std::time_t now);

}  // namespace inspect
