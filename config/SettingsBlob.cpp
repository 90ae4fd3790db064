#include "config/SettingsBlob.h"

#include <limits>

#include "config/SettingsItems.h"

namespace bramvell {
namespace {

constexpr uint32_t kLongTextMark = 255;
constexpr uint32_t kShortLengthLimit = 255;     // lengths below this take one byte
constexpr uint32_t kMediumLengthLimit = 65534;  // lengths below this take 255 + 16 bits
constexpr uint32_t kVeryLongTextMark = 0xFFFF;
constexpr uint32_t kReservedMediumLength = 0xFFFE;

}  // namespace

void StoringArchive::PutInteger(uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void StoringArchive::Exchange(SharedInt& value) {
    PutInteger(static_cast<uint32_t>(value.load()), 4);
}

void StoringArchive::Exchange(std::string& text) {
    if (text.size() > std::numeric_limits<uint32_t>::max()) {
        failed_ = true;
        return;
    }
    const auto length = static_cast<uint32_t>(text.size());
    if (length < kShortLengthLimit) {
        PutInteger(length, 1);
    } else if (length < kMediumLengthLimit) {
        PutInteger(kLongTextMark, 1);
        PutInteger(length, 2);
    } else {
        PutInteger(kLongTextMark, 1);
        PutInteger(kVeryLongTextMark, 2);
        PutInteger(length, 4);
    }
    bytes_ += text;
}

bool LoadingArchive::Take(std::size_t size, uint32_t& value) {
    value = 0;
    if (failed_ || bytes_.size() - position_ < size) {
        failed_ = true;
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes_[position_ + i])) << (8 * i);
    }
    position_ += size;
    return true;
}

void LoadingArchive::Exchange(SharedInt& value) {
    uint32_t raw = 0;
    if (Take(4, raw)) {
        value = static_cast<int32_t>(raw);
    }
}

void LoadingArchive::Exchange(std::string& text) {
    uint32_t length = 0;
    if (!Take(1, length)) {
        return;
    }
    if (length == kLongTextMark) {
        if (!Take(2, length)) {
            return;
        }
        if (length == kReservedMediumLength) {
            failed_ = true;  // never written by StoringArchive
            return;
        }
        if (length == kVeryLongTextMark && !Take(4, length)) {
            return;
        }
    }
    if (bytes_.size() - position_ < length) {
        failed_ = true;
        return;
    }
    text.assign(bytes_.substr(position_, length));
    position_ += length;
}

bool Serialize(FilterSettings& settings, SettingsArchive& archive) {
    // The two folders are guarded texts; exchange copies and put them back after loading.
    std::string logFolder = settings.LogFolder();
    std::string quarantineFolder = settings.QuarantineFolder();
    for (const SettingsItem& item : SettingsItems()) {
        switch (item.kind) {
            case SettingsItem::Kind::Integer:
                archive.Exchange(settings.*item.integer);
                break;
            case SettingsItem::Kind::Text:
                archive.Exchange(settings.*item.text);
                break;
            case SettingsItem::Kind::LogFolder:
                archive.Exchange(logFolder);
                break;
            case SettingsItem::Kind::QuarantineFolder:
                archive.Exchange(quarantineFolder);
                break;
        }
    }
    if (archive.IsLoading()) {
        settings.SetLogFolder(std::move(logFolder));
        settings.SetQuarantineFolder(std::move(quarantineFolder));
    }
    return !archive.Failed();
}

}  // namespace bramvell
