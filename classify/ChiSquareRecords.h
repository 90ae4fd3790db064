#pragma once

#include <lmdb.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "classify/ChiSquareStore.h"

namespace bramvell::chi_square_records {

// How the store's values are laid out, for the store and its snapshots.
inline constexpr std::string_view kTotalsKey = "messages";

inline MDB_val ValueOf(const void* data, std::size_t size) {
    return MDB_val{size, const_cast<void*>(data)};
}

inline MDB_val ValueOf(std::string_view text) {
    return ValueOf(text.data(), text.size());
}

inline TokenCounts CountsOf(const MDB_val& value) {
    TokenCounts counts;
    if (value.mv_size == sizeof counts) {
        std::memcpy(&counts, value.mv_data, sizeof counts);
    }
    return counts;
}

// A message's entry: its class, then its weight when above one. Anything else is not an entry.
inline bool LearnedOf(const MDB_val& value, MailClass& learned, uint32_t& weight) {
    const auto* bytes = static_cast<const uint8_t*>(value.mv_data);
    if (value.mv_size < 1 || value.mv_size > 2) {
        return false;
    }
    learned = static_cast<MailClass>(bytes[0]);
    weight = value.mv_size == 2 ? std::clamp<uint32_t>(bytes[1], 1, ChiSquareStore::kMaxWeight) : 1;
    return true;
}

inline MessageTotals TotalsOf(MDB_txn* txn, MDB_dbi totals) {
    MessageTotals result;
    MDB_val key = ValueOf(kTotalsKey);
    MDB_val value;
    if (mdb_get(txn, totals, &key, &value) == MDB_SUCCESS && value.mv_size == sizeof result) {
        std::memcpy(&result, value.mv_data, sizeof result);
    }
    return result;
}

}  // namespace bramvell::chi_square_records
