// The status socket of a running filter: the report reaches this user's `bramvell status`, a stale
// socket is replaced, a live one or a foreign file is never taken over.
#include "runtime/StatusSocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "config/CalendarDays.h"
#include "config/MailHistory.h"
#include "runtime/StatusReport.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::TempFolder;

// Queries from a second thread while this one serves, as the run's loop does.
StatusQuery QueryWhileServing(StatusSocket& socket, const std::string& path, std::string& report) {
    std::atomic<bool> done{false};
    StatusQuery result = StatusQuery::Failed;
    std::thread client([&] {
        result = QueryStatus(path, 3000, report);
        done = true;
    });
    while (!done) {
        socket.Serve([] { return std::string("State: filtering\n"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    client.join();
    return result;
}

TEST(StatusSocketTest, AnswersThisUserAndRemovesItsSocket) {
    TempFolder folder;
    const std::string path = folder.path() + "/status.socket";
    {
        StatusSocket socket;
        std::string problem;
        ASSERT_TRUE(socket.Listen(path, &problem)) << problem;
        struct stat info{};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        std::string report;
        EXPECT_EQ(QueryWhileServing(socket, path, report), StatusQuery::Answered);
        EXPECT_EQ(report, "State: filtering\n");

        // A second run with the same folder does not take the socket of a live one.
        StatusSocket second;
        EXPECT_FALSE(second.Listen(path, &problem));
        EXPECT_NE(problem.find("already answers"), std::string::npos) << problem;
        EXPECT_EQ(QueryWhileServing(socket, path, report), StatusQuery::Answered);
    }
    std::string report;
    EXPECT_EQ(QueryStatus(path, 100, report), StatusQuery::NotRunning);
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(StatusSocketTest, ReplacesAStaleSocketButNoOtherFile) {
    TempFolder folder;
    const std::string stale = folder.path() + "/stale.socket";
    {
        // A socket left behind by a run that died: bound, never unlinked, nobody listening.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    std::string report;
    EXPECT_EQ(QueryStatus(stale, 100, report), StatusQuery::NotRunning);
    StatusSocket socket;
    std::string problem;
    ASSERT_TRUE(socket.Listen(stale, &problem)) << problem;
    EXPECT_EQ(QueryWhileServing(socket, stale, report), StatusQuery::Answered);

    const std::string file = folder.path() + "/not-a-socket";
    std::ofstream(file) << "keep me\n";
    StatusSocket other;
    EXPECT_FALSE(other.Listen(file, &problem));
    std::ifstream kept(file);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, "keep me");
}

TEST(StatusSocketTest, PathIsPrivateAndNamedAfterTheProgramFolder) {
    TempFolder runtime;
    ASSERT_EQ(::chmod(runtime.path().c_str(), 0700), 0);
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved == nullptr ? "" : saved;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string first = StatusSocketPath("/home/someone/.local/share/bramvell");
    const std::string again = StatusSocketPath("/home/someone/.local/share/bramvell");
    const std::string other = StatusSocketPath("/srv/other");
    if (saved == nullptr) {
        unsetenv("XDG_RUNTIME_DIR");
    } else {
        setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    }
    EXPECT_EQ(first.rfind(runtime.path() + "/bramvell/status-", 0), 0u) << first;
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    struct stat info{};
    ASSERT_EQ(::stat((runtime.path() + "/bramvell").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(StatusReportTest, StateCountsOfTodayAndAccountsInWords) {
    // Today's verdicts from the history, of every run of the day; yesterday's are left out.
    const auto record = [](int day, MailOutcome outcome) {
        MailRecord r;
        r.when = LocalTime{2026, 12, day, 10, 0, 0};
        r.outcome = outcome;
        return r;
    };
    const std::vector<MailRecord> history = {record(7, MailOutcome::Spam), record(8, MailOutcome::Good),
                                             record(8, MailOutcome::Spam), record(8, MailOutcome::Spam),
                                             record(8, MailOutcome::Unsure)};
    StatusFacts counted;
    CountToday(history, DayNumber(2026, 12, 8), counted);
    EXPECT_EQ(counted.todayGood, 1u);
    EXPECT_EQ(counted.todaySpam, 2u);
    EXPECT_EQ(counted.todayUnsure, 1u);

    StatusFacts facts;
    facts.pid = 42;
    facts.kind = "headless run";
    facts.startedAt = "2026-12-08 09:14";
    facts.packetFilter = true;
    facts.interfaceName = "eth0";
    facts.scorer = "classic";
    facts.todayGood = 3;
    facts.todaySpam = 1;
    facts.emailsFiltered = 120;
    facts.spamCount = 40;
    facts.popupsBlocked = 1;
    MailAccount account;
    account.name = "work";
    account.host = "pop.example.org";
    account.listenPort = 1110;
    facts.accounts.push_back(account);
    EXPECT_EQ(StatusReportText(facts),
              "State: filtering\n"
              "Process: headless run, pid 42, started 2026-12-08 09:14\n"
              "Packet filter: on, interface eth0\n"
              "Outbound email lock: not engaged\n"
              "Scorer: classic\n"
              "Today: 4 messages classified, 3 good, 1 spam\n"
              "All time: 120 emails filtered, 40 spam, 1 popup blocked\n"
              "Accounts:\n"
              "  work: pop.example.org:995 (tls), mail client to 127.0.0.1:1110\n");

    facts.filterEnabled = false;
    facts.outboundLock = true;
    facts.accounts.clear();
    const std::string off = StatusReportText(facts);
    EXPECT_EQ(off.substr(0, off.find('\n')), "State: running, spam filter off");
    EXPECT_NE(off.find("Outbound email lock: engaged\n"), std::string::npos);
    EXPECT_NE(off.find("Accounts: none\n"), std::string::npos);
    facts.filterEnabled = true;
    facts.packetFilter = false;
    const std::string bridge = StatusReportText(facts);
    EXPECT_EQ(bridge.substr(0, bridge.find('\n')), "State: filtering TLS bridge accounts only");
}

}  // namespace
}  // namespace bramvell
