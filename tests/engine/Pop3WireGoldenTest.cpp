// One whole session's frames, every leg, pinned against tests/data/pop3-wire-golden.txt. The file is
// the engine's behaviour on the wire as it stands: any change to a byte the engine sends shows up here
// as a line that differs. Run with BRAMVELL_REGENERATE_GOLDEN=1 to write the file afresh after a change
// that is meant to alter the wire.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

constexpr const char* kGoldenName = "pop3-wire-golden.txt";

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Read32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// FNV-1a over the whole frame: headers, options and checksums included.
uint32_t Digest(std::span<const uint8_t> frame) {
    uint32_t hash = 2166136261u;
    for (uint8_t byte : frame) {
        hash = (hash ^ byte) * 16777619u;
    }
    return hash;
}

std::string Escaped(std::span<const uint8_t> bytes, std::size_t limit) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == '\r') {
            text += "\\r";
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F || byte == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            text += hex;
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text;
}

const char* HopName(sim::Hop hop) {
    switch (hop) {
        case sim::Hop::ClientToEngine:
            return "C>E";
        case sim::Hop::EngineToServer:
            return "E>S";
        case sim::Hop::ServerToEngine:
            return "S>E";
        case sim::Hop::EngineToClient:
            return "E>C";
    }
    return "?";
}

// Writes one line per frame, numbers relative to each side's initial sequence number.
class WireRecorder {
  public:
    void Note(sim::Hop hop, std::span<const uint8_t> frame, bool lost) {
        constexpr std::size_t kIp = 14;
        if (frame.size() < kIp + 20) {
            out_ << HopName(hop) << " short " << frame.size() << "\n";
            return;
        }
        const uint8_t* ip = frame.data() + kIp;
        const std::size_t ipHeader = std::size_t{ip[0] & 0x0Fu} * 4;
        const std::size_t total = Read16(ip + 2);
        const uint8_t* tcp = ip + ipHeader;
        const std::size_t tcpHeader = static_cast<std::size_t>(tcp[12] >> 4) * 4;
        const uint8_t flags = tcp[13];
        const uint32_t seq = Read32(tcp + 4);
        const uint32_t ack = Read32(tcp + 8);
        const bool fromClient = hop == sim::Hop::ClientToEngine || hop == sim::Hop::EngineToServer;
        if ((flags & 0x02) != 0) {
            (fromClient ? clientIsn_ : serverIsn_) = seq;
        }
        const uint32_t seqBase = fromClient ? clientIsn_ : serverIsn_;
        const uint32_t ackBase = fromClient ? serverIsn_ : clientIsn_;
        std::span<const uint8_t> payload{tcp + tcpHeader, total - ipHeader - tcpHeader};
        static constexpr char kFlagLetters[] = "FSRPAU";
        std::string flagText;
        for (int bit = 0; bit < 6; ++bit) {
            flagText += (flags >> bit & 1) != 0 ? kFlagLetters[bit] : '.';
        }
        char line[160];
        std::snprintf(line, sizeof line, "%s%s %s seq=%u ack=%u win=%u opt=%zu len=%zu #%08x ", HopName(hop),
                      lost ? " lost" : "", flagText.c_str(), seq - seqBase,
                      (flags & 0x10) ? ack - ackBase : 0, Read16(tcp + 14), tcpHeader - 20, payload.size(),
                      Digest(frame));
        out_ << line << Escaped(payload, 24) << "\n";
    }
    std::string Text() const { return out_.str(); }

  private:
    std::ostringstream out_;
    uint32_t clientIsn_ = 0;
    uint32_t serverIsn_ = 0;
};

// A good message, a spam message deleted in the client's name and answered with the error line, and
// another good one, with the last acknowledgement of the first reply (the server sends its end again),
// one replayed segment and the error reply lost once on their way.
std::string RecordSession() {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 4000), MakeMessage("Buy SPAM now", 2500),
                                              MakeMessage("After", 700)};
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    Pop3World world;
    WireRecorder recorder;
    int engineToServer = 0;
    int engineToClient = 0;
    world.network.SetDropFilter([&](sim::Hop hop, std::span<const uint8_t> frame) {
        bool lose = false;
        if (hop == sim::Hop::EngineToServer) {
            lose = ++engineToServer == 8;
        } else if (hop == sim::Hop::EngineToClient) {
            ++engineToClient;
            lose = engineToClient == 7 || engineToClient == 9;
        }
        recorder.Note(hop, frame, lose);
        return lose;
    });
    auto& session = world.AddSession(mailbox, script);
    EXPECT_TRUE(world.RunAll());
    EXPECT_EQ(session.ClientStream(),
              ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}}));
    EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
    std::string text = recorder.Text();
    std::istringstream log(world.LogText());
    const std::string home = world.folder.path();
    for (std::string line; std::getline(log, line);) {
        // The program folder is a fresh temporary one each run.
        for (std::size_t at; (at = line.find(home)) != std::string::npos;) {
            line.replace(at, home.size(), "HOME");
        }
        text += "log " + Escaped({reinterpret_cast<const uint8_t*>(line.data()), line.size()}, 200) + "\n";
    }
    return text;
}

TEST(Pop3WireGoldenTest, WholeSessionLeavesTheEngineAsRecorded) {
    const std::string recorded = RecordSession();
    const std::string path = std::string(BRAMVELL_TEST_DATA) + "/" + kGoldenName;
    if (std::getenv("BRAMVELL_REGENERATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << recorded;
        GTEST_SKIP() << "wrote " << path;
    }
    const std::string golden = ReadTestData(kGoldenName);
    ASSERT_FALSE(golden.empty()) << "missing " << path << "; run with BRAMVELL_REGENERATE_GOLDEN=1";
    if (recorded != golden) {
        // Name the first line that differs: the whole file is long.
        std::istringstream a(recorded);
        std::istringstream b(golden);
        std::string left;
        std::string right;
        int number = 0;
        while (true) {
            ++number;
            const bool moreA = static_cast<bool>(std::getline(a, left));
            const bool moreB = static_cast<bool>(std::getline(b, right));
            if (!moreA && !moreB) {
                break;
            }
            if (!moreA || !moreB || left != right) {
                ADD_FAILURE() << "line " << number << "\nnow:    " << (moreA ? left : "<end>")
                              << "\ngolden: " << (moreB ? right : "<end>");
                break;
            }
        }
    }
}

}  // namespace
}  // namespace bramvell::testing
