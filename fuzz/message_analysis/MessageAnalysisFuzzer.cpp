// A retrieved message reaches the analysis as held segments read line by line, with executable
// attachments renamed in place on the way. The input is the message (and how it was cut into
// segments); the analysis runs with small learned token tables and must give a sane verdict, renaming
// must keep every segment's length and checksum, and the scorer's memory of earlier messages must
// never change a verdict.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classify/CorpusTrainer.h"
#include "classify/MessageClassifier.h"
#include "classify/TokenTableLoader.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "engine/AttachmentRenamer.h"
#include "engine/HeldSegment.h"
#include "engine/MessageLineReader.h"
#include "fuzz/support/FrameWriter.h"
#include "fuzz/support/FuzzInput.h"
#include "fuzz/support/ScratchFolder.h"
#include "lists/ListText.h"
#include "lists/SubjectMatcher.h"
#include "runtime/ClassifierAnalyzer.h"

namespace bramvell::fuzz {
namespace {

constexpr std::string_view kSpamSamples[] = {
    "Subject: Cheap pills online\nFrom: deals@spam.example\n\nBuy cheap pills now, best price, click here.\n",
    "Subject: WIN a FREE prize\n\nYou are a WINNER. Claim your free prize money today, click now.\n",
    "Subject: Lowest mortgage rates\n\nRefinance today with the lowest rates, guaranteed approval.\n",
};
constexpr std::string_view kHamSamples[] = {
    "Subject: Meeting notes\n\nHere are the notes from the project meeting, see the attached plan.\n",
    "Subject: Lunch tomorrow\n\nShall we have lunch tomorrow at noon near the office?\n",
    "Subject: Build failure\n\nThe nightly build failed in the parser tests, I am looking at it.\n",
};

class FixedPassphrases final : public SubjectMatcher {
  public:
    bool MatchSubject(std::string_view subject) const override {
        return ContainsIgnoringCase(subject, "project bramvell") || ContainsIgnoringCase(subject, "invoice");
    }
};

// Token tables learned once per process from the samples above, then only read.
const TokenTables& LearnedTables() {
    static TokenTables tables;
    static const bool learned = [] {
        const ScratchFolder& scratch = ScratchFolder::Instance();
        FilterSettings settings;
        settings.programFolder = scratch.MakeFolder("learned");
        settings.tokenTables = &tables;
        LoadTokenTables(tables, settings.programFolder);
        for (SampleClass sampleClass : {SampleClass::Spam, SampleClass::Ham}) {
            const std::string folder = scratch.MakeFolder(sampleClass == SampleClass::Spam ? "spam" : "ham");
            int index = 0;
            for (std::string_view sample : sampleClass == SampleClass::Spam ? kSpamSamples : kHamSamples) {
                scratch.WriteFile(
                    (sampleClass == SampleClass::Spam ? "spam/" : "ham/") + std::to_string(index++), sample);
            }
            CorpusTrainer(settings).Learn(sampleClass, folder);
        }
        return true;
    }();
    (void)learned;
    return tables;
}

// The message as the engine holds it: server segments of a reply, each a whole frame.
struct HeldReply {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<HeldSegment> segments;

    HeldReply(std::string_view message, std::size_t segmentSize) {
        uint32_t sequence = 1000;
        for (std::size_t at = 0; at < message.size(); at += segmentSize) {
            TcpSegment segment;
            segment.fromClient = false;
            segment.clientAddress = 0x0A000001;
            segment.serverAddress = 0x0A000002;
            segment.clientPort = 40000;
            segment.sequence = sequence;
            segment.flags = 0x18;
            segment.payload = message.substr(at, segmentSize);
            frames.emplace_back();
            sequence += static_cast<uint32_t>(WriteTcpFrame(segment, frames.back()));
        }
        for (std::vector<uint8_t>& frame : frames) {
            HeldSegment held;
            held.frame = frame.data();
            held.length = static_cast<uint32_t>(frame.size());
            ParseFrame(frame, held.layout);
            held.payloadLength = static_cast<uint32_t>(held.layout.payloadLength);
            segments.push_back(held);
        }
    }

