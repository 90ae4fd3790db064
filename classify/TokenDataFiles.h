#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "classify/TokenDataFolder.h"
#include "classify/TokenRecord.h"
#include "config/FileHandle.h"

namespace bramvell {

// Why a write of learned data failed: the file and the errno.
struct DataWriteFailure {
    std::string path;
    int error = 0;

    bool Failed() const { return error != 0; }
    // "<path>: <reason>"
    std::string Message() const;
};

// The token files and bucket counts of a data folder, each kept open for the life of the object so
// that no change costs an open and close. Every write is checked and goes by pwrite (a write into a
// mapping cannot report a full disk; it raises SIGBUS instead). The first failure is kept: every call
// after it returns false. Files are created 0600, and no symbolic link in the folder is followed.
//
// Each token file opened is also held as a copy in memory, so that raised counters are staged there
// and written later as a few spans per file (neighbouring records in one write) instead of one write
// per record: the bytes written are the file's own, changed only in the counters staged.
class TokenDataFiles {
  public:
    explicit TokenDataFiles(std::string dataFolder);
    TokenDataFiles(const TokenDataFiles&) = delete;
    TokenDataFiles& operator=(const TokenDataFiles&) = delete;

    // Opens the token file, creating it with its 4-byte header when it does not exist.
    bool EnsureTokenFile(TokenSection section, int firstLetter);
    // Where the next record of the file goes: after the last whole record. Needs EnsureTokenFile.
    uint64_t AppendOffset(TokenSection section, int firstLetter) const;
    // Appends whole records at the append offset, then sets the header to the new length. On failure
    // the file is cut back to its length before, so no partial record stays.
    bool AppendRecords(TokenSection section, int firstLetter, std::span<const TokenRecord> records);
    // Cuts the file back to `length` (a former append offset) and sets the header to match.
    bool TruncateTokenFile(TokenSection section, int firstLetter, uint64_t length);
    // Stages the record's offset field and six counters at the offset the record holds, which must lie
    // inside the records already appended; WriteStagedCounters writes them.
    bool StageCounters(TokenSection section, int firstLetter, const TokenRecord& record);
    // Writes what was staged, neighbouring records of a file in one write. What is not written stays
    // staged, so a later call (undoing) writes it again; it writes also after a failure.
    bool WriteStagedCounters();
    // Stores the counts of consecutive buckets from firstBucket on, 16-bit little-endian, at offset
    // 2 x bucket of X010 or X210.
    bool WriteBucketCounts(TokenSection section, int firstBucket, std::span<const int16_t> counts);

    // Records a failure of the token file from outside (a file too long for another record).
    bool Refuse(TokenSection section, int firstLetter, int error) {
        return Fail(TokenFileName(section, firstLetter), error);
    }

    const DataWriteFailure& Failure() const { return failure_; }

  private:
    struct TokenFile {
        FileHandle fd;
        uint64_t appendOffset = kTokenFileHeaderSize;  // where the next record goes; also the header
        std::vector<char> image;                       // the file's bytes up to appendOffset
        std::vector<uint32_t> staged;                  // offsets of records whose counters are staged
    };

    TokenFile& FileOf(TokenSection section, int firstLetter);
    // EnsureTokenFile, also after a failure (undoing needs the files).
    bool OpenTokenFile(TokenSection section, int firstLetter);
    bool WriteHeader(TokenSection section, int firstLetter, TokenFile& file);
    bool Fail(const std::string& name, int error);
    // Opens (creating) a regular file of the folder for writing; refuses links, FIFOs and devices.
    int OpenForWriting(const std::string& name);

    std::string dataFolder_;
    std::array<std::array<TokenFile, kLetterCount>, 2> tokenFiles_{};
    std::array<FileHandle, 2> countFiles_{};
    DataWriteFailure failure_;
};

}  // namespace bramvell
