#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "support/SimClock.h"

namespace bramvell::sim {

// ip names the host; with ipv6 its frames are IPv6, from and to fd42::<ip as the last 32 bits>.
struct SimAddress {
    uint32_t ip = 0;
    uint16_t port = 0;
    std::array<uint8_t, 6> mac{};
    bool ipv6 = false;
};

// The host of a simulated frame's source or destination address: its last 32 bits (for IPv4 the address
// itself), with bit 32 set for IPv6, so that the same number in both families is two hosts.
uint64_t SimHostOf(std::span<const uint8_t> frame, bool destination);
inline uint64_t SimHostOf(const SimAddress& address) {
    return uint64_t{address.ip} | (address.ipv6 ? uint64_t{1} << 32 : 0);
}

struct TcpTuning {
    uint16_t mss = 1460;
    int windowScale = 7;  // shift offered in the SYN; -1 offers no window scaling
    bool timestamps = true;
    bool sackPermitted = true;
    uint32_t receiveBuffer = 256 * 1024;
    uint32_t readBytesPerMs = 0;  // 0: the application reads everything at once
    bool bufferOutOfOrder = true;
    uint32_t minRtoMs = 200;
    uint32_t delayedAckMs = 40;
    std::size_t reserveReceived = 0;  // room made (and touched) beforehand for what will arrive
};

// What a strict receiver objects to. Tests expect zeros unless they provoke something.
struct TcpAnomalies {
    int badChecksum = 0;
    int pawsRejected = 0;
    int missingTimestamp = 0;
    int beyondWindow = 0;
    int ackOfUnsent = 0;
    int resets = 0;
    int sackBlocks = 0;  // SACK blocks not agreed on, or not lying beyond the acknowledgement

    bool Clean() const {
        return badChecksum == 0 && pawsRejected == 0 && missingTimestamp == 0 && beyondWindow == 0 &&
               ackOfUnsent == 0 && resets == 0 && sackBlocks == 0;
    }
};

// A simulated TCP endpoint with the behaviour that matters to a middlebox: real sequence and
// acknowledgement numbers, MSS, window scaling, timestamps with PAWS, a receive window that drops what
// lies beyond it, delayed acknowledgements, retransmission on timeout and on three duplicate
// acknowledgements, orderly close and reset. Frames are whole Ethernet frames.
class SimTcpEndpoint {
  public:
    using Output = std::function<void(std::span<const uint8_t> frame)>;

    SimTcpEndpoint(const SimClock& clock, SimAddress local, SimAddress remote, TcpTuning tuning, uint32_t isn,
                   Output output);

    void Connect();
    void Listen();
    void Receive(std::span<const uint8_t> frame);
    // Runs what is due at the clock's time: timers and the application's reading.
    void Poll();
    uint64_t NextDeadline() const;

    void Write(std::string_view bytes);
    // Like Write, without a copy: the bytes must stay valid until acknowledged.
    void WriteView(std::string_view bytes);
    void Close();
    void Abort();

    // Application side: bytes read so far (a rate-limited reader sees a prefix of what arrived).
    std::string_view Readable() const { return std::string_view(received_).substr(0, consumed_); }
    const std::string& Received() const { return received_; }
    bool Established() const { return state_ == State::Established; }
    bool PeerClosed() const { return peerFin_; }
    bool FinAcknowledged() const { return finSent_ && !SeqLess(sndUna_, finSeq_ + 1); }
    bool WasReset() const { return state_ == State::Reset; }
    bool AllSentAcknowledged() const { return sndUna_ == sndNxt_ && unackedSize_ == 0; }

    const TcpAnomalies& anomalies() const { return anomalies_; }
    bool SawSackPermitted() const { return sawSackPermitted_; }
    // Acknowledgements that carried sound SACK blocks.
    int SackBlocksReceived() const { return sackBlocksReceived_; }
    int Retransmissions() const { return retransmissions_; }
    const SimAddress& local() const { return local_; }
    const SimAddress& remote() const { return remote_; }

  private:
    enum class State { Closed, Listen, SynSent, SynReceived, Established, Reset };

    static bool SeqLess(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

    void SendSegment(uint8_t flags, uint32_t seq, std::string_view payload, bool syn = false);
    void SendAck();
    void TrySend();
    void OnAck(uint32_t ack, uint16_t window, std::size_t payloadLength);
    void OnData(uint32_t seq, std::string_view payload, bool fin, uint32_t tsVal, bool hasTs);
    void Deliver(std::string_view bytes);
    uint16_t WindowField() const;
    uint32_t PayloadPerSegment() const;
    void ArmRetransmit();
    void Retransmit();

    const SimClock& clock_;
    SimAddress local_;
    SimAddress remote_;
    TcpTuning tuning_;
    Output output_;
    State state_ = State::Closed;

    uint32_t iss_;
    uint32_t sndUna_;
    uint32_t sndNxt_;
    uint32_t sndMax_ = 0;
    // The bytes from sndUna_ on, as the application wrote them: copies of small writes, views of large
    // ones (whose memory the writer keeps).
    struct Chunk {
        std::string owned;
        std::string_view bytes;
    };
    // n bytes from `offset` past sndUna_, gathered into scratch_ when they span chunks.
    std::string_view Unacked(std::size_t offset, std::size_t n);
    void DropAcknowledged(std::size_t n);

    std::deque<Chunk> sendChunks_;
    std::size_t frontOffset_ = 0;
    std::size_t unackedSize_ = 0;
    std::string scratch_;
    uint32_t peerWindow_ = 0;
    uint32_t peerWindowBase_ = 0;  // acknowledgement the window counts from
    uint16_t peerMss_ = 536;
    int sendShift_ =
        0;  // -1 while the handshake has not settled scaling  // shift of the peer's window fields
    int receiveShift_ = 0;
    bool timestamps_ = false;
    uint32_t tsRecent_ = 0;
    uint16_t lastWindowField_ = 0;
    bool finQueued_ = false;
    bool finSent_ = false;
    uint32_t finSeq_ = 0;
    int duplicateAcks_ = 0;

    uint32_t irs_ = 0;
    uint32_t rcvNxt_ = 0;
    uint32_t advertisedEdge_ = 0;
    std::string received_;
    std::size_t consumed_ = 0;
    std::map<uint32_t, std::string> outOfOrder_;
    bool peerFin_ = false;
    int unackedSegments_ = 0;

    uint64_t retransmitAt_ = 0;  // 0: not armed
    uint32_t rtoMs_;
    uint64_t delayedAckAt_ = 0;
    uint64_t lastReadAt_ = 0;
    uint16_t ipId_ = 1;

    TcpAnomalies anomalies_;
    bool sawSackPermitted_ = false;
    int sackBlocksReceived_ = 0;
    int retransmissions_ = 0;
    std::array<uint8_t, 1514> frame_{};
};

}  // namespace bramvell::sim

#include <ostream>

namespace bramvell::sim {
inline std::ostream& operator<<(std::ostream& out, const TcpAnomalies& a) {
    return out << "{badChecksum " << a.badChecksum << ", paws " << a.pawsRejected << ", missingTs "
               << a.missingTimestamp << ", beyondWindow " << a.beyondWindow << ", ackOfUnsent "
               << a.ackOfUnsent << ", resets " << a.resets << ", sack " << a.sackBlocks << "}";
}
}  // namespace bramvell::sim
