#include "support/SimTcpEndpoint.h"

#include <algorithm>
#include <cstring>

#include "engine/Frame.h"
#include "engine/TcpOptions.h"

namespace bramvell::sim {

using namespace tcp_flags;

namespace {

constexpr uint64_t kNever = UINT64_MAX;
constexpr uint32_t kMaxRtoMs = 60000;

struct ParsedOptions {
    uint16_t mss = 0;
    int windowScale = -1;
    bool sackPermitted = false;
    bool sackBlocks = false;
    std::size_t sackCount = 0;
    std::pair<uint32_t, uint32_t> sack[4];
    bool hasTimestamp = false;
    uint32_t tsVal = 0;
    uint32_t tsEcr = 0;
};

ParsedOptions ParseOptions(const uint8_t* tcp, std::size_t headerLength) {
    ParsedOptions options;
    std::size_t at = 20;
    while (at < headerLength) {
        const uint8_t kind = tcp[at];
        if (kind == tcp_option::kEnd) {
            break;
        }
        if (kind == tcp_option::kNop) {
            ++at;
            continue;
        }
        if (at + 1 >= headerLength || tcp[at + 1] < 2 || at + tcp[at + 1] > headerLength) {
            break;
        }
        const std::size_t length = tcp[at + 1];
        if (kind == tcp_option::kMaxSegmentSize && length == 4) {
            options.mss = Load16(tcp + at + 2);
        } else if (kind == tcp_option::kWindowScale && length == 3) {
            options.windowScale = std::min<int>(tcp[at + 2], 14);
        } else if (kind == tcp_option::kSackPermitted) {
            options.sackPermitted = true;
        } else if (kind == tcp_option::kSack) {
            options.sackBlocks = true;
            const std::size_t blocks = (length - 2) % 8 == 0 ? (length - 2) / 8 : 0;
            for (std::size_t i = 0; i < blocks && options.sackCount < 4; ++i) {
                options.sack[options.sackCount++] = {Load32(tcp + at + 2 + 8 * i), Load32(tcp + at + 6 + 8 * i)};
            }
        } else if (kind == tcp_option::kTimestamp && length == 10) {
            options.hasTimestamp = true;
            options.tsVal = Load32(tcp + at + 2);
            options.tsEcr = Load32(tcp + at + 6);
        }
        at += length;
    }
    return options;
}

}  // namespace

SimTcpEndpoint::SimTcpEndpoint(const SimClock& clock, SimAddress local, SimAddress remote, TcpTuning tuning,
                               uint32_t isn, Output output)
    : clock_(clock),
      local_(local),
      remote_(remote),
      tuning_(tuning),
      output_(std::move(output)),
      iss_(isn),
      sndUna_(isn),
      sndNxt_(isn),
      rtoMs_(tuning.minRtoMs) {
    if (tuning_.reserveReceived > 0) {
        received_.resize(tuning_.reserveReceived);
        received_.clear();
    }
}

void SimTcpEndpoint::Connect() {
    state_ = State::SynSent;
    sndUna_ = iss_;
    sndNxt_ = iss_ + 1;
    sndMax_ = sndNxt_;
    SendSegment(kSyn, iss_, {}, true);
    ArmRetransmit();
}

void SimTcpEndpoint::Listen() {
    state_ = State::Listen;
}

uint32_t SimTcpEndpoint::PayloadPerSegment() const {
    const uint32_t mss = std::min<uint32_t>(tuning_.mss, peerMss_);
    return mss - (timestamps_ ? 12 : 0);
}

uint16_t SimTcpEndpoint::WindowField() const {
    const std::size_t unread = received_.size() - consumed_;
    const std::size_t free = unread >= tuning_.receiveBuffer ? 0 : tuning_.receiveBuffer - unread;
    return static_cast<uint16_t>(std::min<std::size_t>(free >> receiveShift_, 65535));
}

void SimTcpEndpoint::SendSegment(uint8_t flags, uint32_t seq, std::string_view payload, bool syn) {
    uint8_t options[40];
    std::size_t optionLength = 0;
    auto put = [&](std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) {
            options[optionLength++] = b;
        }
    };
    const uint32_t tsVal = static_cast<uint32_t>(iss_ * 7u + clock_.NowMilliseconds());
    uint16_t window = 0;
    if (syn) {
        const bool answering = (flags & kAck) != 0;
        const bool sack = tuning_.sackPermitted && (!answering || sawSackPermitted_);
        const bool scale = tuning_.windowScale >= 0 && (!answering || sendShift_ >= 0);
        const bool stamps = answering ? timestamps_ : tuning_.timestamps;
        put({2, 4, static_cast<uint8_t>(tuning_.mss >> 8), static_cast<uint8_t>(tuning_.mss)});
        if (sack) {
            put({4, 2});
        }
        if (stamps) {
            put({8, 10});
            Store32(options + optionLength, tsVal);
            Store32(options + optionLength + 4, answering ? tsRecent_ : 0);
            optionLength += 8;
        }
        if (scale) {
            put({1, 3, 3, static_cast<uint8_t>(tuning_.windowScale)});
        }
        window = static_cast<uint16_t>(std::min<uint32_t>(tuning_.receiveBuffer, 65535));
    } else {
        if (timestamps_) {
            put({1, 1, 8, 10});
            Store32(options + optionLength, tsVal);
            Store32(options + optionLength + 4, tsRecent_);
            optionLength += 8;
        }
        // A receiver with bytes beyond a gap names its runs (the lowest first, as many as fit).
        if (tuning_.sackPermitted && sawSackPermitted_ && (flags & kAck) != 0 && !outOfOrder_.empty()) {
            std::size_t count = 0;
            const std::size_t room = (40 - optionLength - 4) / 8;
            uint8_t* lead = options + optionLength;
            optionLength += 4;
            for (auto run = outOfOrder_.begin(); run != outOfOrder_.end() && count < room;) {
                const uint32_t left = run->first;
                uint32_t right = left + static_cast<uint32_t>(run->second.size());
                for (++run; run != outOfOrder_.end() && run->first <= right; ++run) {
                    right = std::max(right, run->first + static_cast<uint32_t>(run->second.size()));
                }
                Store32(options + optionLength, irs_ + left);
                Store32(options + optionLength + 4, irs_ + right);
                optionLength += 8;
                ++count;
            }
            lead[0] = tcp_option::kNop;
            lead[1] = tcp_option::kNop;
            lead[2] = tcp_option::kSack;
            lead[3] = static_cast<uint8_t>(2 + 8 * count);
        }
        window = WindowField();
    }
    while (optionLength % 4 != 0) {
        options[optionLength++] = tcp_option::kNop;
    }

