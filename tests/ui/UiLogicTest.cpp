// Plain logic of the user interface: counter texts, page-tree parents, tips, the stop handshake and
// the single-instance lock.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "config/FilterSettings.h"
#include "support/TempFolder.h"
#include "ui/FilterStop.h"
#include "ui/PageList.h"
#include "ui/SingleInstanceLock.h"
#include "ui/StatusText.h"
#include "ui/TipsOfTheDay.h"

namespace bramvell {
namespace {

TEST(StatusTextTest, PercentageIsTruncatedAndZeroSpamUsesTheSecondFormat) {
    EXPECT_EQ(EmailsFilteredText(12, 3), "Emails filtered: 12 (25% Spam)");
    EXPECT_EQ(EmailsFilteredText(3, 2), "Emails filtered: 3 (66% Spam)");
    EXPECT_EQ(EmailsFilteredText(1, 1), "Emails filtered: 1 (100% Spam)");
    EXPECT_EQ(EmailsFilteredText(5, 0), "Emails filtered: 5 (0% Spam)");
    EXPECT_EQ(EmailsFilteredText(0, 0), "Emails filtered: 0 (0% Spam)");
    // A large count must not overflow the percentage.
    EXPECT_EQ(EmailsFilteredText(2000000000, 1000000000), "Emails filtered: 2000000000 (50% Spam)");
    EXPECT_EQ(PopupsBlockedText(7), "Messenger Service popups blocked: 7");
}

TEST(PageListTest, CaptionDecidesTheParentAndLateAddsAreRefused) {
    PageList pages;
    auto* general = reinterpret_cast<CSAPrefsSubDlg*>(0x10);
    auto* spam = reinterpret_cast<CSAPrefsSubDlg*>(0x20);
    auto* smtp = reinterpret_cast<CSAPrefsSubDlg*>(0x30);
    auto* subject = reinterpret_cast<CSAPrefsSubDlg*>(0x40);
    auto* another = reinterpret_cast<CSAPrefsSubDlg*>(0x50);
    EXPECT_TRUE(pages.AddPage(general, 103, "General Options", nullptr));
    EXPECT_TRUE(pages.AddPage(smtp, 151, "SMTP Server", nullptr));
    EXPECT_TRUE(pages.AddPage(subject, 112, "Subject Passphrases", nullptr));
    EXPECT_TRUE(pages.AddPage(spam, 107, "Spam Filter Options", nullptr));
    // "A..." keeps the parent its caller gave, even one other than the first page.
    EXPECT_TRUE(pages.AddPage(another, 999, "Another Page", spam));
    ASSERT_EQ(pages.size(), 5);
    EXPECT_EQ(pages.entries()[0].parent, -1);
    EXPECT_EQ(pages.entries()[1].parent, 0);  // S but not "Sp"
    EXPECT_EQ(pages.entries()[2].parent, 0);
    EXPECT_EQ(pages.entries()[3].parent, -1);  // "Sp" stays at the top level wherever it comes
    EXPECT_EQ(pages.entries()[4].parent, 3);

    pages.Freeze();
    EXPECT_FALSE(pages.AddPage(another, 1, "General", nullptr));
    EXPECT_EQ(pages.size(), 5);
}

TEST(TipsTest, EveryTipIsFiveFullLinesAndTheCounterCycles) {
    for (int tip = 1; tip <= kTipCount; ++tip) {
        ASSERT_EQ(TipSlot(tip).size(), 260u) << "tip " << tip;
        for (int line = 0; line < kTipLineCount; ++line) {
            EXPECT_EQ(TipLine(tip, line).size(), 52u) << "tip " << tip << " line " << line;
        }
    }
    EXPECT_EQ(TipLine(4, 1), "check the 'Quarantine suspected Spam to this folder'");
    EXPECT_EQ(TipSlot(12), "12");
    EXPECT_EQ(TipSlot(21), "");

    TipCounter counter;
    std::vector<int> seen;
    for (int i = 0; i < 13; ++i) {
        seen.push_back(counter.Next());
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 2}));
}

TEST(FilterStopTest, PollsUntilTheThreadClearsFilterRunning) {
    FilterSettings settings;
    settings.filterRunning = 1;
    int sleeps = 0;
    WaitForFilterStop(settings, [&](std::chrono::milliseconds interval) {
        EXPECT_EQ(interval.count(), 500);
        EXPECT_EQ(settings.stopRequested, 1);
        if (++sleeps == 3) {
            settings.filterRunning = 0;  // the thread noticed the request
        }
    });
    EXPECT_EQ(sleeps, 3);

    // A thread that already ended costs no wait.
    sleeps = 0;
    WaitForFilterStop(settings, [&](std::chrono::milliseconds) { ++sleeps; });
    EXPECT_EQ(sleeps, 0);
}

TEST(SingleInstanceLockTest, SecondHolderIsRefusedUntilTheFirstEnds) {
    testing::TempFolder folder;
    const std::string path = folder / "lock";
    {
        SingleInstanceLock first;
        ASSERT_TRUE(first.Acquire(path));
        // flock locks belong to the open file, so a second open in this process conflicts as another
        // process would; check from a child as well.
        SingleInstanceLock second;
        EXPECT_FALSE(second.Acquire(path));
        EXPECT_TRUE(second.heldElsewhere());
        const pid_t child = fork();
        if (child == 0) {
            SingleInstanceLock inChild;
            _exit(inChild.Acquire(path) ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SingleInstanceLock again;
    EXPECT_TRUE(again.Acquire(path));

    SingleInstanceLock unusable;
    EXPECT_FALSE(unusable.Acquire(folder / "missing/lock"));
    EXPECT_FALSE(unusable.heldElsewhere());
}

// Another user who could write the lock's folder could hold it and keep the program from starting.
TEST(SingleInstanceLockTest, OnlyAPrivateFolderHoldsTheLockAndNeverASharedOne) {
    testing::TempFolder folder;
    const std::filesystem::path runtime = folder / "runtime";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const pid_t child = fork();
    if (child == 0) {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        const bool privateRuntime = SingleInstanceLockPath() == runtime / kSingleInstanceLockName;
        std::filesystem::permissions(runtime, std::filesystem::perms::all);
        const bool sharedRefused =
            SingleInstanceLockPath() == folder / "config/Bramvell/" + kSingleInstanceLockName;
        _exit(privateRuntime && sharedRefused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace bramvell
