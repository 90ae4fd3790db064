#include "classify/CorpusTrainer.h"

#include <limits>
#include <mutex>

#include "classify/TokenDataFiles.h"
#include "classify/TokenTables.h"
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
    TokenDataFiles files(DataFolder(settings_.programFolder));
    tables_ = settings_.tokenTables;
    files_ = &files;
    class_ = sampleClass;

    const std::vector<SampleEntry> entries = ListSampleFolder(folder);
    CorpusRunStatus status = CorpusRunStatus::Finished;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SampleEntry& entry = entries[i];
        if (!entry.isDirectory && reader_.Open(entry.path)) {
            (sampleClass == SampleClass::Spam ? settings_.spamMessageCount : settings_.hamMessageCount) += 1;
            tokenizer_.Reset();
            const SampleReadStatus read =
                reader_.ReadOpened(callbacks_.pump, [this](std::string_view line, bool subjectLine) {
                    std::unique_lock lock(tables_->mutex);
                    tokenizer_.Feed(
                        line, [this, subjectLine](const Token& token) { LearnToken(token, subjectLine); });
                });
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

void CorpusTrainer::LearnToken(const Token& token, bool subjectLine) {
    const TokenSection section = subjectLine ? TokenSection::Header : TokenSection::Body;
    const int tableIndex = TableOfSection(section);
    TokenTable& table = tables_->tables[tableIndex];
    const int bucket = token.Bucket();
    const int letter = token.FirstLetter();
    const CaseForm form = token.Form();
    const TokenKey key = token.Key();

    if (!table.HasStorage(bucket)) {
        table.EnsureStorage(bucket);
        files_->EnsureTokenFile(section, letter);
    }
    if (TokenRecord* record = table.Find(bucket, key)) {
        uint32_t& counter = record->Counter(class_, form);
        if (counter != std::numeric_limits<uint32_t>::max()) {
            ++counter;
        }
        table.MarkChanged();
        files_->WriteCounters(section, letter, *record);
        return;
    }

    int16_t& count = tables_->bucketCounts[tableIndex][bucket];
    count = static_cast<int16_t>(static_cast<uint16_t>(count) + 1);
    files_->WriteBucketCount(section, bucket, count);
    TokenRecord record;
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
    files_->AppendRecord(section, letter, record);
    table.Append(bucket, record);
}

}  // namespace bramvell
