// `bramvell run --headless`: filtering without a display. Posted messages are handled on the main
// thread (counters, housekeeping); SIGINT/SIGTERM end the run in order, SIGUSR1 toggles the outbound
// email lock.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "app/Command.h"
#include "config/ActivityLog.h"
#include "config/FileHandle.h"
#include "config/FilterSettings.h"
#include "config/MailAccounts.h"
#include "config/OptionsFile.h"
#include "engine/KeyState.h"
#include "engine/MessageTarget.h"
#include "engine/MessageVerdict.h"
#include "engine/PacketSource.h"
#include "platform/linux/NetworkInterfaces.h"
#include "platform/linux/PacketSourceCheck.h"
#include "runtime/CoreWiring.h"
#include "runtime/FilteringSession.h"
#include "runtime/PostedMessages.h"
#include "runtime/StatusReport.h"
#include "runtime/StatusSocket.h"

namespace bramvell {
namespace {

struct PostedMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    std::optional<MessageVerdict> verdict;  // with WM_MAIL_CLASSIFIED: sender and score for --verbose
};

// Messages from the filter thread, queued for the main thread.
class HeadlessMessageQueue final : public MessageTarget {
  public:
    void Post(uint32_t message, uintptr_t wParam) override {
        std::lock_guard lock(mutex_);
        queue_.push_back({message, wParam, std::nullopt});
    }

    void PostClassified(const MessageVerdict& verdict) override {
        std::lock_guard lock(mutex_);
        queue_.push_back({WM_MAIL_CLASSIFIED, verdict.isSpam ? 1u : 0u, verdict});
    }

    bool Take(PostedMessage& message) {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        message = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }

  private:
    std::mutex mutex_;
    std::deque<PostedMessage> queue_;
};

struct RunOptions {
    bool headless = false;
    bool verbose = false;
    std::string interfaceName;
    std::string readyFile;
    std::string userName;  // root only: filter this user's connections alone
};

bool ParseRunOptions(const std::vector<std::string>& arguments, RunOptions& options) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--headless") {
            options.headless = true;
        } else if (word == "--verbose" || word == "-v") {
            options.verbose = true;
        } else if ((word == "--interface" || word == "--ready-file") && i + 1 < arguments.size()) {
            (word == "--interface" ? options.interfaceName : options.readyFile) = arguments[++i];
        } else if (word == "--user" && i + 1 < arguments.size()) {
            options.userName = arguments[++i];
        } else {
            std::fprintf(stderr, "bramvell run: unknown or incomplete option '%s'\n", word.c_str());
            return false;
        }
    }
    if (!options.headless) {
        std::fprintf(stderr,
                     "bramvell run: only --headless is supported; without a command bramvell starts "
                     "the tray application\n");
        return false;
    }
    return true;
}

// Created without following a link there, so the name cannot be used to truncate another file.
bool WriteReadyFile(const std::string& path) {
    FileHandle file(OpenNoFollow(path, O_WRONLY | O_CREAT | O_TRUNC));
    return file.IsOpen() && WriteAll(file.Get(), "filtering\n");
}

// The uid of --user NAME. Root may name anyone; an ordinary user's run takes its own connections
// anyway, so naming another user is an error rather than silently ignored.
bool FindRunUser(const std::string& name, std::optional<uint32_t>& uid) {
    const passwd* entry = getpwnam(name.c_str());
    if (entry == nullptr) {
        std::fprintf(stderr, "bramvell run: no user named '%s'\n", name.c_str());
        return false;
    }
    if (geteuid() != 0 && entry->pw_uid != geteuid()) {
        std::fprintf(stderr, "bramvell run: only root may filter the connections of user '%s'\n",
                     name.c_str());
        return false;
    }
    uid = entry->pw_uid;
    return true;
}

std::vector<MailAccount> BridgeAccounts() {
    OptionsFile file;
    return file.Load() ? LoadAccounts(file) : std::vector<MailAccount>{};
}

// Handles one posted message as the control panel does, then what only a headless run does with it.
// Returns false when filtering failed.
bool HandleMessage(const PostedMessage& posted, FilterSettings& settings, const RunOptions& options) {
    if (options.verbose) {
        const std::string text = posted.verdict ? ClassifiedMailText(*posted.verdict)
                                                : PostedMessageText(posted.message, posted.wParam);
        std::fprintf(stderr, "bramvell: %s\n", text.c_str());
    }
    const PostedMessageOutcome outcome = HandlePostedMessage(settings, posted.message, posted.wParam,
                                                             [&] { EmptyQuarantineOnDayChange(settings); });
    if (outcome.filterStarted && !options.readyFile.empty() && !WriteReadyFile(options.readyFile)) {
        std::fprintf(stderr, "bramvell: cannot write the ready file %s\n", options.readyFile.c_str());
    }
    return !outcome.filterFailed;
}

