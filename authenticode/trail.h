// What the engine saw on its way to a verdict, for a reader who wants more
// than the result code: the format, the signature, the chains it built, the
// time-stamp and the check that decided. Recording is optional, costs nothing
// when no trail is passed, and never changes the verdict.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "authenticode/chain/chain_record.h"
#include "authenticode/outcome.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

// The checks in the order the verifier makes them; the first that fails
// decides.
enum class Check {
    OpenFile,
    RecogniseFormat,
    FindSignature,
    FileDigest,
    Signer,
    TimeStamp,
    PublisherChain,
    TimeStampAuthorityChain,
};

enum class TimeStampKind { None, CounterSignature, Rfc3161 };

struct Trail {
    std::string format;                   // the subject format that claimed the file
    std::string digestAlgorithm;          // of the signed content, when the content names one
    int nestedSignatures = 0;             // present beside the primary signature, never counted
    X509Ptr signer;                       // the primary signer's certificate
    TimeStampKind timeStampKind = TimeStampKind::None;
    std::optional<std::time_t> timeStampTime;
    X509Ptr timeStampAuthority;
    ChainRecord publisherChain;
    ChainRecord authorityChain;
    Check decidedBy = Check::OpenFile;  // meaningful when the verdict is not Trusted
};

}  // namespace authenticode
