#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/FilterSettings.h"
#include "config/SettingsItems.h"

namespace bramvell {

// Both directions of the SettingsBlob: integers are 4 bytes little-endian; a text is its length
// (one byte below 255; else 255 and 16 bits below 65,534; else 255, 0xFFFF and 32 bits) followed
// by its bytes, without terminator. No header, no count, no padding.
class SettingsArchive {
public:
    virtual ~SettingsArchive() = default;
    virtual bool IsLoading() const = 0;
    virtual void Exchange(SharedInt& value) = 0;
    virtual void Exchange(std::string& text) = 0;
    // True once data ran out or was malformed (loading) or a text was too long to store.
    bool Failed() const { return failed_; }

protected:
    bool failed_ = false;
};

class StoringArchive final : public SettingsArchive {
public:
    StoringArchive() { bytes_.reserve(1024); }
    bool IsLoading() const override { return false; }
    void Exchange(SharedInt& value) override;
    void Exchange(std::string& text) override;
    const std::string& Bytes() const { return bytes_; }

private:
    void PutInteger(uint32_t value, int size);
    std::string bytes_;
};

// Reads from bytes that it does not own. Reading past the end marks the archive failed and yields
// zero or an empty text; the fields read before that keep what they got.
class LoadingArchive final : public SettingsArchive {
public:
    explicit LoadingArchive(std::string_view bytes) : bytes_(bytes) {}
    explicit LoadingArchive(std::string&&) = delete;  // the bytes must outlive the archive
    bool IsLoading() const override { return true; }
    void Exchange(SharedInt& value) override;
    void Exchange(std::string& text) override;
    std::size_t Position() const { return position_; }

private:
    bool Take(std::size_t size, uint32_t& value);
    std::string_view bytes_;
    std::size_t position_ = 0;
};

// 44 integers and 7 empty texts.
inline constexpr std::size_t kEmptyTextsBlobSize = 44 * 4 + 7;

// Stores or loads the 51 persistent fields in their fixed order. Returns false when the archive
// failed (loading: the data was too short or malformed).
bool Serialize(FilterSettings& settings, SettingsArchive& archive);

}  // namespace bramvell
