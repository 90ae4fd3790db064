#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "soak/SoakRandom.h"
#include "support/SimPop3Peers.h"
#include "support/SimTcpEndpoint.h"

namespace bramvell::testing {

// A message as the server stores it: CR LF line ends, ending with one. Spam has "SPAM" in its subject
// (what the scripted analyser looks for).
struct SoakMessage {
    std::string text;
    bool spam = false;
    std::string sender;  // the From: header's value
};

// Messages of a few hundred bytes up to maxSize (sizes spread evenly on a log scale), with lines of
// every length, empty lines, lines that start with a dot (stuffed on the wire) and lines longer than a
// segment.
std::vector<SoakMessage> MakeMessagePool(SoakRandom& random, std::size_t good, std::size_t spam,
                                         std::size_t maxSize);

// One session: its mailbox (indices into the pool, message n is mailbox[n - 1]), the client's
// commands, both ends' TCP settings and how the server cuts its replies into writes.
struct SoakSessionPlan {
    std::vector<std::size_t> mailbox;
    std::vector<std::string> commands;  // without line ends
    sim::TcpTuning client;
    sim::TcpTuning server;
    std::size_t maxWrite = 0;  // 0: each reply in one write
    uint64_t splitSeed = 0;
};
SoakSessionPlan MakeSessionPlan(SoakRandom& random, const std::vector<SoakMessage>& pool, int number);

std::vector<std::string> Mailbox(const SoakSessionPlan& plan, const std::vector<SoakMessage>& pool);
std::vector<sim::Pop3Command> Commands(const SoakSessionPlan& plan);
// Cuts each reply into writes of 1 to maxWrite bytes, the last few bytes (the end line) often apart.
sim::SimPop3Server::ReplySplitter RandomWrites(std::size_t maxWrite, uint64_t seed);

// What a session must come to, inspected by the engine or not.
struct SoakOutcome {
    std::string clientStream;                 // greeting and every reply, as the client must read them
    std::vector<std::string> serverCommands;  // as the server must receive them
    std::set<int> deletions;                  // committed at QUIT
    int goodDelivered = 0;                    // retrievals answered with the message itself
    int spamDeleted = 0;
    int analysed = 0;  // messages the analyser must have seen
};
SoakOutcome ExpectedOutcome(const SoakSessionPlan& plan, const std::vector<SoakMessage>& pool,
                            bool inspected);

}  // namespace bramvell::testing
