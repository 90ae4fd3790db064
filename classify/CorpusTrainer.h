#pragma once

#include <string>
#include <vector>

#include "classify/CorpusRun.h"
#include "classify/MessageChanges.h"
#include "classify/SampleFolder.h"
#include "classify/TokenRecord.h"
#include "classify/Tokenizer.h"

namespace bramvell {

class FilterSettings;
class TokenDataFiles;
class TokenTables;

// Learns the sample messages of a folder as spam or ham into the token tables of
// settings.tokenTables and their data files, and counts them in the settings' statistics. Memory
// changes token by token under the tables' exclusive lock; the files change once per message, so a
// message is learned whole or, when a write fails, not at all (and learning stops).
class CorpusTrainer {
  public:
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
    // Learns the opened sample; false when its changes could not be written (and were undone).
    bool LearnMessage(SampleReadStatus& read);

    FilterSettings& settings_;
    CorpusCallbacks callbacks_;
    SampleReader reader_;
    Tokenizer tokenizer_;
    // Valid during Learn only.
    TokenTables* tables_ = nullptr;
    TokenDataFiles* files_ = nullptr;
    SampleClass class_ = SampleClass::Spam;
    MessageChanges changes_;
    bool messageFailed_ = false;  // a token file of the message could not take its record
    std::string failureMessage_;
};

}  // namespace bramvell
