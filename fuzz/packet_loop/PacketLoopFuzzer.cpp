// The packet loop fed a scripted POP3 conversation (see Pop3Script.cpp) whose frames the fuzzer
// shapes and perturbs, in both directions, over MemoryPacketSource: connections are tracked, replies
// collected and analysed, good messages replayed, spam deleted and answered with the error reply, and
// arbitrary raw frames are mixed in. Frames the engine writes must carry valid checksums, and the loop
// must free every record when it ends.
#include <chrono>
#include <cstdint>
#include <string>

#include "config/FilterSettings.h"
#include "engine/AttachmentRenamer.h"
#include "engine/KeyState.h"
#include "engine/MessageAnalyzer.h"
#include "engine/MessageTarget.h"
#include "engine/PacketFilterThread.h"
#include "engine/Pop3Interceptor.h"
#include "fuzz/packet_loop/Pop3Script.h"
#include "fuzz/support/FuzzInput.h"
#include "fuzz/support/ScratchFolder.h"

namespace bramvell::fuzz {
namespace {

// A verdict the script controls: a message with a line starting "X-Spam" is spam; "From:" names the
// sender. Every line is read, and attachments renamed, as the real analysis does.
class ScriptedAnalyzer final : public MessageAnalyzer {
  public:
    explicit ScriptedAnalyzer(const FilterSettings& settings) : settings_(settings) {}

    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override {
        MessageVerdict verdict;
        MessageLine next;
        while (reader.NextLine(next)) {
            if (settings_.renameAttachments != 0) {
                rewriter.RewriteLine(next);
            }
            const std::string_view line = next.text;
            if (line.starts_with("X-Spam")) {
                verdict.isSpam = true;
            } else if (line.starts_with("From:")) {
                verdict.sender.assign(line.substr(5));
            }
        }
        verdict.probabilityText = verdict.isSpam ? std::array{'9', '7'} : std::array{'0', '3'};
        return verdict;
    }

  private:
    const FilterSettings& settings_;
};

class ScriptedKeys final : public KeyState {
  public:
    explicit ScriptedKeys(bool held) : held_(held) {}
    bool IsPauseKeyHeld() override { return held_; }

  private:
    bool held_;
};

class IgnoringTarget final : public MessageTarget {
  public:
    void Post(uint32_t, uintptr_t) override {}
};

// The first input byte sets options: bit 0 turns filtering off, 1 popup blocking off, 2 engages the
// outbound lock, 3 turns the quarantine off, 4 renames attachments, 5 writes the activity log, 6 holds
// the pause key, 7 gives the quarantine folder no existence (copies cannot be written).
void Run(std::string_view input) {
    InputReader header(input.substr(0, 1));
    const uint8_t options = header.Byte();
    const ScratchFolder& scratch = ScratchFolder::Instance();
    scratch.Clear();

    FilterSettings settings;
    settings.programFolder = scratch.Path();
    settings.SetDefaults();
    settings.filterEnabled = (options & 1) ? 0 : 1;
    settings.blockMessengerPopups = (options & 2) ? 0 : 1;
    settings.outboundEmailLock = (options & 4) ? 1 : 0;
    settings.quarantineEnabled = (options & 8) ? 0 : 1;
    settings.renameAttachments = (options & 16) ? 1 : 0;
    settings.activityLogEnabled = (options & 32) ? 1 : 0;
    settings.SetLogFolder(scratch.MakeFolder("log"));
    settings.SetQuarantineFolder((options & 128) ? scratch / "missing" : scratch.MakeFolder("quarantine"));

    ScriptClock clock;
    Pop3Script script(input.substr(input.empty() ? 0 : 1), clock);
    ScriptedPacketSource source(script, settings);
    ScriptedAnalyzer analyzer(settings);
    ScriptedKeys keys((options & 64) != 0);
    IgnoringTarget target;

    Pop3Interceptor interceptor(settings, analyzer, keys, target, clock, clock);
    // Small limits, so that over-long messages and replay pacing are reached with short inputs.
    Pop3Interceptor::Limits limits;
    limits.maxHeldBytes = 16 * 1024;
    limits.maxHeldSegments = 64;
    limits.maxReplayInFlight = 8 * 1024;
    interceptor.SetLimits(limits);

    PacketFilterThread loop(settings, source, target, keys, clock, &interceptor);
    loop.SetWaitTimeout(std::chrono::milliseconds(0));
    loop.Run();
    Require(settings.filterRunning == 0, "the loop ends its run");
    Require(interceptor.table().Count() == 0, "every connection record is freed at the end");
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    bramvell::fuzz::Run(bramvell::fuzz::AsText(data, size));
    return 0;
}
