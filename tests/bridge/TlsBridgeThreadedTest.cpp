#include "bridge/TlsBridge.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "config/FilterSettings.h"
#include "support/FakeClock.h"
#include "support/RecordingMessageTarget.h"
#include "support/ScriptedAnalyzer.h"
#include "support/TempFolder.h"

namespace bramvell::testing {
namespace {

// A plain TCP server on 127.0.0.1 that plays one scripted exchange and closes.
class ScriptedServer {
  public:
    explicit ScriptedServer(std::string answerToStls) : answer_(std::move(answerToStls)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() { Finish(); }
    // Ends the exchange; what the bridge sent.
    std::string Finish() {
        if (thread_.joinable()) {
            shutdown(listener_, SHUT_RDWR);
            thread_.join();
            close(listener_);
        }
        return received_;
    }
    uint16_t port = 0;

  private:
    void Serve() {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        constexpr std::string_view kGreeting = "+OK ready\r\n";
        send(client, kGreeting.data(), kGreeting.size(), MSG_NOSIGNAL);
        char buffer[256];
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got > 0) {
            received_.assign(buffer, static_cast<std::size_t>(got));
            send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        }
        recv(client, buffer, sizeof buffer, 0);  // until the bridge gives up
        close(client);
    }
    int listener_ = -1;
    std::string answer_;
    std::string received_;
    std::thread thread_;
};

// Everything the bridge's client reads until the bridge closes.
std::string ReadAllFrom(int family, uint16_t port) {
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    }
    std::string text;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        char buffer[512];
        ssize_t got = 0;
        while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return text;
}

class TlsBridgeThreadedTest : public ::testing::Test {
  protected:
    TlsBridgeThreadedTest() {
        settings.SetLogFolder(folder.path());
        settings.activityLogEnabled = 1;
    }
    BridgeServices Services() {
        return {settings, target, [this] { return std::make_unique<ScriptedAnalyzer>(settings, clock); },
                clock};
    }
    static MailAccount Account(const std::string& name, uint16_t serverPort, MailSecurity security) {
        return {name, "127.0.0.1", serverPort, security, 0, ""};
    }

    TempFolder folder;
    FilterSettings settings;
    FakeClock clock;
    RecordingMessageTarget target;
};

TEST_F(TlsBridgeThreadedTest, ServersThatCannotBeReachedSecurelyAreAnsweredWithErrOnBothLoopbacks) {
    // A port nothing listens on.
    uint16_t closedPort = 0;
    {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        closedPort = ntohs(address.sin_port);
        close(fd);
    }
    TlsBridge bridge(Services());
    ASSERT_TRUE(bridge.Start({Account("gone", closedPort, MailSecurity::Tls)}));
    const uint16_t port = bridge.Status().at(0).port;
    ASSERT_NE(port, 0);
    const std::string expected = "-ERR Bramvell cannot reach 127.0.0.1:" + std::to_string(closedPort) +
                                 " securely: cannot connect to 127.0.0.1:" + std::to_string(closedPort) +
                                 ": Connection refused\r\n";
    // Several clients at once, as the threads of a real run would meet.
    std::string answers[4];
    std::thread clients[4];
    for (int i = 0; i < 4; ++i) {
        clients[i] = std::thread([&, i] { answers[i] = ReadAllFrom(i % 2 == 0 ? AF_INET : AF_INET6, port); });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    for (int i = 0; i < 4; ++i) {
        if (i % 2 == 1 && answers[i].empty()) {
            continue;  // a machine without IPv6 loopback
        }
        EXPECT_EQ(answers[i], expected) << i;
    }
    EXPECT_NE(bridge.Status().at(0).lastError.find("Connection refused"), std::string::npos);
    bridge.Stop();
    const std::string log = ReadWholeFile(folder / "20260315.txt");
    EXPECT_NE(log.find("TLS bridge, account gone: listening on 127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("TLS bridge, account gone: no secure connection to 127.0.0.1:"), std::string::npos)
        << log;
}

TEST_F(TlsBridgeThreadedTest, AnStlsServerThatRefusesOrSlipsInPlainTextIsNeverTalkedToInPlainText) {
    struct Case {
        std::string answer;
        std::string reason;
    };
    const Case cases[] = {
        {"-ERR not here\r\n", "the server refused STLS (it offers no TLS on this port)"},
        {"+OK Begin TLS\r\n+OK injected\r\n", "the server sent plain text after its STLS answer"},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.answer);
        TlsBridge bridge(Services());
        ASSERT_TRUE(bridge.Start({Account("stls", server.port, MailSecurity::StartTls)}));
        const std::string answer = ReadAllFrom(AF_INET, bridge.Status().at(0).port);
        bridge.Stop();
        EXPECT_EQ(answer, "-ERR Bramvell cannot reach 127.0.0.1:" + std::to_string(server.port) +
                              " securely: " + c.reason + "\r\n");
        EXPECT_EQ(server.Finish(), "STLS\r\n");  // and nothing of the client's
    }
}

TEST_F(TlsBridgeThreadedTest, AnAccountThatCannotListenIsReportedAndTheOthersRun) {
    TlsBridge first(Services());
    ASSERT_TRUE(first.Start({Account("one", 9, MailSecurity::Tls)}));
    MailAccount clash = Account("two", 9, MailSecurity::Tls);
    clash.listenPort = first.Status().at(0).port;
    MailAccount badCa = Account("three", 9, MailSecurity::Tls);
    badCa.caFile = folder / "missing.pem";
    TlsBridge second(Services());
    EXPECT_FALSE(second.Start({clash, badCa}));
    const std::vector<AccountStatus> status = second.Status();
    ASSERT_EQ(status.size(), 2u);
    EXPECT_FALSE(status[0].listening);
    EXPECT_NE(status[0].lastError.find("cannot listen on 127.0.0.1:"), std::string::npos);
    EXPECT_NE(status[1].lastError.find("cannot load the CA file"), std::string::npos);
}

}  // namespace
}  // namespace bramvell::testing
