#include "classify/CorpusTrainer.h"

#include <limits>
#include <mutex>

#include "classify/TokenDataFiles.h"
#include "classify/TokenTables.h"
#include "config/FileHandle.h"
#include "config/FilterSettings.h"

namespace bramvell {

CorpusTrainer::CorpusTrainer(FilterSettings& settings, CorpusCallbacks callbacks)
    : settings_(settings), callbacks_(std::move(callbacks)) {}

CorpusRunStatus CorpusTrainer::Learn(SampleClass sampleClass) {
    return Learn(sampleClass, settings_.QuarantineFolder());
}

CorpusRunStatus CorpusTrainer::Learn(SampleClass sampleClass, const std::string& folder) {
    if (settings_.tokenTables == nullptr) {
        return CorpusRunStatus::Finished;
    }
    return LearnEntries(sampleClass, ListSampleFolder(folder));
}

CorpusRunStatus CorpusTrainer::LearnFiles(SampleClass sampleClass, const std::vector<std::string>& files) {
    std::vector<SampleEntry> entries;
    entries.reserve(files.size());
    for (const std::string& file : files) {
        entries.push_back({file, false});
    }
    return LearnEntries(sampleClass, entries);
}

CorpusRunStatus CorpusTrainer::LearnEntries(SampleClass sampleClass,
                                            const std::vector<SampleEntry>& entries) {
    if (settings_.tokenTables == nullptr) {
        return CorpusRunStatus::Finished;
    }
    failureMessage_.clear();
    const std::string dataFolder = DataFolder(settings_.programFolder);
    CreateDirectories(dataFolder, kPrivateFolderMode);
    TokenDataFiles files(dataFolder);
    tables_ = settings_.tokenTables;
    files_ = &files;
    class_ = sampleClass;

    CorpusRunStatus status = CorpusRunStatus::Finished;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SampleEntry& entry = entries[i];
        if (!entry.isDirectory && reader_.Open(entry.path)) {
            SampleReadStatus read = SampleReadStatus::Read;
            if (!LearnMessage(read)) {
                failureMessage_ = files.Failure().Message();
                status = CorpusRunStatus::Failed;
                break;
            }
            if (read == SampleReadStatus::Stopped) {
                status = CorpusRunStatus::Stopped;
                break;
            }
        }
        if (callbacks_.progress) {
            callbacks_.progress(i + 1, entries.size());
        }
    }
    tables_ = nullptr;
    files_ = nullptr;
    return status;
}

bool CorpusTrainer::LearnMessage(SampleReadStatus& read) {
    SharedInt& messageCount =
        class_ == SampleClass::Spam ? settings_.spamMessageCount : settings_.hamMessageCount;
    const int newTokensBefore[] = {settings_.newLowerTokenCount, settings_.newCapitalTokenCount,
                                   settings_.newUpperTokenCount};
    {
        std::unique_lock lock(tables_->mutex);
        changes_.Begin(*tables_, *files_);
    }
    messageFailed_ = false;
    tokenizer_.Reset();
    read = reader_.ReadOpened(callbacks_.pump, [this](std::string_view line, bool subjectLine) {
        std::unique_lock lock(tables_->mutex);
        tokenizer_.Feed(line, [this, subjectLine](const Token& token) { LearnToken(token, subjectLine); });
    });
    // A message stopped half way still counts with what it read, as it always did.
    std::unique_lock lock(tables_->mutex);
    if (!messageFailed_ && changes_.Commit()) {
        messageCount += 1;
        return true;
    }
    if (messageFailed_) {
        changes_.Undo();
    }
    settings_.newLowerTokenCount = newTokensBefore[0];
    settings_.newCapitalTokenCount = newTokensBefore[1];
    settings_.newUpperTokenCount = newTokensBefore[2];
    return false;
}

void CorpusTrainer::LearnToken(const Token& token, bool subjectLine) {
    const TokenSection section = subjectLine ? TokenSection::Header : TokenSection::Body;
    const int tableIndex = TableOfSection(section);
    TokenTable& table = tables_->tables[tableIndex];
    const int bucket = token.Bucket();
    const int letter = token.FirstLetter();
    const CaseForm form = token.Form();
    const TokenKey key = token.Key();

    if (messageFailed_) {
        return;
    }
    if (!table.HasStorage(bucket)) {
        table.EnsureStorage(bucket);
    }
    if (TokenRecord* record = table.Find(bucket, key)) {
        changes_.Raising(section, letter, bucket,
                         static_cast<std::size_t>(record - table.Bucket(bucket).data()), *record);
        uint32_t& counter = record->Counter(class_, form);
        if (counter != std::numeric_limits<uint32_t>::max()) {
            ++counter;
        }
        table.MarkChanged();
        return;
    }

    TokenRecord record;
    if (!changes_.NewRecordOffset(section, letter, record.offset)) {
        messageFailed_ = true;
        return;
    }
    int16_t& count = tables_->bucketCounts[tableIndex][bucket];
    count = static_cast<int16_t>(static_cast<uint16_t>(count) + 1);
    record.Counter(class_, form) = 1;
    std::memcpy(record.key, key.bytes.data(), kKeyLength);
    switch (form) {
        case CaseForm::Lower:
            settings_.newLowerTokenCount += 1;
            break;
        case CaseForm::Capitalised:
            settings_.newCapitalTokenCount += 1;
            break;
        case CaseForm::Upper:
            settings_.newUpperTokenCount += 1;
            break;
    }
    table.Append(bucket, record);
    changes_.Appended(section, letter, bucket, table.Bucket(bucket).size() - 1);
}

}  // namespace bramvell
