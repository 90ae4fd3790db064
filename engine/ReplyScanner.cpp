#include "engine/ReplyScanner.h"

namespace bramvell {

void ReplyScanner::Reset(uint32_t seq) {
    count_ = 0;
    first_ = 0;
    at_ = At::StatusFirst;
    cursor_ = seq;
}

bool ReplyScanner::Await(ReplyShape shape) {
    if (count_ == kMaxAwaited) {
        return false;
    }
    awaited_[(first_ + count_) % kMaxAwaited] = shape;
    if (count_ == 0) {
        at_ = At::StatusFirst;
    }
    ++count_;
    return true;
}

void ReplyScanner::AwaitFirst(ReplyShape shape) {
    if (count_ == kMaxAwaited) {
        --count_;  // the newest awaited reply gives way
    }
    first_ = (first_ + kMaxAwaited - 1) % kMaxAwaited;
    awaited_[first_] = shape;
    ++count_;
    at_ = At::StatusFirst;
}

void ReplyScanner::PopFront() {
    first_ = (first_ + 1) % kMaxAwaited;
    --count_;
    at_ = At::StatusFirst;
}

std::size_t ReplyScanner::Feed(std::span<const uint8_t> bytes) {
    std::size_t used = 0;
    while (count_ > 0 && used < bytes.size()) {
        bool ended = false;
        used += FeedFront(bytes.subspan(used), ended);
        if (ended) {
            PopFront();
        }
    }
    cursor_ += static_cast<uint32_t>(bytes.size());
    return used;
}

std::size_t ReplyScanner::FeedFront(std::span<const uint8_t> bytes, bool& ended) {
    const ReplyShape shape = awaited_[first_];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t byte = bytes[i];
        switch (at_) {
            case At::StatusFirst:
                multiLine_ = byte == '+' && shape == ReplyShape::MultiLineIfPositive;
                at_ = At::StatusRest;
                [[fallthrough]];
            case At::StatusRest:
                if (byte == '\n') {
                    if (!multiLine_) {
                        ended = true;
                        return i + 1;
                    }
                    at_ = At::LineStart;
                }
                break;
            case At::LineStart:
                at_ = byte == '.' ? At::Dot : byte == '\n' ? At::LineStart : At::InLine;
                break;
            case At::Dot:
                if (byte == '\n') {
                    ended = true;
                    return i + 1;
                }
                at_ = byte == '\r' ? At::DotCr : At::InLine;
                break;
            case At::DotCr:
                if (byte == '\n') {
                    ended = true;
                    return i + 1;
                }
                at_ = At::InLine;
                break;
            case At::InLine:
                if (byte == '\n') {
                    at_ = At::LineStart;
                }
                break;
        }
    }
    return bytes.size();
}

}  // namespace bramvell
