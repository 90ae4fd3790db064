#pragma once

#include <cstdint>
#include <string>

namespace bramvell {

// How the NFQUEUE packet source meets the kernel: which queue and log group it binds, the mark that
// its own frames carry (so no rule of ours holds them again), and the names of its chains.
struct NfqueueOptions {
    uint16_t queueNumber = 110;
    // Outbound web and chat traffic is only watched (never held): copies arrive on this NFLOG group.
    uint16_t logGroup = 110;
    bool observeActivityPorts = true;
    uint32_t markBit = 0x1;
    std::string outboundChain = "BRAMVELL-OUT";  // raw table, jumped to from OUTPUT
    std::string inboundChain = "BRAMVELL-IN";    // filter table, jumped to from INPUT
    std::string iptables = "iptables";
    std::string iptablesRestore = "iptables-restore";
    uint32_t queueMaxLength = 4096;
    // Unchanged packets are accepted together, up to this many per verdict message, and always before
    // any other verdict, frame of our own, or wait; 1 sends one verdict per packet.
    uint32_t acceptBatch = 16;
    int receiveBufferBytes = 16 * 1024 * 1024;
};

}  // namespace bramvell
