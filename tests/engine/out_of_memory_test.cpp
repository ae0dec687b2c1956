// Memory that runs out part way through a verification. This program
// replaces the global operator new so that the n-th allocation of one run
// fails, for every n the run makes: each time the engine must answer with
// the file's own reason or a system error, never end the process or give
// another verdict. (OpenSSL allocates with malloc and is not affected.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <new>
#include <string>

#include "authenticode/reason.h"
#include "authenticode/verify_file.h"
#include "fixtures.h"

namespace {

// -1: no allocation fails. Otherwise the number of allocations still to
// succeed before one fails; only the thread under test counts.
thread_local long allocationsBeforeFailure = -1;
thread_local long allocationsCounted = 0;

}  // namespace

// GCC sees these deletes free what its own operator new returned and warns
// of a mismatch; here the pair is malloc and free by design.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    ++allocationsCounted;
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0) {
        --allocationsBeforeFailure;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
// The library's temporary buffers ask without exceptions; they must come
// from the same place.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace {

using authenticode::Reason;
using testing_support::fixturePath;

// 2025-01-01: inside every fixture certificate's validity.
constexpr std::time_t fixtureNow = 1735689600;

// One file of each format and of each path through the signature: trusted,
// time-stamped, nested, a chain that fails, a changed file.
const char* const files[] = {
    "pe/signed64-sha256.exe",
    "pe/trust-timestamped.exe",
    "pe/signed64-nested.exe",
    "pe/trust-missing-intermediate.exe",
    "pe/broken-text-byte.exe",
    "cab/signed-timestamped.cab",
    "msi/signed.msi",
    "script/signed.ps1",
    "cat/signed-sha256.cat",
    "appx/signed.appx",
};

TEST(OutOfMemory, EveryAllocationThatFailsGivesTheReasonOrASystemError) {
    testing_support::useFixtureTrust("trusted.pem");
    for (const char* file : files) {
        const std::string path = fixturePath(file);
        // A first run fills the caches a process keeps (the store, decoded
        // certificates) and gives the answer; the second counts allocations.
        const Reason expected = authenticode::verifyFileReason(path, fixtureNow);
        allocationsCounted = 0;
        ASSERT_EQ(authenticode::verifyFileReason(path, fixtureNow), expected) << file;
        const long allocations = allocationsCounted;
        EXPECT_GT(allocations, 0) << file;
        for (long n = 0; n < allocations; ++n) {
            allocationsBeforeFailure = n;
            const Reason got = authenticode::verifyFileReason(path, fixtureNow);
            allocationsBeforeFailure = -1;
            EXPECT_TRUE(got == expected || got == Reason::SystemError)
                << file << ": allocation " << n << " of " << allocations << " failed, reason "
                << static_cast<int>(got) << " instead of " << static_cast<int>(expected);
        }
    }
}

}  // namespace
