#include "classify/TokenTableLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "classify/TokenDataFolder.h"
#include "classify/TokenTables.h"
#include "config/FileHandle.h"

namespace bramvell {
namespace {

// Bytes of one token file that are read: a real file holds some thousands of records (tens of
// kilobytes to a few megabytes), so this is far above any, yet bounds what a damaged one costs.
constexpr uint64_t kMaxTokenFileSize = uint64_t{256} << 20;

struct TokenFileEntry {
    std::string name;
    TokenFileId id;
    uint64_t size;
};

// Reads up to `length` bytes at the current position; returns the bytes read (what came before an
// error counts as read).
std::size_t ReadUpTo(int fd, char* buffer, std::size_t length) {
    std::size_t got = 0;
    ReadFully(fd, buffer, length, got);
    return got;
}

void CreateMissingCountFiles(const std::string& dataFolder) {
    const std::string zeros(kBucketCountFileSize, '\0');
    for (int table = 0; table < kTokenTableCount; ++table) {
        const std::string path = dataFolder + "/" + BucketCountFileName(table);
        FileHandle file(OpenNoFollow(path, O_WRONLY | O_CREAT | O_EXCL));
        if (!file.IsOpen()) {
            continue;  // present already, or the folder is not writable
        }
        if (!WriteAll(file.Get(), zeros)) {
            // A short file would stay short; gone, it is made whole by the next start.
            ::unlink(path.c_str());
        }
    }
}

void ReadCountFile(const std::string& path, BucketCounts& counts) {
    counts.fill(0);
    FileHandle file(OpenRegularForReading(path));
    if (file.IsOpen()) {
        ReadUpTo(file.Get(), reinterpret_cast<char*>(counts.data()), kBucketCountFileSize);
    }
}

// Token files of the folder in byte-wise name order, directories and other names left out.
std::vector<TokenFileEntry> ListTokenFiles(const std::string& dataFolder) {
    std::vector<TokenFileEntry> entries;
    std::error_code error;
    std::filesystem::directory_iterator it(dataFolder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        std::optional<TokenFileId> id = ParseTokenFileName(name);
        if (!id) {
            continue;
        }
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            continue;
        }
        entries.push_back({std::move(name), *id, static_cast<uint64_t>(status.st_size)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TokenFileEntry& a, const TokenFileEntry& b) { return a.name < b.name; });
    return entries;
}

uint64_t WholeRecords(uint64_t fileSize) {
    fileSize = std::min(fileSize, kMaxTokenFileSize);
    return fileSize <= kTokenFileHeaderSize ? 0 : (fileSize - kTokenFileHeaderSize) / kRecordSize;
}

// Gives each bucket the room its count asks for, unless the counts together ask for more records
// than the files hold (then they are wrong, and the buckets grow as records arrive).
void ReserveFromCounts(TokenTable& table, const BucketCounts& counts, uint64_t recordsInFiles) {
    uint64_t asked = 0;
    for (int16_t count : counts) {
        asked += count > 0 ? static_cast<uint64_t>(count) : 0;
    }
    if (asked == 0 || asked > recordsInFiles) {
        return;
    }
    for (int bucket = 0; bucket < kBucketCount; ++bucket) {
        if (counts[bucket] > 0) {
            table.Reserve(bucket, static_cast<std::size_t>(counts[bucket]));
        }
    }
}

// Appends every whole record of one token file to its table; false when the pump said stop.
bool LoadTokenFile(TokenTables& tables, const std::string& path, const TokenFileId& id,
                   const PumpCallback& pump) {
    FileHandle file(OpenRegularForReading(path));
    if (!file.IsOpen()) {
        return true;  // a file that cannot be opened contributes nothing
    }
    const int fd = file.Get();
    TokenTable& table = tables.tables[TableOfSection(id.section)];
    constexpr std::size_t kRecordsPerRead = 1024;
    std::vector<char> buffer(kRecordsPerRead * kRecordSize);
    std::vector<TokenRecord> chunk(pump ? 0 : kRecordsPerRead);
    std::vector<int> buckets(pump ? 0 : kRecordsPerRead);
    char header[kTokenFileHeaderSize];
    bool keepGoing = true;
    if (ReadUpTo(fd, header, sizeof header) == sizeof header) {
        uint64_t position = kTokenFileHeaderSize;
        while (keepGoing) {
            const std::size_t got = ReadUpTo(fd, buffer.data(), buffer.size());
            const std::size_t records = got / kRecordSize;  // a trailing partial record is skipped
            if (!pump) {
                // Nobody to answer between records: the whole read goes in under one lock.
                for (std::size_t i = 0; i < records; ++i) {
                    std::memcpy(&chunk[i], buffer.data() + i * kRecordSize, kRecordSize);
                    chunk[i].offset = static_cast<int32_t>(position);
                    position += kRecordSize;
                    buckets[i] = RecordBucket(id.firstLetter, chunk[i]);
                }
                std::unique_lock lock(tables.mutex);
                table.AppendMany(buckets.data(), chunk.data(), records);
            }
            for (std::size_t i = 0; i < records && keepGoing && pump; ++i) {
                TokenRecord record;
                std::memcpy(&record, buffer.data() + i * kRecordSize, kRecordSize);
                record.offset = static_cast<int32_t>(position);
                position += kRecordSize;
                {
                    std::unique_lock lock(tables.mutex);
                    table.Append(RecordBucket(id.firstLetter, record), record);
                }
                keepGoing = KeepGoing(pump);
            }
            if (got < buffer.size() ||
                position > std::min<uint64_t>(INT32_MAX, kMaxTokenFileSize) - buffer.size()) {
                break;  // end of file, or records beyond what an offset field can name or we read
            }
        }
    }
    return keepGoing;
}

}  // namespace

LoadStatus LoadTokenTables(TokenTables& tables, std::string_view programFolder, const PumpCallback& pump) {
    const std::string dataFolder = DataFolder(programFolder);
    CreateDirectories(dataFolder, kPrivateFolderMode);

    {
        std::unique_lock lock(tables.mutex);
        tables.Clear();
    }
    struct stat status {};
    if (::stat((dataFolder + "/" + BucketCountFileName(kBodyTable)).c_str(), &status) != 0) {
        CreateMissingCountFiles(dataFolder);
    }
    const std::vector<TokenFileEntry> files = ListTokenFiles(dataFolder);
    uint64_t recordsInFiles[2] = {0, 0};
    for (const TokenFileEntry& file : files) {
        recordsInFiles[static_cast<int>(file.id.section)] += WholeRecords(file.size);
    }
    {
        std::unique_lock lock(tables.mutex);
        for (int table = 0; table < kTokenTableCount; ++table) {
            ReadCountFile(dataFolder + "/" + BucketCountFileName(table), tables.bucketCounts[table]);
            uint64_t records = 0;
            if (table == kBodyTable) {
                records = recordsInFiles[0];
            } else if (table == kHeaderTable) {
                records = recordsInFiles[1];
            }
            ReserveFromCounts(tables.tables[table], tables.bucketCounts[table], records);
            if (records > 0) {
                tables.tables[table].ReserveIndex(static_cast<std::size_t>(records));
            }
        }
    }

    for (TokenSection section : {TokenSection::Body, TokenSection::Header}) {
        for (const TokenFileEntry& file : files) {
            if (file.id.section == section &&
                !LoadTokenFile(tables, dataFolder + "/" + file.name, file.id, pump)) {
                return LoadStatus::Stopped;
            }
        }
    }

    // From here on the counts describe the records really held, whatever the count files said.
    std::unique_lock lock(tables.mutex);
    for (int table : {kBodyTable, kHeaderTable}) {
        for (int bucket = 0; bucket < kBucketCount; ++bucket) {
            tables.bucketCounts[table][bucket] =
                static_cast<int16_t>(static_cast<uint16_t>(tables.tables[table].Bucket(bucket).size()));
        }
    }
    return LoadStatus::Complete;
}

}  // namespace bramvell
