#include "soak/SoakMail.h"

#include <algorithm>
#include <cmath>

#include "support/Pop3World.h"

namespace bramvell::testing {

namespace {

constexpr std::size_t kMinSize = 300;

std::string Text(SoakRandom& random, std::size_t length) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789.,;:-_!?()";
    std::string text(length, ' ');
    for (char& c : text) {
        c = kLetters[random.Below(sizeof kLetters - 1)];
    }
    return text;
}

std::string BodyLine(SoakRandom& random) {
    switch (random.Below(24)) {
        case 0:
        case 1:
            return "";
        case 2:
            return ".";
        case 3:
            return "..";
        case 4:
            return "." + Text(random, random.Between(1, 60));
        case 5:
            return Text(random, random.Between(1500, 6000));  // longer than any segment
        case 6:
            return "Subject: SPAM in the body is no header";
        default:
            return Text(random, random.Below(100));
    }
}

SoakMessage MakeMessage(SoakRandom& random, bool spam, std::size_t number, std::size_t maxSize) {
    SoakMessage message;
    message.spam = spam;
    const std::string address = "s" + std::to_string(number) + "@example.org";
    message.sender = "Sender " + std::to_string(number) + " <" + address + ">";
    std::string& text = message.text;
    text = "Return-Path: <" + address + ">\r\nFrom: " + message.sender + "\r\nTo: bob@example.net\r\n" +
           "Subject: " +
           (spam ? "Offer " + std::to_string(number) + " SPAM" : "Note " + std::to_string(number)) +
           "\r\nMessage-ID: <" + std::to_string(number) + "@example.org>\r\n\r\n";
    const double scale = std::log(static_cast<double>(maxSize) / kMinSize);
    const double fraction = static_cast<double>(random.Below(1u << 20)) / (1u << 20);
    const auto size = static_cast<std::size_t>(kMinSize * std::exp(scale * fraction));
    while (text.size() < size) {
        text += BodyLine(random);
        text += "\r\n";
    }
    return message;
}

}  // namespace

std::vector<SoakMessage> MakeMessagePool(SoakRandom& random, std::size_t good, std::size_t spam,
                                         std::size_t maxSize) {
    std::vector<SoakMessage> pool;
    for (std::size_t i = 0; i < good + spam; ++i) {
        pool.push_back(MakeMessage(random, i >= good, i, maxSize));
    }
    return pool;
}

SoakSessionPlan MakeSessionPlan(SoakRandom& random, const std::vector<SoakMessage>& pool, int number) {
    SoakSessionPlan plan;
    const std::size_t count = random.Between(1, 5);
    for (std::size_t i = 0; i < count; ++i) {
        plan.mailbox.push_back(random.Below(pool.size()));
    }

    plan.commands = {"USER user" + std::to_string(number), "PASS secret"};
    if (random.Below(2) == 0) {
        plan.commands.push_back("STAT");
    }
    if (random.Below(3) == 0) {
        plan.commands.push_back("LIST");
    }
    std::vector<int> order;
    for (std::size_t n = 1; n <= count; ++n) {
        order.push_back(static_cast<int>(n));
    }
    for (std::size_t i = order.size(); i > 1; --i) {
        std::swap(order[i - 1], order[random.Below(i)]);
    }
    if (random.Below(8) == 0) {
        order.push_back(order[random.Below(order.size())]);  // one again: after a deletion it is gone
    }
    for (int n : order) {
        plan.commands.push_back("RETR " + std::to_string(n));
        if (random.Below(7) == 0) {
            plan.commands.push_back("NOOP");
        }
    }
    if (random.Below(4) == 0) {
        plan.commands.push_back("LIST");
    }
    plan.commands.push_back("QUIT");

    sim::TcpTuning& client = plan.client;
    client.mss = random.Pick<uint16_t>({536, 1000, 1460});
    client.windowScale = random.Pick<int>({-1, 0, 2, 7});
    client.timestamps = random.Below(5) != 0;
    client.sackPermitted = random.Below(3) != 0;
    client.receiveBuffer = random.Pick<uint32_t>({16 * 1024, 48 * 1024, 128 * 1024, 256 * 1024});
    if (client.windowScale < 0) {
        client.receiveBuffer = std::min<uint32_t>(client.receiveBuffer, 65535);
    }
    client.readBytesPerMs = random.Below(4) == 0 ? random.Pick<uint32_t>({600, 5000}) : 0;

    sim::TcpTuning& server = plan.server;
    server.mss = random.Pick<uint16_t>({536, 1200, 1460});
    server.windowScale = random.Pick<int>({-1, 7});
    server.timestamps = random.Below(5) != 0;
    if (random.Below(5) < 2) {
        plan.maxWrite = random.Pick<std::size_t>({64, 700, 3000});
    }
    plan.splitSeed = random.Next();
    return plan;
}