    const std::size_t tcpLength = 20 + optionLength;
    const std::size_t ipLength = local_.ipv6 ? 40 : 20;
    const std::size_t total = 14 + ipLength + tcpLength + payload.size();
    uint8_t* f = frame_.data();
    std::memcpy(f, remote_.mac.data(), 6);
    std::memcpy(f + 6, local_.mac.data(), 6);
    uint8_t* ip = f + 14;
    if (local_.ipv6) {
        Store16(f + 12, kEtherTypeIpv6);
        std::memset(ip, 0, 40);
        ip[0] = 0x60;
        Store16(ip + 4, static_cast<uint16_t>(tcpLength + payload.size()));
        ip[6] = kProtocolTcp;
        ip[7] = 64;
        ip[8] = ip[24] = 0xfd;
        ip[9] = ip[25] = 0x42;
        Store32(ip + 8 + 12, local_.ip);
        Store32(ip + 24 + 12, remote_.ip);
    } else {
        Store16(f + 12, kEtherTypeIpv4);
        ip[0] = 0x45;
        ip[1] = 0;
        Store16(ip + 2, static_cast<uint16_t>(20 + tcpLength + payload.size()));
        Store16(ip + 4, ipId_++);
        Store16(ip + 6, 0x4000);
        ip[8] = 64;
        ip[9] = kProtocolTcp;
        Store16(ip + 10, 0);
        Store32(ip + 12, local_.ip);
        Store32(ip + 16, remote_.ip);
    }
    uint8_t* tcp = ip + ipLength;
    Store16(tcp, local_.port);
    Store16(tcp + 2, remote_.port);
    Store32(tcp + 4, seq);
    Store32(tcp + 8, (flags & kAck) != 0 ? rcvNxt_ : 0);
    tcp[12] = static_cast<uint8_t>((tcpLength / 4) << 4);
    tcp[13] = flags;
    Store16(tcp + 14, window);
    Store16(tcp + 16, 0);
    Store16(tcp + 18, 0);
    std::memcpy(tcp + 20, options, optionLength);
    if (!payload.empty()) {
        std::memcpy(tcp + tcpLength, payload.data(), payload.size());
    }

