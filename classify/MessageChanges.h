#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "classify/TokenDataFolder.h"
#include "classify/TokenRecord.h"

namespace bramvell {

class TokenDataFiles;
class TokenTables;

// What learning a step of messages (one or more) changed in the token tables, so that it reaches the
// data files as one step and a failed step is taken back from the files and from memory alike.
//
// Memory changes as tokens arrive (later tokens must find earlier ones); the files
// change only at Commit, in an order that leaves whole records and matching counts at every failure:
// the new records first (cut back when a write fails), then the bucket counts that count them, then
// the raised counters of records already held (staged, then written a few spans per file). Callers hold the tables' exclusive lock.
class MessageChanges {
  public:
    void Begin(TokenTables& tables, TokenDataFiles& files);

    // The offset a new record of the file will have; false when the file cannot take one.
    bool NewRecordOffset(TokenSection section, int firstLetter, int32_t& offset);
    // Called after a new record was appended to memory at `position` of its bucket.
    void Appended(TokenSection section, int firstLetter, int bucket, std::size_t position);
    // Called before a counter of the record at `position` of its bucket is raised; only a record's first
    // raise of the step is noted, as its value before the step.
    void Raising(TokenSection section, int firstLetter, int bucket, std::size_t position,
                 const TokenRecord& before);

    // Writes the step's changes; on a failure undoes them (files and memory) and returns false.
    bool Commit();
    // Takes back the step's changes from memory and from whatever of them reached the files.
    void Undo();

  private:
    struct Placed {
        uint8_t section;
        uint8_t firstLetter;
        int bucket;
        uint32_t position;
    };
    struct Raised {
        Placed at;
        TokenRecord before;
    };

    TokenRecord& RecordAt(const Placed& at);
    bool WriteBucketCounts();
    void SortRaised();
    // Whether the record at that file offset was raised already in this step (if not, it is now).
    bool RaisedBefore(uint8_t section, uint8_t firstLetter, int32_t offset);

    TokenTables* tables_ = nullptr;
    TokenDataFiles* files_ = nullptr;
    std::vector<Placed> appended_;
    std::vector<Raised> raised_;        // one per record, however often the step raises it
    std::vector<uint64_t> raisedKeys_;  // open addressing: file and offset of each raised record, 0 free
    // Per token file: records appended by this step, and the file's length before it.
    std::array<std::array<uint32_t, kLetterCount>, 2> appendedCount_{};
    std::array<std::array<uint64_t, kLetterCount>, 2> lengthBefore_{};
    std::vector<TokenRecord> writeBuffer_;
    std::vector<int> removeBuffer_;
};

}  // namespace bramvell