    std::string Payload() const {
        std::string bytes;
        for (const HeldSegment& held : segments) {
            bytes.append(reinterpret_cast<const char*>(held.Payload().data()), held.payloadLength);
        }
        return bytes;
    }
};

// The held reply read by the classifier alone (the engine's analysis adds renaming and the verdict).
ClassificationResult Classify(MessageClassifier& classifier, HeldReply& reply) {
    MessageLineReader reader(reply.segments);
    return classifier.Classify(reader);
}

bool SameResult(const ClassificationResult& a, const ClassificationResult& b) {
    return a.isSpam == b.isSpam && a.decidedByRule == b.decidedByRule && a.rule == b.rule &&
           a.score == b.score && a.probabilityText == b.probabilityText && a.sender == b.sender;
}

void RequireSane(const ClassificationResult& result) {
    Require(result.score >= 0 && result.score <= 10000, "the score is 0..10000");
    Require(result.sender.size() <= ClassificationResult::kMaxSenderLength, "the sender is cut to 79");
    Require(result.probabilityText.empty() || result.probabilityText.size() == 2, "two probability digits");
    Require(!result.decidedByRule || result.probabilityText == "99", "a rule says 99");
}

// Input: an options byte, a segment-size byte, a message-count byte, then the message. Options: bit 0
// turns the From/To rule off, 1 turns passphrases on, 2 renames attachments, 3 and up the threshold
// level (0..31: out-of-range levels included).
void Run(std::string_view input) {
    InputReader in(input);
    const uint8_t options = in.Byte();
    const std::size_t segmentSize = 1 + std::size_t{in.Byte()} * 6;
    const uint8_t counts = in.Byte();
    const std::string message = "+OK message follows\r\n" + std::string(in.Rest());

    static FixedPassphrases passphrases;
    static FilterSettings settings;
    settings.tokenTables = const_cast<TokenTables*>(&LearnedTables());
    settings.activityLogEnabled = 0;
    settings.checkFromToDiffer = (options & 1) ? 0 : 1;
    settings.subjectPassphrasesEnabled = (options & 2) ? 1 : 0;
    settings.renameAttachments = (options & 4) ? 1 : 0;
    settings.thresholdLevel = options >> 3;
    settings.spamMessageCount = counts & 0x0F;  // 0 divides as 1
    settings.hamMessageCount = counts >> 4;

    // The engine's analysis lives across inputs, as the filter thread's does.
    static ClassifierAnalyzer analyzer(settings, &passphrases);
    HeldReply reply(message, segmentSize);
    const std::string before = reply.Payload();
    MessageLineReader reader(reply.segments);
    AttachmentRenamer renamer(reader, settings);
    const MessageVerdict verdict = analyzer.Analyze(reader, renamer);
    Require(verdict.probabilityText[0] != '?' || !verdict.isSpam, "a spam verdict gives its probability");

    Require(reply.Payload().size() == before.size(), "renaming keeps the message length");
    const std::string after = reply.Payload();
    for (std::size_t i = 0; i < after.size(); ++i) {
        Require(after[i] == before[i] ||
                    ((options & 4) && (after[i] == 't' || after[i] == 'b' || after[i] == ' ')),
                "renaming writes only 'tb' or 'tb '");
    }
    for (const std::vector<uint8_t>& frame : reply.frames) {
        Require(TcpChecksumValid(frame), "renamed segments keep a valid checksum");
    }

    // Over the (now renamed) reply: a fresh classifier and a lasting one, whose memo holds earlier
    // messages' tokens, must agree.
    static MessageClassifier lasting(settings, &passphrases);
    MessageClassifier fresh(settings, &passphrases);
    const ClassificationResult expected = Classify(fresh, reply);
    RequireSane(expected);
    Require(SameResult(Classify(lasting, reply), expected), "earlier messages change no verdict");
    if (std::getenv("BRAMVELL_FUZZ_TRACE") != nullptr) {
        std::fprintf(stderr, "spam %d rule %d score %d probability '%s' sender '%s'; renamed bytes %zu\n",
                     expected.isSpam, static_cast<int>(expected.rule), expected.score,
                     expected.probabilityText.c_str(), expected.sender.c_str(),
                     static_cast<std::size_t>(
                         std::mismatch(before.begin(), before.end(), after.begin()).first - before.begin()));
    }
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    bramvell::fuzz::Run(bramvell::fuzz::AsText(data, size));
    return 0;
}
