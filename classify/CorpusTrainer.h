#pragma once

#include <string>

#include "classify/CorpusRun.h"
#include "classify/SampleFolder.h"
#include "classify/TokenRecord.h"
#include "classify/Tokenizer.h"

namespace bramvell {

class FilterSettings;
class TokenDataFiles;
class TokenTables;

// Learns the sample messages of a folder as spam or ham into the token tables of
// settings.tokenTables and their data files, and counts them in the settings' statistics. Every
// token changes memory and files together, under the tables' exclusive lock.
class CorpusTrainer {
  public:
    explicit CorpusTrainer(FilterSettings& settings, CorpusCallbacks callbacks = {});

    // Learns every sample of the quarantine folder.
    CorpusRunStatus Learn(SampleClass sampleClass);
    CorpusRunStatus Learn(SampleClass sampleClass, const std::string& folder);

  private:
    void LearnToken(const Token& token, bool subjectLine);

    FilterSettings& settings_;
    CorpusCallbacks callbacks_;
    SampleReader reader_;
    Tokenizer tokenizer_;
    // Valid during Learn only.
    TokenTables* tables_ = nullptr;
    TokenDataFiles* files_ = nullptr;
    SampleClass class_ = SampleClass::Spam;
};

}  // namespace bramvell
