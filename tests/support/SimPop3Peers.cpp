#include "support/SimPop3Peers.h"

#include <algorithm>
#include <cctype>

namespace bramvell::sim {

namespace {

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

}  // namespace

std::string SimPop3Server::Normalise(const std::string& message) {
    std::string out;
    out.reserve(message.size() + message.size() / 32 + 2);
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r') {
            continue;
        }
        if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) {
        out += "\r\n";
    }
    return out;
}

std::string SimPop3Server::RetrReply(const std::string& message) {
    const std::string body = Normalise(message);
    std::string reply = "+OK " + std::to_string(body.size()) + " octets\r\n";
    reply.reserve(reply.size() + body.size() + body.size() / 64 + 3);
    bool lineStart = true;
    for (char c : body) {
        if (lineStart && c == '.') {
            reply += '.';
        }
        reply += c;
        lineStart = c == '\n';
    }
    reply += ".\r\n";
    return reply;
}

std::string SimPop3Server::TopReply(const std::string& message, std::size_t lines) {
    const std::string whole = RetrReply(message);
    const std::size_t bodyStart = whole.find("\r\n\r\n");
    std::size_t end = bodyStart == std::string::npos ? whole.size() - 3 : bodyStart + 4;
    for (std::size_t i = 0; i < lines && end < whole.size() - 3; ++i) {
        end = whole.find("\r\n", end) + 2;
    }
    return "+OK\r\n" + whole.substr(whole.find("\r\n") + 2, end - whole.find("\r\n") - 2) + ".\r\n";
}

SimPop3Server::SimPop3Server(SimTcpEndpoint& tcp, std::vector<std::string> messages)
    : tcp_(tcp), messages_(std::move(messages)) {
    for (std::string& message : messages_) {
        message = Normalise(message);
        retrReplies_.push_back(RetrReply(message));
    }
}

void SimPop3Server::Reply(const std::string& bytes) {
    tcp_.Write(bytes);
}

void SimPop3Server::ReplyRetr(int number) {
    const std::string& reply = retrReplies_[number - 1];
    if (!splitter_) {
        tcp_.WriteView(reply);
        return;
    }
    for (const std::string& piece : splitter_(reply)) {
        tcp_.Write(piece);
    }
}

void SimPop3Server::Poll() {
    if (!tcp_.Established() || quit_) {
        return;
    }
    if (!greeted_) {
        greeted_ = true;
        Reply("+OK POP3 ready.\r\n");
    }
    std::string_view readable = tcp_.Readable();
    while (cursor_ < readable.size()) {
        const std::size_t lf = readable.find('\n', cursor_);
        if (lf == std::string_view::npos) {
            return;
        }
        std::string line(readable.substr(cursor_, lf - cursor_));
        cursor_ = lf + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        commands_.push_back(line);
        Handle(line);
        if (quit_) {
            return;
        }
    }
}

void SimPop3Server::Handle(const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string verb = Upper(line.substr(0, space));
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    int number = 0;
    bool numberValid =
        !argument.empty() && std::all_of(argument.begin(), argument.end(), ::isdigit) && argument.size() < 6;
    if (numberValid) {
        number = std::stoi(argument);
        numberValid = number >= 1 && number <= static_cast<int>(messages_.size());
    }
    const bool present = numberValid && marked_.count(number) == 0;

    if (verb == "USER" || verb == "PASS" || verb == "NOOP" || verb == "RSET") {
        if (verb == "RSET") {
            marked_.clear();
        }
        Reply(verb == "PASS" ? "+OK Logged in.\r\n" : "+OK\r\n");
    } else if (verb == "STAT") {
        std::size_t count = 0;
        std::size_t octets = 0;
        for (std::size_t i = 0; i < messages_.size(); ++i) {
            if (marked_.count(static_cast<int>(i + 1)) == 0) {
                ++count;
                octets += messages_[i].size();
            }
        }
        Reply("+OK " + std::to_string(count) + " " + std::to_string(octets) + "\r\n");
    } else if (verb == "LIST") {
        if (!argument.empty()) {
            Reply(present ? "+OK " + argument + " " + std::to_string(messages_[number - 1].size()) + "\r\n"
                          : "-ERR There's no message " + argument + ".\r\n");
            return;
        }
        std::string reply = "+OK\r\n";
        for (std::size_t i = 0; i < messages_.size(); ++i) {
            if (marked_.count(static_cast<int>(i + 1)) == 0) {
                reply += std::to_string(i + 1) + " " + std::to_string(messages_[i].size()) + "\r\n";
            }
        }
        Reply(reply + ".\r\n");
    } else if (verb == "RETR") {
        if (!present) {
            Reply("-ERR There's no message " + argument + ".\r\n");
            return;
        }
        ReplyRetr(number);
    } else if (verb == "TOP") {
        const std::size_t space2 = argument.find(' ');
        const std::string first = argument.substr(0, space2);
        const bool valid = space2 != std::string::npos && !first.empty() && first.size() < 6 &&
                           std::all_of(first.begin(), first.end(), ::isdigit) && std::stoi(first) >= 1 &&
                           std::stoi(first) <= static_cast<int>(messages_.size()) &&
                           marked_.count(std::stoi(first)) == 0;
        if (!valid) {
            Reply("-ERR There's no message " + first + ".\r\n");
            return;
        }
        const std::string count = argument.substr(space2 + 1);
        const std::size_t lines = count.size() > 9 ? 999999999 : std::stoul(count);
        Reply(TopReply(messages_[std::stoi(first) - 1], lines));
    } else if (verb == "DELE") {
        if (!present) {
            Reply("-ERR There's no message " + argument + ".\r\n");
            return;
        }
        marked_.insert(number);
        Reply("+OK Marked to be deleted.\r\n");
    } else if (verb == "QUIT") {
        committed_ = marked_;
        Reply("+OK Logging out.\r\n");
        quit_ = true;
        tcp_.Close();
    } else {
        Reply("-ERR Unknown command.\r\n");
    }
}

