#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bramvell {

// How the NFQUEUE packet source meets the kernel: which queue and log group it binds, the mark that
// its own frames carry (so no rule of ours holds them again), whose connections it takes, and the
// names of its chains. NfqueueOptionsFor gives the values of a run.
struct NfqueueOptions {
    uint16_t queueNumber = 110;
    // Outbound web and chat traffic is only watched (never held): copies arrive on this NFLOG group.
    uint16_t logGroup = 110;
    bool observeActivityPorts = true;
    // Our own frames carry mark (SO_MARK); a rule lets a packet by when its mark & markMask == mark.
    uint32_t mark = 0x1;
    uint32_t markMask = 0x1;
    // Set: only this user's TCP connections are held, watched or blocked (their POP3 connections
    // carry mark/markMask as connection mark too); unset: everyone's.
    std::optional<uint32_t> ownerUid;
    // Messenger datagrams have no owner; a run that filters everyone holds them in inboundChain, a
    // run for one user in datagramChain, which only one run at a time holds (see NetfilterRules).
    bool holdDatagrams = true;
    std::string outboundChain = "BRAMVELL-OUT";     // raw table, jumped to from OUTPUT
    std::string inboundChain = "BRAMVELL-IN";       // filter table, jumped to from INPUT
    std::string connectionChain = "BRAMVELL-MARK";  // mangle table, jumped to from OUTPUT (one user)
    std::string datagramChain = "BRAMVELL-DGRAM";   // filter table, jumped to from INPUT (one user)
    // Looked for in the trusted folders only (see FindTrustedProgram); never through PATH.
    std::string iptables = "iptables";
    std::string iptablesRestore = "iptables-restore";
    // The same rules for IPv6; without these programs (or IPv6) only IPv4 is filtered.
    std::string ip6tables = "ip6tables";
    std::string ip6tablesRestore = "ip6tables-restore";
    uint32_t queueMaxLength = 4096;
    // Unchanged packets are accepted together, up to this many per verdict message, and always before
    // any other verdict, frame of our own, or wait; 1 sends one verdict per packet.
    uint32_t acceptBatch = 16;
    int receiveBufferBytes = 16 * 1024 * 1024;
};

// The options of a run that filters everyone (no owner: the names and numbers above), or only the
// connections of user ownerUid: chains named "<name>-<uid>", queue and log group 1024 + uid % 64512,
// mark (0x8000 | uid % 0x8000) << 16 under the mask 0xffff0000. Users whose uids share those
// remainders cannot filter at the same time (the second one's queue bind fails).
NfqueueOptions NfqueueOptionsFor(std::optional<uint32_t> ownerUid);

}  // namespace bramvell
