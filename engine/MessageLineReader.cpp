#include "engine/MessageLineReader.h"

#include <cstring>

namespace bramvell {

bool MessageLineReader::Next(std::string_view& line, LinePosition& position) {
    // Step past exhausted segments and the LF that belongs to the previous line's CR.
    while (segment_ < segments_.size()) {
        const HeldSegment& current = segments_[segment_];
        if (offset_ >= current.payloadLength) {
            ++segment_;
            offset_ = 0;
            continue;
        }
        if (skipLf_) {
            skipLf_ = false;
            if (current.Payload()[offset_] == '\n') {
                ++offset_;
                continue;
            }
        }
        break;
    }
    skipLf_ = false;
    if (segment_ >= segments_.size()) {
        return false;
    }

    position = {segment_, offset_};
    assembled_.clear();
    bool spansSegments = false;
    while (segment_ < segments_.size()) {
        std::span<const uint8_t> payload = segments_[segment_].Payload();
        const uint8_t* start = payload.data() + offset_;
        const std::size_t available = payload.size() - offset_;
        const void* cr = std::memchr(start, '\r', available);
        const std::size_t take =
            cr ? static_cast<std::size_t>(static_cast<const uint8_t*>(cr) - start) : available;
        if (cr != nullptr && !spansSegments) {
            line = std::string_view(reinterpret_cast<const char*>(start), take);
            offset_ += take + 1;
            skipLf_ = true;
            return true;
        }
        assembled_.append(reinterpret_cast<const char*>(start), take);
        if (cr != nullptr) {
            offset_ += take + 1;
            skipLf_ = true;
            line = assembled_;
            return true;
        }
        spansSegments = true;
        ++segment_;
        offset_ = 0;
    }
    line = assembled_;
    return true;
}

void MessageLineReader::Patch(LinePosition position, std::size_t at, std::string_view bytes) {
    std::size_t segment = position.segment;
    std::size_t offset = position.offset + at;
    std::size_t done = 0;
    std::size_t lastTouched = segments_.size();
    while (done < bytes.size() && segment < segments_.size()) {
        HeldSegment& held = segments_[segment];
        if (offset >= held.payloadLength) {
            offset -= held.payloadLength;
            ++segment;
            continue;
        }
        held.Payload()[offset] = static_cast<uint8_t>(bytes[done]);
        ++done;
        ++offset;
        if (lastTouched != segment) {
            if (lastTouched < segments_.size()) {
                UpdateTcpChecksum(segments_[lastTouched].Bytes(), segments_[lastTouched].layout);
            }
            lastTouched = segment;
        }
    }
    if (lastTouched < segments_.size()) {
        UpdateTcpChecksum(segments_[lastTouched].Bytes(), segments_[lastTouched].layout);
    }
}

}  // namespace bramvell
