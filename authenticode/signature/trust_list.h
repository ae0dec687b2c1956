// Certificate trust lists: the content of a catalog and of the root list
// that publishes which roots a default Windows machine trusts. Both are the
// same structure; this reads it once for both.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

#include "authenticode/reading/bytes.h"

namespace authenticode {

// CertificateTrustList ::= SEQUENCE {
//     version           INTEGER DEFAULT v1,
//     subjectUsage      SEQUENCE OF OBJECT IDENTIFIER,
//     listIdentifier    OCTET STRING OPTIONAL,
//     sequenceNumber    INTEGER OPTIONAL,
//     thisUpdate        UTCTime or GeneralizedTime,
//     nextUpdate        UTCTime or GeneralizedTime OPTIONAL,
//     subjectAlgorithm  AlgorithmIdentifier,
//     trustedSubjects   SEQUENCE OF TrustedSubject OPTIONAL,
//     extensions        [0] EXPLICIT Extensions OPTIONAL }
// Views into the encoding it was read from.
struct TrustList {
    std::vector<Bytes> subjectUsages;  // contents octets of each OID
    std::time_t thisUpdate = 0;
    std::optional<std::time_t> nextUpdate;
    Bytes trustedSubjects;  // contents of the SEQUENCE OF TrustedSubject; empty when absent
};

// The list's top-level fields, or nothing when `encoding` is not exactly one
// well-formed list.
std::optional<TrustList> readTrustList(Bytes encoding);

// TrustedSubject ::= SEQUENCE { subjectIdentifier OCTET STRING,
//     attributes SET OF SEQUENCE { type OID, values SET OF ANY } OPTIONAL }
struct TrustedSubjectAttribute {
    Bytes type;                 // contents octets of the OID
    std::vector<Bytes> values;  // each value's whole encoding
};

struct TrustedSubject {
    Bytes identifier;
    std::vector<TrustedSubjectAttribute> attributes;
};

// Every subject of a list, or nothing when one of them is malformed: a list
// that is half understood must not be half applied.
std::optional<std::vector<TrustedSubject>> readTrustedSubjects(Bytes trustedSubjects);

}  // namespace authenticode
