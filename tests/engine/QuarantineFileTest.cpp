#include "engine/QuarantineFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/ErrorReply.h"
#include "support/FrameDriver.h"

namespace bramvell::testing {
namespace {

std::vector<HeldSegment> Held(SegmentStore& store, std::initializer_list<std::string> payloads) {
    std::vector<HeldSegment> segments;
    for (const std::string& payload : payloads) {
        const auto frame = BuildSegment(
            {FrameDriver::kServer, FrameDriver::kClient, 110, 40000, 1, 1, 0x18, 1, payload, {}});
        HeldSegment held;
        held.frame = store.Copy(frame);
        held.length = static_cast<uint32_t>(frame.size());
        ParseFrame(held.Bytes(), held.layout);
        held.payloadLength = static_cast<uint32_t>(held.layout.payloadLength);
        segments.push_back(held);
    }
    return segments;
}

TEST(QuarantineFileTest, NamesFollowTheVerdictTimeAndNeverOverwrite) {
    const LocalTime when{2026, 1, 2, 3, 4, 5};
    EXPECT_EQ(QuarantineFile::BasePath("/q", when), "/q/20260102030405.txt");
    EXPECT_EQ(QuarantineFile::BasePath("/q/", when), "/q/20260102030405.txt");

    TempFolder folder;
    SegmentStore store;
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        QuarantineFile file;
        ASSERT_TRUE(file.Create(folder.path(), when));
        ASSERT_TRUE(file.Write(Held(store, {"+OK\r\nmessage " + std::to_string(i)})));
        paths.push_back(file.path());
    }
    EXPECT_EQ(paths[0], folder / "20260102030405.txt");
    EXPECT_EQ(paths[1], folder / "20260102030405-1.txt");
    EXPECT_EQ(paths[2], folder / "20260102030405-2.txt");
    EXPECT_EQ(ReadWholeFile(paths[1]), "message 1");

    QuarantineFile missing;
    EXPECT_FALSE(missing.Create(folder / "nowhere", when));
    EXPECT_FALSE(missing.Write(Held(store, {"+OK\r\nx"})));
}

TEST(QuarantineFileTest, CopiesArePrivateAndAPlantedLinkIsPassedOver) {
    TempFolder folder;
    SegmentStore store;
    const LocalTime when{2026, 1, 2, 3, 4, 5};
    WriteWholeFile(folder / "victim", "untouched");
    std::filesystem::create_symlink(folder / "victim", folder / "20260102030405.txt");
    QuarantineFile file;
    ASSERT_TRUE(file.Create(folder.path(), when));
    ASSERT_TRUE(file.Write(Held(store, {"+OK\r\nprivate mail"})));
    EXPECT_EQ(file.path(), folder / "20260102030405-1.txt");
    EXPECT_EQ(ReadWholeFile(folder / "victim"), "untouched");
    EXPECT_EQ(std::filesystem::status(file.path()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// The status line is left out whether or not it shares its segment with the message.
TEST(QuarantineFileTest, ContentLeavesOutExactlyTheStatusLine) {
    TempFolder folder;
    SegmentStore store;
    const LocalTime when{2026, 1, 2, 3, 4, 5};
    struct Case {
        std::initializer_list<std::string> payloads;
        std::string content;
    };
    const Case cases[] = {
        {{"+OK 20 octets\r\nFrom: a\r\n", "\r\nbody\r\n.\r\n"}, "From: a\r\n\r\nbody\r\n.\r\n"},
        {{"+OK\r\n", "From: a\r\n.\r\n"}, "From: a\r\n.\r\n"},
        {{"+OK", " more\r\nX\r\n.\r\n"}, "X\r\n.\r\n"}};
    for (const Case& c : cases) {
        QuarantineFile file;
        ASSERT_TRUE(file.Create(folder.path(), when));
        ASSERT_TRUE(file.Write(Held(store, c.payloads)));
        EXPECT_EQ(ReadWholeFile(file.path()), c.content);
        std::filesystem::remove(file.path());
    }
}

TEST(ErrorReplyTest, NamesTheSenderAndTheProbability) {
    MessageVerdict verdict;
    EXPECT_EQ(BuildErrorReply(verdict),
              "-ERR Filtered by Bramvell - message from  has a Spam probability of ??%\r\n");
    verdict.sender.assign("Eve <eve@example.com>");
    verdict.probabilityText = {'9', '9'};
    EXPECT_EQ(
        BuildErrorReply(verdict),
        "-ERR Filtered by Bramvell - message from Eve <eve@example.com> has a Spam probability of 99%\r\n");

    // A CR LF in the sender would end the client's line early; escapes would reach its terminal.
    verdict.sender.assign("Eve\r\n+OK\x1b[2J\x7f");
    EXPECT_EQ(BuildErrorReply(verdict),
              "-ERR Filtered by Bramvell - message from Eve??+OK?[2J? has a Spam probability of 99%\r\n");
}

}  // namespace
}  // namespace bramvell::testing
