// Plain facts about a certificate, for people and for JSON.
#pragma once

#include <openssl/x509.h>

#include <ctime>
#include <string>

#include "inspect/inspection.h"

namespace inspect {

CertificateFacts factsOf(X509* certificate);

// A distinguished name on one line, in RFC 2253 order: the last RDN first.
std::string nameOf(const X509_NAME* name);

// ISO 8601 in UTC: 2024-01-31T12:00:00Z.
std::string isoTime(std::time_t time);

}  // namespace inspect