Pop3Command Command(std::string_view line) {
    const std::string upper = Upper(line);
    const bool hasArgument = line.find(' ') != std::string_view::npos;
    const bool multi = upper.rfind("RETR ", 0) == 0 || upper.rfind("TOP ", 0) == 0 ||
                       ((upper == "LIST" || upper == "UIDL" || upper == "CAPA") && !hasArgument);
    return {std::string(line) + "\r\n", multi};
}

SimPop3Client::SimPop3Client(SimTcpEndpoint& tcp, std::vector<Pop3Command> script, ClientBehaviour behaviour)
    : tcp_(tcp), script_(std::move(script)), behaviour_(behaviour) {}

std::vector<std::string_view> SimPop3Client::replies() const {
    std::vector<std::string_view> replies;
    const std::string& stream = tcp_.Received();
    for (const auto& [offset, length] : replies_) {
        replies.push_back(std::string_view(stream).substr(offset, length));
    }
    return replies;
}

bool SimPop3Client::TakeReply(bool multiLine, std::pair<std::size_t, std::size_t>& reply) {
    std::string_view readable = tcp_.Readable();
    const std::size_t crlf = readable.find("\r\n", cursor_);
    if (crlf == std::string_view::npos) {
        return false;
    }
    std::size_t end = crlf + 2;
    if (multiLine && readable.compare(cursor_, 3, "+OK") == 0) {
        const std::size_t from = std::max(searchFrom_, crlf);
        const std::size_t terminator = readable.find("\r\n.\r\n", from);
        if (terminator == std::string_view::npos) {
            searchFrom_ = readable.size() >= 4 ? readable.size() - 4 : 0;
            searchFrom_ = std::max(searchFrom_, crlf);
            return false;
        }
        end = terminator + 5;
    }
    reply = {cursor_, end - cursor_};
    cursor_ = end;
    searchFrom_ = end;
    return true;
}

void SimPop3Client::Poll() {
    if (done_ || !tcp_.Established()) {
        return;
    }
    if (!greeted_) {
        std::pair<std::size_t, std::size_t> greeting;
        if (!TakeReply(false, greeting)) {
            return;
        }
        greeting_ = tcp_.Received().substr(greeting.first, greeting.second);
        greeted_ = true;
    }
    if (behaviour_.pipelined && !waiting_ && next_ == 0) {
        std::string all;
        for (const Pop3Command& command : script_) {
            all += command.bytes;
        }
        tcp_.Write(all);
        waiting_ = true;
    }
    while (true) {
        if (waiting_) {
            std::pair<std::size_t, std::size_t> reply;
            if (!TakeReply(script_[next_].multiLine, reply)) {
                return;
            }
            replies_.push_back(reply);
            const bool retrieval = script_[next_].multiLine && (Upper(script_[next_].bytes).rfind("RETR", 0) == 0 ||
                                                                Upper(script_[next_].bytes).rfind("TOP", 0) == 0);
            if (retrieval && tcp_.Received().compare(reply.first, 4, "-ERR") == 0 &&
                behaviour_.onRetrievalError != ClientBehaviour::OnRetrievalError::GoOn) {
                done_ = true;
                if (behaviour_.onRetrievalError == ClientBehaviour::OnRetrievalError::Abort) {
                    tcp_.Abort();
                } else {
                    tcp_.Close();
                }
                return;
            }
            ++next_;
            waiting_ = behaviour_.pipelined && next_ < script_.size();
            if (waiting_) {
                continue;
            }
        }
        if (next_ >= script_.size()) {
            done_ = true;
            tcp_.Close();
            return;
        }
        tcp_.Write(script_[next_].bytes);
        waiting_ = true;
    }
}

}  // namespace bramvell::sim
