#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "lists/BucketOf.h"
#include "lists/ListKind.h"
#include "lists/SubjectMatcher.h"

namespace bramvell {

// One stored text. Texts are kept cut to the list's longest text; expiryDay is used by the blocked
// lists only (0 = kept indefinitely, 1..31 = the day of the month it falls due).
struct ListEntry {
    std::string text;
    int32_t expiryDay = 0;
};

// Lets the user interface handle pending events during long loops; false means the application is
// quitting and the loop must stop at once. An empty function always goes on.
using PumpMessages = std::function<bool()>;

// The strings each list page shows, one vector per list in the order A..H.
using DisplayLists = std::array<std::vector<std::string>, kListCount>;

// The eight sender lists, each hashed into 1369 buckets in memory and into one file per bucket under
// the Data folder. Every change is on disk when the call returns (or reported as failed).
//
// Threads: changes come from one thread at a time (the UI thread); MatchSubject, FindEntry and
// BucketEntries may run on any thread meanwhile. Each list has a shared_mutex: scans hold it shared,
// and a change holds it exclusively only while it swaps the new bucket contents in, so a scan never
// sees a half-made change.
class ListStore final : public SubjectMatcher {
  public:
    explicit ListStore(std::string programFolder);
    ListStore(const ListStore&) = delete;
    ListStore& operator=(const ListStore&) = delete;

    // Reads every bucket file of the Data folder, lists A..H, files in byte-wise name order. Lines go
    // to the display lists whole; files that cannot be read are skipped. Returns false when the pump
    // reports that the application is quitting (the load stops there).
    bool LoadAll(const PumpMessages& pump = {}, DisplayLists* displayLists = nullptr);

    // Appends the text (kept cut to the longest text) and appends its whole line to the bucket file.
    // Duplicates are stored again. False when the file could not be written; the entry stays in
    // memory for this run all the same.
    bool AddEntry(ListKind kind, std::string_view text);

    // True when the text's bucket holds an equal entry, letter case ignored. A text longer than the
    // list keeps is compared by its kept part, the only part an entry can hold.
    bool FindEntry(ListKind kind, std::string_view text) const;

    // Removes every equal entry of the text's bucket (case ignored) and rewrites the bucket file.
    // False, with memory and file unchanged, when the file could not be rewritten.
    bool RemoveEntry(ListKind kind, std::string_view text);

    // Blocked lists only: gives every equal entry the day (0..31) and rewrites the bucket file.
    // False, with memory and file unchanged, when the file could not be rewritten.
    bool SetExpiryDay(ListKind kind, std::string_view text, int day);

    // True when some Subject Passphrase occurs in the subject, letter case ignored on both sides.
    bool MatchSubject(std::string_view subject) const override;

    // Releases every entry of every list.
    void FreeAll();

    // A copy of one bucket's entries in chain order.
    std::vector<ListEntry> BucketEntries(ListKind kind, int bucket) const;
    std::string BucketFilePath(ListKind kind, int bucket) const;
    const std::string& DataFolder() const { return dataFolder_; }

  private:
    using Bucket = std::vector<ListEntry>;
    struct SenderList {
        mutable std::shared_mutex mutex;
        std::vector<Bucket> buckets = std::vector<Bucket>(kListBucketCount);
    };
    enum class Change { Remove, SetDay };

    bool RewriteBucket(ListKind kind, std::string_view text, Change change, int day);
    void InstallBucket(ListKind kind, int bucket, Bucket entries);
    SenderList& ListOf(ListKind kind) { return lists_[IndexOf(kind)]; }
    const SenderList& ListOf(ListKind kind) const { return lists_[IndexOf(kind)]; }

    std::string dataFolder_;
    std::mutex changeMutex_;  // one change at a time
    std::array<SenderList, kListCount> lists_;
};

}  // namespace bramvell
