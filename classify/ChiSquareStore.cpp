#include "classify/ChiSquareStore.h"

#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "classify/ChiSquareDeltas.h"
#include "classify/ChiSquareRecords.h"
#include "config/FileHandle.h"

namespace bramvell {
namespace {

using namespace chi_square_records;

constexpr unsigned kMaxDatabases = 3;
constexpr int kMaxAttempts = 16;  // map growths (each doubles) and resizes by other processes

// A link planted where the store lives must not redirect its writes.
bool IsLink(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

uint32_t Adjusted(uint32_t count, int64_t delta) {
    const int64_t value = std::clamp<int64_t>(static_cast<int64_t>(count) + delta, 0,
                                              std::numeric_limits<uint32_t>::max());
    return static_cast<uint32_t>(value);
}

uint64_t AdjustedTotal(uint64_t total, int64_t delta) {
    return delta < 0 && total < static_cast<uint64_t>(-delta) ? 0 : total + static_cast<uint64_t>(delta);
}

// LMDB maps its lock file and writes it through memory: a page of it that the file system cannot
// supply (a full disk) ends the process with SIGBUS instead of an error. Its pages are reserved first,
// so a full disk is reported as such. LMDB takes a lock file larger than it needs as room for more
// readers.
constexpr off_t kLockFileBytes = 32 * 1024;

bool ReserveLockFile(const std::string& folder, std::string& problem) {
    const std::string path = folder + "/lock.mdb";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0) {
        return true;  // LMDB's own open reports what is wrong
    }
    struct stat info{};
    const off_t length = ::fstat(fd, &info) == 0 ? std::max(info.st_size, kLockFileBytes) : kLockFileBytes;
    const int error = ::posix_fallocate(fd, 0, length);
    ::close(fd);
    if (error == 0 || error == EOPNOTSUPP || error == EINVAL) {
        return true;  // reserved, or a file system that cannot reserve ahead (nothing better to do)
    }
    problem = path + ": " + std::strerror(error);
    return false;
}

}  // namespace

MessageDigest DigestOfMessage(std::span<const char> message) {
    MessageDigest digest{};
    static_assert(std::tuple_size_v<MessageDigest> == SHA256_DIGEST_LENGTH);
    SHA256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data());
    return digest;
}

ChiSquareStore::~ChiSquareStore() {
    Close();
}

void ChiSquareStore::Close() {
    if (env_ != nullptr) {
        mdb_env_close(env_);
        env_ = nullptr;
    }
}

bool ChiSquareStore::Open(const std::string& folder, bool create, std::string& problem,
                          std::size_t initialMapBytes) {
    Close();
    if (IsLink(folder) || IsLink(folder + "/data.mdb") || IsLink(folder + "/lock.mdb")) {
        problem = folder + ": a symbolic link, not opened";
        return false;
    }
    if (create && !CreateDirectories(folder, kPrivateFolderMode)) {
        problem = folder + ": cannot create the folder";
        return false;
    }
    struct stat folderInfo{};
    if (::stat(folder.c_str(), &folderInfo) == 0 && S_ISDIR(folderInfo.st_mode) && !ReserveLockFile(folder, problem)) {
        return false;
    }
    int rc = mdb_env_create(&env_);
    if (rc == MDB_SUCCESS) {
        mdb_env_set_maxdbs(env_, kMaxDatabases);
        rc = mdb_env_set_mapsize(env_, initialMapBytes);
    }
    if (rc == MDB_SUCCESS) {
        // NOTLS: a snapshot may be read on another thread than the one that took it.
        rc = mdb_env_open(env_, folder.c_str(), MDB_NOTLS, kPrivateFileMode);
    }
    MDB_txn* txn = nullptr;
    if (rc == MDB_SUCCESS) {
        int dead = 0;
        mdb_reader_check(env_, &dead);  // readers of processes that died
        rc = mdb_txn_begin(env_, nullptr, 0, &txn);
        if (rc == MDB_MAP_RESIZED) {
            mdb_env_set_mapsize(env_, 0);
            rc = mdb_txn_begin(env_, nullptr, 0, &txn);
        }
    }
    if (rc == MDB_SUCCESS) {
        rc = mdb_dbi_open(txn, "tokens", MDB_CREATE, &tokens_);
    }
    if (rc == MDB_SUCCESS) {
        rc = mdb_dbi_open(txn, "totals", MDB_CREATE, &totals_);
    }
    if (rc == MDB_SUCCESS) {
        rc = mdb_dbi_open(txn, "messages", MDB_CREATE, &messages_);
    }
    if (rc == MDB_SUCCESS) {
        rc = mdb_txn_commit(txn);
        txn = nullptr;
    }
    if (txn != nullptr) {
        mdb_txn_abort(txn);
    }
    if (rc != MDB_SUCCESS) {
        problem = folder + ": " + mdb_strerror(rc);
        Close();
        return false;
    }
    MDB_envinfo info{};
    mdb_env_info(env_, &info);
    mapBytes_ = info.me_mapsize;
    return true;
}

