#include "classify/ChiSquareTrainer.h"

#include <algorithm>
#include <thread>

#include "classify/SampleFolder.h"
#include "config/FileHandle.h"

namespace bramvell {

bool ReadMessageFile(const std::string& path, std::string& bytes) {
    return ReadRegularFile(path, kMaxMessageFileBytes, bytes);
}

ChiSquareTrainer::ChiSquareTrainer(ChiSquareStore& store, MimeTokenizer::Options options)
    : store_(store), tokenizer_(options) {}

bool ChiSquareTrainer::LearnFolder(MailClass mailClass, const std::string& folder,
                                   ChiSquareTrainingSummary& summary, std::string& problem,
                                   const Progress& progress) {
    std::vector<std::string> files;
    for (const SampleEntry& entry : ListSampleFolder(folder)) {
        if (!entry.isDirectory) {
            files.push_back(entry.path);
        }
    }
    return Learn(mailClass, files, summary, problem, progress);
}

bool ChiSquareTrainer::Learn(MailClass mailClass, const std::vector<std::string>& files,
                             ChiSquareTrainingSummary& summary, std::string& problem, const Progress& progress) {
    return Run(ChiSquareStore::Change::Kind::Learn, mailClass, files, summary, problem, progress);
}

bool ChiSquareTrainer::Unlearn(MailClass mailClass, const std::vector<std::string>& files,
                               ChiSquareTrainingSummary& summary, std::string& problem) {
    return Run(ChiSquareStore::Change::Kind::Unlearn, mailClass, files, summary, problem, {});
}

void ChiSquareTrainer::Tokenize(ChiSquareStore::Change::Kind kind, MailClass mailClass,
                                std::span<const std::string> files,
                                std::vector<ChiSquareStore::Change>& batch, std::size_t& unreadable) const {
    std::vector<ChiSquareStore::Change> changes(files.size());
    std::vector<uint8_t> read(files.size(), 0);
    auto work = [&](std::size_t from, std::size_t to) {
        std::string bytes;
        for (std::size_t i = from; i < to; ++i) {
            if (ReadMessageFile(files[i], bytes)) {
                read[i] = 1;
                changes[i].kind = kind;
                changes[i].mailClass = mailClass;
                changes[i].digest = DigestOfMessage(bytes);
                changes[i].tokens.Assign(tokenizer_.TokenizeInPlace(bytes));
            }
        }
    };
    // Two halves side by side when there are enough messages to be worth a thread.
    if (files.size() >= kSplitFrom) {
        std::thread helper(work, files.size() / 2, files.size());
        work(0, files.size() / 2);
        helper.join();
    } else {
        work(0, files.size());
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (read[i] != 0) {
            batch.push_back(std::move(changes[i]));
        } else {
            ++unreadable;
        }
    }
}

bool ChiSquareTrainer::Run(ChiSquareStore::Change::Kind kind, MailClass mailClass,
                           const std::vector<std::string>& files, ChiSquareTrainingSummary& summary,
                           std::string& problem, const Progress& progress) {
    std::vector<ChiSquareStore::Change> batch;
    // A batch is written on a thread of its own while the next one is tokenized; batches are written in
    // order, one at a time. The writer counts the outcomes in summary and this thread only the
    // unreadable files (another member), so the two never touch the same field.
    std::vector<ChiSquareStore::Change> writing;
    bool written = true;
    std::thread writer;
    struct JoinOnExit {
        std::thread& thread;
        ~JoinOnExit() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    } joinOnExit{writer};
    auto writerDone = [&writer, &written] {
        if (writer.joinable()) {
            writer.join();
        }
        return written;
    };
    for (std::size_t first = 0; first < files.size();) {
        const std::size_t end = std::min(first + kBatchMessages, files.size());
        Tokenize(kind, mailClass, std::span(files).subspan(first, end - first), batch, summary.unreadable);
        first = end;
        if (progress) {
            progress(first, files.size());
        }
        if (first == files.size()) {
            break;  // the last batch is written here, below
        }
        if (!writerDone()) {
            return false;
        }
        writing.swap(batch);
        batch.clear();
        writer = std::thread(
            [this, &writing, &written, &summary, &problem] { written = Flush(writing, summary, problem); });
    }
    return writerDone() && Flush(batch, summary, problem);
}

bool ChiSquareTrainer::Flush(std::vector<ChiSquareStore::Change>& batch, ChiSquareTrainingSummary& summary,
                             std::string& problem) {
    if (batch.empty()) {
        return true;
    }
    std::vector<StoreOutcome> outcomes;
    if (!store_.Apply(batch, outcomes, problem)) {
        return false;
    }
    for (StoreOutcome outcome : outcomes) {
        switch (outcome) {
            case StoreOutcome::Learned:
                ++summary.learned;
                break;
            case StoreOutcome::Duplicate:
                ++summary.duplicates;
                break;
            case StoreOutcome::Moved:
                ++summary.moved;
                break;
            case StoreOutcome::Unlearned:
                ++summary.unlearned;
                break;
            case StoreOutcome::NotLearned:
                ++summary.notLearned;
                break;
        }
    }
    batch.clear();
    return true;
}

}  // namespace bramvell
