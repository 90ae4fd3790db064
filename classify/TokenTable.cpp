#include "classify/TokenTable.h"

#include <algorithm>
#include <bit>

namespace bramvell {
namespace {

constexpr std::size_t kInitialBucketRoom = 4;
constexpr std::size_t kInitialIndexSize = 1024;
// A reservation asked for by file sizes is capped: damaged files must not claim all memory.
constexpr std::size_t kMostReservedRecords = std::size_t{1} << 22;

bool HasCapital(const char* key) {
    for (int i = 0; i < kKeyLength; ++i) {
        if (IsCapital(static_cast<unsigned char>(key[i]))) {
            return true;
        }
    }
    return false;
}

TokenKey LowerKey(const char* stored) {
    TokenKey key;
    for (int i = 0; i < kKeyLength; ++i) {
        key.bytes[i] = LowerAscii(stored[i]);
    }
    return key;
}

bool EqualIgnoringCase(const char* stored, const TokenKey& key) {
    for (int i = 0; i < kKeyLength; ++i) {
        if (LowerAscii(stored[i]) != key.bytes[i]) {
            return false;
        }
    }
    return true;
}

uint64_t HashOf(int bucket, const TokenKey& key) {
    uint64_t low = 0;
    uint32_t high = 0;
    std::memcpy(&low, key.bytes.data(), 8);
    std::memcpy(&high, key.bytes.data() + 8, 4);
    uint64_t hash =
        low * 0x9E3779B97F4A7C15ull + (static_cast<uint64_t>(bucket) << 32 | high) * 0xC2B2AE3D27D4EB4Full;
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 33);
}

const std::vector<TokenRecord> kNoRecords;

}  // namespace

void TokenTable::MakeBuckets() {
    if (buckets_ == nullptr) {
        buckets_ = std::make_unique<std::vector<TokenRecord>[]>(kBucketCount);
        mixedCase_.assign(kBucketCount, 0);
    }
}

const std::vector<TokenRecord>& TokenTable::Bucket(int bucket) const {
    return buckets_ != nullptr ? buckets_[bucket] : kNoRecords;
}

const TokenRecord* TokenTable::Find(int bucket, const TokenKey& key) const {
    if (index_.empty()) {
        return nullptr;
    }
    const uint64_t hash = HashOf(bucket, key);
    const uint64_t bit = hash >> presenceShift_;
    if ((presence_[bit / 64] >> (bit % 64) & 1) == 0) {
        return nullptr;
    }
    const std::vector<TokenRecord>& records = buckets_[bucket];
    const bool mixed = mixedCase_[bucket] != 0;
    const std::size_t mask = index_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const IndexEntry& entry = index_[slot];
        if (entry.bucketPlusOne == 0) {
            return nullptr;
        }
        if (entry.bucketPlusOne != static_cast<uint32_t>(bucket) + 1) {
            continue;
        }
        const TokenRecord& record = records[entry.position];
        if (KeyMatches(record, mixed, key)) {
            return &record;
        }
    }
}

bool TokenTable::KeyMatches(const TokenRecord& record, bool mixed, const TokenKey& lowerKey) {
    return mixed ? EqualIgnoringCase(record.key, lowerKey)
                 : std::memcmp(record.key, lowerKey.bytes.data(), kKeyLength) == 0;
}

TokenRecord* TokenTable::Find(int bucket, const TokenKey& key) {
    return const_cast<TokenRecord*>(static_cast<const TokenTable*>(this)->Find(bucket, key));
}

TokenRecord& TokenTable::Append(int bucket, const TokenRecord& record) {
    MakeBuckets();
    TokenKey lowerKey;
    const uint32_t position = Store(bucket, record, lowerKey);
    ++recordCount_;
    ++version_;
    Insert(bucket, position, lowerKey);
    return buckets_[bucket][position];
}

uint32_t TokenTable::Store(int bucket, const TokenRecord& record, TokenKey& lowerKey) {
    if (HasCapital(record.key)) {
        mixedCase_[bucket] = 1;
        lowerKey = LowerKey(record.key);
    } else {
        std::memcpy(lowerKey.bytes.data(), record.key, kKeyLength);
    }
    std::vector<TokenRecord>& records = buckets_[bucket];
    records.push_back(record);
    return static_cast<uint32_t>(records.size() - 1);
}

