#include "engine/MessageLineReader.h"

#include "engine/FrameEditor.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bramvell {

namespace {

// Bit i set when bytes[i] is a CR, for i < length (at most 64).
uint64_t CrMask(const uint8_t* bytes, std::size_t length) {
    uint64_t mask = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 16 <= length; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        mask |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)))} << i;
    }
#endif
    for (; i < length; ++i) {
        mask |= uint64_t{bytes[i] == '\r'} << i;
    }
    return mask;
}

}  // namespace

const uint8_t* MessageLineReader::FindCr(const uint8_t* start, const uint8_t* end) {
    while (start < end) {
        const auto at = reinterpret_cast<uintptr_t>(start);
        if (at - maskStart_ >= maskLength_) {
            maskStart_ = at;
            maskLength_ = std::min<std::size_t>(64, static_cast<std::size_t>(end - start));
            crMask_ = CrMask(start, maskLength_);
        }
        const uint64_t ahead = crMask_ >> (at - maskStart_);
        if (ahead != 0) {
            return start + std::countr_zero(ahead);
        }
        start += maskLength_ - (at - maskStart_);
    }
    return nullptr;
}

void MessageLineReader::Enter(std::size_t index) {
    segment_ = index;
    if (index >= segments_.size()) {
        begin_ = cursor_ = end_ = nullptr;
        return;
    }
    const HeldSegment& current = segments_[index];
    begin_ = cursor_ = current.frame + current.layout.payloadOffset;
    end_ = begin_ + current.payloadLength;
}

void MessageLineReader::StepOverLineEnd(const uint8_t* cr) {
    cursor_ = cr + 1;
    if (cursor_ == end_) {
        skipLf_ = true;
    } else if (*cursor_ == '\n') {
        ++cursor_;
    }
}

bool MessageLineReader::NextLine(MessageLine& line) {
    // Step past exhausted segments and the LF that belongs to the previous line's CR.
    while (true) {
        if (segment_ >= segments_.size()) {
            skipLf_ = false;
            return false;
        }
        if (cursor_ == end_) {
            Enter(segment_ + 1);
            continue;
        }
        if (skipLf_) {
            skipLf_ = false;
            if (*cursor_ == '\n') {
                ++cursor_;
                continue;
            }
        }
        break;
    }

    line.position = {segment_, static_cast<std::size_t>(cursor_ - begin_)};
    // The common case: the line ends in the segment it starts in.
    const uint8_t* start = cursor_;
    if (const uint8_t* cr = FindCr(start, end_)) {
        line.text =
            std::string_view(reinterpret_cast<const char*>(start), static_cast<std::size_t>(cr - start));
        StepOverLineEnd(cr);
        return true;
    }
    assembled_.assign(reinterpret_cast<const char*>(start), static_cast<std::size_t>(end_ - start));
    Enter(segment_ + 1);
    while (segment_ < segments_.size()) {
        start = cursor_;
        const uint8_t* cr = FindCr(start, end_);
        assembled_.append(reinterpret_cast<const char*>(start),
                          static_cast<std::size_t>((cr != nullptr ? cr : end_) - start));
        if (cr != nullptr) {
            StepOverLineEnd(cr);
            line.text = assembled_;
            return true;
        }
        Enter(segment_ + 1);
    }
    line.text = assembled_;
    return true;
}

void MessageLineReader::Patch(LinePosition position, std::size_t at, std::string_view bytes) {
    maskLength_ = 0;  // the bytes may change under the mask
    std::size_t segment = position.segment;
    std::size_t offset = position.offset + at;
    std::size_t done = 0;
    while (done < bytes.size() && segment < segments_.size()) {
        HeldSegment& held = segments_[segment];
        if (offset >= held.payloadLength) {
            offset -= held.payloadLength;
            ++segment;
            continue;
        }
        const std::size_t count = std::min<std::size_t>(held.payloadLength - offset, bytes.size() - done);
        if (held.plainBytes) {
            std::memcpy(held.Payload().data() + offset, bytes.data() + done, count);
        } else {
            FrameEditor edit(held.Bytes(), held.layout);
            std::memcpy(edit.Payload().data() + offset, bytes.data() + done, count);
        }
        done += count;
        offset = 0;
        ++segment;
    }
}

}  // namespace bramvell
