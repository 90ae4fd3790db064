#include "engine/TcpOptions.h"

#include <gtest/gtest.h>

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
    EXPECT_TRUE(StripSackPermitted(header));
    EXPECT_EQ(header[24], 1);
    EXPECT_EQ(header[25], 1);
    EXPECT_FALSE(StripSackPermitted(header));
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
    EXPECT_FALSE(StripSackPermitted(broken));
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
