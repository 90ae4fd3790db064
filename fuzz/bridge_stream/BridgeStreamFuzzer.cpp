// The TLS bridge's POP3 stream filter fed a conversation: pieces named c… (client bytes), s… (server
// bytes), q (the client leaves), x (the server leaves), r (attachment renaming on); a piece named
// "spam" lets the analysis call messages with "SPAM" in a line spam. Small limits bring the early
// verdict and the memory cap into play. Without spam, renaming, CAPA, STLS or a client that leaves, the
// client must receive exactly what the server sent; the bridge never sends the server more than the
// client's bytes and its own commands.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bridge/Pop3StreamFilter.h"
#include "config/FilterSettings.h"
#include "engine/MessageAnalyzer.h"
#include "engine/MessageTarget.h"
#include "fuzz/support/FuzzInput.h"
#include "fuzz/support/ScratchFolder.h"

namespace bramvell::fuzz {
namespace {

class LineAnalyzer final : public MessageAnalyzer {
  public:
    explicit LineAnalyzer(const FilterSettings& settings) : settings_(settings) {}
    bool spamAllowed = false;
    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override {
        MessageVerdict verdict;
        MessageLine line;
        while (reader.NextLine(line)) {
            if (settings_.renameAttachments != 0) {  // as the classifier does
                rewriter.RewriteLine(line);
            }
            verdict.isSpam =
                verdict.isSpam || (spamAllowed && line.text.find("SPAM") != std::string_view::npos);
        }
        return verdict;
    }

  private:
    const FilterSettings& settings_;
};

class NoTarget final : public MessageTarget {
  public:
    void Post(uint32_t, uintptr_t) override {}
};

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace bramvell;
    using namespace bramvell::fuzz;
    const ScratchFolder& scratch = ScratchFolder::Instance();
    scratch.Clear();
    FilterSettings settings;
    settings.activityLogEnabled = 0;
    settings.quarantineEnabled = 1;
    settings.renameAttachments = 0;
    settings.SetQuarantineFolder(scratch.Path());
    LineAnalyzer analyzer(settings);
    NoTarget target;
    Pop3StreamFilter filter({settings, analyzer, target, DefaultClock()},
                            {.maxHeldBytes = 4096, .earlyVerdictBytes = 300, .maxClientLine = 512});
    std::string fromServer;
    std::string fromClient;
    std::string toClient;
    std::string toServer;
    bool exact = true;
    Pop3StreamFilter::Output out;
    for (const NamedFile& piece : SplitNamedFiles(AsText(data, size), 64)) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(piece.content.data());
        switch (piece.name.empty() ? '_' : piece.name.front()) {
            case 'c':
                fromClient += piece.content;
                filter.FromClient({bytes, piece.content.size()}, out);
                break;
            case 's':
                if (piece.name == "spam") {
                    analyzer.spamAllowed = true;
                    exact = false;
                    break;
                }
                fromServer += piece.content;
                filter.FromServer({bytes, piece.content.size()}, out);
                break;
            case 'r':  // "rename": attachment renaming on
                settings.renameAttachments = 1;
                exact = false;
                break;
            case 'q':
                exact = false;
                filter.OnClientGone(out);
                break;
            case 'x':
                filter.OnServerGone(out);
                break;
            default:
                break;
        }
        toClient += out.toClient;
        toServer += out.toServer;
        out = {};
    }
    // The conversation ends with the server leaving: what is held of a reply goes to the client.
    filter.OnServerGone(out);
    toClient += out.toClient;
    const std::string upper = Upper(fromClient);
    exact = exact && upper.find("CAPA") == std::string::npos && upper.find("STLS") == std::string::npos;
    if (exact) {
        if (toClient != fromServer && std::getenv("BRAMVELL_FUZZ_TRACE") != nullptr) {
            std::fprintf(stderr, "server sent:\n%s\nclient got:\n%s\n", fromServer.c_str(), toClient.c_str());
        }
        Require(toClient == fromServer, "without spam the client gets the server's bytes unchanged");
    }
    // What went to the server: the client's bytes with the bridge's own commands between them.
    std::string rest = toServer;
    for (std::string_view own : {"DELE ", "NOOP\r\n", "QUIT\r\n"}) {
        for (std::size_t at = rest.find(own); at != std::string::npos; at = rest.find(own)) {
            // A "DELE " with no line end after it (a client's own bytes) is taken to the end.
            std::size_t end = at + own.size();
            if (own == "DELE ") {
                const std::size_t lineEnd = rest.find("\r\n", end);
                end = lineEnd == std::string::npos ? rest.size() : lineEnd + 2;
            }
            rest.erase(at, end - at);
        }
    }
    Require(rest.size() <= fromClient.size(),
            "the server gets nothing but the client's bytes and own commands");
    return 0;
}
