#include "lists/ListStore.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "lists/BucketFile.h"
#include "lists/ListLine.h"
#include "lists/ListText.h"
#include "lists/TextLineReader.h"

namespace bramvell {

namespace {

constexpr int kLongestExpiryDay = 31;

std::string DataFolderOf(const std::string& programFolder) {
    if (programFolder.empty()) {
        return "Data";
    }
    return programFolder.back() == '/' ? programFolder + "Data" : programFolder + "/Data";
}

// Names of the regular files of a folder (a symbolic link is no list file), in byte-wise order. A
// missing or unreadable folder lists nothing.
std::vector<std::string> SortedFileNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::error_code typeError;
        if (it->symlink_status(typeError).type() == std::filesystem::file_type::regular) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a text amounts to as a stored entry: a C string cut to the list's longest text.
std::string_view KeptText(ListKind kind, std::string_view text) {
    return UpToNul(text).substr(0, static_cast<std::size_t>(TraitsOf(kind).longestText));
}

}  // namespace

ListStore::ListStore(std::string programFolder) : dataFolder_(DataFolderOf(programFolder)) {}

std::string ListStore::BucketFilePath(ListKind kind, int bucket) const {
    return dataFolder_ + "/" + BucketFileName(kind, bucket);
}

void ListStore::InstallBucket(ListKind kind, int bucket, Bucket entries) {
    SenderList& list = ListOf(kind);
    std::unique_lock lock(list.mutex);
    list.buckets[static_cast<std::size_t>(bucket)] = std::move(entries);
}

bool ListStore::LoadAll(const PumpMessages& pump, DisplayLists* displayLists) {
    std::lock_guard change(changeMutex_);
    const auto keepGoing = [&pump] { return !pump || pump(); };
    const std::vector<std::string> names = SortedFileNames(dataFolder_);

    for (ListKind kind : kAllListKinds) {
        {
            SenderList& list = ListOf(kind);
            std::unique_lock lock(list.mutex);
            list.buckets.assign(kListBucketCount, Bucket());
        }
        std::vector<std::string>* display = displayLists ? &(*displayLists)[IndexOf(kind)] : nullptr;
        if (display) {
            display->clear();
        }

        for (const std::string& name : names) {
            if (name.empty() || name[0] != TraitsOf(kind).letter) {
                continue;
            }
            const std::optional<int> bucket = BucketFromFileName(name);
            if (!bucket) {
                continue;
            }
            TextLineReader reader(dataFolder_ + "/" + name);
            if (!reader.IsOpen()) {
                continue;
            }
            std::vector<std::string> kept;
            std::string line;
            while (reader.Next(line)) {
                if (!KeepsLine(kind, line)) {
                    continue;
                }
                if (!keepGoing()) {
                    return false;
                }
                if (display) {
                    display->push_back(line);
                }
                kept.push_back(std::move(line));
            }

            // A second file of the same bucket replaces what the first one loaded.
            Bucket entries;
            entries.reserve(kept.size() + kept.size() / 16 + 10);
            for (const std::string& keptLine : kept) {
                const ListLine split = SplitListLine(kind, keptLine);
                if (split.text.empty()) {
                    continue;
                }
                entries.push_back({std::string(KeptText(kind, split.text)), split.expiryDay});
                if (!keepGoing()) {
                    InstallBucket(kind, *bucket, std::move(entries));
                    return false;
                }
            }
            InstallBucket(kind, *bucket, std::move(entries));
        }
    }
    return true;
}

bool ListStore::AddEntry(ListKind kind, std::string_view text) {
    text = SingleLine(text);
    if (text.empty()) {
        return false;
    }
    std::lock_guard change(changeMutex_);
    const int bucket = BucketOf(text);
    {
        SenderList& list = ListOf(kind);
        std::unique_lock lock(list.mutex);
        list.buckets[static_cast<std::size_t>(bucket)].push_back({std::string(KeptText(kind, text)), 0});
    }
    return AppendToFile(BucketFilePath(kind, bucket), FormatListLine(kind, text, 0));
}

bool ListStore::FindEntry(ListKind kind, std::string_view text) const {
    const std::string_view wanted = KeptText(kind, text);
    const SenderList& list = ListOf(kind);
    std::shared_lock lock(list.mutex);
    const Bucket& bucket = list.buckets[static_cast<std::size_t>(BucketOf(text))];
    return std::any_of(bucket.begin(), bucket.end(),
                       [wanted](const ListEntry& entry) { return EqualsIgnoringCase(entry.text, wanted); });
}

bool ListStore::RemoveEntry(ListKind kind, std::string_view text) {
    return RewriteBucket(kind, text, Change::Remove, 0);
}

bool ListStore::SetExpiryDay(ListKind kind, std::string_view text, int day) {
    if (!TraitsOf(kind).blocked || day < 0 || day > kLongestExpiryDay) {
        return false;
    }
    return RewriteBucket(kind, text, Change::SetDay, day);
}

bool ListStore::RewriteBucket(ListKind kind, std::string_view text, Change change, int day) {
    std::lock_guard changing(changeMutex_);
    const int bucket = BucketOf(text);
    const std::string_view wanted = KeptText(kind, text);
    const auto matches = [wanted](const ListEntry& entry) { return EqualsIgnoringCase(entry.text, wanted); };

    // Work on a copy: memory changes only once the new file is in place.
    Bucket entries;
    {
        const SenderList& list = ListOf(kind);
        std::shared_lock lock(list.mutex);
        entries = list.buckets[static_cast<std::size_t>(bucket)];
    }
    if (change == Change::Remove) {
        std::erase_if(entries, matches);
    } else {
        for (ListEntry& entry : entries) {
            if (matches(entry)) {
                entry.expiryDay = day;
            }
        }
    }

    std::string content;
    for (const ListEntry& entry : entries) {
        content += FormatListLine(kind, entry.text, entry.expiryDay);
    }
    if (!ReplaceFile(BucketFilePath(kind, bucket), content)) {
        return false;
    }
    InstallBucket(kind, bucket, std::move(entries));
    return true;
}

bool ListStore::MatchSubject(std::string_view subject) const {
    const SenderList& list = ListOf(ListKind::D);
    std::shared_lock lock(list.mutex);
    for (const Bucket& bucket : list.buckets) {
        for (const ListEntry& entry : bucket) {
            if (ContainsIgnoringCase(subject, entry.text)) {
                return true;
            }
        }
    }
    return false;
}

void ListStore::FreeAll() {
    std::lock_guard change(changeMutex_);
    for (SenderList& list : lists_) {
        std::unique_lock lock(list.mutex);
        for (Bucket& bucket : list.buckets) {
            Bucket().swap(bucket);
        }
    }
}

std::vector<ListEntry> ListStore::BucketEntries(ListKind kind, int bucket) const {
    if (bucket < 0 || bucket >= kListBucketCount) {
        return {};
    }
    const SenderList& list = ListOf(kind);
    std::shared_lock lock(list.mutex);
    return list.buckets[static_cast<std::size_t>(bucket)];
}

}  // namespace bramvell
