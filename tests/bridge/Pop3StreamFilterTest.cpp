#include "bridge/Pop3StreamFilter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/FilterSettings.h"
#include "engine/ErrorReply.h"
#include "support/FakeClock.h"
#include "support/RecordingMessageTarget.h"
#include "support/ScriptedAnalyzer.h"
#include "support/TempFolder.h"

namespace bramvell::testing {
namespace {

std::string Message(const std::string& subject, const std::string& body = "Hello.\r\n") {
    return "From: alice@example.org\r\nTo: bob@example.net\r\nSubject: " + subject + "\r\n\r\n" + body;
}

// The server's answer to RETR: status line, the message, the final dot line.
std::string Retrieved(const std::string& message) {
    return "+OK " + std::to_string(message.size()) + " octets\r\n" + message + ".\r\n";
}

// One bridged session over the stream filter, with the scripted analysis (Subject "SPAM" is spam).
class Bridged {
  public:
    explicit Bridged(Pop3StreamLimits limits = {}) : filter_({settings, analyzer, target, clock}, limits) {
        settings.SetQuarantineFolder(folder.path());
        settings.SetLogFolder(folder.path());
        settings.quarantineEnabled = 1;
        Server("+OK dovecot ready.\r\n");
    }

    // Bytes from the server, cut into pieces of `piece` bytes so that lines end across reads.
    void Server(const std::string& bytes, std::size_t piece = 7) {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const std::string part = bytes.substr(at, piece);
            filter_.FromServer({reinterpret_cast<const uint8_t*>(part.data()), part.size()}, out_);
        }
        Collect();
    }
    void Client(const std::string& bytes) {
        filter_.FromClient({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, out_);
        Collect();
    }
    void ClientGone() {
        filter_.OnClientGone(out_);
        Collect();
    }
    void ServerGone() {
        filter_.OnServerGone(out_);
        Collect();
    }
    // What the client and the server received since the last call.
    std::string TakeClient() { return std::exchange(toClient_, {}); }
    std::string TakeServer() { return std::exchange(toServer_, {}); }
    std::vector<std::string> QuarantineFiles() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            if (entry.path().filename().string().size() >= 18) {  // YYYYMMDDhhmmss.txt, not the log
                files.push_back(ReadWholeFile(entry.path()));
            }
        }
        return files;
    }
    const Pop3StreamFilter& filter() const { return filter_; }

    TempFolder folder;
    FilterSettings settings;
    FakeClock clock;
    ScriptedAnalyzer analyzer{settings, clock};
    RecordingMessageTarget target;

  private:
    void Collect() {
        toClient_ += out_.toClient;
        toServer_ += out_.toServer;
        out_ = {};
    }
    Pop3StreamFilter filter_;
    Pop3StreamFilter::Output out_;
    std::string toClient_;
    std::string toServer_;
};

std::string SpamLine() {
    MessageVerdict verdict;
    verdict.isSpam = true;
    verdict.probabilityText = {'8', '7'};
    verdict.sender.assign("alice@example.org");
    return BuildErrorReply(verdict);
}

TEST(Pop3StreamFilterTest, PipelinedBatchWithSpamInTheMiddleDeletesItBeforeTheQuit) {
    Bridged session;
    EXPECT_EQ(session.TakeClient(), "+OK dovecot ready.\r\n");
    const std::string good1 = Message("minutes", ".a dotted line\r\nend\r\n");
    const std::string spam = Message("SPAM offer");
    const std::string good3 = Message("agenda");
    session.Client("USER tom\r\nPASS x\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n");
    // The QUIT waits until the retrievals before it are judged.
    EXPECT_EQ(session.TakeServer(), "USER tom\r\nPASS x\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\n");
    session.Server("+OK\r\n+OK Logged in.\r\n" + Retrieved(good1) + Retrieved(spam));
    EXPECT_EQ(session.TakeServer(), "DELE 2\r\n");
    session.Server(Retrieved(good3));
    EXPECT_EQ(session.TakeServer(), "QUIT\r\n");
    session.Server("+OK Marked to be deleted.\r\n+OK Logging out, messages deleted.\r\n");
    EXPECT_EQ(session.TakeClient(), "+OK\r\n+OK Logged in.\r\n" + Retrieved(good1) + SpamLine() +
                                        Retrieved(good3) + "+OK Logging out, messages deleted.\r\n");
    EXPECT_EQ(session.filter().Unanswered(), 0u);
    EXPECT_EQ(session.analyzer.analysed, 3);
    EXPECT_EQ(session.target.Count(WM_MAIL_CLASSIFIED), 3u);
    EXPECT_EQ(session.target.Messages()[1], (RecordingMessageTarget::Posted{WM_MAIL_CLASSIFIED, 1}));
    // The copy is the message without the server's status line, the dot line included.
    EXPECT_EQ(session.QuarantineFiles(), std::vector<std::string>{spam + ".\r\n"});
}