    std::span<uint8_t> bytes{f, total};
    FrameLayout layout;
    ParseFrame(bytes, layout);
    UpdateIpChecksum(bytes, layout);
    UpdateTcpChecksum(bytes, layout);

    if ((flags & kAck) != 0) {
        unackedSegments_ = 0;
        delayedAckAt_ = 0;
        lastWindowField_ = window;
        const uint32_t edge = rcvNxt_ + (uint32_t{window} << (syn ? 0 : receiveShift_));
        if (SeqLess(advertisedEdge_, edge)) {
            advertisedEdge_ = edge;
        }
    }
    output_(bytes);
}

uint64_t SimHostOf(std::span<const uint8_t> frame, bool destination) {
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return 0;
    }
    const IpAddress address =
        destination ? DestinationAddressOf(frame, layout) : SourceAddressOf(frame, layout);
    return SimHostOf(SimAddress{Load32(address.bytes.data() + 12), 0, {}, layout.ipVersion == 6});
}

void SimTcpEndpoint::SendAck() {
    SendSegment(kAck, sndNxt_, {});
}

void SimTcpEndpoint::ArmRetransmit() {
    if (retransmitAt_ == 0) {
        retransmitAt_ = clock_.NowMilliseconds() + rtoMs_;
    }
}

void SimTcpEndpoint::TrySend() {
    if (state_ != State::Established) {
        return;
    }
    while (true) {
        const std::size_t offset = sndNxt_ - sndUna_;
        if (offset < unackedSize_) {
            const std::size_t available = unackedSize_ - offset;
            const uint32_t windowEnd = peerWindowBase_ + peerWindow_;
            const uint32_t room = SeqLess(sndNxt_, windowEnd) ? windowEnd - sndNxt_ : 0;
            if (room == 0) {
                ArmRetransmit();  // the persist timer
                return;
            }
            const std::size_t n = std::min<std::size_t>({available, PayloadPerSegment(), room});
            const uint8_t flags = kAck | (n == available ? kPsh : 0);
            SendSegment(flags, sndNxt_, Unacked(offset, n));
            sndNxt_ += static_cast<uint32_t>(n);
            if (SeqLess(sndMax_, sndNxt_)) {
                sndMax_ = sndNxt_;
            }
            ArmRetransmit();
            continue;
        }
        if (finQueued_ && sndNxt_ == finSeq_) {
            SendSegment(kFin | kAck, finSeq_, {});
            sndNxt_ = finSeq_ + 1;
            if (SeqLess(sndMax_, sndNxt_)) {
                sndMax_ = sndNxt_;
            }
            finSent_ = true;
            ArmRetransmit();
        }
        return;
    }
}

