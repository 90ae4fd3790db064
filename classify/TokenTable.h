#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "classify/TokenRecord.h"

namespace bramvell {

// The token records of one table in 17576 buckets, selected by a token's first three letters. Keys
// compare without regard to case; a bucket's records keep the order in which they arrived.
class TokenTable {
  public:
    TokenTable();

    const TokenRecord* Find(int bucket, const TokenKey& key) const;
    TokenRecord* Find(int bucket, const TokenKey& key);
    // Appends without looking for the key; returns the stored record.
    TokenRecord& Append(int bucket, const TokenRecord& record);
    void Reserve(int bucket, std::size_t records) { buckets_[bucket].reserve(records); }
    bool HasStorage(int bucket) const { return buckets_[bucket].capacity() > 0; }
    // Gives the bucket room when it has none yet (the corpus tool does so before it looks).
    void EnsureStorage(int bucket);

    const std::vector<TokenRecord>& Bucket(int bucket) const { return buckets_[bucket]; }
    std::size_t RecordCount() const;
    void Clear();

  private:
    std::vector<std::vector<TokenRecord>> buckets_;
    // Buckets holding a key with capitals (only hand-made files have them): those compare slowly.
    std::vector<uint8_t> mixedCase_;
};

}  // namespace bramvell