std::vector<std::string> Mailbox(const SoakSessionPlan& plan, const std::vector<SoakMessage>& pool) {
    std::vector<std::string> mailbox;
    for (std::size_t index : plan.mailbox) {
        mailbox.push_back(pool[index].text);
    }
    return mailbox;
}

std::vector<sim::Pop3Command> Commands(const SoakSessionPlan& plan) {
    std::vector<sim::Pop3Command> commands;
    for (const std::string& line : plan.commands) {
        commands.push_back(sim::Command(line));
    }
    return commands;
}

sim::SimPop3Server::ReplySplitter RandomWrites(std::size_t maxWrite, uint64_t seed) {
    return [maxWrite, random = SoakRandom(seed)](const std::string& reply) mutable {
        std::vector<std::string> writes;
        std::size_t end = reply.size();
        std::size_t tail = 0;
        if (random.Below(2) == 0) {
            tail = std::min<std::size_t>(random.Between(1, 6), reply.size() - 1);
            end -= tail;
        }
        for (std::size_t at = 0; at < end;) {
            const std::size_t length = std::min<std::size_t>(random.Between(1, maxWrite), end - at);
            writes.push_back(reply.substr(at, length));
            at += length;
        }
        if (tail > 0) {
            writes.push_back(reply.substr(end));
        }
        return writes;
    };
}

SoakOutcome ExpectedOutcome(const SoakSessionPlan& plan, const std::vector<SoakMessage>& pool,
                            bool inspected) {
    SoakOutcome outcome;
    std::string& stream = outcome.clientStream;
    stream = "+OK POP3 ready.\r\n";
    std::set<int> marked;
    auto message = [&](int n) -> const SoakMessage& { return pool[plan.mailbox[n - 1]]; };
    const int count = static_cast<int>(plan.mailbox.size());
    for (const std::string& command : plan.commands) {
        outcome.serverCommands.push_back(command);
        if (command.rfind("USER", 0) == 0 || command == "NOOP") {
            stream += "+OK\r\n";
        } else if (command.rfind("PASS", 0) == 0) {
            stream += "+OK Logged in.\r\n";
        } else if (command == "STAT" || command == "LIST") {
            std::size_t present = 0;
            std::size_t octets = 0;
            std::string list;
            for (int n = 1; n <= count; ++n) {
                if (marked.count(n) == 0) {
                    ++present;
                    octets += message(n).text.size();
                    list += std::to_string(n) + " " + std::to_string(message(n).text.size()) + "\r\n";
                }
            }
            stream += command == "STAT"
                          ? "+OK " + std::to_string(present) + " " + std::to_string(octets) + "\r\n"
                          : "+OK\r\n" + list + ".\r\n";
        } else if (command.rfind("RETR ", 0) == 0) {
            const int n = std::stoi(command.substr(5));
            if (marked.count(n) != 0) {
                stream += "-ERR There's no message " + std::to_string(n) + ".\r\n";
                continue;
            }
            outcome.analysed += inspected ? 1 : 0;
            if (inspected && message(n).spam) {
                stream += ErrorLine(message(n).sender);
                outcome.serverCommands.push_back("DELE " + std::to_string(n));
                marked.insert(n);
                ++outcome.spamDeleted;
            } else {
                stream += sim::SimPop3Server::RetrReply(message(n).text);
                outcome.goodDelivered += message(n).spam ? 0 : 1;
            }
        } else if (command == "QUIT") {
            stream += "+OK Logging out.\r\n";
            outcome.deletions = marked;
        }
    }
    return outcome;
}

}  // namespace bramvell::testing