void SimTcpEndpoint::Receive(std::span<const uint8_t> frame) {
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return;
    }
    if (!ChecksumsValid(frame, layout)) {
        ++anomalies_.badChecksum;
        return;
    }
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    const uint8_t flags = tcp[13];
    const uint32_t seq = Load32(tcp + 4);
    const uint32_t ack = Load32(tcp + 8);
    const uint16_t window = Load16(tcp + 14);
    const ParsedOptions options = ParseOptions(tcp, layout.transportHeaderLength);
    const std::string_view payload(reinterpret_cast<const char*>(frame.data() + layout.payloadOffset),
                                   layout.payloadLength);

    if ((flags & kRst) != 0) {
        if (state_ != State::Closed && state_ != State::Listen) {
            ++anomalies_.resets;
            state_ = State::Reset;
            retransmitAt_ = 0;
        }
        return;
    }
    if (state_ == State::Reset || state_ == State::Closed) {
        return;
    }
    if (state_ == State::Listen) {
        if ((flags & kSyn) == 0 || (flags & kAck) != 0) {
            return;
        }
        irs_ = seq;
        rcvNxt_ = seq + 1;
        advertisedEdge_ = rcvNxt_;
        sawSackPermitted_ = options.sackPermitted;
        peerMss_ = options.mss != 0 ? options.mss : 536;
        sendShift_ = -1;
        if (options.windowScale >= 0 && tuning_.windowScale >= 0) {
            sendShift_ = options.windowScale;
            receiveShift_ = tuning_.windowScale;
        }
        timestamps_ = tuning_.timestamps && options.hasTimestamp;
        tsRecent_ = options.tsVal;
        state_ = State::SynReceived;
        sndUna_ = iss_;
        sndNxt_ = iss_ + 1;
        sndMax_ = sndNxt_;
        peerWindow_ = window;
        peerWindowBase_ = sndNxt_;
        SendSegment(kSyn | kAck, iss_, {}, true);
        if (sendShift_ < 0) {
            sendShift_ = 0;
        }
        ArmRetransmit();
        return;
    }
    if (state_ == State::SynSent) {
        if ((flags & (kSyn | kAck)) != (kSyn | kAck) || ack != iss_ + 1) {
            return;
        }
        irs_ = seq;
        rcvNxt_ = seq + 1;
        advertisedEdge_ = rcvNxt_;
        sawSackPermitted_ = options.sackPermitted;
        peerMss_ = options.mss != 0 ? options.mss : 536;
        if (options.windowScale >= 0 && tuning_.windowScale >= 0) {
            sendShift_ = options.windowScale;
            receiveShift_ = tuning_.windowScale;
        }
        timestamps_ = tuning_.timestamps && options.hasTimestamp;
        tsRecent_ = options.tsVal;
        sndUna_ = iss_ + 1;
        peerWindow_ = window;
        peerWindowBase_ = sndUna_;
        state_ = State::Established;
        retransmitAt_ = 0;
        rtoMs_ = tuning_.minRtoMs;
        SendAck();
        TrySend();
        return;
    }
    if ((flags & kSyn) != 0) {
        if (state_ == State::SynReceived) {
            SendSegment(kSyn | kAck, iss_, {}, true);
        } else {
            SendAck();
        }
        return;
    }
    if (timestamps_) {
        if (!options.hasTimestamp) {
            ++anomalies_.missingTimestamp;
        } else if (static_cast<int32_t>(options.tsVal - tsRecent_) < 0) {
            ++anomalies_.pawsRejected;
            SendAck();
            return;
        }
    }
    if (options.sackBlocks) {
        // Blocks count only where both ends agreed on them, and each must lie beyond the acknowledgement
        // and within what was sent.
        bool sound = tuning_.sackPermitted && sawSackPermitted_ && (flags & kAck) != 0 && options.sackCount > 0;
        for (std::size_t i = 0; sound && i < options.sackCount; ++i) {
            const auto [left, right] = options.sack[i];
            sound = SeqLess(ack, left) && SeqLess(left, right) && !SeqLess(sndMax_, right);
        }
        if (sound) {
            ++sackBlocksReceived_;
        } else {
            ++anomalies_.sackBlocks;
        }
    }
    if (state_ == State::SynReceived) {
        if ((flags & kAck) == 0 || ack != iss_ + 1) {
            return;
        }
        state_ = State::Established;
        sndUna_ = iss_ + 1;
        retransmitAt_ = 0;
        rtoMs_ = tuning_.minRtoMs;
    }
    if ((flags & kAck) != 0) {
        if (SeqLess(sndMax_, ack)) {
            ++anomalies_.ackOfUnsent;
            SendAck();
            return;
        }
        OnAck(ack, window, payload.size());
    }
    if (!payload.empty() || (flags & kFin) != 0) {
        OnData(seq, payload, (flags & kFin) != 0, options.tsVal, options.hasTimestamp);
    } else if (SeqLess(seq, rcvNxt_)) {
        SendAck();  // an unacceptable segment (a window probe) is answered with the current window
    }
    TrySend();
}

