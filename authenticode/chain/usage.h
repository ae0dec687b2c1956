// What a certificate chain is checked for.
#pragma once

namespace authenticode {

enum class Usage {
    CodeSigning,   // the signer of a file
    TimeStamping,  // the signer of a time-stamp
};

}  // namespace authenticode
