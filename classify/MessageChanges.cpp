#include "classify/MessageChanges.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "classify/TokenDataFiles.h"
#include "classify/TokenTables.h"

namespace bramvell {

void MessageChanges::Begin(TokenTables& tables, TokenDataFiles& files) {
    tables_ = &tables;
    files_ = &files;
    appended_.clear();
    raised_.clear();
    std::fill(raisedKeys_.begin(), raisedKeys_.end(), 0);
    for (auto& section : appendedCount_) {
        section.fill(0);
    }
}

TokenRecord& MessageChanges::RecordAt(const Placed& at) {
    TokenTable& table = tables_->tables[TableOfSection(static_cast<TokenSection>(at.section))];
    // Bucket() is the read view; the record is ours to change under the exclusive lock.
    return const_cast<TokenRecord&>(table.Bucket(at.bucket)[at.position]);
}

bool MessageChanges::NewRecordOffset(TokenSection section, int firstLetter, int32_t& offset) {
    if (!files_->EnsureTokenFile(section, firstLetter)) {
        return false;
    }
    const int s = static_cast<int>(section);
    if (appendedCount_[s][firstLetter] == 0) {
        lengthBefore_[s][firstLetter] = files_->AppendOffset(section, firstLetter);
    }
    const uint64_t next =
        lengthBefore_[s][firstLetter] + uint64_t{appendedCount_[s][firstLetter]} * kRecordSize;
    if (next + kRecordSize > INT32_MAX) {
        return files_->Refuse(section, firstLetter, EFBIG);  // an offset field could not name it
    }
    offset = static_cast<int32_t>(next);
    return true;
}

void MessageChanges::Appended(TokenSection section, int firstLetter, int bucket, std::size_t position) {
    appended_.push_back({static_cast<uint8_t>(section), static_cast<uint8_t>(firstLetter), bucket,
                         static_cast<uint32_t>(position)});
    ++appendedCount_[static_cast<int>(section)][firstLetter];
}

void MessageChanges::Raising(TokenSection section, int firstLetter, int bucket, std::size_t position,
                             const TokenRecord& before) {
    const int s = static_cast<int>(section);
    if (appendedCount_[s][firstLetter] != 0 &&
        static_cast<uint64_t>(before.offset) >= lengthBefore_[s][firstLetter]) {
        return;  // new in this step: written whole at Commit, removed whole by Undo
    }
    if (RaisedBefore(static_cast<uint8_t>(section), static_cast<uint8_t>(firstLetter), before.offset)) {
        return;  // Commit writes memory's final counters; Undo needs only the first value
    }
    raised_.push_back({{static_cast<uint8_t>(section), static_cast<uint8_t>(firstLetter), bucket,
                        static_cast<uint32_t>(position)},
                       before});
}

namespace {

// Inserts key (never 0) into an open-addressing set; whether it was there already.
bool InsertKey(std::vector<uint64_t>& keys, uint64_t key) {
    const std::size_t mask = keys.size() - 1;
    for (std::size_t i = (key * 0x9E3779B97F4A7C15ull) >> 32 & mask;; i = (i + 1) & mask) {
        if (keys[i] == key) {
            return true;
        }
        if (keys[i] == 0) {
            keys[i] = key;
            return false;
        }
    }
}

uint64_t RaisedKey(uint8_t section, uint8_t firstLetter, int32_t offset) {
    return (uint64_t{section} + 1) << 40 | uint64_t{firstLetter} << 32 | static_cast<uint32_t>(offset);
}

}  // namespace

bool MessageChanges::RaisedBefore(uint8_t section, uint8_t firstLetter, int32_t offset) {
    if (2 * (raised_.size() + 1) > raisedKeys_.size()) {
        raisedKeys_.assign(std::max<std::size_t>(1024, 2 * raisedKeys_.size()), 0);
        for (const Raised& change : raised_) {
            InsertKey(raisedKeys_, RaisedKey(change.at.section, change.at.firstLetter, change.before.offset));
        }
    }
    return InsertKey(raisedKeys_, RaisedKey(section, firstLetter, offset));
}

void MessageChanges::SortRaised() {
    // By file and offset, so that writes go in file order.
    std::sort(raised_.begin(), raised_.end(), [](const Raised& a, const Raised& b) {
        if (a.at.section != b.at.section) {
            return a.at.section < b.at.section;
        }
        if (a.at.firstLetter != b.at.firstLetter) {
            return a.at.firstLetter < b.at.firstLetter;
        }
        return a.before.offset < b.before.offset;
    });
}

bool MessageChanges::WriteBucketCounts() {
    bool written = true;
    for (TokenSection section : {TokenSection::Body, TokenSection::Header}) {
        int first = kBucketCount;
        int last = -1;
        for (const Placed& at : appended_) {
            if (at.section == static_cast<uint8_t>(section)) {
                first = std::min(first, at.bucket);
                last = std::max(last, at.bucket);
            }
        }
        if (last < first) {
            continue;
        }
        // One write for the span: the counts between are memory's, which match the records held.
        const BucketCounts& counts = tables_->bucketCounts[TableOfSection(section)];
        written =
            files_->WriteBucketCounts(section, first,
                                      std::span<const int16_t>(counts.data() + first,
                                                               static_cast<std::size_t>(last - first + 1))) &&
            written;
    }
    return written;
}

bool MessageChanges::Commit() {
    for (int s = 0; s < 2; ++s) {
        for (int letter = 0; letter < kLetterCount; ++letter) {
            if (appendedCount_[s][letter] == 0) {
                continue;
            }
            writeBuffer_.clear();
            for (const Placed& at : appended_) {
                if (at.section == s && at.firstLetter == letter) {
                    writeBuffer_.push_back(RecordAt(at));
                }
            }
            if (!files_->AppendRecords(static_cast<TokenSection>(s), letter, writeBuffer_)) {
                Undo();
                return false;
            }
        }
    }
    if (!WriteBucketCounts()) {
        Undo();
        return false;
    }
    SortRaised();
    for (const Raised& change : raised_) {
        if (!files_->StageCounters(static_cast<TokenSection>(change.at.section), change.at.firstLetter,
                                   RecordAt(change.at))) {
            Undo();
            return false;
        }
    }
    if (!files_->WriteStagedCounters()) {
        Undo();
        return false;
    }
    return true;
}

void MessageChanges::Undo() {
    // Memory first, then the files are given memory's values back: writing an unchanged value again is
    // harmless, and it needs no note of how far Commit got.
    SortRaised();
    for (const Raised& change : raised_) {
        TokenRecord& record = RecordAt(change.at);
        record = change.before;
        files_->StageCounters(static_cast<TokenSection>(change.at.section), change.at.firstLetter, record);
    }
    files_->WriteStagedCounters();
    for (int table : {kBodyTable, kHeaderTable}) {
        removeBuffer_.clear();
        const uint8_t section =
            static_cast<uint8_t>(table == kBodyTable ? TokenSection::Body : TokenSection::Header);
        for (const Placed& at : appended_) {
            if (at.section == section) {
                removeBuffer_.push_back(at.bucket);
                int16_t& count = tables_->bucketCounts[table][at.bucket];
                count = static_cast<int16_t>(static_cast<uint16_t>(count) - 1);
            }
        }
        tables_->tables[table].RemoveNewest(removeBuffer_);
        tables_->tables[table].MarkChanged();
    }
    for (int s = 0; s < 2; ++s) {
        for (int letter = 0; letter < kLetterCount; ++letter) {
            if (appendedCount_[s][letter] != 0) {
                files_->TruncateTokenFile(static_cast<TokenSection>(s), letter, lengthBefore_[s][letter]);
            }
        }
    }
    WriteBucketCounts();
    for (auto& section : appendedCount_) {
        section.fill(0);
    }
    appended_.clear();
    raised_.clear();
    std::fill(raisedKeys_.begin(), raisedKeys_.end(), 0);
}

}  // namespace bramvell
