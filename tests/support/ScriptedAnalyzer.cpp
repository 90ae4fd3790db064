#include "support/ScriptedAnalyzer.h"

#include <strings.h>


namespace bramvell::testing {

MessageVerdict ScriptedAnalyzer::Analyze(MessageLineReader& reader, LineRewriter& rewriter) {
    ++analysed;
    if (delegate != nullptr) {
        return delegate->Analyze(reader, rewriter);
    }
    lastLines.clear();
    MessageVerdict verdict;
    MessageLine next;
    bool first = true;
    bool inHeader = true;
    std::string from;
    while (reader.NextLine(next)) {
        if (settings_.renameAttachments != 0) {
            rewriter.RewriteLine(next);
        }
        const std::string_view line = next.text;
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
        verdict.sender.assign(from);
    }
    return verdict;
}

}  // namespace bramvell::testing
