#include "engine/OutOfOrderSegments.h"

#include <algorithm>

#include "engine/TcpSide.h"

namespace bramvell {

bool OutOfOrderSegments::Keep(std::span<const uint8_t> frame, const FrameLayout& layout, uint32_t seq,
                              std::size_t maxBytes) {
    const auto payloadLength = static_cast<uint32_t>(layout.payloadLength);
    if (payloadLength == 0 || kept_.size() >= kMaxSegments || payloadBytes_ + payloadLength > maxBytes ||
        frame.size() > SegmentStore::kBlockSize) {
        return false;
    }
    const auto at = std::lower_bound(kept_.begin(), kept_.end(), seq, [](const Kept& kept, uint32_t value) {
        return SeqBefore(kept.seq, value);
    });
    if (at != kept_.end() && at->seq == seq && at->payloadLength >= payloadLength) {
        return false;  // sent again: the copy kept covers it
    }
    uint8_t* copy = store_.Reserve(frame.size());
    if (!CopyVerifiedTcpFrame(copy, frame, layout)) {
        return false;
    }
    store_.Commit(frame.size());
    Kept kept{copy, static_cast<uint32_t>(frame.size()), layout, seq, payloadLength};
    if (at != kept_.end() && at->seq == seq) {
        payloadBytes_ -= at->payloadLength;
        *at = kept;  // a longer copy of the same start
    } else {
        kept_.insert(at, kept);
    }
    payloadBytes_ += payloadLength;
    return true;
}

void OutOfOrderSegments::PopFront() {
    if (kept_.empty()) {
        return;
    }
    payloadBytes_ -= kept_.front().payloadLength;
    kept_.erase(kept_.begin());
    if (kept_.empty()) {
        store_.Clear();
    }
}

void OutOfOrderSegments::Clear() {
    kept_.clear();
    store_.Clear();
    payloadBytes_ = 0;
}

}  // namespace bramvell
