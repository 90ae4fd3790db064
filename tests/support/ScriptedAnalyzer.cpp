#include "support/ScriptedAnalyzer.h"

#include <strings.h>

#include "engine/AttachmentRenamer.h"

namespace bramvell::testing {

AnalysisVerdict ScriptedAnalyzer::Analyze(MessageLineReader& reader) {
    ++analysed;
    if (delegate != nullptr) {
        return delegate->Analyze(reader);
    }
    lastLines.clear();
    AnalysisVerdict verdict;
    std::string_view line;
    LinePosition position;
    bool first = true;
    bool inHeader = true;
    std::string from;
    while (reader.Next(line, position)) {
        if (settings_.renameAttachments != 0) {
            RenameAttachmentInLine(line, position, reader, settings_, clock_);
        }
        if (lastLines.size() < kKeptLines) {
            lastLines.emplace_back(line);
        }
        if (first) {
            statusLines.emplace_back(line);
            first = false;
            continue;
        }
        if (inHeader && line.empty()) {
            inHeader = false;
        }
        if (inHeader && line.size() > 4 && strncasecmp(line.data(), "From:", 5) == 0) {
            from = std::string(line.substr(6));
        }
        if (inHeader && line.size() > 8 && strncasecmp(line.data(), "Subject:", 8) == 0 &&
            line.find("SPAM") != std::string_view::npos) {
            verdict.isSpam = true;
        }
    }
    if (verdict.isSpam) {
        verdict.probabilityText = probability;
        verdict.sender = from;
    }
    return verdict;
}

}  // namespace bramvell::testing
