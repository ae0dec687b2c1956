#include "authenticode/formats/msi_subject.h"

#include <algorithm>
#include <array>
#include <memory>

#include "authenticode/formats/signature_der.h"
#include "authenticode/signature/asn1_view.h"
#include "authenticode/signature/hasher.h"
#include "authenticode/signature/indirect_digest.h"
#include "authenticode/signature/oids.h"

namespace authenticode {

namespace {

constexpr std::array<std::uint8_t, 8> compoundFileSignature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::string_view signatureStream =
    "\x05"
    "DigitalSignature";
constexpr std::string_view metadataDigestStream =
    "\x05"
    "MsiDigitalSignatureEx";

// Runs shorter than this are hashed straight from the mapping; longer ones
// let their pages go once hashed.
constexpr std::size_t smallRun = std::size_t{64} << 10;

// Whether an entry's UTF-16LE name is the given ASCII text.
bool named(const DirectoryEntry& entry, std::string_view ascii) {
    if (entry.name.size() != 2 * ascii.size()) {
        return false;
    }
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        if (entry.name[2 * i] != static_cast<std::uint8_t>(ascii[i]) || entry.name[2 * i + 1] != 0) {
            return false;
        }
    }
    return true;
}

bool isSignatureEntry(const DirectoryEntry& entry) {
    return named(entry, signatureStream) || named(entry, metadataDigestStream);
}

// The digest takes the entries of a storage in the order of their names'
// stored UTF-16LE bytes compared as unsigned bytes (not as code units), a
// name before any longer name it begins.
bool hashedBefore(const DirectoryEntry& a, const DirectoryEntry& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end());
}

// One step of the walk both digests take through the file: entering a
// storage (the root first), a stream, leaving a storage.
struct Step {
    enum class Kind { Enter, Stream, Leave } kind;
    DirectoryEntry entry;
};

struct HashingOrder {
    std::vector<Step> steps;
    std::optional<DirectoryEntry> metadataDigest;  // the root's MsiDigitalSignatureEx, if any
};

// Depth first through the storages, each storage's entries in hashing
// order; the root's two signature streams are left out. Nothing if the
// directory is damaged anywhere. Iterative: storages may nest as deep as the
// directory is long.
std::optional<HashingOrder> hashingOrder(const CompoundFile& compound) {
    HashingOrder order;
    DirectoryWalk walk(compound);
    struct Frame {
        DirectoryEntry storage;
        std::vector<DirectoryEntry> entries;
        std::size_t next = 0;
    };
    std::vector<Frame> frames;
    const auto enter = [&](const DirectoryEntry& storage) {
        auto entries = walk.children(storage);
        if (!entries) {
            return false;
        }
        if (storage.type == EntryType::Root) {
            for (const DirectoryEntry& entry : *entries) {
                if (named(entry, metadataDigestStream) && !order.metadataDigest) {
                    order.metadataDigest = entry;
                }
            }
            std::erase_if(*entries, isSignatureEntry);
        }
        std::stable_sort(entries->begin(), entries->end(), hashedBefore);
        order.steps.push_back({Step::Kind::Enter, storage});
        frames.push_back({storage, std::move(*entries)});
        return true;
    };

    if (!enter(compound.root())) {
        return std::nullopt;
    }
    while (!frames.empty()) {
        Frame& top = frames.back();
        if (top.next == top.entries.size()) {
            order.steps.push_back({Step::Kind::Leave, top.storage});
            frames.pop_back();
            continue;
        }
        const DirectoryEntry entry = top.entries[top.next++];
        if (entry.type == EntryType::Stream) {
            order.steps.push_back({Step::Kind::Stream, entry});
        } else if (!enter(entry)) {
            return std::nullopt;
        }
    }
    return order;
}

// The metadata digest that MsiDigitalSignatureEx holds: for the root its
// class id and state bits; for every other storage, on entering it, its
// name, class id, state bits and times; for every stream its name, the low
// four bytes of its size, its state bits and times.
std::vector<std::uint8_t> metadataDigest(const std::vector<Step>& steps, const EVP_MD* algorithm) {
    Hasher hasher(algorithm);
    for (const Step& step : steps) {
        const DirectoryEntry& entry = step.entry;
        if (step.kind == Step::Kind::Leave) {
            continue;
        }
        if (entry.type != EntryType::Root) {
            hasher.update(entry.name);
        }
        hasher.update(step.kind == Step::Kind::Stream ? entry.sizeField.first(4) : entry.classId);
        hasher.update(entry.stateBits);
        if (entry.type != EntryType::Root) {
            hasher.update(entry.creationTime);
            hasher.update(entry.modifiedTime);
        }
    }
    return hasher.finish();
}

