// The cursor every record reader stands on: a read that does not fit must
// fail and leave the cursor where it was, so a short record can never shift
// the fields read after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "authenticode/reading/bytes.h"

namespace {

using authenticode::ByteCursor;
using authenticode::Bytes;

// Each read against inputs of its exact size and one byte fewer, after a
// byte already taken so a read that ignored the position would be seen.
TEST(ByteCursor, ReadsLittleEndianFieldsThatFitAndNothingElse) {
    const std::vector<std::uint8_t> bytes{0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const struct {
        std::size_t width;
        std::function<std::optional<std::uint64_t>(ByteCursor&)> read;
        std::uint64_t value;  // what the bytes after the first one say
        const char* note;
    } rows[] = {
        {1, [](ByteCursor& c) { return c.u8(); }, 0x01, "one byte"},
        {2, [](ByteCursor& c) { return c.u16le(); }, 0x0201, "low byte first"},
        {4, [](ByteCursor& c) { return c.u32le(); }, 0x04030201, "low byte first"},
        {8, [](ByteCursor& c) { return c.u64le(); }, 0x0807060504030201, "all eight bytes, none sign-extended"},
    };
    for (const auto& row : rows) {
        ByteCursor exact(Bytes(bytes.data(), 1 + row.width));
        ASSERT_TRUE(exact.skip(1));
        EXPECT_EQ(row.read(exact), row.value) << row.note;
        EXPECT_TRUE(exact.empty()) << row.note << ": the read ends exactly at the end";

        ByteCursor shortOne(Bytes(bytes.data(), row.width));
        ASSERT_TRUE(shortOne.skip(1));
        EXPECT_EQ(row.read(shortOne), std::nullopt) << row.note << ": one byte short";
        EXPECT_EQ(shortOne.remaining(), row.width - 1) << row.note << ": a failed read takes nothing";
    }
}

TEST(ByteCursor, TakesRunsOfBytesOnlyWhenTheyAreAllThere) {
    const std::vector<std::uint8_t> bytes{1, 2, 3, 4};
    constexpr std::size_t huge = std::numeric_limits<std::size_t>::max();
    const struct {
        std::size_t before;  // bytes skipped first
        std::size_t n;
        bool taken;
        const char* note;
    } rows[] = {
        {0, 4, true, "all of it"},
        {0, 0, true, "nothing, which always fits"},
        {4, 0, true, "nothing, at the end"},
        {1, 3, true, "the rest exactly"},
        {1, 4, false, "one past the end"},
        {4, 1, false, "anything at the end"},
        {1, huge, false, "a length that would wrap a pointer or an offset"},
        {1, huge - 2, false, "a length that wraps when added to the position"},
    };
    for (const auto& row : rows) {
        for (const bool viaSkip : {false, true}) {
            ByteCursor cursor(Bytes(bytes.data(), bytes.size()));
            ASSERT_TRUE(cursor.skip(row.before)) << row.note;
            const std::size_t left = cursor.remaining();
            if (viaSkip) {
                EXPECT_EQ(cursor.skip(row.n), row.taken) << row.note << " (skip)";
            } else {
                const auto taken = cursor.bytes(row.n);
                ASSERT_EQ(taken.has_value(), row.taken) << row.note;
                if (taken) {
                    EXPECT_EQ(taken->data(), bytes.data() + row.before) << row.note << ": a view, not a copy";
                    EXPECT_EQ(taken->size(), row.n) << row.note;
                }
            }
            EXPECT_EQ(cursor.remaining(), row.taken ? left - row.n : left) << row.note;
            EXPECT_EQ(cursor.rest().data(), bytes.data() + row.before + (row.taken ? row.n : 0)) << row.note;
        }
    }
}

// A record's fields read together: one that does not fit spoils them all,
// so a record is either read whole or not at all.
TEST(ByteCursor, ReadsARecordsFieldsWholeOrNotAtAll) {
    const std::vector<std::uint8_t> bytes{0x50, 0x4B, 0x05, 0x06, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00};
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        ByteCursor cursor(Bytes(bytes.data(), size));
        std::uint32_t signature = 0;
        std::uint16_t disk = 0;
        std::uint32_t offset = 0;
        const bool read = cursor.fields(signature, disk, offset);
        EXPECT_EQ(read, size >= 10) << size << " bytes";
        EXPECT_EQ(cursor.remaining(), read ? size - 10 : size) << size << " bytes";
        if (read) {
            EXPECT_EQ(signature, 0x06054B50u);
            EXPECT_EQ(disk, 1u);
            EXPECT_EQ(offset, 2u);
        }
    }
}

}  // namespace
