#pragma once

#include <algorithm>
#include <cstdint>

namespace bramvell {

// The round trip to a peer as a TCP sender measures it (RFC 6298): one segment timed at a time, never
// one that was sent again (Karn), and a retransmission timeout of the smoothed time plus four times its
// variation, with a floor as Linux keeps (200 ms).
class RoundTripEstimate {
  public:
    static constexpr uint32_t kMinTimeoutMs = 200;

    // A segment ending at `endSeq` leaves at `now`; it is timed when no other is.
    void OnSend(uint32_t endSeq, uint64_t now) {
        if (!timing_) {
            timing_ = true;
            timedEnd_ = endSeq;
            sentAt_ = now;
        }
    }
    // The peer acknowledges up to `ack`.
    void OnAck(uint32_t ack, uint64_t now) {
        if (!timing_ || static_cast<int32_t>(ack - timedEnd_) < 0) {
            return;
        }
        timing_ = false;
        const auto sample = static_cast<uint32_t>(std::min<uint64_t>(now - sentAt_, 60000));
        if (!measured_) {
            smoothedMs_ = sample;
            variationMs_ = sample / 2;
            measured_ = true;
            return;
        }
        const uint32_t error = sample > smoothedMs_ ? sample - smoothedMs_ : smoothedMs_ - sample;
        variationMs_ = (3 * variationMs_ + error) / 4;
        smoothedMs_ = (7 * smoothedMs_ + sample) / 8;
    }
    // Something was sent again: the segment timed can no longer tell the round trip.
    void OnResend() { timing_ = false; }

    // The timeout before a resend; `initialMs` until a round trip has been measured.
    uint32_t TimeoutMs(uint32_t initialMs) const {
        if (!measured_) {
            return initialMs;
        }
        return std::max(kMinTimeoutMs, smoothedMs_ + 4 * variationMs_);
    }
    bool Measured() const { return measured_; }
    uint32_t SmoothedMs() const { return smoothedMs_; }

  private:
    bool timing_ = false;
    bool measured_ = false;
    uint32_t timedEnd_ = 0;
    uint64_t sentAt_ = 0;
    uint32_t smoothedMs_ = 0;
    uint32_t variationMs_ = 0;
};

}  // namespace bramvell
