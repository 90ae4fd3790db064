#include "engine/TcpOptions.h"

#include "engine/ByteOrder.h"
#include "engine/Frame.h"

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

bool StripSackPermitted(std::span<uint8_t> tcpHeader) {
    return BlankOptions(tcpHeader,
                        [](uint8_t kind, std::size_t) { return kind == tcp_option::kSackPermitted; });
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
