#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classify/TokenRecord.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "support/TempFolder.h"

namespace bramvell::testing {

// The lower-case key of a token as the tables store it.
inline TokenKey KeyOf(const std::string& token) {
    TokenKey key;
    for (std::size_t i = 1; i < token.size() && i <= kKeyLength; ++i) {
        key.bytes[i - 1] = LowerAscii(token[i]);
    }
    return key;
}

inline int BucketOf(const std::string& token) {
    return 676 * LetterIndex(token[0]) + 26 * LetterIndex(token[1]) + LetterIndex(token[2]);
}

inline TokenRecord MakeRecord(const std::string& token, std::vector<uint32_t> ham,
                              std::vector<uint32_t> spam) {
    TokenRecord record;
    for (int i = 0; i < kCaseFormCount; ++i) {
        record.ham[i] = ham[i];
        record.spam[i] = spam[i];
    }
    const TokenKey key = KeyOf(token);
    std::memcpy(record.key, key.bytes.data(), kKeyLength);
    return record;
}

// A program folder in a temp folder with settings and empty tables bound to it.
struct ClassifyFixture {
    TempFolder folder;
    std::unique_ptr<FilterSettings> settings = std::make_unique<FilterSettings>();
    std::unique_ptr<TokenTables> tables = std::make_unique<TokenTables>();

    ClassifyFixture() {
        settings->programFolder = folder.path();
        settings->SetDefaults();
        settings->tokenTables = tables.get();
        std::filesystem::create_directories(folder / "Data");
        std::filesystem::create_directories(folder / "log");
        std::filesystem::create_directories(folder / "quarantine");
    }
    std::string Data(const std::string& name) const { return folder / ("Data/" + name); }
    std::string Quarantine(const std::string& name) const { return folder / ("quarantine/" + name); }
    void AddBody(const std::string& token, std::vector<uint32_t> ham, std::vector<uint32_t> spam) {
        tables->bodyTokenTable().Append(BucketOf(token), MakeRecord(token, ham, spam));
    }
    void AddHeader(const std::string& token, std::vector<uint32_t> ham, std::vector<uint32_t> spam) {
        tables->headerTokenTable().Append(BucketOf(token), MakeRecord(token, ham, spam));
    }
};

// Bytes of a little-endian 32-bit value, 16-bit value.
inline std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}
inline std::string Le16(uint16_t value) {
    std::string bytes(2, '\0');
    std::memcpy(bytes.data(), &value, 2);
    return bytes;
}

// A record as it lies in a token file.
inline std::string RecordBytes(int32_t offset, std::vector<uint32_t> ham, std::vector<uint32_t> spam,
                               const std::string& key) {
    std::string bytes = Le32(static_cast<uint32_t>(offset));
    for (uint32_t value : ham) bytes += Le32(value);
    for (uint32_t value : spam) bytes += Le32(value);
    std::string padded = key;
    padded.resize(kKeyLength, '\0');
    return bytes + padded;
}

}  // namespace bramvell::testing
