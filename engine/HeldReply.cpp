#include "engine/HeldReply.h"

#include <algorithm>
#include <cstring>

namespace bramvell {

namespace {

constexpr std::array<uint8_t, 5> kEndOfMessage = {'\r', '\n', '.', '\r', '\n'};

}  // namespace

void HeldReply::Hold(uint8_t* frame, std::size_t length, const FrameLayout& layout, uint32_t serverSeq) {
    store_.Commit(length);
    HeldSegment held;
    held.frame = frame;
    held.length = static_cast<uint32_t>(length);
    held.payloadLength = static_cast<uint32_t>(layout.payloadLength);
    held.layout = layout;
    held.serverSeq = serverSeq;
    std::span<const uint8_t> payload = held.Payload();
    if (segments_.empty()) {
        multiLine_ = payload[0] == '+';
    }
    if (!statusLineEnded_ && std::memchr(payload.data(), '\n', payload.size()) != nullptr) {
        statusLineEnded_ = true;
    }
    segments_.push_back(held);
    payloadBytes_ += payload.size();
    NoteTail(payload);
}

void HeldReply::NoteDiscarded(std::span<const uint8_t> payload) {
    NoteTail(payload);
}

void HeldReply::DropFront(std::size_t count) {
    count = std::min(count, segments_.size());
    if (count == 0) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        payloadBytes_ -= segments_[i].payloadLength;
    }
    segments_.erase(segments_.begin(), segments_.begin() + static_cast<std::ptrdiff_t>(count));
    store_.ReleaseBefore(segments_.empty() ? nullptr : segments_.front().frame);
}

// Keeps the last five bytes of the reply for the end-of-message test.
void HeldReply::NoteTail(std::span<const uint8_t> payload) {
    const std::size_t take = std::min(payload.size(), tail_.size());
    const std::size_t keep = std::min(tailLength_, tail_.size() - take);
    std::memmove(tail_.data(), tail_.data() + tailLength_ - keep, keep);
    std::memcpy(tail_.data() + keep, payload.data() + payload.size() - take, take);
    tailLength_ = keep + take;
}

void HeldReply::HoldCopy(std::span<const uint8_t> frame, const FrameLayout& layout, uint32_t clientSeq) {
    HeldSegment held;
    held.frame = store_.Copy(frame);
    held.length = static_cast<uint32_t>(frame.size());
    held.payloadLength = static_cast<uint32_t>(layout.payloadLength);
    held.layout = layout;
    held.clientSeq = clientSeq;
    segments_.push_back(held);
}

// The end line is looked for in the reply as a whole, so that it may be split across segments and a
// segment that merely starts with "." or CR LF ends nothing.
bool HeldReply::Complete() const {
    if (!multiLine_) {
        return statusLineEnded_;
    }
    return tailLength_ == kEndOfMessage.size() &&
           std::equal(kEndOfMessage.begin(), kEndOfMessage.end(), tail_.begin());
}

void HeldReply::Clear() {
    segments_.clear();
    store_.Clear();
    payloadBytes_ = 0;
    tailLength_ = 0;
    multiLine_ = false;
    statusLineEnded_ = false;
}

}  // namespace bramvell
