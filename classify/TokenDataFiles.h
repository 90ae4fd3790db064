#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "classify/TokenDataFolder.h"
#include "classify/TokenRecord.h"

namespace bramvell {

// Writes learned records into the token files and bucket counts of a data folder, keeping every file
// open (and each token file mapped) for the life of the object, so that each change reaches the file
// at once without an open and close per token. The bytes written are those of a plain open, seek,
// write and close per change. A file that cannot be opened loses its writes; nothing else fails.
class TokenDataFiles {
  public:
    explicit TokenDataFiles(std::string dataFolder);
    ~TokenDataFiles();
    TokenDataFiles(const TokenDataFiles&) = delete;
    TokenDataFiles& operator=(const TokenDataFiles&) = delete;

    // Creates the token file with its 4-byte header when it does not exist.
    void EnsureTokenFile(TokenSection section, int firstLetter);
    // Writes the record's offset field and six counters at the offset the record holds.
    void WriteCounters(TokenSection section, int firstLetter, const TokenRecord& record);
    // Sets the record's offset to the file's append offset, appends it and advances the header.
    void AppendRecord(TokenSection section, int firstLetter, TokenRecord& record);
    // Stores a bucket's count, 16-bit little-endian, at offset 2 x bucket of X010 or X210.
    void WriteBucketCount(TokenSection section, int bucket, int16_t count);

  private:
    struct TokenFile {
        bool opened = false;  // an open was tried
        int fd = -1;
        char* map = nullptr;
        std::size_t mapLength = 0;
        uint64_t appendOffset = kTokenFileHeaderSize;  // where the next record goes; also the header
    };

    TokenFile& Open(TokenSection section, int firstLetter);
    void Map(TokenFile& file, uint64_t needed);
    void WriteAt(TokenFile& file, const void* bytes, std::size_t length, uint64_t offset);

    std::string dataFolder_;
    std::array<std::array<TokenFile, kLetterCount>, 2> tokenFiles_{};
    std::array<int, 2> countFiles_{-1, -1};
    std::array<bool, 2> countFilesOpened_{false, false};
};

}  // namespace bramvell
