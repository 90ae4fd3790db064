#include "runtime/ClassifierAnalyzer.h"

#include "classify/MessageLineSource.h"
#include "engine/AttachmentRenamer.h"

namespace bramvell {
namespace {

// A line's place in the held reply, packed into the classifier's one position number.
uint64_t PackPosition(LinePosition position) {
    return uint64_t{position.segment} << 32 | uint64_t{position.offset & 0xFFFFFFFFu};
}

LinePosition UnpackPosition(uint64_t packed) {
    return LinePosition{static_cast<std::size_t>(packed >> 32),
                        static_cast<std::size_t>(packed & 0xFFFFFFFFu)};
}

class HeldReplyLines final : public MessageLineSource {
  public:
    explicit HeldReplyLines(MessageLineReader& reader) : reader_(reader) {}

    bool NextLine(MessageLine& line) override {
        std::string_view text;
        LinePosition position;
        if (!reader_.Next(text, position)) {
            return false;
        }
        line.text = text;
        line.position = PackPosition(position);
        return true;
    }

  private:
    MessageLineReader& reader_;
};

}  // namespace

ClassifierAnalyzer::ClassifierAnalyzer(FilterSettings& settings, const SubjectMatcher* passphrases,
                                       const Clock& clock)
    : settings_(settings), clock_(clock), classifier_(settings, passphrases, clock) {}

AnalysisVerdict ClassifierAnalyzer::Analyze(MessageLineReader& reader) {
    HeldReplyLines lines(reader);
    const ClassificationResult result = classifier_.Classify(lines, [&](const MessageLine& line) {
        RenameAttachmentInLine(line.text, UnpackPosition(line.position), reader, settings_, clock_);
    });

    AnalysisVerdict verdict;
    verdict.isSpam = result.isSpam;
    if (result.probabilityText.size() >= 2) {
        verdict.probabilityText = {result.probabilityText[0], result.probabilityText[1]};
        verdict.sender = result.sender;
    }
    return verdict;
}

}  // namespace bramvell
