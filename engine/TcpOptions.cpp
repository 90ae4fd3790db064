#include "engine/TcpOptions.h"

#include <algorithm>

#include "engine/ByteOrder.h"
#include "engine/Frame.h"
#include "engine/TcpSide.h"

namespace bramvell {

namespace {

// Calls visit(offsetInHeader, kind, length) for each well-formed option; stops at End or malformation.
template <typename Visit>
void WalkOptions(std::span<const uint8_t> tcpHeader, Visit visit) {
    if (tcpHeader.size() < kMinTcpHeaderLength) {
        return;
    }
    std::size_t headerLength = ConstTcpHeader(tcpHeader.data()).HeaderLength();
    if (headerLength > tcpHeader.size()) {
        headerLength = tcpHeader.size();
    }
    std::size_t at = kMinTcpHeaderLength;
    while (at < headerLength) {
        const uint8_t kind = tcpHeader[at];
        if (kind == tcp_option::kEnd) {
            return;
        }
        if (kind == tcp_option::kNop) {
            ++at;
            continue;
        }
        if (at + 1 >= headerLength) {
            return;
        }
        const std::size_t length = tcpHeader[at + 1];
        if (length < 2 || at + length > headerLength) {
            return;
        }
        if (!visit(at, kind, length)) {
            return;
        }
        at += length;
    }
}

}  // namespace

std::span<uint8_t> TcpOptionsArea(std::span<uint8_t> tcpHeader) {
    if (tcpHeader.size() < kMinTcpHeaderLength) {
        return {};
    }
    std::size_t headerLength = ConstTcpHeader(tcpHeader.data()).HeaderLength();
    if (headerLength < kMinTcpHeaderLength || headerLength > tcpHeader.size()) {
        return {};
    }
    return tcpHeader.subspan(kMinTcpHeaderLength, headerLength - kMinTcpHeaderLength);
}

std::size_t FindTimestamp(std::span<const uint8_t> tcpHeader) {
    std::size_t found = kNoOption;
    WalkOptions(tcpHeader, [&](std::size_t at, uint8_t kind, std::size_t length) {
        if (kind == tcp_option::kTimestamp && length == tcp_option::kTimestampLength) {
            found = at + 2;
            return false;
        }
        return true;
    });
    return found;
}

int FindWindowScale(std::span<const uint8_t> tcpHeader) {
    int scale = -1;
    WalkOptions(tcpHeader, [&](std::size_t at, uint8_t kind, std::size_t length) {
        if (kind == tcp_option::kWindowScale && length == 3) {
            scale = tcpHeader[at + 2] > tcp_option::kMaxWindowScale ? tcp_option::kMaxWindowScale
                                                                    : tcpHeader[at + 2];
            return false;
        }
        return true;
    });
    return scale;
}

namespace {

template <typename ShouldBlank>
bool BlankOptions(std::span<uint8_t> tcpHeader, ShouldBlank shouldBlank) {
    bool changed = false;
    WalkOptions(tcpHeader, [&](std::size_t at, uint8_t kind, std::size_t length) {
        if (shouldBlank(kind, length)) {
            for (std::size_t i = 0; i < length; ++i) {
                tcpHeader[at + i] = tcp_option::kNop;
            }
            changed = true;
        }
        return true;
    });
    return changed;
}

}  // namespace

bool StripSackBlocks(std::span<uint8_t> tcpHeader) {
    return BlankOptions(tcpHeader, [](uint8_t kind, std::size_t) { return kind == tcp_option::kSack; });
}

bool HasSackPermitted(std::span<const uint8_t> tcpHeader) {
    bool found = false;
    WalkOptions(tcpHeader, [&](std::size_t, uint8_t kind, std::size_t length) {
        found = kind == tcp_option::kSackPermitted && length == 2;
        return !found;
    });
    return found;
}

bool TranslateSackBlocks(std::span<uint8_t> tcpHeader, const SackTranslation& translation) {
    bool changed = false;
    WalkOptions(tcpHeader, [&](std::size_t at, uint8_t kind, std::size_t length) {
        if (kind != tcp_option::kSack) {
            return true;
        }
        const std::size_t count = (length - 2) / 8;
        bool fits = (length - 2) % 8 == 0 && count > 0;
        for (std::size_t i = 0; fits && i < count; ++i) {
            const uint32_t left = Load32(tcpHeader.data() + at + 2 + 8 * i) - translation.subtract;
            const uint32_t right = Load32(tcpHeader.data() + at + 6 + 8 * i) - translation.subtract;
            fits = SeqBefore(left, right) && !SeqBefore(left, translation.low) &&
                   !SeqAfter(right, translation.high);
        }
        if (!fits) {
            std::fill_n(tcpHeader.data() + at, length, tcp_option::kNop);
            changed = true;
            return true;
        }
        if (translation.subtract == 0) {
            return true;
        }
        for (std::size_t i = 0; i < 2 * count; ++i) {
            uint8_t* edge = tcpHeader.data() + at + 2 + 4 * i;
            Store32(edge, Load32(edge) - translation.subtract);
        }
        changed = true;
        return true;
    });
    return changed;
}

std::size_t WriteSackOption(std::span<uint8_t> room, std::span<const SackBlock> blocks) {
    constexpr std::size_t kLead = 4;  // NOP, NOP, kind, length
    constexpr std::size_t kBlockLength = 8;
    if (room.size() < kLead + kBlockLength || blocks.empty()) {
        return 0;
    }
    const std::size_t count = std::min(blocks.size(), (room.size() - kLead) / kBlockLength);
    room[0] = tcp_option::kNop;
    room[1] = tcp_option::kNop;
    room[2] = tcp_option::kSack;
    room[3] = static_cast<uint8_t>(2 + count * kBlockLength);
    for (std::size_t i = 0; i < count; ++i) {
        Store32(room.data() + kLead + i * kBlockLength, blocks[i].left);
        Store32(room.data() + kLead + i * kBlockLength + 4, blocks[i].right);
    }
    return kLead + count * kBlockLength;
}

bool KeepOnlyTimestamp(std::span<uint8_t> tcpHeader) {
    return BlankOptions(tcpHeader, [](uint8_t kind, std::size_t length) {
        return !(kind == tcp_option::kTimestamp && length == tcp_option::kTimestampLength);
    });
}

bool ReadTimestamps(std::span<const uint8_t> tcpHeader, TcpTimestamps& timestamps) {
    const std::size_t at = FindTimestamp(tcpHeader);
    if (at == kNoOption) {
        return false;
    }
    timestamps.tsVal = Load32(tcpHeader.data() + at);
    timestamps.tsEcr = Load32(tcpHeader.data() + at + tcp_option::kTsEcrAfterTsVal);
    return true;
}

}  // namespace bramvell