int RunHeadless(CommandContext& context) {
    RunOptions options;
    if (!ParseRunOptions(context.arguments, options)) {
        return 2;
    }

    // Signals are taken synchronously on this thread; every thread started later inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::optional<uint32_t> onlyUser;
    if (!options.userName.empty() && !FindRunUser(options.userName, onlyUser)) {
        return 2;
    }

    FilteringSession session(context.programFolder, FilteringSession::Kind::Headless);
    FilterSettings& settings = session.settings();

    std::unique_ptr<PacketSource> source = CreatePacketSource(false, onlyUser);
    const bool packetFilter = source->IsDriverLoaded();
    if (!packetFilter) {
        const std::string problem = source->FailureReason();
        std::fprintf(stderr, "%.*s%s%s\n", static_cast<int>(kNetworkDriverFailedMessage.size()),
                     kNetworkDriverFailedMessage.data(), problem.empty() ? "" : " ", problem.c_str());
        LogActivity(settings, "Bramvell network driver not installed on this system or failed to load\n");
        if (BridgeAccounts().empty()) {
            session.SaveOnly();  // still an orderly exit: settings and statistics are kept
            return 1;
        }
    }

    // A chosen interface holds for this run only; the stored choice is saved unchanged.
    const int storedAdapterIndex = settings.adapterIndex;
    if (!packetFilter) {
        // The bridge needs no capabilities: its accounts are filtered all the same.
    } else if (!options.interfaceName.empty()) {
        const std::vector<AdapterInfo> adapters = source->GetTcpipBoundAdaptersInfo();
        int position = -1;
        for (std::size_t i = 0; i < adapters.size(); ++i) {
            if (adapters[i].name == options.interfaceName) {
                position = static_cast<int>(i);
            }
        }
        if (position < 0) {
            std::fprintf(stderr, "bramvell run: no interface named '%s'\n", options.interfaceName.c_str());
            return 2;
        }
        settings.adapterIndex = position;
    } else {
        ApplyAutomaticAdapterSelection(settings, *source);
    }

    session.Load();
    if (options.verbose) {
        std::fprintf(stderr, "bramvell: scoring with the %s scorer\n",
                     session.ScoresByChiSquare() ? "chi-square" : "classic");
    }
    HeadlessMessageQueue queue;
    NoKeyState keys;
    if (packetFilter) {
        session.Start(*source, queue, keys);
    } else if (session.StartBridgeOnly(queue)) {
        constexpr const char* kBridgeOnly =
            "The packet filter is off; the TLS bridge filters its accounts alone\n";
        LogActivity(settings, kBridgeOnly);
        std::fprintf(stderr, "bramvell: %s", kBridgeOnly);
        if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile)) {
            std::fprintf(stderr, "bramvell: cannot write the ready file %s\n", options.readyFile.c_str());
        }
    } else {
        std::fprintf(stderr, "bramvell: no TLS bridge account could listen; see the activity log\n");
        session.SaveOnly();
        return 1;
    }

    StatusFacts facts;
    facts.pid = static_cast<long>(getpid());
    facts.kind = "headless run";
    facts.startedAt = StartedAtNow();
    facts.packetFilter = packetFilter;
    if (packetFilter) {
        const std::vector<AdapterInfo> adapters = source->GetTcpipBoundAdaptersInfo();
        const int index = settings.adapterIndex;
        if (index >= 0 && static_cast<std::size_t>(index) < adapters.size()) {
            facts.interfaceName = adapters[static_cast<std::size_t>(index)].name;
        }
    }
    facts.scorer = session.ScoresByChiSquare() ? "chi-square" : "classic";
    facts.accounts = BridgeAccounts();
    const StatusReporter status(std::move(facts), context.programFolder);
    StatusSocket statusSocket;
    {
        std::string problem;
        const std::string path = StatusSocketPath(context.programFolder);
        if (path.empty()) {
            problem = "no private runtime folder ($XDG_RUNTIME_DIR)";
        }
        if (!problem.empty() || !statusSocket.Listen(path, &problem)) {
            std::fprintf(stderr, "bramvell: `bramvell status` cannot reach this run: %s\n", problem.c_str());
        }
    }

    bool failed = false;
    bool stopping = false;
    while (!stopping) {
        statusSocket.Serve([&] { return status.Report(settings); });
        PostedMessage posted{};
        while (queue.Take(posted)) {
            if (!HandleMessage(posted, settings, options)) {
                std::fprintf(stderr, "bramvell: filtering could not start; see the activity log\n");
                failed = true;
                stopping = true;
            }
        }
        const timespec wait{0, 100 * 1000 * 1000};
        siginfo_t info{};
        const int signal = sigtimedwait(&signals, &info, &wait);
        if (signal == SIGINT || signal == SIGTERM) {
            stopping = true;
        } else if (signal == SIGUSR1) {
            const bool engaged = settings.outboundEmailLock == 0;
            settings.outboundEmailLock = engaged ? 1 : 0;
            const char* line = engaged ? "Outbound email lock engaged\n" : "Outbound email lock disengaged\n";
            LogActivity(settings, line);
            if (options.verbose) {
                std::fprintf(stderr, "bramvell: %s", line);
            }
        }
    }

    // Orderly exit: stop the thread, count what it posted on the way out, save, release the adapter.
    session.Stop({.waitForThread = {},
                  .takeLateMessages =
                      [&] {
                          PostedMessage posted{};
                          while (queue.Take(posted)) {
                              HandleMessage(posted, settings, options);
                          }
                      },
                  .beforeSaving = [&] { settings.adapterIndex = storedAdapterIndex; }});
    return failed ? 1 : 0;
}

const CommandRegistration registration({"run",
                                        "run --headless [--verbose] [--interface NAME] [--ready-file PATH] [--user NAME]",
                                        "filter without a display until SIGINT or SIGTERM", RunHeadless});

}  // namespace
}  // namespace bramvell
