#include "classify/ChiSquareRecords.h"
#include "classify/ChiSquareStore.h"

namespace bramvell {

using namespace chi_square_records;

ChiSquareStore::Snapshot::Snapshot(const ChiSquareStore& store) : store_(store) {
    if (store.env_ == nullptr) {
        return;
    }
    store.gate_.Opened();
    int rc = mdb_txn_begin(store.env_, nullptr, MDB_RDONLY, &txn_);
    if (rc == MDB_MAP_RESIZED) {
        // Another process grew the map: take its size and try once more.
        store.gate_.Closed();
        store.SetMapSize(0);
        store.gate_.Opened();
        rc = mdb_txn_begin(store.env_, nullptr, MDB_RDONLY, &txn_);
    }
    if (rc != MDB_SUCCESS) {
        txn_ = nullptr;
        store.gate_.Closed();
    }
}

ChiSquareStore::Snapshot::~Snapshot() {
    if (txn_ != nullptr) {
        mdb_txn_abort(txn_);
        store_.gate_.Closed();
    }
}

MessageTotals ChiSquareStore::Snapshot::Totals() const {
    return txn_ == nullptr ? MessageTotals{} : TotalsOf(txn_, store_.totals_);
}

TokenCounts ChiSquareStore::Snapshot::Counts(std::string_view token) const {
    if (txn_ == nullptr || token.empty()) {
        return {};
    }
    MDB_val key = ValueOf(token);
    MDB_val value;
    return mdb_get(txn_, store_.tokens_, &key, &value) == MDB_SUCCESS ? CountsOf(value) : TokenCounts{};
}

void ChiSquareStore::Snapshot::CountsInOrder(std::span<const std::string_view> tokens,
                                             std::span<TokenCounts> counts) const {
    MDB_cursor* cursor = nullptr;
    const bool open = txn_ != nullptr && mdb_cursor_open(txn_, store_.tokens_, &cursor) == MDB_SUCCESS;
    for (std::size_t i = 0; i < tokens.size() && i < counts.size(); ++i) {
        counts[i] = {};
        if (!open || tokens[i].empty()) {
            continue;
        }
        MDB_val key = ValueOf(tokens[i]);
        MDB_val value;
        if (mdb_cursor_get(cursor, &key, &value, MDB_SET_KEY) == MDB_SUCCESS) {
            counts[i] = CountsOf(value);
        }
    }
    if (open) {
        mdb_cursor_close(cursor);
    }
}

bool ChiSquareStore::Snapshot::LearnedClass(const MessageDigest& digest, MailClass& learned) const {
    uint32_t weight = 0;
    return Learned(digest, learned, weight);
}

bool ChiSquareStore::Snapshot::Learned(const MessageDigest& digest, MailClass& learned,
                                       uint32_t& weight) const {
    MDB_val key = ValueOf(digest.data(), digest.size());
    MDB_val value;
    return txn_ != nullptr && mdb_get(txn_, store_.messages_, &key, &value) == MDB_SUCCESS &&
           LearnedOf(value, learned, weight);
}

}  // namespace bramvell