void SimTcpEndpoint::OnAck(uint32_t ack, uint16_t window, std::size_t payloadLength) {
    const uint32_t scaledWindow = uint32_t{window} << sendShift_;
    if (SeqLess(sndUna_, ack)) {
        const uint32_t acked = ack - sndUna_;
        DropAcknowledged(std::min<std::size_t>(acked, unackedSize_));
        sndUna_ = ack;
        if (SeqLess(sndNxt_, ack)) {
            sndNxt_ = ack;
        }
        duplicateAcks_ = 0;
        rtoMs_ = tuning_.minRtoMs;
        retransmitAt_ = sndUna_ == sndMax_ ? 0 : clock_.NowMilliseconds() + rtoMs_;
        peerWindow_ = scaledWindow;
        peerWindowBase_ = ack;
        return;
    }
    if (ack == sndUna_) {
        if (payloadLength == 0 && scaledWindow == peerWindow_ && sndUna_ != sndMax_) {
            if (++duplicateAcks_ == 3) {
                ++retransmissions_;
                const std::size_t n = std::min<std::size_t>(unackedSize_, PayloadPerSegment());
                if (n > 0) {
                    SendSegment(kAck, sndUna_, Unacked(0, n));
                } else if (finSent_) {
                    SendSegment(kFin | kAck, finSeq_, {});
                }
            }
        }
        peerWindow_ = scaledWindow;
        peerWindowBase_ = ack;
    }
}

void SimTcpEndpoint::Deliver(std::string_view bytes) {
    received_.append(bytes);
    if (tuning_.readBytesPerMs == 0) {
        consumed_ = received_.size();
    }
}

void SimTcpEndpoint::OnData(uint32_t seq, std::string_view payload, bool fin, uint32_t tsVal, bool hasTs) {
    if (peerFin_) {
        SendAck();
        return;
    }
    const auto length = static_cast<uint32_t>(payload.size());
    if (SeqLess(seq, rcvNxt_)) {
        const uint32_t end = seq + length;
        if (!SeqLess(rcvNxt_, end)) {
            if (!(fin && end == rcvNxt_)) {
                SendAck();  // everything here arrived before
                return;
            }
            payload = {};
        } else {
            payload.remove_prefix(rcvNxt_ - seq);
        }
        seq = rcvNxt_;
    }
    if (seq != rcvNxt_) {
        if (tuning_.bufferOutOfOrder && !payload.empty() && !SeqLess(advertisedEdge_, seq + length)) {
            outOfOrder_[seq - irs_] = std::string(payload);
        }
        SendAck();
        return;
    }
    if (!payload.empty() && SeqLess(advertisedEdge_, seq + static_cast<uint32_t>(payload.size()))) {
        ++anomalies_.beyondWindow;
        SendAck();
        return;
    }
    if (hasTs) {
        tsRecent_ = tsVal;
    }
    Deliver(payload);
    rcvNxt_ += static_cast<uint32_t>(payload.size());
    if (fin) {
        rcvNxt_ += 1;
        peerFin_ = true;
    }
    while (!outOfOrder_.empty()) {
        auto first = outOfOrder_.begin();
        const uint32_t start = first->first + irs_;
        const auto size = static_cast<uint32_t>(first->second.size());
        if (SeqLess(rcvNxt_, start)) {
            break;
        }
        if (SeqLess(rcvNxt_, start + size)) {
            Deliver(std::string_view(first->second).substr(rcvNxt_ - start));
            rcvNxt_ = start + size;
        }
        outOfOrder_.erase(first);
    }
    ++unackedSegments_;
    if (fin || unackedSegments_ >= 2 || !outOfOrder_.empty()) {
        SendAck();
    } else if (delayedAckAt_ == 0) {
        delayedAckAt_ = clock_.NowMilliseconds() + tuning_.delayedAckMs;
    }
}

void SimTcpEndpoint::Retransmit() {
    ++retransmissions_;
    if (state_ == State::SynSent) {
        SendSegment(kSyn, iss_, {}, true);
    } else if (state_ == State::SynReceived) {
        SendSegment(kSyn | kAck, iss_, {}, true);
    } else if (state_ == State::Established) {
        const uint32_t windowEnd = peerWindowBase_ + peerWindow_;
        if (sndUna_ == sndMax_ && !SeqLess(sndNxt_, windowEnd) && unackedSize_ != 0) {
            SendSegment(kAck, sndUna_ - 1, {});  // window probe: asks the peer to repeat its window
        } else {
            sndNxt_ = sndUna_;
            retransmitAt_ = 0;
            TrySend();
        }
    }
    rtoMs_ = std::min(rtoMs_ * 2, kMaxRtoMs);
    retransmitAt_ = clock_.NowMilliseconds() + rtoMs_;
}