TEST(Pop3StreamFilterTest, ReplyShapesTopCapaStlsAndErrors) {
    Bridged session;
    session.TakeClient();
    const std::string spam = Message("SPAM");
    // fetchmail's whole-message TOP is judged; a short TOP, a failed RETR and a listing pass.
    session.Client("CAPA\r\nSTLS\r\nTOP 4 10\r\nRETR 9\r\nLIST\r\ntop 4 99999999\r\n");
    EXPECT_EQ(session.TakeServer(), "CAPA\r\nTOP 4 10\r\nRETR 9\r\nLIST\r\ntop 4 99999999\r\n");
    const std::string shortTop = "+OK\r\nSubject: SPAM\r\n\r\n.\r\n";
    session.Server("+OK\r\nTOP\r\nstls \r\nUIDL\r\n.\r\n" + shortTop + "-ERR no such message\r\n" +
                   "+OK 1 messages\r\n4 120\r\n.\r\n" + Retrieved(spam));
    EXPECT_EQ(session.TakeClient(),
              "+OK\r\nTOP\r\nUIDL\r\n.\r\n"
              "-ERR the bridge speaks TLS to the server; use no encryption towards it\r\n" +
                  shortTop + "-ERR no such message\r\n+OK 1 messages\r\n4 120\r\n.\r\n" + SpamLine());
    EXPECT_EQ(session.TakeServer(), "DELE 4\r\n");
    EXPECT_EQ(session.analyzer.analysed, 1);
}

TEST(Pop3StreamFilterTest, SaslContinuationsPassAndADeletionIsAnsweredForTheServer) {
    Bridged session;
    session.TakeClient();
    session.Client("AUTH PLAIN\r\n");
    session.Server("+ \r\n");
    session.Client("dG9tAHRvbQB4\r\n");
    session.Server("+OK Logged in.\r\n");
    session.Client("RETR 1\r\n");
    session.Server(Retrieved(Message("SPAM")));
    EXPECT_EQ(session.TakeServer(), "AUTH PLAIN\r\ndG9tAHRvbQB4\r\nRETR 1\r\nDELE 1\r\n");
    EXPECT_EQ(session.TakeClient(), "+ \r\n+OK Logged in.\r\n" + SpamLine());
    // The client's own DELE of the message deleted in its name is answered here, in turn.
    session.Client("DELE 1\r\nDELE 2\r\n");
    EXPECT_EQ(session.TakeServer(), "DELE 2\r\n");
    session.Server("+OK Marked to be deleted.\r\n+OK Marked to be deleted.\r\n");
    EXPECT_EQ(session.TakeClient(), "+OK deleted\r\n+OK Marked to be deleted.\r\n");
}

TEST(Pop3StreamFilterTest, AClientThatResetsAfterTheSpamAnswerStillHasTheDeletionCommitted) {
    Bridged session;
    session.Client("RETR 1\r\n");
    session.Server(Retrieved(Message("SPAM")));
    EXPECT_EQ(session.TakeServer(), "RETR 1\r\nDELE 1\r\n");
    session.ClientGone();  // before the server answered the DELE
    EXPECT_EQ(session.TakeServer(), "QUIT\r\n");
    EXPECT_EQ(session.filter().Unanswered(), 2u);
    session.TakeClient();
    session.Server("+OK Marked to be deleted.\r\n+OK Logging out.\r\n");
    EXPECT_EQ(session.TakeClient(), "");
    EXPECT_EQ(session.filter().Unanswered(), 0u);

    // Without a deletion in its name, a client that leaves costs no QUIT; one it sent itself is enough.
    Bridged good;
    good.Client("RETR 1\r\n");
    good.Server(Retrieved(Message("news")));
    good.ClientGone();
    EXPECT_EQ(good.TakeServer(), "RETR 1\r\n");
    Bridged quit;
    quit.Client("RETR 1\r\nQUIT\r\n");
    quit.Server(Retrieved(Message("SPAM")));
    quit.ClientGone();
    EXPECT_EQ(quit.TakeServer(), "RETR 1\r\nDELE 1\r\nQUIT\r\n");
}

