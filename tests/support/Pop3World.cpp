#include "support/Pop3World.h"

#include <filesystem>

#include "config/ActivityLog.h"
#include "engine/MessageTarget.h"

namespace bramvell::testing {

bool Pop3World::Session::Finished() const {
    if (!connected) {
        return false;
    }
    if (server->WasReset()) {
        return true;
    }
    if (client->WasReset()) {
        // The server may still be hearing of it (a QUIT sent in the client's name, then the reset).
        return server->PeerClosed() && server->FinAcknowledged();
    }
    return pop3Client->Done() && client->PeerClosed() && client->FinAcknowledged() && server->PeerClosed() &&
           server->FinAcknowledged();
}

Pop3World::Pop3World(sim::SimNetwork::Mode mode, uint32_t networkDelayMs, bool intercept)
    : network(clock, mode, networkDelayMs),
      loop(settings, network.source(), target, keys, clock, intercept ? &engine : nullptr),
      mode_(mode) {
    settings.programFolder = folder.path();
    settings.SetDefaults();
    settings.mainWindow = &target;
    std::filesystem::create_directories(QuarantineFolder());
    std::filesystem::create_directories(LogFolder());
    settings.SetQuarantineFolder(QuarantineFolder());
    settings.SetLogFolder(LogFolder());
    settings.lastDayOfMonth = clock.Now().day;
}

Pop3World::Session& Pop3World::AddSession(std::vector<std::string> mailbox,
                                          std::vector<sim::Pop3Command> script, uint16_t clientPort,
                                          sim::TcpTuning clientTuning, sim::TcpTuning serverTuning,
                                          uint32_t serverIp, sim::ClientBehaviour behaviour) {
    const sim::SimAddress clientAddress{kClientIp, clientPort, {2, 0, 0, 0, 0, 1}};
    const sim::SimAddress serverAddress{serverIp, 110, {2, 0, 0, 0, 0, 2}};
    auto session = std::make_unique<Session>();
    // Server numbers start close to the 32-bit wrap so that long replies cross it.
    const auto salt = static_cast<uint32_t>(sessions.size());
    const uint32_t clientIsn = 1000003u * clientPort + 7777777u * salt;
    const uint32_t serverIsn = 0xFFF00000u + 7919u * clientPort + serverIp + 104729u * salt;
    session->client = &network.AddClient(clientAddress, serverAddress, clientTuning, clientIsn);
    session->server = &network.AddServer(serverAddress, clientAddress, serverTuning, serverIsn);
    session->pop3Client = std::make_unique<sim::SimPop3Client>(*session->client, std::move(script), behaviour);
    session->pop3Server = std::make_unique<sim::SimPop3Server>(*session->server, std::move(mailbox));
    Session* raw = session.get();
    network.AddPoller([this, raw] {
        if (!raw->connected && raw->startWhen && raw->startWhen()) {
            Start(*raw);
        }
        raw->pop3Server->Poll();
        raw->pop3Client->Poll();
    });
    sessions.push_back(std::move(session));
    return *sessions.back();
}

void Pop3World::Start(Session& session) {
    session.connected = true;
    network.Attach(*session.client, false);
    network.Attach(*session.server, true);
    session.server->Listen();
    session.client->Connect();
}

void Pop3World::Connect() {
    for (auto& session : sessions) {
        if (!session->connected && !session->startWhen) {
            Start(*session);
        }
    }
}

bool Pop3World::AllFinished() const {
    for (const auto& session : sessions) {
        if (!session->Finished()) {
            return false;
        }
    }
    return true;
}

bool Pop3World::RunAll(uint64_t limitMs) {
    Connect();
    auto done = [this] { return AllFinished(); };
    if (mode_ == sim::SimNetwork::Mode::Direct) {
        return network.Run(done, limitMs);
    }
    network.SetWaitHook(
        done, [this] { settings.stopRequested = 1; }, limitMs);
    settings.stopRequested = 0;
    loop.Run();
    return !network.WaitTimedOut() && AllFinished();
}

std::vector<uintptr_t> Pop3World::Verdicts() const {
    std::vector<uintptr_t> verdicts;
    for (const auto& posted : target.Messages()) {
        if (posted.message == WM_MAIL_CLASSIFIED) {
            verdicts.push_back(posted.wParam);
        }
    }
    return verdicts;
}

std::string Pop3World::LogText() const {
    return ReadWholeFile(ActivityLogPath(LogFolder(), clock.Now()));
}

std::string MakeMessage(const std::string& subject, std::size_t size, const std::string& from) {
    std::string message = "Return-Path: <ann@example.org>\r\nFrom: " + from +
                          "\r\nTo: bob@example.net\r\nSubject: " + subject + "\r\nMessage-ID: <" +
                          std::to_string(size) + "@example.org>\r\n\r\n";
    std::size_t line = 0;
    while (message.size() < size) {
        // Lines of varying length, some starting with a dot (stuffed on the wire).
        std::string text = (line % 17 == 0 ? "." : "") + std::string("line ") + std::to_string(line) + " " +
                           std::string(line % 61, static_cast<char>('a' + line % 26));
        message += text + "\r\n";
        ++line;
    }
    return message;
}

std::string FirstDifference(const std::string& actual, const std::string& expected) {
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    auto around = [at](const std::string& text) {
        const std::size_t from = at > 40 ? at - 40 : 0;
        return text.substr(from, 80);
    };
    return "sizes " + std::to_string(actual.size()) + "/" + std::to_string(expected.size()) +
           ", first difference at " + std::to_string(at) + "\nactual:   [" + around(actual) +
           "]\nexpected: [" + around(expected) + "]";
}

std::vector<sim::Pop3Command> Script(std::initializer_list<const char*> lines) {
    std::vector<sim::Pop3Command> script;
    for (const char* line : lines) {
        script.push_back(sim::Command(line));
    }
    return script;
}

std::string DirectStream(const std::vector<std::string>& mailbox, const std::vector<sim::Pop3Command>& script,
                         sim::TcpTuning clientTuning) {
    Pop3World world(sim::SimNetwork::Mode::Direct);
    auto& session = world.AddSession(mailbox, script, 40000, clientTuning);
    return world.RunAll() ? session.ClientStream() : std::string();
}

std::string ExpectedStream(const std::vector<std::string>& mailbox,
                           const std::vector<sim::Pop3Command>& script,
                           const std::vector<std::pair<int, std::string>>& replaced) {
    std::string stream = DirectStream(mailbox, script);
    for (const auto& [number, line] : replaced) {
        const std::string reply = sim::SimPop3Server::RetrReply(mailbox[number - 1]);
        const std::size_t at = stream.find(reply);
        if (at != std::string::npos) {
            stream.replace(at, reply.size(), line);
        }
    }
    return stream;
}

std::string ErrorLine(const std::string& sender) {
    return "-ERR Filtered by Bramvell - message from " + sender + " has a Spam probability of 87%\r\n";
}

#ifdef BRAMVELL_TEST_DATA
std::string ReadTestData(const std::string& name) {
    return ReadWholeFile(std::string(BRAMVELL_TEST_DATA) + "/" + name);
}
#endif

}  // namespace bramvell::testing
