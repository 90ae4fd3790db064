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
    newestSeq_ = seq;
    return true;
}

template <typename Visit>
void OutOfOrderSegments::ForEachRun(Visit visit) const {
    if (kept_.empty()) {
        return;
    }
    SackBlock run{kept_.front().seq, kept_.front().End()};
    for (std::size_t i = 1; i < kept_.size(); ++i) {
        if (SeqAfter(kept_[i].seq, run.right)) {
            if (!visit(run)) {
                return;
            }
            run = {kept_[i].seq, kept_[i].End()};
        } else {
            run.right = SeqMax(run.right, kept_[i].End());
        }
    }
    visit(run);
}

std::size_t OutOfOrderSegments::SackBlocks(std::span<SackBlock> out, uint32_t ack) const {
    if (out.empty() || kept_.empty()) {
        return 0;
    }
    auto holdsNewest = [this](const SackBlock& run) {
        return !SeqBefore(newestSeq_, run.left) && SeqBefore(newestSeq_, run.right);
    };
    std::size_t written = 0;
    bool newestWritten = false;
    ForEachRun([&](const SackBlock& run) {
        if (SeqAfter(run.left, ack) && holdsNewest(run)) {
            out[written++] = run;
            newestWritten = true;
            return false;
        }
        return true;
    });
    ForEachRun([&](const SackBlock& run) {
        if (written == out.size()) {
            return false;
        }
        if (SeqAfter(run.left, ack) && !(newestWritten && holdsNewest(run))) {
            out[written++] = run;
        }
        return true;
    });
    return written;
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
