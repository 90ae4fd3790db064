#include <gtest/gtest.h>

#include "runtime/ClassifierAnalyzer.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The classifier behind the engine: its rule verdicts reach the error line, and renaming happens on
// the lines it reads.
TEST(Pop3ClassifierSessionTest, TheClassifiersVerdictDrivesTheEngine) {
    const std::vector<std::string> mailbox = {
        "From: bob@example.net\r\nTo: BOB@example.net\r\nSubject: hi\r\n\r\nself\r\n",
        ReadTestData("attachments.eml")};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    Pop3World world;
    world.settings.renameAttachments = 1;
    ClassifierAnalyzer analyzer(world.settings, nullptr, world.clock);
    world.analyzer.delegate = &analyzer;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());

    const auto replies = session.pop3Client->replies();
    EXPECT_EQ(replies[1],
              "-ERR Filtered by Bramvell - message from bob@example.net has a Spam probability of 99%\r\n");
    std::string expected = sim::SimPop3Server::RetrReply(mailbox[1]);
    expected = Replace(expected, "filename=\"a.exe\"", "filename=\"a.tb \"");
    expected = Replace(expected, "filename=\"script.vbs\"", "filename=\"script.tb \"");
    expected = Replace(expected, "filename=\"x.js\"", "filename=\"x.tb\"");
    EXPECT_EQ(replies[2], expected);
    EXPECT_EQ(session.ServerStream(), "USER bob\r\nRETR 1\r\nDELE 1\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_NE(world.LogText().find("Analysing email message from: Carl <carl@example.com>\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace bramvell::testing
