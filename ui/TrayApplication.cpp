#include "ui/TrayApplication.h"

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QSystemTrayIcon>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <cstdio>
#include <memory>

#include "config/FilterSettings.h"
#include "config/MailAccounts.h"
#include "config/OptionsFile.h"
#include "config/PasswordGate.h"
#include "engine/PacketSource.h"
#include "runtime/CoreWiring.h"
#include "runtime/FilteringSession.h"
#include "runtime/SimulatedMail.h"
#include "runtime/StatusReport.h"
#include "runtime/StatusSocket.h"
#include "ui/ActivityPage.h"
#include "ui/CorpusJobs.h"
#include "ui/FilterStop.h"
#include "ui/GeneralOptionsPage.h"
#include "ui/HtmlEmailPage.h"
#include "ui/ListPage.h"
#include "ui/ModifierKeyState.h"
#include "ui/Prompter.h"
#include "ui/QuarantinePage.h"
#include "ui/RaiseRequests.h"
#include "ui/SingleInstanceLock.h"
#include "ui/SmtpServerPage.h"
#include "ui/SpamFilterOptionsPage.h"
#include "ui/StatisticsPage.h"
#include "ui/TerminationSignals.h"

namespace bramvell {

namespace {

// The password gate's questions, put through the panel's prompter.
class PanelUnlockPrompt final : public PasswordPrompt {
  public:
    PanelUnlockPrompt(Prompter& prompter, QWidget* parent) : prompter_(prompter), parent_(parent) {}
    std::optional<std::string> AskPassword() override {
        const std::optional<QString> entered = prompter_.AskPassword(parent_);
        if (!entered) {
            return std::nullopt;
        }
        return entered->toStdString();
    }
    void ShowWarning(std::string_view text) override {
        prompter_.Warn(parent_, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

  private:
    Prompter& prompter_;
    QWidget* parent_;
};

// The twelve option pages, constructed in start-up order and added to the panel in page order.
struct OptionPages {
    explicit OptionPages(FilterSettings* settings)
        : general(settings),
          spamFilter(settings),
          blockedAddresses(*FindListPageInfo('A'), settings),
          blockedDomains(*FindListPageInfo('B'), settings),
          blockedNames(*FindListPageInfo('C'), settings),
          htmlEmail(settings),
          smtpServer(settings),
          subjectPassphrases(*FindListPageInfo('D'), settings),
          trustedAddresses(*FindListPageInfo('E'), settings),
          trustedDomains(*FindListPageInfo('F'), settings),
          trustedNames(*FindListPageInfo('G'), settings),
          userAddresses(*FindListPageInfo('H'), settings),
          quarantine(settings),
          activity(settings),
          statistics(settings) {}

    void AddTo(ControlPanel& panel) {
        panel.AddPage(&general, QStringLiteral("General Options"));
        panel.AddPage(&spamFilter, QStringLiteral("Spam Filter Options"));
        panel.AddPage(&blockedAddresses, QStringLiteral("Blocked Addresses"));
        panel.AddPage(&blockedDomains, QStringLiteral("Blocked Domains"));
        panel.AddPage(&blockedNames, QStringLiteral("Blocked Names"));
        panel.AddPage(&htmlEmail, QStringLiteral("HTML Email"));
        panel.AddPage(&smtpServer, QStringLiteral("SMTP Server"));
        panel.AddPage(&subjectPassphrases, QStringLiteral("Subject Passphrases"));
        panel.AddPage(&trustedAddresses, QStringLiteral("Trusted Addresses"));
        panel.AddPage(&trustedDomains, QStringLiteral("Trusted Domains"));
        panel.AddPage(&trustedNames, QStringLiteral("Trusted Names"));
        panel.AddPage(&userAddresses, QStringLiteral("User Addresses"));
        panel.AddPage(&quarantine, QStringLiteral("Quarantine"));
        panel.AddPage(&activity, QStringLiteral("Activity"));
        panel.AddPage(&statistics, QStringLiteral("Statistics"));
    }

    ListDisplayTargets DisplayLists() {
        return {&blockedAddresses.displayList(), &blockedDomains.displayList(),
                &blockedNames.displayList(),     &subjectPassphrases.displayList(),
                &trustedAddresses.displayList(), &trustedDomains.displayList(),
                &trustedNames.displayList(),     &userAddresses.displayList()};
    }

    std::array<ListPage*, 8> ListPages() {
        return {&blockedAddresses, &blockedDomains, &blockedNames, &subjectPassphrases,
                &trustedAddresses, &trustedDomains, &trustedNames, &userAddresses};
    }

    GeneralOptionsPage general;
    SpamFilterOptionsPage spamFilter;
    ListPage blockedAddresses;
    ListPage blockedDomains;
    ListPage blockedNames;
    HtmlEmailPage htmlEmail;
    SmtpServerPage smtpServer;
    ListPage subjectPassphrases;
    ListPage trustedAddresses;
    ListPage trustedDomains;
    ListPage trustedNames;
    ListPage userAddresses;
    QuarantinePage quarantine;
    ActivityPage activity;
    StatisticsPage statistics;
};

constexpr int kFirstSimulatedMailMs = 1500;
constexpr int kSimulatedMailIntervalMs = 6000;

// Closes every modal dialog that is open, innermost first, so that their nested loops return.
void CloseModalDialogs() {
    for (int i = 0; i < 16; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->close()) {
            return;
        }
    }
}

}  // namespace

int RunTrayApplication(const TrayApplicationOptions& options) {
    SingleInstanceLock lock;
    const std::string lockPath = options.lockPath.empty() ? SingleInstanceLockPath() : options.lockPath;
    if (lockPath.empty()) {
        std::fprintf(stderr,
                     "bramvell: no private folder for the single-instance lock (set HOME or "
                     "XDG_RUNTIME_DIR)\n");
        return kExitNoSource;
    }
    if (!lock.Acquire(lockPath)) {
        if (lock.heldElsewhere()) {
            // Another copy runs: bring its panel forward, save nothing.
            SendRaiseRequest(RaiseSocketPath(lockPath));
            return kExitNormal;
        }
        std::fprintf(stderr, "bramvell: cannot create the single-instance lock; going on without it\n");
    }

    QtPrompter defaultPrompter;
    Prompter& prompter = options.prompter != nullptr ? *options.prompter : defaultPrompter;
    bool quitRequested = false;
    TerminationSignals terminationSignals;

    FilteringSession session(options.programFolder, options.simulatedSource
                                                        ? FilteringSession::Kind::SimulatedDesktop
                                                        : FilteringSession::Kind::Desktop);
    FilterSettings& settings = session.settings();
    int exitCode = kExitNormal;

    std::unique_ptr<PacketSource> source =
        options.createSource ? options.createSource() : CreatePacketSource(options.simulatedSource);
    if (!source || !source->IsDriverLoaded()) {
        prompter.Warn(nullptr, QString::fromLatin1(kDriverFailedMessage));
        session.SaveOnly();
        return kExitNoSource;
    }

    auto pages = std::make_unique<OptionPages>(&settings);
    const std::vector<AdapterInfo> adapters = source->GetTcpipBoundAdaptersInfo();
    for (std::size_t i = 0; i < adapters.size() && i < static_cast<std::size_t>(kMaxAdapterNames); ++i) {
        pages->general.SetAdapterName(static_cast<int>(i), QString::fromStdString(adapters[i].name));
    }

    const TrayPresence presence = options.trayPresence.value_or(
        QSystemTrayIcon::isSystemTrayAvailable() ? TrayPresence::System : TrayPresence::None);
    auto panel = std::make_unique<ControlPanel>(&settings, &prompter, presence);
    pages->AddTo(*panel);

    QEventLoop loop;
    bool running = false;
    QObject::connect(&terminationSignals, &TerminationSignals::Received, panel.get(), [&](int) {
        quitRequested = true;
        if (running) {
            panel->ShutdownWithoutQuestion();
            CloseModalDialogs();
        }
    });

    const PumpEvents pump = [&quitRequested] {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return !quitRequested;
    };
    for (ListPage* page : pages->ListPages()) {
        page->SetPump(pump);
    }
    pages->quarantine.SetHooks(QuarantinePageHooks{
        [&session] { return session.OpenChiSquareStore(); },
        [&pages](const std::string& address) { return pages->trustedAddresses.AddEntryText(address); },
    });
    pages->spamFilter.SetCorpusJobs(MakeCorpusJobs(settings), CorpusToolHooks{pump, {}});
    const bool loaded = session.Load(pump, pages->DisplayLists()) && !quitRequested;
    if (!loaded) {
        session.Stop({.waitForThread = {}, .takeLateMessages = {}, .beforeSaving = [&] {
                          pages.reset();
                          panel.reset();
                      }});
        return exitCode;
    }

    ModifierKeyState keys;
    PanelUnlockPrompt unlock(prompter, panel.get());
    panel->SetHooks(ControlPanelHooks{
        [&] { session.Start(*source, *panel->messageTarget(), keys); },
        [&] { EmptyQuarantineOnDayChange(settings); },
        [&] { return RunPasswordGate(settings, unlock); },
        [&] { loop.quit(); },
    });
    panel->SetQuarantineNotification([] {
        OptionsFile options;
        return options.Load() && options.Get("notify-quarantine") == "on";
    });
    panel->Initialise();
    RaiseRequests raiseRequests;
    if (lock.held() && raiseRequests.Listen(RaiseSocketPath(lockPath))) {
        QObject::connect(&raiseRequests, &RaiseRequests::Requested, panel.get(),
                         [&] { panel->OnCommand(ID_RESTORE_PANEL); });
    }
    // `bramvell status` of this user reaches the tray application as it reaches a headless run.
    StatusFacts facts;
    facts.pid = static_cast<long>(::getpid());
    facts.kind = options.simulatedSource ? "tray application, simulated traffic" : "tray application";
    facts.startedAt = StartedAtNow();
    facts.packetFilter = true;
    if (const int index = settings.adapterIndex; index >= 0 && static_cast<std::size_t>(index) < adapters.size()) {
        facts.interfaceName = adapters[static_cast<std::size_t>(index)].name;
    }
    facts.scorer = session.ScoresByChiSquare() ? "chi-square" : "classic";
    if (OptionsFile accountsFile; accountsFile.Load()) {
        facts.accounts = LoadAccounts(accountsFile);
    }
    const StatusReporter statusReporter(std::move(facts), options.programFolder);
    StatusSocket statusSocket;
    std::unique_ptr<QSocketNotifier> statusNotifier;
    if (const std::string statusPath = StatusSocketPath(options.programFolder);
        !statusPath.empty() && lock.held()) {
        std::string problem;
        if (statusSocket.Listen(statusPath, &problem)) {
            statusNotifier = std::make_unique<QSocketNotifier>(statusSocket.fd(), QSocketNotifier::Read);
            QObject::connect(statusNotifier.get(), &QSocketNotifier::activated, panel.get(),
                             [&] { statusSocket.Serve([&] { return statusReporter.Report(settings); }); });
        } else {
            std::fprintf(stderr, "bramvell: `bramvell status` cannot reach this run: %s\n", problem.c_str());
        }
    }
    // A simulated run has no real traffic: made-up mail every few seconds fills the pages.
    std::unique_ptr<SimulatedMail> simulatedMail;
    QTimer simulatedMailTimer;
    if (options.simulatedSource) {
        simulatedMail = std::make_unique<SimulatedMail>(settings, *panel->messageTarget());
        QObject::connect(&simulatedMailTimer, &QTimer::timeout, panel.get(), [&] {
            simulatedMail->Next();
            simulatedMailTimer.setInterval(kSimulatedMailIntervalMs);
        });
        simulatedMailTimer.start(kFirstSimulatedMailMs);
    }
    if (options.onRunning) {
        options.onRunning(*panel);
    }
    running = true;
    if (!quitRequested) {
        loop.exec();
    }
    running = false;
    simulatedMailTimer.stop();
    statusNotifier.reset();
    // The loop also ends when the application is told to quit from elsewhere.
    panel->ShutdownWithoutQuestion();
    panel->EndRun();
    session.Stop({
        .waitForThread = [&] { WaitForFilterStop(settings); },
        // Verdicts posted while the thread was stopping still count.
        .takeLateMessages =
            [&] { QCoreApplication::sendPostedEvents(panel.get(), FilterMessageEvent::TypeId()); },
        .beforeSaving =
            [&] {
                pages.reset();
                panel.reset();
            },
    });
    return exitCode;
}

}  // namespace bramvell
