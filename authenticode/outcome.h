// What one check on the way to a verdict found: it passed, or it failed for a
// reason. Kept apart from Reason::Trusted, which is the verdict on a whole
// file and nothing else, so that a step that passed never reads as "the file
// is trusted" and a verdict is never taken for a step.
#pragma once

#include <cassert>
#include <optional>

#include "authenticode/reason.h"

namespace authenticode {

class [[nodiscard]] Outcome {
public:
    // Passed.
    constexpr Outcome() = default;

    // Failed for `failure`. Implicit, so that a check says `return
    // Reason::DigestMismatch;` as before. Trusted is a verdict, never a
    // failure.
    constexpr Outcome(Reason failure) : failure_(failure) { assert(failure != Reason::Trusted); }

    static constexpr Outcome pass() { return {}; }

    constexpr bool passed() const { return !failure_; }

    // Why it failed; only asked of an outcome that did not pass.
    constexpr Reason failure() const {
        assert(failure_);
        return failure_.value_or(Reason::SystemError);
    }

    // The verdict on the file when this was its last check.
    constexpr Reason verdict() const { return failure_.value_or(Reason::Trusted); }

    friend constexpr bool operator==(const Outcome&, const Outcome&) = default;

private:
    std::optional<Reason> failure_;
};

}  // namespace authenticode
