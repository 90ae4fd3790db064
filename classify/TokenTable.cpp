#include "classify/TokenTable.h"

namespace bramvell {
namespace {

constexpr std::size_t kInitialBucketRoom = 4;

bool HasCapital(const char* key) {
    for (int i = 0; i < kKeyLength; ++i) {
        if (IsCapital(static_cast<unsigned char>(key[i]))) {
            return true;
        }
    }
    return false;
}

bool EqualIgnoringCase(const char* stored, const TokenKey& key) {
    for (int i = 0; i < kKeyLength; ++i) {
        if (LowerAscii(stored[i]) != key.bytes[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

TokenTable::TokenTable() : buckets_(kBucketCount), mixedCase_(kBucketCount, 0) {}

const TokenRecord* TokenTable::Find(int bucket, const TokenKey& key) const {
    const std::vector<TokenRecord>& records = buckets_[bucket];
    if (mixedCase_[bucket] == 0) {
        for (const TokenRecord& record : records) {
            if (std::memcmp(record.key, key.bytes.data(), kKeyLength) == 0) {
                return &record;
            }
        }
        return nullptr;
    }
    for (const TokenRecord& record : records) {
        if (EqualIgnoringCase(record.key, key)) {
            return &record;
        }
    }
    return nullptr;
}

TokenRecord* TokenTable::Find(int bucket, const TokenKey& key) {
    return const_cast<TokenRecord*>(static_cast<const TokenTable*>(this)->Find(bucket, key));
}

TokenRecord& TokenTable::Append(int bucket, const TokenRecord& record) {
    if (HasCapital(record.key)) {
        mixedCase_[bucket] = 1;
    }
    return buckets_[bucket].emplace_back(record);
}

void TokenTable::EnsureStorage(int bucket) {
    if (buckets_[bucket].capacity() == 0) {
        buckets_[bucket].reserve(kInitialBucketRoom);
    }
}

std::size_t TokenTable::RecordCount() const {
    std::size_t count = 0;
    for (const auto& records : buckets_) {
        count += records.size();
    }
    return count;
}

void TokenTable::Clear() {
    for (auto& records : buckets_) {
        records = {};
    }
    std::fill(mixedCase_.begin(), mixedCase_.end(), 0);
}

}  // namespace bramvell