void TokenTable::AppendMany(const int* buckets, const TokenRecord* records, std::size_t count) {
    if (count == 0) {
        return;
    }
    MakeBuckets();
    if ((recordCount_ + count + 1) * 2 > index_.size()) {
        GrowIndex(recordCount_ + count);
    }
    constexpr std::size_t kAhead = 8;
    constexpr std::size_t kChunk = 256;
    uint64_t hashes[kChunk];
    uint32_t positions[kChunk];
    const std::size_t mask = index_.size() - 1;
    for (std::size_t first = 0; first < count; first += kChunk) {
        const std::size_t n = std::min(kChunk, count - first);
        for (std::size_t i = 0; i < n; ++i) {
            const int bucket = buckets[first + i];
            const TokenRecord& record = records[first + i];
            TokenKey lowerKey;
            positions[i] = Store(bucket, record, lowerKey);
            hashes[i] = HashOf(bucket, lowerKey);
            if (i < kAhead) {
                __builtin_prefetch(&index_[hashes[i] & mask]);
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (i + kAhead < n) {
                __builtin_prefetch(&index_[hashes[i + kAhead] & mask]);
            }
            ++recordCount_;
            ++version_;
            Place(hashes[i], buckets[first + i], positions[i]);
        }
    }
}

void TokenTable::Insert(int bucket, uint32_t position, const TokenKey& lowerKey) {
    if ((recordCount_ + 1) * 2 > index_.size()) {
        GrowIndex(recordCount_);
    }
    Place(HashOf(bucket, lowerKey), bucket, position);
}

void TokenTable::Place(uint64_t hash, int bucket, uint32_t position) {
    const std::size_t mask = index_.size() - 1;
    const std::vector<TokenRecord>& records = buckets_[bucket];
    const bool mixed = mixedCase_[bucket] != 0;
    std::size_t slot = hash & mask;
    while (index_[slot].bucketPlusOne != 0) {
        // A key already indexed keeps its first record, and the duplicate stays out of the index: equal
        // keys would otherwise pile up on one probe path and make every later one walk them all.
        if (index_[slot].bucketPlusOne == static_cast<uint32_t>(bucket) + 1 &&
            KeyMatches(records[index_[slot].position], mixed, LowerKey(records[position].key))) {
            return;
        }
        slot = (slot + 1) & mask;
    }
    index_[slot] = {static_cast<uint32_t>(bucket) + 1, position};
    const uint64_t bit = hash >> presenceShift_;
    presence_[bit / 64] |= uint64_t{1} << (bit % 64);
}

void TokenTable::ReserveIndex(std::size_t records) {
    records = std::min(records, kMostReservedRecords);
    if (records * 2 > index_.size()) {
        GrowIndex(records);
    }
}

void TokenTable::GrowIndex(std::size_t records) {
    MakeBuckets();
    std::size_t size = index_.empty() ? kInitialIndexSize : index_.size() * 2;
    while (size < (records + 1) * 2) {
        size *= 2;
    }
    Reindex(size);
}

void TokenTable::RemoveNewest(std::span<const int> buckets) {
    if (buckets.empty() || buckets_ == nullptr) {
        return;
    }
    for (int bucket : buckets) {
        if (!buckets_[bucket].empty()) {
            buckets_[bucket].pop_back();
            --recordCount_;
        }
    }
    ++version_;
    // Rare (a learning step undone): rebuilding beats deleting from an open-addressing index.
    Reindex(index_.size());
}

void TokenTable::Reindex(std::size_t size) {
    index_.assign(size, IndexEntry{});
    // Four presence bits per index slot: few false hits, and small enough to stay in cache.
    const std::size_t presenceBits = size * 4;
    presence_.assign(presenceBits / 64, 0);
    presenceShift_ = 64 - std::countr_zero(presenceBits);
    // Re-inserted in bucket order and, within a bucket, in arrival order, so the first of two equal
    // keys still comes first on its probe path.
    for (int bucket = 0; bucket < kBucketCount; ++bucket) {
        const std::vector<TokenRecord>& records = buckets_[bucket];
        for (std::size_t position = 0; position < records.size(); ++position) {
            Place(HashOf(bucket, LowerKey(records[position].key)), bucket, static_cast<uint32_t>(position));
        }
    }
}

void TokenTable::Reserve(int bucket, std::size_t records) {
    MakeBuckets();
    buckets_[bucket].reserve(records);
}

void TokenTable::EnsureStorage(int bucket) {
    MakeBuckets();
    if (buckets_[bucket].capacity() == 0) {
        buckets_[bucket].reserve(kInitialBucketRoom);
    }
}

void TokenTable::Clear() {
    buckets_.reset();
    mixedCase_.clear();
    index_ = {};
    presence_ = {};
    presenceShift_ = 64;
    recordCount_ = 0;
    ++version_;
}

}  // namespace bramvell
