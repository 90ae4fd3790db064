// Token files ("01nn", "21nn") and bucket-count files ("X010".."X330") are binary files that a crash,
// a full disk or a hand can damage. The input describes a Data folder (several files, see
// SplitNamedFiles). The loader must read any of it, trusting no count; a message is scored with what
// loaded; then one message is learned into tables and files, and a fresh load must give back exactly
// what memory holds.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "classify/CorpusTrainer.h"
#include "classify/MessageClassifier.h"
#include "classify/TextLineSource.h"
#include "classify/TokenDataFolder.h"
#include "classify/TokenTableLoader.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "fuzz/support/FuzzInput.h"
#include "fuzz/support/ScratchFolder.h"

namespace bramvell::fuzz {
namespace {

constexpr std::size_t kMostFiles = 12;
constexpr std::size_t kLongestMessageText = 2048;
constexpr std::string_view kMessage =
    "Subject: Cheap Pills and a FREE prize\n\nAbout the meeting: bring the Agenda, the MINUTES and "
    "zebra zygote quartz.\n";

bool SameRecord(const TokenRecord& a, const TokenRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void RequireSameTables(const TokenTables& memory, const TokenTables& loaded) {
    for (int table : {kBodyTable, kHeaderTable}) {
        Require(memory.tables[table].RecordCount() == loaded.tables[table].RecordCount(),
                "a reload holds as many records as memory");
        for (int bucket = 0; bucket < kBucketCount; ++bucket) {
            const std::vector<TokenRecord>& a = memory.tables[table].Bucket(bucket);
            const std::vector<TokenRecord>& b = loaded.tables[table].Bucket(bucket);
            Require(a.size() == b.size(), "a reload fills each bucket as memory does");
            for (std::size_t i = 0; i < a.size(); ++i) {
                Require(SameRecord(a[i], b[i]), "a reload gives each record as memory holds it");
            }
        }
    }
    for (int table = 0; table < kTokenTableCount; ++table) {
        Require(memory.bucketCounts[table] == loaded.bucketCounts[table], "a reload gives the bucket counts");
    }
}

// Records the loader must find: every whole record of every token file.
void CountRecordsInFiles(const std::string& dataFolder, const std::vector<NamedFile>& files,
                         uint64_t (&records)[2]) {
    std::vector<std::string> seen;  // a name given twice is one file
    for (const NamedFile& file : files) {
        const std::optional<TokenFileId> id = ParseTokenFileName(file.name);
        if (!id || std::find(seen.begin(), seen.end(), file.name) != seen.end()) {
            continue;
        }
        seen.push_back(file.name);
        struct stat status {};
        if (::stat((dataFolder + "/" + file.name).c_str(), &status) == 0 &&
            status.st_size > kTokenFileHeaderSize) {
            records[static_cast<int>(id->section)] +=
                (static_cast<uint64_t>(status.st_size) - kTokenFileHeaderSize) / kRecordSize;
        }
    }
}

void Run(std::string_view input) {
    const ScratchFolder& scratch = ScratchFolder::Instance();
    scratch.Clear();
    const std::string home = scratch.MakeFolder("home");
    const std::string dataFolder = scratch.MakeFolder("home/Data");
    const std::vector<NamedFile> files = SplitNamedFiles(input, kMostFiles);
    for (const NamedFile& file : files) {
        scratch.WriteFile("home/Data/" + file.name, file.content);
    }
    uint64_t recordsInFiles[2] = {0, 0};
    CountRecordsInFiles(dataFolder, files, recordsInFiles);

    // Loading builds large tables; keep them between inputs (every load starts from empty tables).
    static TokenTables tables;
    static TokenTables reloaded;
    // An input whose first byte is '!' quits part-way, as when the application closes during a load.
    const bool limited = !input.empty() && input[0] == '!';
    std::size_t pumpsLeft = input.size() % 61;
    const auto pump = [limited, &pumpsLeft] {
        if (!limited) {
            return true;
        }
        if (pumpsLeft == 0) {
            return false;
        }
        --pumpsLeft;
        return true;
    };
    if (LoadTokenTables(tables, home, pump) == LoadStatus::Stopped) {
        Require(limited && pumpsLeft == 0, "the load stops only when the pump says so");
        return;
    }
    Require(tables.bodyTokenTable().RecordCount() == recordsInFiles[0], "every whole body record loads");
    Require(tables.headerTokenTable().RecordCount() == recordsInFiles[1], "every whole subject record loads");
    for (int table : {kBodyTable, kHeaderTable}) {
        for (int bucket = 0; bucket < kBucketCount; ++bucket) {
            for (const TokenRecord& record : tables.tables[table].Bucket(bucket)) {
                Require(record.offset >= kTokenFileHeaderSize &&
                            (record.offset - kTokenFileHeaderSize) % kRecordSize == 0,
                        "a record's offset is where it lies in its file");
            }
        }
    }

    // Score a message that mixes fixed words with text from the input, under message counts that
    // the input picks (zero included).
    FilterSettings settings;
    settings.programFolder = home;
    settings.activityLogEnabled = 0;
    settings.tokenTables = &tables;
    settings.spamMessageCount = static_cast<int32_t>(files.size() % 4);
    settings.hamMessageCount = static_cast<int32_t>(input.size() % 5);
    std::string message(kMessage);
    if (!files.empty()) {
        message.append(files.front().content.substr(0, kLongestMessageText));
    }
    TextLineSource lines;
    lines.SetText(message);
    MessageClassifier classifier(settings, nullptr);
    const ClassificationResult result = classifier.Classify(lines);
    Require(result.score >= 0 && result.score <= 10000, "the score is 0..10000");

    // Learn the message as spam: memory and files change together.
    scratch.MakeFolder("samples");
    scratch.WriteFile("samples/message", message);
    const int32_t spamBefore = settings.spamMessageCount;
    CorpusTrainer(settings).Learn(SampleClass::Spam, scratch / "samples");
    Require(settings.spamMessageCount == spamBefore + 1, "a learned message is counted");
    LoadTokenTables(reloaded, home);
    RequireSameTables(tables, reloaded);
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    bramvell::fuzz::Run(bramvell::fuzz::AsText(data, size));
    return 0;
}
