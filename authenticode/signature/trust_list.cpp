#include "authenticode/signature/trust_list.h"

#include <openssl/asn1.h>

#include "authenticode/reading/der_shapes.h"
#include "authenticode/signature/openssl_ptr.h"

namespace authenticode {

namespace {

constexpr std::uint8_t tagUtcTime = 0x17;
constexpr std::uint8_t tagGeneralizedTime = 0x18;

std::optional<der::Element> nextTime(der::Reader& reader) {
    if (auto time = reader.optional(tagUtcTime)) {
        return time;
    }
    return reader.optional(tagGeneralizedTime);
}

// OpenSSL decodes the time; a value it rejects makes the list malformed.
std::optional<std::time_t> timeOf(const der::Element& element) {
    const unsigned char* cursor = element.encoding.data();
    ASN1_TIME* time = d2i_ASN1_TIME(nullptr, &cursor, static_cast<long>(element.encoding.size()));
    if (time == nullptr) {
        return std::nullopt;
    }
    std::tm parts{};
    const bool ok = ASN1_TIME_to_tm(time, &parts) == 1;
    ASN1_TIME_free(time);
    if (!ok) {
        return std::nullopt;
    }
    return timegm(&parts);
}

std::optional<TrustedSubject> readSubject(const der::Element& element) {
    if (element.tag != der::tagSequence) {
        return std::nullopt;
    }
    der::Reader fields(element.contents);
    const auto identifier = fields.next(der::tagOctetString);
    if (!identifier) {
        return std::nullopt;
    }
    TrustedSubject subject{identifier->contents, {}};
    if (const auto attributes = fields.optional(der::tagSet)) {
        for (der::Reader each(attributes->contents); !each.atEnd();) {
            const auto attribute = each.next(der::tagSequence);
            if (!attribute) {
                return std::nullopt;
            }
            const auto parts = der::readPair(attribute->contents, der::tagOid, der::tagSet);
            if (!parts) {
                return std::nullopt;
            }
            const auto& [type, values] = *parts;
            TrustedSubjectAttribute read{type.contents, {}};
            for (der::Reader value(values.contents); !value.atEnd();) {
                const auto next = value.next();
                if (!next) {
                    return std::nullopt;
                }
                read.values.push_back(next->encoding);
            }
            subject.attributes.push_back(std::move(read));
        }
    }
    if (!fields.atEnd()) {
        return std::nullopt;
    }
    return subject;
}

}  // namespace

std::optional<TrustList> readTrustList(Bytes encoding) {
    const auto list = der::readWhole(encoding, der::tagSequence);
    if (!list) {
        return std::nullopt;
    }
    TrustList read;
    der::Reader fields(list->contents);
    fields.optional(der::tagInteger);
    const auto usage = fields.next(der::tagSequence);
    if (!usage) {
        return std::nullopt;
    }
    for (der::Reader usages(usage->contents); !usages.atEnd();) {
        const auto oid = usages.next(der::tagOid);
        if (!oid) {
            return std::nullopt;
        }
        read.subjectUsages.push_back(oid->contents);
    }
    fields.optional(der::tagOctetString);
    fields.optional(der::tagInteger);
    const auto thisUpdate = nextTime(fields);
    if (!thisUpdate) {
        return std::nullopt;
    }
    const auto thisUpdateTime = timeOf(*thisUpdate);
    if (!thisUpdateTime) {
        return std::nullopt;
    }
    read.thisUpdate = *thisUpdateTime;
    if (const auto nextUpdate = nextTime(fields)) {
        read.nextUpdate = timeOf(*nextUpdate);
        if (!read.nextUpdate) {
            return std::nullopt;
        }
    }
    if (!fields.next(der::tagSequence)) {
        return std::nullopt;
    }
    if (const auto subjects = fields.optional(der::tagSequence)) {
        read.trustedSubjects = subjects->contents;
    }
    fields.optional(der::tagContext0);
    if (!fields.atEnd()) {
        return std::nullopt;
    }
    return read;
}

std::optional<std::vector<TrustedSubject>> readTrustedSubjects(Bytes trustedSubjects) {
    std::vector<TrustedSubject> subjects;
    for (der::Reader each(trustedSubjects); !each.atEnd();) {
        const auto element = each.next();
        if (!element) {
            return std::nullopt;
        }
        auto subject = readSubject(*element);
        if (!subject) {
            return std::nullopt;
        }
        subjects.push_back(std::move(*subject));
    }
    return subjects;
}

}  // namespace authenticode
