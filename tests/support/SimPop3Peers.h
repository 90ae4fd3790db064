#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/SimTcpEndpoint.h"

namespace bramvell::sim {

// A POP3 server over a simulated endpoint, serving a mailbox of messages (numbered from 1). Commands
// are case-insensitive; deletions take effect at QUIT.
class SimPop3Server {
  public:
    // Splits the bytes of one reply into the writes the server makes (each write leaves as its own
    // segments while the window allows).
    using ReplySplitter = std::function<std::vector<std::string>(const std::string& reply)>;

    SimPop3Server(SimTcpEndpoint& tcp, std::vector<std::string> messages);

    void Poll();
    void SetRetrSplitter(ReplySplitter splitter) { splitter_ = std::move(splitter); }

    const std::vector<std::string>& commands() const { return commands_; }
    const std::set<int>& committedDeletions() const { return committed_; }
    // The reply the server gives to "RETR n", as it goes on the wire.
    static std::string RetrReply(const std::string& message);
    // The reply to "TOP n lines": the header, the blank line and that many body lines.
    static std::string TopReply(const std::string& message, std::size_t lines);
    // The message with CR LF line ends, ending with one.
    static std::string Normalise(const std::string& message);

  private:
    void Handle(const std::string& line);
    void Reply(const std::string& bytes);
    void ReplyRetr(int number);

    SimTcpEndpoint& tcp_;
    std::vector<std::string> messages_;
    std::vector<std::string> retrReplies_;
    std::set<int> marked_;
    std::set<int> committed_;
    std::vector<std::string> commands_;
    ReplySplitter splitter_;
    std::size_t cursor_ = 0;
    bool greeted_ = false;
    bool quit_ = false;
};

struct Pop3Command {
    std::string bytes;       // as sent, line end included
    bool multiLine = false;  // a positive answer runs to a "." line
};
// "RETR 1" -> "RETR 1\r\n", multi-line as POP3 says for RETR, TOP, and LIST/UIDL without argument.
Pop3Command Command(std::string_view line);

// How a scripted client behaves beyond its script.
struct ClientBehaviour {
    enum class OnRetrievalError { GoOn, Close, Abort };
    bool pipelined = false;  // every command written at once after the greeting
    // What it does when a retrieval is answered "-ERR": goes on, or leaves without "QUIT" (FIN or RST).
    OnRetrievalError onRetrievalError = OnRetrievalError::GoOn;
};

// A scripted POP3 client: waits for the greeting, sends each command once the previous reply is
// complete (or all at once), closes after the last reply. Records every reply.
class SimPop3Client {
  public:
    SimPop3Client(SimTcpEndpoint& tcp, std::vector<Pop3Command> script, ClientBehaviour behaviour = {});

    void Poll();
    bool Done() const { return done_; }
    // Each reply as it arrived (views into the received stream, valid until more arrives).
    std::vector<std::string_view> replies() const;
    const std::string& greeting() const { return greeting_; }

  private:
    bool TakeReply(bool multiLine, std::pair<std::size_t, std::size_t>& reply);

    SimTcpEndpoint& tcp_;
    std::vector<Pop3Command> script_;
    ClientBehaviour behaviour_;
    std::vector<std::pair<std::size_t, std::size_t>> replies_;  // offset and length in the stream
    std::string greeting_;
    std::size_t next_ = 0;
    std::size_t cursor_ = 0;
    std::size_t searchFrom_ = 0;
    bool greeted_ = false;
    bool waiting_ = false;
    bool done_ = false;
};

}  // namespace bramvell::sim
