#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/FilterSettings.h"
#include "engine/PacketFilterThread.h"
#include "engine/Pop3Interceptor.h"
#include "support/RecordingMessageTarget.h"
#include "support/ScriptedAnalyzer.h"
#include "support/SimClock.h"
#include "support/SimNetwork.h"
#include "support/SimPop3Peers.h"
#include "support/TempFolder.h"

namespace bramvell::testing {

inline constexpr uint32_t kClientIp = 0x0A000001;  // 10.0.0.1
inline constexpr uint32_t kServerIp = 0x0A000102;  // 10.0.1.2

// One simulated host with a mail client, the engine (or none, for a direct reference run), and POP3
// servers across a network; settings point at a temporary program folder.
class Pop3World {
  public:
    struct Session {
        sim::SimTcpEndpoint* client = nullptr;
        sim::SimTcpEndpoint* server = nullptr;
        std::unique_ptr<sim::SimPop3Client> pop3Client;
        std::unique_ptr<sim::SimPop3Server> pop3Server;
        std::function<bool()> startWhen;  // set: connects once this holds, not at Connect()
        bool connected = false;

        bool Finished() const;
        const std::string& ClientStream() const { return client->Received(); }
        const std::string& ServerStream() const { return server->Received(); }
    };

    // intercept false: the packet loop runs without POP3 interception (frames pass as they come).
    explicit Pop3World(sim::SimNetwork::Mode mode = sim::SimNetwork::Mode::Engine,
                       uint32_t networkDelayMs = 2, bool intercept = true);

    Session& AddSession(std::vector<std::string> mailbox, std::vector<sim::Pop3Command> script,
                        uint16_t clientPort = 40000, sim::TcpTuning clientTuning = {},
                        sim::TcpTuning serverTuning = {}, uint32_t serverIp = kServerIp,
                        sim::ClientBehaviour behaviour = {});
    // Starts every session added so far that has not connected yet and waits for nothing.
    void Connect();
    void Start(Session& session);
    // Runs until every session has finished (closed both ways or reset): in Engine mode the packet loop
    // runs on this thread until then, and frees its records when it stops.
    bool RunAll(uint64_t limitMs = 10 * 60 * 1000);

    std::string QuarantineFolder() const { return folder.path() + "/quarantine"; }
    std::string LogFolder() const { return folder.path() + "/log"; }
    std::string LogText() const;  // the day's activity log

    TempFolder folder;
    sim::SimClock clock;
    FilterSettings settings;
    ScriptedAnalyzer analyzer{settings, clock};
    SettableKeys keys;
    RecordingMessageTarget target;
    Pop3Interceptor engine{settings, analyzer, keys, target, clock, clock};
    sim::SimNetwork network;
    PacketFilterThread loop;
    std::vector<std::unique_ptr<Session>> sessions;

    // WM_MAIL_CLASSIFIED wParams in the order posted.
    std::vector<uintptr_t> Verdicts() const;

  private:
    bool AllFinished() const;

    sim::SimNetwork::Mode mode_;
};

// A message of about `size` bytes with the given subject and a body of numbered lines.
std::string MakeMessage(const std::string& subject, std::size_t size,
                        const std::string& from = "Ann <ann@example.org>");
// Where two streams part, for failure messages.
std::string FirstDifference(const std::string& actual, const std::string& expected);
std::vector<sim::Pop3Command> Script(std::initializer_list<const char*> lines);
// The client's stream for the same mailbox and script without the engine ("" if it did not finish).
std::string DirectStream(const std::vector<std::string>& mailbox, const std::vector<sim::Pop3Command>& script,
                         sim::TcpTuning clientTuning = {});
// The direct stream with the replies to "RETR n" replaced (by the error line of a spam verdict).
std::string ExpectedStream(const std::vector<std::string>& mailbox,
                           const std::vector<sim::Pop3Command>& script,
                           const std::vector<std::pair<int, std::string>>& replaced);
// The error line for the scripted analyzer's verdict on a message from this sender.
std::string ErrorLine(const std::string& sender);

// Reads tests/data/<name>.
std::string ReadTestData(const std::string& name);

}  // namespace bramvell::testing
