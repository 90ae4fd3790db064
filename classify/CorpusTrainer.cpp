#include "classify/CorpusTrainer.h"

#include <limits>
#include <memory>
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
    auto files = std::make_unique<TokenDataFiles>(dataFolder);
    tables_ = settings_.tokenTables;
    files_ = files.get();
    class_ = sampleClass;

    CorpusRunStatus status = CorpusRunStatus::Finished;
    std::size_t stepLimit = kStepMessages;
    BeginStep(0);
    // One round past the last entry writes the step still open.
    for (std::size_t i = 0; i <= entries.size(); ++i) {
        const bool end = i == entries.size();
        bool learned = true;
        bool stopped = false;
        if (!end && !entries[i].isDirectory && reader_.Open(entries[i].path)) {
            SampleReadStatus read = SampleReadStatus::Read;
            learned = LearnMessage(read);
            stopped = read == SampleReadStatus::Stopped;
        }
        if (learned && !end && !stopped && step_.messages < stepLimit) {
            if (callbacks_.progress) {
                callbacks_.progress(i + 1, entries.size());
            }
            continue;
        }
        if (learned && CommitStep()) {
            if (stopped) {
                status = CorpusRunStatus::Stopped;
                break;
            }
            if (!end && callbacks_.progress) {
                callbacks_.progress(i + 1, entries.size());
            }
            BeginStep(i + 1);
            continue;
        }
        UndoStep(!learned);
        if (stepLimit == 1) {
            failureMessage_ = files_->Failure().Message();
            status = CorpusRunStatus::Failed;
            break;
        }
        // The step's messages once more, each written on its own, so that those before the one that
        // cannot be written stay learned. Fresh files: the failure is kept by the old ones.
        stepLimit = 1;
        i = step_.firstEntry - 1;  // wraps to the step's first entry at the loop's increment
        files = std::make_unique<TokenDataFiles>(dataFolder);
        files_ = files.get();
        BeginStep(step_.firstEntry);
    }
    tables_ = nullptr;
    files_ = nullptr;
    return status;
}

SharedInt& CorpusTrainer::MessageCount() {
    return class_ == SampleClass::Spam ? settings_.spamMessageCount : settings_.hamMessageCount;
}

void CorpusTrainer::BeginStep(std::size_t firstEntry) {
    step_ = {firstEntry, 0, {settings_.newLowerTokenCount, settings_.newCapitalTokenCount,
                             settings_.newUpperTokenCount}};
    std::unique_lock lock(tables_->mutex);
    changes_.Begin(*tables_, *files_);
}

bool CorpusTrainer::CommitStep() {
    std::unique_lock lock(tables_->mutex);
    if (changes_.Commit()) {
        return true;
    }
    stepUndone_ = true;  // Commit took the step back itself
    return false;
}

void CorpusTrainer::UndoStep(bool messageFailed) {
    {
        std::unique_lock lock(tables_->mutex);
        if (messageFailed || !stepUndone_) {
            changes_.Undo();
        }
    }
    stepUndone_ = false;
    MessageCount() -= static_cast<int>(step_.messages);
    settings_.newLowerTokenCount = step_.newTokensBefore[0];
    settings_.newCapitalTokenCount = step_.newTokensBefore[1];
    settings_.newUpperTokenCount = step_.newTokensBefore[2];
}

bool CorpusTrainer::LearnMessage(SampleReadStatus& read) {
    messageFailed_ = false;
    tokenizer_.Reset();
    read = reader_.ReadOpened(callbacks_.pump, [this](std::string_view line, bool subjectLine) {
        std::unique_lock lock(tables_->mutex);
        tokenizer_.Feed(line, [this, subjectLine](const Token& token) { LearnToken(token, subjectLine); });
    });
    if (messageFailed_) {
        return false;
    }
    // A message stopped half way still counts with what it read, as it always did.
    MessageCount() += 1;
    ++step_.messages;
    return true;
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
