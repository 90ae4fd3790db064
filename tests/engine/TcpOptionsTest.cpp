#include "engine/TcpOptions.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/ByteOrder.h"

#include "engine/FrameEditor.h"
#include "support/FrameDriver.h"

namespace bramvell::testing {
namespace {

TEST(TcpOptionsTest, FindsAndRewritesOptionsAndSurvivesMalformedOnes) {
    std::vector<uint8_t> header(40, 0);
    header[12] = 0xA0;  // 40 bytes
    const uint8_t options[] = {2, 4, 5, 180, 4, 2, 8, 10, 1, 2, 3, 4, 5, 6, 7, 8, 1, 3, 3, 9};
    std::copy(std::begin(options), std::end(options), header.begin() + 20);
    EXPECT_EQ(FindWindowScale(header), 9);
    EXPECT_EQ(FindTimestamp(header), 28u);
    EXPECT_TRUE(HasSackPermitted(header));
    EXPECT_FALSE(StripSackBlocks(header));
    EXPECT_TRUE(KeepOnlyTimestamp(header));
    EXPECT_EQ(FindWindowScale(header), -1);
    EXPECT_EQ(FindTimestamp(header), 28u);

    std::vector<uint8_t> broken(24, 0);
    broken[12] = 0x60;
    broken[20] = 8;
    broken[21] = 0;  // a zero length must not loop or read beyond the header
    EXPECT_EQ(FindTimestamp(broken), kNoOption);
    broken[21] = 40;
    EXPECT_EQ(FindTimestamp(broken), kNoOption);
    EXPECT_FALSE(HasSackPermitted(broken));
    EXPECT_FALSE(StripSackBlocks(broken));
}

// Blocks move by the offset between the two views; one that would fall outside what may be reported
// blanks the whole option, so a peer is never told of bytes nobody holds.
TEST(TcpOptionsTest, SackBlocksMoveAcrossNumberingOrAreBlanked) {
    auto headerWith = [](std::initializer_list<uint32_t> edges) {
        std::vector<uint8_t> header(24 + 4 * edges.size(), 0);
        header[20] = header[21] = tcp_option::kNop;
        header[22] = tcp_option::kSack;
        header[23] = static_cast<uint8_t>(2 + 4 * edges.size());
        std::size_t at = 24;
        for (uint32_t edge : edges) {
            Store32(header.data() + at, edge);
            at += 4;
        }
        header[12] = static_cast<uint8_t>(header.size() / 4) << 4;
        return header;
    };
    auto edgesOf = [](const std::vector<uint8_t>& header) {
        std::vector<uint32_t> edges;
        for (std::size_t at = 24; at + 4 <= header.size(); at += 4) {
            edges.push_back(Load32(header.data() + at));
        }
        return edges;
    };
    auto header = headerWith({1100, 1200, 1300, 1400});
    EXPECT_TRUE(TranslateSackBlocks(header, {100, 1000, 1300}));
    EXPECT_EQ(edgesOf(header), (std::vector<uint32_t>{1000, 1100, 1200, 1300}));
    EXPECT_FALSE(TranslateSackBlocks(header, {0, 1000, 1300}));  // in range, nothing to move

    header = headerWith({0xFFFFFFF0u, 20});  // across the wrap
    EXPECT_TRUE(TranslateSackBlocks(header, {0xFFFFFFF0u, 0, 100}));
    EXPECT_EQ(edgesOf(header), (std::vector<uint32_t>{0, 36}));

    for (const SackTranslation& outside : {SackTranslation{0, 1150, 2000},    // below the acknowledgement
                                           SackTranslation{0, 1000, 1399}}) { // beyond what was sent
        header = headerWith({1100, 1200, 1300, 1400});
        EXPECT_TRUE(TranslateSackBlocks(header, outside));
        EXPECT_TRUE(std::all_of(header.begin() + 20, header.end(), [](uint8_t b) { return b == 1; }));
    }
    header = headerWith({1200, 1200});  // empty
    EXPECT_TRUE(TranslateSackBlocks(header, {0, 0, 5000}));
    EXPECT_EQ(header[22], 1);
    header = headerWith({1100, 1200});
    header[23] = 9;  // not a whole number of blocks
    header.push_back(0);
    EXPECT_TRUE(TranslateSackBlocks(header, {0, 0, 5000}));
    EXPECT_EQ(header[22], 1);
}

// Written into the room a header has: up to four blocks, none when not one fits.
TEST(TcpOptionsTest, SackOptionTakesWhatFitsInTheHeader) {
    const std::vector<SackBlock> blocks = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}};
    std::vector<uint8_t> room(40, 0xEE);
    EXPECT_EQ(WriteSackOption(room, blocks), 36u);
    EXPECT_EQ(room[3], 34);
    EXPECT_EQ(Load32(room.data() + 32), 8u);
    EXPECT_EQ(WriteSackOption(std::span(room).first(28), blocks), 28u);  // beside a timestamp: three
    EXPECT_EQ(WriteSackOption(std::span(room).first(11), blocks), 0u);
    EXPECT_EQ(WriteSackOption(room, {}), 0u);
}

// The incremental update must give what a full recomputation gives, wherever the timestamp lies.
TEST(TcpOptionsTest, IncrementalChecksumMatchesAFullOne) {
    uint32_t state = 7;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> options = {8, 10, 0, 0, 0, 1, 0, 0, 0, 2};
        if (round % 2 == 1) {
            options.insert(options.begin(), 1);  // timestamp at an odd offset
        }
        std::string payload(next() % 300, 'x');
        for (char& c : payload) {
            c = static_cast<char>(next());
        }
        std::vector<uint8_t> frame = BuildSegment({next(), next(), 110, 40000, next(), next(), 0x18,
                                                   static_cast<uint16_t>(next()), payload, options});
        FrameLayout layout;
        ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
        {
            FrameEditor edit(frame, layout);
            edit.SetSequence(next());
            edit.SetAcknowledgement(next());
            edit.SetWindow(static_cast<uint16_t>(next()));
            edit.SetTimestamps(next(), next());
        }
        EXPECT_TRUE(ChecksumsValid(frame, layout)) << round;
    }
}

}  // namespace
}  // namespace bramvell::testing
