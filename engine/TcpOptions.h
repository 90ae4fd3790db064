#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace bramvell {

namespace tcp_option {
inline constexpr uint8_t kEnd = 0;
inline constexpr uint8_t kNop = 1;
inline constexpr uint8_t kMaxSegmentSize = 2;
inline constexpr uint8_t kWindowScale = 3;
inline constexpr uint8_t kSackPermitted = 4;
inline constexpr uint8_t kSack = 5;
inline constexpr uint8_t kTimestamp = 8;
inline constexpr uint8_t kTimestampLength = 10;
inline constexpr uint8_t kMaxWindowScale = 14;
inline constexpr std::size_t kTsEcrAfterTsVal = 4;  // TSecr follows TSval in the option
}  // namespace tcp_option

inline constexpr std::size_t kNoOption = static_cast<std::size_t>(-1);
inline constexpr std::size_t kMaxTcpHeaderLength = 60;

inline constexpr std::size_t kMaxSackBlocks = 4;  // 40 bytes of options without timestamps

// One block of a SACK option: the receiver holds [left, right).
struct SackBlock {
    uint32_t left = 0;
    uint32_t right = 0;
};

// How SACK blocks move from one side's numbering into the other's: `subtract` is taken from each edge,
// and a block kept must then lie within [low, high] and not be empty.
struct SackTranslation {
    uint32_t subtract = 0;
    uint32_t low = 0;
    uint32_t high = 0;
};

// The options area of a TCP header: the bytes after the fixed 20, up to the data offset. Every walk
// stops at the first option whose length byte is missing, below 2 or runs past the header.
std::span<uint8_t> TcpOptionsArea(std::span<uint8_t> tcpHeader);

// Offset (within the TCP header) of the timestamp option's TSval, or kNoOption.
std::size_t FindTimestamp(std::span<const uint8_t> tcpHeader);
// The timestamp option's values.
struct TcpTimestamps {
    uint32_t tsVal = 0;
    uint32_t tsEcr = 0;
};
// The timestamp option's values, when the header carries it: the one reader of timestamps.
bool ReadTimestamps(std::span<const uint8_t> tcpHeader, TcpTimestamps& timestamps);
// Shift count of the window-scale option (capped at 14), or -1 when absent.
int FindWindowScale(std::span<const uint8_t> tcpHeader);
// Replaces SACK blocks with NOPs; true when the header changed (its checksum is then stale).
bool StripSackBlocks(std::span<uint8_t> tcpHeader);
// True when the header carries SACK-permitted (a SYN's offer).
bool HasSackPermitted(std::span<const uint8_t> tcpHeader);
// Moves every SACK block through `translation`; when one of them does not fit, the whole option becomes
// NOPs (a block that lies would make the peer skip data it must resend). True when the header changed.
bool TranslateSackBlocks(std::span<uint8_t> tcpHeader, const SackTranslation& translation);
// Writes NOP, NOP, SACK with up to `blocks.size()` blocks into `room`; returns the bytes written (a
// multiple of 4), 0 when not one block fits.
std::size_t WriteSackOption(std::span<uint8_t> room, std::span<const SackBlock> blocks);
// Replaces every option except the timestamp with NOPs; true when the header changed.
bool KeepOnlyTimestamp(std::span<uint8_t> tcpHeader);

// Incremental update of a one's-complement checksum after 16-bit words change (RFC 1624, eqn. 3).
class ChecksumDelta {
  public:
    void Replace16(uint16_t oldValue, uint16_t newValue) {
        sum_ += uint32_t{static_cast<uint16_t>(~oldValue)} + newValue;
    }
    void Replace32(uint32_t oldValue, uint32_t newValue) {
        Replace16(static_cast<uint16_t>(oldValue >> 16), static_cast<uint16_t>(newValue >> 16));
        Replace16(static_cast<uint16_t>(oldValue), static_cast<uint16_t>(newValue));
    }
    uint16_t Apply(uint16_t checksum) const {
        uint64_t sum = sum_ + uint16_t(~checksum);
        while (sum >> 16) {
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        return static_cast<uint16_t>(~sum);
    }
    bool Empty() const { return sum_ == 0; }

  private:
    uint64_t sum_ = 0;
};

}  // namespace bramvell