void SimTcpEndpoint::Poll() {
    const uint64_t now = clock_.NowMilliseconds();
    if (tuning_.readBytesPerMs > 0 && consumed_ < received_.size()) {
        const uint64_t elapsed = now > lastReadAt_ ? now - lastReadAt_ : 0;
        consumed_ = std::min<std::size_t>(received_.size(), consumed_ + elapsed * tuning_.readBytesPerMs);
        lastReadAt_ = now;
        // A window update once the window has grown by two segments over what was last advertised.
        const uint16_t window = WindowField();
        if (state_ == State::Established && window > lastWindowField_ &&
            (uint32_t{window} - lastWindowField_) << receiveShift_ >= 2u * tuning_.mss) {
            SendAck();
        }
    } else {
        lastReadAt_ = now;
    }
    if (delayedAckAt_ != 0 && now >= delayedAckAt_) {
        SendAck();
    }
    if (retransmitAt_ != 0 && now >= retransmitAt_ &&
        (sndUna_ != sndMax_ || unackedSize_ != 0 || state_ == State::SynSent ||
         state_ == State::SynReceived)) {
        Retransmit();
    } else if (retransmitAt_ != 0 && now >= retransmitAt_) {
        retransmitAt_ = 0;
    }
}

uint64_t SimTcpEndpoint::NextDeadline() const {
    uint64_t next = kNever;
    if (retransmitAt_ != 0) {
        next = std::min(next, retransmitAt_);
    }
    if (delayedAckAt_ != 0) {
        next = std::min(next, delayedAckAt_);
    }
    if (tuning_.readBytesPerMs > 0 && consumed_ < received_.size()) {
        next = std::min(next, clock_.NowMilliseconds() + 1);
    }
    return next;
}

void SimTcpEndpoint::Write(std::string_view bytes) {
    Chunk chunk;
    chunk.owned.assign(bytes);
    chunk.bytes = chunk.owned;
    sendChunks_.push_back(std::move(chunk));
    sendChunks_.back().bytes = sendChunks_.back().owned;
    unackedSize_ += bytes.size();
    TrySend();
}

void SimTcpEndpoint::WriteView(std::string_view bytes) {
    sendChunks_.push_back({{}, bytes});
    unackedSize_ += bytes.size();
    TrySend();
}

std::string_view SimTcpEndpoint::Unacked(std::size_t offset, std::size_t n) {
    offset += frontOffset_;
    auto chunk = sendChunks_.begin();
    while (chunk != sendChunks_.end() && offset >= chunk->bytes.size()) {
        offset -= chunk->bytes.size();
        ++chunk;
    }
    if (chunk != sendChunks_.end() && offset + n <= chunk->bytes.size()) {
        return chunk->bytes.substr(offset, n);
    }
    scratch_.clear();
    for (; chunk != sendChunks_.end() && scratch_.size() < n; ++chunk, offset = 0) {
        scratch_.append(chunk->bytes.substr(offset, n - scratch_.size()));
    }
    return scratch_;
}

void SimTcpEndpoint::DropAcknowledged(std::size_t n) {
    unackedSize_ -= n;
    n += frontOffset_;
    while (!sendChunks_.empty() && n >= sendChunks_.front().bytes.size()) {
        n -= sendChunks_.front().bytes.size();
        sendChunks_.pop_front();
    }
    frontOffset_ = sendChunks_.empty() ? 0 : n;
}

void SimTcpEndpoint::Close() {
    if (finQueued_) {
        return;
    }
    finQueued_ = true;
    finSeq_ = sndUna_ + static_cast<uint32_t>(unackedSize_);
    TrySend();
}

void SimTcpEndpoint::Abort() {
    SendSegment(kRst | kAck, sndNxt_, {});
    state_ = State::Reset;
    retransmitAt_ = 0;
}

}  // namespace bramvell::sim