TEST(Pop3StreamFilterTest, LargeMessagesAreJudgedEarlyAndGoodOnesStreamOn) {
    std::string body;
    for (int i = 0; body.size() < 5000; ++i) {
        body += "line " + std::to_string(i) + " of a long report\r\n";
    }
    const Pop3StreamLimits limits{
        .maxHeldBytes = 64u << 20, .earlyVerdictBytes = 1000, .maxClientLine = 1024};
    Bridged good(limits);
    good.TakeClient();
    good.Client("RETR 1\r\n");
    const std::string goodReply = Retrieved(Message("report", body));
    good.Server(goodReply.substr(0, 2000), 100);
    const std::string early = good.TakeClient();
    EXPECT_GE(early.size(), 1000u);  // delivered before the reply is complete
    good.Server(goodReply.substr(2000), 100);
    EXPECT_EQ(early + good.TakeClient(), goodReply);
    EXPECT_EQ(good.analyzer.analysed, 1);

    // Attachments named after the early verdict are renamed as their lines stream past, whatever the
    // pieces the lines arrive in.
    for (const std::size_t piece : {1u, 13u, 4096u}) {
        SCOPED_TRACE(piece);
        Bridged renaming(limits);
        renaming.settings.renameAttachments = 1;
        renaming.TakeClient();
        renaming.Client("RETR 1\r\n");
        const std::string attachment = "Content-Disposition: attachment; filename=\"run.exe\"\r\n";
        const std::string reply = Retrieved(Message("report", body + attachment + "tail\r\n"));
        renaming.Server(reply, piece);
        std::string expected = reply;
        expected.replace(expected.find("run.exe"), 7, "run.tb ");
        EXPECT_EQ(renaming.TakeClient(), expected);
    }

    // Spam judged early is still collected whole, for its quarantine copy.
    Bridged spam(limits);
    spam.TakeClient();
    spam.Client("RETR 2\r\n");
    const std::string spamMessage = Message("SPAM", body);
    spam.Server(Retrieved(spamMessage), 100);
    EXPECT_EQ(spam.TakeClient(), SpamLine());
    EXPECT_EQ(spam.QuarantineFiles(), std::vector<std::string>{spamMessage + ".\r\n"});

    // Past the memory cap before any verdict: passed unfiltered, byte for byte.
    Bridged huge({.maxHeldBytes = 3000, .earlyVerdictBytes = 1u << 20, .maxClientLine = 1024});
    huge.TakeClient();
    huge.Client("RETR 3\r\n");
    const std::string hugeReply = Retrieved(Message("SPAM", body));
    huge.Server(hugeReply, 500);
    EXPECT_EQ(huge.TakeClient(), hugeReply);
    EXPECT_EQ(huge.analyzer.analysed, 0);
}

TEST(Pop3StreamFilterTest, RenamedAttachmentsQuarantineFailureAndAServerThatLeavesMidReply) {
    Bridged renaming;
    renaming.settings.renameAttachments = 1;
    renaming.TakeClient();
    renaming.Client("RETR 1\r\n");
    renaming.Server(Retrieved(Message("files", "Content-Disposition: attachment; filename=\"run.exe\"\r\n")));
    EXPECT_NE(renaming.TakeClient().find("filename=\"run.tb \""), std::string::npos);

    // No copy, no deletion: a NOOP goes in the DELE's place, the client still gets the spam answer.
    Bridged noCopy;
    noCopy.settings.SetQuarantineFolder(noCopy.folder / "missing");
    noCopy.TakeClient();
    noCopy.Client("RETR 1\r\n");
    noCopy.Server(Retrieved(Message("SPAM")));
    EXPECT_EQ(noCopy.TakeServer(), "RETR 1\r\nNOOP\r\n");
    EXPECT_EQ(noCopy.TakeClient(), SpamLine());

    Bridged cut;
    cut.TakeClient();
    cut.Client("RETR 1\r\n");
    cut.Server("+OK 900 octets\r\nFrom: a@b\r\nSubject: SP");
    cut.ServerGone();
    EXPECT_EQ(cut.TakeClient(), "+OK 900 octets\r\nFrom: a@b\r\nSubject: SP");
    EXPECT_EQ(cut.analyzer.analysed, 0);
}

TEST(Pop3StreamFilterTest, TheNoticeAnswerIsAStandInMessageNamingTheCopy) {
    Bridged session;
    session.settings.spamAnswerNotice = 1;
    session.TakeClient();
    session.Client("RETR 1\r\nLIST\r\n");
    session.Server(Retrieved(Message("SPAM")) + "+OK\r\n.\r\n");
    const std::string answer = session.TakeClient();
    ASSERT_TRUE(answer.starts_with("+OK stand-in message follows\r\nFrom: Bramvell")) << answer;
    EXPECT_NE(
        answer.find("Subject: Filtered by Bramvell - message from alice@example.org has a Spam probability "
                    "of 87%\r\n"),
        std::string::npos);
    EXPECT_NE(answer.find("deleted it on the server.\r\nIts copy is in the quarantine folder:\r\n" +
                          session.folder.path()),
              std::string::npos);
    EXPECT_TRUE(answer.ends_with(".txt\r\n.\r\n+OK\r\n.\r\n")) << answer;
}

TEST(Pop3StreamFilterTest, WhileTheFilterIsOffRetrievalsPassUnjudged) {
    Bridged session;
    session.settings.filterEnabled = 0;
    session.TakeClient();
    session.Client("RETR 1\r\n");
    const std::string reply = Retrieved(Message("SPAM"));
    session.Server(reply);
    EXPECT_EQ(session.TakeClient(), reply);
    EXPECT_EQ(session.TakeServer(), "RETR 1\r\n");
    EXPECT_EQ(session.analyzer.analysed, 0);
}

}  // namespace
}  // namespace bramvell::testing