int ChiSquareStore::SetMapSize(std::size_t bytes) const {
    const int rc = gate_.Resize(env_, bytes);
    MDB_envinfo info{};
    if (rc != EDEADLK && mdb_env_info(env_, &info) == MDB_SUCCESS) {
        mapBytes_ = info.me_mapsize;
    }
    return rc;
}

void ChiSquareStore::GrowMapAhead() {
    MDB_envinfo info{};
    MDB_stat stat{};
    if (env_ == nullptr || mdb_env_info(env_, &info) != MDB_SUCCESS ||
        mdb_env_stat(env_, &stat) != MDB_SUCCESS) {
        return;
    }
    const uint64_t used = (uint64_t{info.me_last_pgno} + 1) * stat.ms_psize;
    if (2 * used > info.me_mapsize) {
        SetMapSize(info.me_mapsize * 2);
    }
}

bool ChiSquareStore::Apply(std::span<const Change> changes, std::vector<StoreOutcome>& outcomes,
                           std::string& problem, const BatchHelp& help) {
    if (env_ == nullptr) {
        problem = "the store is not open";
        return false;
    }
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const int rc = TryApply(changes, outcomes, help);
        if (rc == MDB_SUCCESS) {
            return true;
        }
        if (rc == MDB_MAP_FULL || rc == MDB_MAP_RESIZED) {
            // Full: twice as large. Resized by another process: its size.
            const int grown = SetMapSize(rc == MDB_MAP_FULL ? mapBytes_ * 2 : 0);
            if (grown == EDEADLK) {
                problem = "the store's map is full and cannot grow while this thread reads the store";
                return false;
            }
            if (grown != MDB_SUCCESS) {
                problem = mdb_strerror(grown);
                return false;
            }
            continue;
        }
        problem = mdb_strerror(rc);
        return false;
    }
    problem = "the store's map could not be grown enough";
    return false;
}

