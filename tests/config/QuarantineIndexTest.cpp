#include "config/QuarantineIndex.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::TempFolder;
using testing::WriteWholeFile;

TEST(QuarantineIndexTest, HeaderSummaryUnfoldsAndStopsAtTheBody) {
    const MessageHeaderSummary summary = SummariseHeader(
        "Received: from x\r\n"
        "FROM: Ann Example\r\n <ann@example.org>\r\n"
        "Subject: a folded\r\n\tsubject\x07 line \r\n"
        "Subject: a second subject is ignored\r\n"
        "Message-ID: <1@x>\r\n"
        "\r\n"
        "Date: in the body, not the header\r\n");
    EXPECT_EQ(summary.from, "Ann Example <ann@example.org>");
    EXPECT_EQ(summary.subject, "a folded subject? line");
    EXPECT_EQ(summary.messageId, "<1@x>");
    EXPECT_EQ(summary.date, "");
    EXPECT_EQ(SummariseHeader("").from, "");
    EXPECT_EQ(SummariseHeader("From:").from, "");
}

TEST(QuarantineIndexTest, SenderAddressesAreFoundInEveryUsualForm) {
    EXPECT_EQ(AddressOfSender("Ann Example <Ann@Example.org>"), "ann@example.org");
    EXPECT_EQ(AddressOfSender("bob@example.net"), "bob@example.net");
    EXPECT_EQ(AddressOfSender("\"Bob, B.\" <bob@example.net"), "bob@example.net");
    EXPECT_EQ(AddressOfSender("no address here"), "");
}

TEST(QuarantineIndexTest, ACopyBecomesTheMessageAMailProgramReads) {
    EXPECT_EQ(MessageOfQuarantineCopy("Subject: s\r\n\r\n..starts with a dot\r\nbody\r\n.\r\n"),
              "Subject: s\r\n\r\n.starts with a dot\r\nbody\r\n");
    EXPECT_EQ(MessageOfQuarantineCopy("Subject: s\n\nno end line\n"), "Subject: s\n\nno end line\n");
    EXPECT_EQ(MessageOfQuarantineCopy("a\r\n.\r\nafter the end\r\n"), "a\r\n");
}

TEST(QuarantineIndexTest, TheFolderIsListedNewestFirstWithItsRecordedVerdicts) {
    TempFolder folder;
    WriteWholeFile(folder / "20261207101010.txt",
                   "From: old@x.example\r\nSubject: older\r\n\r\nbody\r\n.\r\n");
    WriteWholeFile(folder / "20261208101010.txt",
                   "From: new@x.example\r\nSubject: newer\r\n\r\nbody\r\n.\r\n");
    WriteWholeFile(folder / "20261208101010-1.txt", "Subject: same second\r\n\r\n.\r\n");
    WriteWholeFile(folder / "notes.txt", "not a quarantine copy");
    std::filesystem::create_directory(folder / "20261209101010.txt");  // a folder with a copy's name
    std::filesystem::create_symlink(folder / "notes.txt", folder / "20261210101010.txt");

    MailRecord verdict;
    verdict.outcome = MailOutcome::Spam;
    verdict.score = 9900;
    verdict.quarantineName = "20261207101010.txt";
    const std::vector<QuarantinedMessage> messages = ListQuarantine(folder.path(), {verdict});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].name, "20261208101010.txt");
    EXPECT_EQ(messages[0].header.subject, "newer");
    EXPECT_FALSE(messages[0].verdict);
    EXPECT_EQ(messages[1].name, "20261208101010-1.txt");
    EXPECT_EQ(messages[2].header.from, "old@x.example");
    EXPECT_EQ(messages[2].when.day, 7);
    EXPECT_EQ(messages[2].when.hour, 10);
    ASSERT_TRUE(messages[2].verdict);
    EXPECT_EQ(messages[2].verdict->score, 9900);
    EXPECT_EQ(messages[2].path, folder / "20261207101010.txt");
    EXPECT_TRUE(ListQuarantine(folder / "missing").empty());
}

}  // namespace
}  // namespace bramvell
