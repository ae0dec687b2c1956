// Bounds-checked access to file bytes. Every read names an offset and a
// length, both checked against the view; a read that does not fit fails
// cleanly instead of touching memory outside the file.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace authenticode {

using Bytes = std::span<const std::uint8_t>;

// The `length` bytes at `offset`, or nothing if they are not all inside.
inline std::optional<Bytes> slice(Bytes data, std::size_t offset, std::size_t length) {
    if (offset > data.size() || length > data.size() - offset) {
        return std::nullopt;
    }
    return data.subspan(offset, length);
}

// Reads a record's fields front to back: each read takes its bytes from
// the front of what is left, or, if too few are left, fails and takes
// nothing. Fields are then named once, in the order the record has them,
// instead of as offsets that each have to agree with a size checked
// elsewhere. Little-endian, as every format read here is.
class ByteCursor {
public:
    explicit ByteCursor(Bytes data) : rest_(data) {}

    std::size_t remaining() const { return rest_.size(); }
    bool empty() const { return rest_.empty(); }
    Bytes rest() const { return rest_; }

    [[nodiscard]] std::optional<std::uint8_t> u8() { return little<std::uint8_t>(); }
    [[nodiscard]] std::optional<std::uint16_t> u16le() { return little<std::uint16_t>(); }
    [[nodiscard]] std::optional<std::uint32_t> u32le() { return little<std::uint32_t>(); }
    [[nodiscard]] std::optional<std::uint64_t> u64le() { return little<std::uint64_t>(); }

    // The next `n` bytes, as a view into the data.
    [[nodiscard]] std::optional<Bytes> bytes(std::size_t n) {
        if (n > rest_.size()) {
            return std::nullopt;
        }
        const Bytes taken = rest_.first(n);
        rest_ = rest_.subspan(n);
        return taken;
    }

    [[nodiscard]] bool skip(std::size_t n) { return bytes(n).has_value(); }

    // Reads a record's fields in the order given, each as wide as its type:
    // all of them, or, if the bytes run out, none and false.
    template <std::unsigned_integral... Values>
    [[nodiscard]] bool fields(Values&... values) {
        ByteCursor trial = *this;
        if (!(trial.field(values) && ...)) {
            return false;
        }
        *this = trial;
        return true;
    }

private:
    template <std::unsigned_integral Value>
    bool field(Value& value) {
        const auto read = little<Value>();
        if (read) {
            value = *read;
        }
        return read.has_value();
    }

    template <typename Value>
    std::optional<Value> little() {
        const auto field = bytes(sizeof(Value));
        if (!field) {
            return std::nullopt;
        }
        Value value = 0;
        for (std::size_t i = sizeof(Value); i-- > 0;) {
            value = static_cast<Value>((value << 8) | (*field)[i]);
        }
        return value;
    }

    Bytes rest_;
};

// Appends each value little-endian, as wide as its type: the writing half
// of ByteCursor::fields, for the records that are hashed as rewritten.
template <std::unsigned_integral... Values>
void appendLittleEndian(std::vector<std::uint8_t>& out, Values... values) {
    const auto append = [&out](auto value) {
        for (std::size_t i = 0; i < sizeof(value); ++i) {
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    };
    (append(values), ...);
}

inline bool allZero(Bytes data) {
    return std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace authenticode