int ChiSquareStore::TryApply(std::span<const Change> changes, std::vector<StoreOutcome>& outcomes,
                             const BatchHelp& help) {
    outcomes.clear();
    if (help.written != nullptr) {
        help.written->clear();
    }
    MDB_txn* txn = nullptr;
    gate_.Opened();
    int rc = mdb_txn_begin(env_, nullptr, 0, &txn);
    if (rc != MDB_SUCCESS) {
        gate_.Closed();
        return rc;
    }
    MessageTotals totals = TotalsOf(txn, totals_);
    // Summed ahead, the deltas here are only corrections: none when every message is new.
    const bool summedAhead = !help.summedAsNew.empty();
    ChiSquareDeltas& deltas = deltas_;
    deltas.Clear();
    if (!summedAhead) {
        std::size_t tokenCount = 0;
        for (const Change& change : changes) {
            tokenCount += change.tokens.size();
        }
        deltas.Reserve(tokenCount);
    }
    struct Correction {
        const Change* change;
        int64_t classDelta;
        int64_t otherDelta;
    };
    std::vector<Correction> corrections;
    bool counted = false;  // whether any change counts its message in or out
    for (const Change& change : changes) {
        MDB_val key = ValueOf(change.digest.data(), change.digest.size());
        MDB_val value;
        rc = mdb_get(txn, messages_, &key, &value);
        if (rc != MDB_SUCCESS && rc != MDB_NOTFOUND) {
            break;
        }
        MailClass learned = MailClass::Spam;
        uint32_t weight = 1;
        const bool known = rc == MDB_SUCCESS && LearnedOf(value, learned, weight);
        rc = MDB_SUCCESS;
        const MailClass mailClass = change.mailClass;
        const bool held = known && learned == mailClass;
        int64_t classDelta = 0;
        int64_t otherDelta = 0;
        StoreOutcome outcome = StoreOutcome::NotLearned;
        if (change.kind == Change::Kind::Learn) {
            if (held) {
                outcome = StoreOutcome::Duplicate;
            } else {
                outcome = known ? StoreOutcome::Moved : StoreOutcome::Learned;
                classDelta = 1;
                otherDelta = known ? -static_cast<int64_t>(weight) : 0;
                const auto stored = static_cast<uint8_t>(mailClass);
                MDB_val classValue = ValueOf(&stored, 1);
                rc = mdb_put(txn, messages_, &key, &classValue, 0);
            }
        } else if (change.kind == Change::Kind::Unlearn) {
            if (held) {
                outcome = StoreOutcome::Unlearned;
                classDelta = -static_cast<int64_t>(weight);
                rc = mdb_del(txn, messages_, &key, nullptr);
            }
        } else if (held && weight < kMaxWeight) {
            outcome = StoreOutcome::Relearned;
            classDelta = 1;
            const uint8_t stored[2] = {static_cast<uint8_t>(mailClass), static_cast<uint8_t>(weight + 1)};
            MDB_val entry = ValueOf(stored, sizeof stored);
            rc = mdb_put(txn, messages_, &key, &entry, 0);
        }
        if (rc != MDB_SUCCESS) {
            break;
        }
        outcomes.push_back(outcome);
        (mailClass == MailClass::Spam ? totals.spam : totals.ham) =
            AdjustedTotal(mailClass == MailClass::Spam ? totals.spam : totals.ham, classDelta);
        (mailClass == MailClass::Spam ? totals.ham : totals.spam) =
            AdjustedTotal(mailClass == MailClass::Spam ? totals.ham : totals.spam, otherDelta);
        counted = counted || classDelta != 0 || otherDelta != 0;
        if (summedAhead && change.summedAhead) {
            classDelta -= 1;  // the tokens' sums ahead counted it once in its class already
        }
        if (classDelta != 0 || otherDelta != 0) {
            if (summedAhead) {
                corrections.push_back({&change, classDelta, otherDelta});
            } else {
                const bool spam = mailClass == MailClass::Spam;
                deltas.Add(change.tokens, static_cast<int32_t>(spam ? classDelta : otherDelta),
                           static_cast<int32_t>(spam ? otherDelta : classDelta));
            }
        }
    }
    // Corrections only when some message counted: a batch of messages all held already (learning a
    // folder again) changes no count and writes none.
    for (const Correction& correction :
         counted ? std::span<const Correction>(corrections) : std::span<const Correction>()) {
        const bool spam = correction.change->mailClass == MailClass::Spam;
        deltas.Add(correction.change->tokens,
                   static_cast<int32_t>(spam ? correction.classDelta : correction.otherDelta),
                   static_cast<int32_t>(spam ? correction.otherDelta : correction.classDelta));
    }
    // Summed ahead and nothing to correct: the runs are written as they are, walked as one.
    std::span<const ChiSquareDeltas::Entry> corrected;
    std::span<const std::span<const ChiSquareDeltas::Entry>> runs = help.summedAsNew;
    if (!counted) {
        runs = {};
    } else if (!deltas.Empty() && rc == MDB_SUCCESS) {
        for (const std::span<const ChiSquareDeltas::Entry> run : help.summedAsNew) {
            deltas.AddSummed(run);
        }
        corrected = deltas.Summed();
        runs = std::span(&corrected, 1);
    }
    ChiSquareDeltas::MergedRuns summed(
        rc == MDB_SUCCESS ? runs : std::span<const std::span<const ChiSquareDeltas::Entry>>());
    if (help.written != nullptr) {
        help.written->reserve(summed.MostEntries());  // at once, not doubling while the writer waits
    }
    // Written in key order through one cursor: a key on the cursor's page is found without walking
    // the B-tree from its root, and a key found is rewritten in place.
    MDB_cursor* cursor = nullptr;
    if (rc == MDB_SUCCESS) {
        rc = mdb_cursor_open(txn, tokens_, &cursor);
    }
    const std::size_t maxKeyBytes = static_cast<std::size_t>(mdb_env_get_maxkeysize(env_));
    ChiSquareDeltas::Entry delta{};
    while (rc == MDB_SUCCESS && summed.Next(delta)) {
        // No change at all (say, a correction took back what the sums ahead counted): nothing to write,
        // and the counts are only read when they are to be handed on.
        const bool unchanged = delta.spam == 0 && delta.ham == 0;
        if (delta.token.empty() || delta.token.size() > maxKeyBytes ||
            (unchanged && help.written == nullptr)) {
            continue;
        }
        MDB_val key = ValueOf(delta.token);
        // A token new to the store is put with one search; for one held already, that same search
        // finds its counts and leaves the cursor on it, to be rewritten in place.
        TokenCounts counts{Adjusted(0, delta.spam), Adjusted(0, delta.ham)};
        MDB_val value = ValueOf(&counts, sizeof counts);
        bool put = false;
        int found = MDB_NOTFOUND;
        if (counts.spam != 0 || counts.ham != 0) {
            found = mdb_cursor_put(cursor, &key, &value, MDB_NOOVERWRITE);
            put = found == MDB_SUCCESS;
            found = put ? MDB_NOTFOUND : (found == MDB_KEYEXIST ? MDB_SUCCESS : found);
        } else {
            found = mdb_cursor_get(cursor, &key, &value, MDB_SET_KEY);
        }
        if (found != MDB_SUCCESS && found != MDB_NOTFOUND) {
            rc = found;
            break;
        }
        if (!put) {
            counts = found == MDB_SUCCESS ? CountsOf(value) : TokenCounts{};
        }
        if (!put && !unchanged) {
            counts.spam = Adjusted(counts.spam, delta.spam);
            counts.ham = Adjusted(counts.ham, delta.ham);
            if (counts.spam == 0 && counts.ham == 0) {
                if (found == MDB_SUCCESS) {
                    rc = mdb_cursor_del(cursor, 0);
                }
            } else {
                MDB_val stored = ValueOf(&counts, sizeof counts);
                key = ValueOf(delta.token);
                rc = mdb_cursor_put(cursor, &key, &stored, found == MDB_SUCCESS ? MDB_CURRENT : 0);
            }
        }
        if (help.written != nullptr) {
            help.written->push_back({delta.token, counts});
        }
        if (rc != MDB_SUCCESS) {
            break;
        }
    }
    if (cursor != nullptr) {
        mdb_cursor_close(cursor);
    }
    if (rc == MDB_SUCCESS) {
        MDB_val key = ValueOf(kTotalsKey);
        MDB_val value = ValueOf(&totals, sizeof totals);
        rc = mdb_put(txn, totals_, &key, &value, 0);
    }
    if (rc == MDB_SUCCESS) {
        rc = mdb_txn_commit(txn);
    } else {
        mdb_txn_abort(txn);
    }
    gate_.Closed();
    if (rc != MDB_SUCCESS && help.written != nullptr) {
        help.written->clear();  // nothing was written
    }
    return rc;
}

}  // namespace bramvell
