#pragma once

#include <string>
#include <vector>

#include "classify/CorpusRun.h"
#include "classify/MessageChanges.h"
#include "classify/SampleFolder.h"
#include "classify/TokenRecord.h"
#include "classify/Tokenizer.h"
#include "config/FilterSettings.h"

namespace bramvell {

class TokenDataFiles;
class TokenTables;

// Learns the sample messages of a folder as spam or ham into the token tables of
// settings.tokenTables and their data files, and counts them in the settings' statistics. Memory
// changes token by token under the tables' exclusive lock; the files change once per step of up to
// kStepMessages messages (a few writes per token file instead of one per raised record). A step whose
// writes fail is taken back from memory and files and learned again message by message, so that in
// the end a message is learned whole or, when its write fails, not at all (and learning stops there).
// A crash loses at most the step under way.
class CorpusTrainer {
  public:
    static constexpr std::size_t kStepMessages = 256;

    explicit CorpusTrainer(FilterSettings& settings, CorpusCallbacks callbacks = {});

    // Learns every sample of the quarantine folder.
    CorpusRunStatus Learn(SampleClass sampleClass);
    CorpusRunStatus Learn(SampleClass sampleClass, const std::string& folder);
    // Learns the given message files in the order given (a file that cannot be read is passed over).
    CorpusRunStatus LearnFiles(SampleClass sampleClass, const std::vector<std::string>& files);
    // After Failed: the file and the reason, "<path>: <reason>".
    const std::string& FailureMessage() const { return failureMessage_; }

  private:
    CorpusRunStatus LearnEntries(SampleClass sampleClass, const std::vector<SampleEntry>& entries);
    void LearnToken(const Token& token, bool subjectLine);
    // Learns the opened sample into memory and counts it; false when a token file could not take one
    // of its records.
    bool LearnMessage(SampleReadStatus& read);
    SharedInt& MessageCount();
    void BeginStep(std::size_t firstEntry);
    // Writes the step's changes; on failure they are taken back from memory and files.
    bool CommitStep();
    // Takes the step back from memory, files and counts.
    void UndoStep(bool messageFailed);

    // The messages learned since the last write and the counts of new tokens before them.
    struct Step {
        std::size_t firstEntry = 0;
        std::size_t messages = 0;
        int newTokensBefore[3] = {};
    };

    FilterSettings& settings_;
    CorpusCallbacks callbacks_;
    SampleReader reader_;
    Tokenizer tokenizer_;
    // Valid during Learn only.
    TokenTables* tables_ = nullptr;
    TokenDataFiles* files_ = nullptr;
    SampleClass class_ = SampleClass::Spam;
    MessageChanges changes_;
    Step step_;
    bool stepUndone_ = false;
    bool messageFailed_ = false;  // a token file of the message could not take its record
    std::string failureMessage_;
};

}  // namespace bramvell
