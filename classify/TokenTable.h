#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "classify/TokenRecord.h"

namespace bramvell {

// The token records of one table in 17576 buckets, selected by a token's first three letters. Keys
// compare without regard to case; a bucket's records keep the order in which they arrived, and when
// a damaged file gave a bucket the same key twice, the first one is found.
//
// Beside the buckets a hash index over (bucket, key) makes a lookup one or two probes however full a
// bucket grows. Bucket storage is made on first use, so the tables that stay empty cost nothing.
class TokenTable {
  public:
    TokenTable() = default;

    const TokenRecord* Find(int bucket, const TokenKey& key) const;
    TokenRecord* Find(int bucket, const TokenKey& key);
    // Appends without looking for the key; returns the stored record.
    TokenRecord& Append(int bucket, const TokenRecord& record);
    // Appends records in order, as Append one by one would, faster: the index memory of the next
    // records is fetched while earlier ones are placed.
    void AppendMany(const int* buckets, const TokenRecord* records, std::size_t count);
    void Reserve(int bucket, std::size_t records);
    // Sizes the index for this many records in all (the loader knows them from the file sizes).
    void ReserveIndex(std::size_t records);
    bool HasStorage(int bucket) const { return buckets_ != nullptr && buckets_[bucket].capacity() > 0; }
    // Gives the bucket room when it has none yet (the corpus tool does so before it looks).
    void EnsureStorage(int bucket);
    // Takes back the newest record of each listed bucket (once per listing), as when a learning step
    // that appended them is undone.
    void RemoveNewest(std::span<const int> buckets);

    const std::vector<TokenRecord>& Bucket(int bucket) const;
    // Changes with every change of the table's content, so that readers can tell whether what they
    // derived from it still holds. Append and Clear move it; whoever changes a found record in place
    // calls MarkChanged.
    uint64_t Version() const { return version_; }
    void MarkChanged() { ++version_; }
    std::size_t RecordCount() const { return recordCount_; }
    void Clear();

  private:
    struct IndexEntry {
        uint32_t bucketPlusOne = 0;  // 0: empty
        uint32_t position = 0;       // within the bucket
    };

    void MakeBuckets();
    // Adds record to its bucket and gives its position there and its lower-case key.
    uint32_t Store(int bucket, const TokenRecord& record, TokenKey& lowerKey);
    void Insert(int bucket, uint32_t position, const TokenKey& lowerKey);
    void GrowIndex(std::size_t records);
    void Reindex(std::size_t size);
    static bool KeyMatches(const TokenRecord& record, bool mixed, const TokenKey& lowerKey);
    void Place(uint64_t hash, int bucket, uint32_t position);

    std::unique_ptr<std::vector<TokenRecord>[]> buckets_;
    std::vector<IndexEntry> index_;
    // One bit per hash value (high hash bits): clear means no record has that hash, so most lookups of
    // unknown words end in this small array without touching the index.
    std::vector<uint64_t> presence_;
    int presenceShift_ = 64;
    std::size_t recordCount_ = 0;
    uint64_t version_ = 0;
    // Buckets holding a key with capitals (only hand-made files have them): those compare slowly.
    std::vector<uint8_t> mixedCase_;
};

}  // namespace bramvell
