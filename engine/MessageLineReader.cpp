#include "engine/MessageLineReader.h"

#include <cstring>

namespace bramvell {

bool MessageLineReader::Next(std::string_view& line, LinePosition& position) {
    // Step past exhausted segments and the LF that belongs to the previous line's CR.
    while (true) {
        if (segment_ >= segments_.size()) {
            skipLf_ = false;
            return false;
        }
        const HeldSegment& current = segments_[segment_];
        if (offset_ >= current.payloadLength) {
            ++segment_;
            offset_ = 0;
            continue;
        }
        if (skipLf_) {
            skipLf_ = false;
            if (current.frame[current.layout.payloadOffset + offset_] == '\n') {
                ++offset_;
                continue;
            }
        }
        break;
    }

    position = {segment_, offset_};
    // The common case: the line ends in the segment it starts in.
    {
        const HeldSegment& current = segments_[segment_];
        const uint8_t* start = current.frame + current.layout.payloadOffset + offset_;
        const std::size_t available = current.payloadLength - offset_;
        const void* cr = std::memchr(start, '\r', available);
        if (cr != nullptr) {
            const auto take = static_cast<std::size_t>(static_cast<const uint8_t*>(cr) - start);
            line = std::string_view(reinterpret_cast<const char*>(start), take);
            offset_ += take + 1;
            skipLf_ = true;
            return true;
        }
    }
    assembled_.clear();
    while (segment_ < segments_.size()) {
        const HeldSegment& current = segments_[segment_];
        const uint8_t* start = current.frame + current.layout.payloadOffset + offset_;
        const std::size_t available = current.payloadLength - offset_;
        const void* cr = std::memchr(start, '\r', available);
        const std::size_t take =
            cr ? static_cast<std::size_t>(static_cast<const uint8_t*>(cr) - start) : available;
        assembled_.append(reinterpret_cast<const char*>(start), take);
        if (cr != nullptr) {
            offset_ += take + 1;
            skipLf_ = true;
            line = assembled_;
            return true;
        }
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
