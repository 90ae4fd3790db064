#include "engine/MessageLineReader.h"

#include <gtest/gtest.h>

#include "config/ActivityLog.h"
#include "engine/AttachmentRenamer.h"
#include "support/FakeClock.h"
#include "support/FrameDriver.h"

namespace bramvell::testing {
namespace {

// Held segments carrying the given payloads, as the engine stores them.
class HeldReply {
  public:
    explicit HeldReply(std::initializer_list<std::string> payloads)
        : HeldReply(std::vector<std::string>(payloads)) {}
    explicit HeldReply(const std::vector<std::string>& payloads) {
        uint32_t seq = 100;
        for (const std::string& payload : payloads) {
            const std::vector<uint8_t> frame = BuildSegment(
                {FrameDriver::kServer, FrameDriver::kClient, 110, 40000, seq, 7, 0x18, 100, payload, {}});
            HeldSegment held;
            held.frame = store_.Copy(frame);
            held.length = static_cast<uint32_t>(frame.size());
            ParseFrame(held.Bytes(), held.layout);
            held.payloadLength = static_cast<uint32_t>(held.layout.payloadLength);
            segments.push_back(held);
            seq += static_cast<uint32_t>(payload.size());
        }
    }
    std::vector<std::string> Lines() {
        MessageLineReader reader(segments);
        std::vector<std::string> lines;
        MessageLine line;
        while (reader.NextLine(line)) {
            lines.emplace_back(line.text);
        }
        return lines;
    }
    std::string Payload(std::size_t index) const {
        auto payload = segments[index].Payload();
        return {payload.begin(), payload.end()};
    }
    bool Valid(std::size_t index) const {
        return ChecksumsValid(segments[index].Bytes(), segments[index].layout);
    }

    std::vector<HeldSegment> segments;

  private:
    SegmentStore store_;
};

TEST(MessageLineReaderTest, LinesRunAcrossSegmentsAndEndAtCr) {
    HeldReply reply({"+OK\r\nab", "c\r", "\nd\r\n", "", "\r\nx\ny\r\n", ".\r\n", "tail"});
    EXPECT_EQ(reply.Lines(), (std::vector<std::string>{"+OK", "abc", "d", "", "x\ny", ".", "tail"}));
    HeldReply empty({});
    EXPECT_TRUE(empty.Lines().empty());
}

// Lines of every length from empty to longer than the reader's 64-byte look-ahead, split into segments
// of many sizes, come out as a plain split of the joined bytes would give them.
TEST(MessageLineReaderTest, LongAndShortLinesComeOutTheSameWhereverSegmentsEnd) {
    std::string text = "+OK\r\n";
    for (std::size_t length = 0; length < 150; ++length) {
        text += std::string(length, static_cast<char>('a' + length % 26)) + (length % 7 == 3 ? "\n" : "") +
                "\r\n";
    }
    text += "\r\r\n.\r\n";
    std::vector<std::string> expected;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t cr = text.find('\r', at);
        expected.push_back(text.substr(at, cr - at));
        at = cr + 1 < text.size() && text[cr + 1] == '\n' ? cr + 2 : cr + 1;
    }
    for (std::size_t size : {1u, 15u, 16u, 17u, 63u, 64u, 65u, 200u, 1448u}) {
        SCOPED_TRACE(size);
        std::vector<std::string> payloads;
        for (std::size_t at = 0; at < text.size(); at += size) {
            payloads.push_back(text.substr(at, size));
        }
        HeldReply reply(payloads);
        EXPECT_EQ(reply.Lines(), expected);
    }
    // A stream's buffer (the TLS bridge's) reads the same as held segments.
    std::string buffer = text;
    MessageLineReader reader(std::span<uint8_t>(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size()));
    std::vector<std::string> lines;
    MessageLine line;
    while (reader.NextLine(line)) {
        lines.emplace_back(line.text);
    }
    EXPECT_EQ(lines, expected);
}

TEST(MessageLineReaderTest, PatchesLandInTheSegmentsThatHoldTheBytesAndKeepChecksumsRight) {
    HeldReply reply({"+OK\r\nfilename=\"a.e", "xe\"\r\n"});
    MessageLineReader reader(reply.segments);
    MessageLine line;
    ASSERT_TRUE(reader.NextLine(line));
    ASSERT_TRUE(reader.NextLine(line));
    ASSERT_EQ(line.text, "filename=\"a.exe\"");
    reader.Patch(line.position, 12, "tb ");
    EXPECT_EQ(reply.Payload(0), "+OK\r\nfilename=\"a.t");
    EXPECT_EQ(reply.Payload(1), "b \"\r\n");
    EXPECT_TRUE(reply.Valid(0));
    EXPECT_TRUE(reply.Valid(1));

    std::string buffer = "+OK\r\nfilename=\"a.exe\"\r\n";
    MessageLineReader plain(std::span<uint8_t>(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size()));
    ASSERT_TRUE(plain.NextLine(line));
    ASSERT_TRUE(plain.NextLine(line));
    plain.Patch(line.position, 12, "tb ");
    EXPECT_EQ(buffer, "+OK\r\nfilename=\"a.tb \"\r\n");
}

class RenameTest : public ::testing::Test {
  protected:
    RenameTest() {
        settings.SetLogFolder(folder.path());
        settings.activityLogEnabled = 1;
    }
    // The line as it reads after the renamer has seen it.
    std::string Rename(const std::string& text, bool expectRenamed) {
        HeldReply reply({text + "\r\n"});
        MessageLineReader reader(reply.segments);
        MessageLine line;
        EXPECT_TRUE(reader.NextLine(line));
        EXPECT_EQ(AttachmentRenamer(reader, settings, clock).Rename(line), expectRenamed) << text;
        EXPECT_TRUE(reply.Valid(0));
        return reply.Lines().front();
    }
    std::string Log() { return ReadWholeFile(ActivityLogPath(folder.path(), clock.Now())); }

    TempFolder folder;
    FakeClock clock;
    FilterSettings settings;
};

TEST_F(RenameTest, ExecutableExtensionsAreOverwrittenInPlace) {
    EXPECT_EQ(Rename("Content-Disposition: attachment; filename=\"a.exe\"", true),
              "Content-Disposition: attachment; filename=\"a.tb \"");
    EXPECT_EQ(Rename("filename=\"script.vbs\"", true), "filename=\"script.tb \"");
    EXPECT_EQ(Rename("filename=\"x.js\"", true), "filename=\"x.tb\"");
    EXPECT_EQ(Rename("filename=\"old.vb\"", true), "filename=\"old.tb\"");
    EXPECT_EQ(Rename("filename=\"tool.shb\"", true), "filename=\"tool.tb \"");
    EXPECT_NE(Log().find("Bramvell has renamed attachment 'a.exe' to 'a.tb'\r\n"), std::string::npos);
    EXPECT_NE(Log().find("Bramvell has renamed attachment 'x.js' to 'x.tb'\r\n"), std::string::npos);
}

TEST_F(RenameTest, OtherNamesAreLeftAlone) {
    for (const char* text : {"filename=\"script.VBS\"", "filename=a.exe", "filename=\"a.exe.txt\"",
                             "name=\"a.exe\"", "filename=\"\"", "filename="}) {
        EXPECT_EQ(Rename(text, false), text);
    }
    EXPECT_EQ(ReadWholeFile(ActivityLogPath(folder.path(), clock.Now())), "");
}

}  // namespace
}  // namespace bramvell::testing