struct MsiSignature {
    CompoundFile compound;
    std::vector<std::uint8_t> signature;
};

}  // namespace

std::variant<std::vector<std::uint8_t>, Reason> msiDigest(const MappedFile& file, const CompoundFile& compound,
                                                          const EVP_MD* algorithm) {
    const auto order = hashingOrder(compound);
    if (!order) {
        return Reason::SignedStreamsUnreadable;
    }
    Hasher hasher(algorithm);

    if (order->metadataDigest) {
        const std::vector<std::uint8_t> metadata = metadataDigest(order->steps, algorithm);
        if (metadata.empty()) {
            return Reason::SystemError;
        }
        if (order->metadataDigest->type != EntryType::Stream) {
            return Reason::DigestMismatch;
        }
        const auto stored = compound.streamBytes(*order->metadataDigest);
        if (!stored) {
            return Reason::SignedStreamsUnreadable;
        }
        if (*stored != metadata) {
            return Reason::DigestMismatch;
        }
        hasher.update(metadata);
    }

    SectorVisits visits = compound.beginPass();
    const auto hashRun = [&](std::size_t offset, std::size_t length) {
        if (length < smallRun) {
            hasher.update(file.bytes().subspan(offset, length));
        } else {
            hashFileRange(file, offset, length, hasher);
        }
    };
    for (const Step& step : order->steps) {
        if (step.kind == Step::Kind::Stream && !compound.readStream(step.entry, visits, hashRun)) {
            return Reason::SignedStreamsUnreadable;
        }
        if (step.kind == Step::Kind::Leave) {
            hasher.update(step.entry.classId);
        }
    }
    std::vector<std::uint8_t> digest = hasher.finish();
    if (digest.empty()) {
        return Reason::SystemError;
    }
    return digest;
}

std::optional<SubjectOrReason> locateMsiSubject(const MappedFile& file, std::string_view /*path*/) {
    const Bytes bytes = file.bytes();
    if (bytes.size() < compoundFileSignature.size() ||
        !std::equal(compoundFileSignature.begin(), compoundFileSignature.end(), bytes.begin())) {
        return std::nullopt;
    }
    auto compound = CompoundFile::open(bytes);
    if (!compound) {
        return Reason::CompoundFileUnreadable;
    }
    DirectoryWalk walk(*compound);
    const auto rootEntries = walk.children(compound->root());
    if (!rootEntries) {
        return Reason::SignatureStreamUnreadable;
    }
    const auto stream = std::find_if(rootEntries->begin(), rootEntries->end(),
                                     [](const DirectoryEntry& entry) { return named(entry, signatureStream); });
    if (stream == rootEntries->end() || stream->type != EntryType::Stream || stream->size == 0) {
        return Reason::NoSignature;
    }
    auto signature = compound->streamBytes(*stream);
    if (!signature) {
        return Reason::SignatureStreamUnreadable;
    }

    const auto state = std::make_shared<const MsiSignature>(MsiSignature{std::move(*compound), std::move(*signature)});
    // As in a PE certificate table: nothing but zeros may follow the
    // signature where no digest looks.
    const auto message = signatureDer(state->signature, AfterSignature::ZeroPadding);
    if (const auto* reason = std::get_if<Reason>(&message)) {
        return *reason;
    }

    return Subject{
        std::get<Bytes>(message), [&file, state](const SignedMessage& signedMessage) -> Outcome {
            // The data is an SpcSipInfo; signers put the installer package's
            // GUID {000C10F1-0000-0000-C000-000000000046} in it. Its value is
            // not checked: the package that checks a file is chosen by the
            // file's content, not by the signature, and the digest alone ties
            // the signature to this file.
            const auto form = checkIndirectDataForm(signedMessage, oids::bytes(oids::spcSipInfo));
            if (const auto* reason = std::get_if<Reason>(&form)) {
                return *reason;
            }
            const auto& [indirect, digest] = std::get<CheckedIndirectData>(form);
            const auto computed = msiDigest(file, state->compound, digest);
            if (const auto* reason = std::get_if<Reason>(&computed)) {
                return *reason;
            }
            return sameBytes(std::get<std::vector<std::uint8_t>>(computed), indirect.digest) ? Outcome::pass()
                                                                                             : Reason::DigestMismatch;
        }};
}

}  // namespace authenticode
