#pragma once

#include <array>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <vector>

#include "classify/TokenTable.h"

namespace bramvell {

inline constexpr int kTokenTableCount = 12;
inline constexpr int kBodyTable = 0;                                   // X010, body token files "01nn"
inline constexpr int kHeaderTable = 6;                                 // X210, header token files "21nn"
inline constexpr std::size_t kBucketCountFileSize = 2 * kBucketCount;  // 35152

using BucketCounts = std::array<int16_t, kBucketCount>;

// Name of the bucket-count file of table i: X010, X020, X030, X110, ... X330.
std::string BucketCountFileName(int table);

// The twelve token tables and their bucket counts, in the order of the bucket-count files. Only the
// body and header tables hold records; the other ten exist as the data folder has their files.
//
// The filter thread reads the tables for one analysis while the UI thread may learn into them: hold
// `mutex` shared for the whole of one analysis and exclusive for each change.
class TokenTables {
  public:
    TokenTables();

    TokenTable& bodyTokenTable() { return tables[kBodyTable]; }
    const TokenTable& bodyTokenTable() const { return tables[kBodyTable]; }
    TokenTable& headerTokenTable() { return tables[kHeaderTable]; }
    const TokenTable& headerTokenTable() const { return tables[kHeaderTable]; }

    void Clear();

    std::array<TokenTable, kTokenTableCount> tables;
    std::vector<BucketCounts> bucketCounts = std::vector<BucketCounts>(kTokenTableCount);
    mutable std::shared_mutex mutex;
};

}  // namespace bramvell
