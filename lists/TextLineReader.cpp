#include "lists/TextLineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bramvell {
namespace {

int OpenFollowingLinks(const std::string& path) {
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    return file.Release();
}

}  // namespace

TextLineReader::TextLineReader(const std::string& path, Links links)
    : file_(links == Links::Refuse ? OpenRegularForReading(path) : OpenFollowingLinks(path)) {}

bool TextLineReader::Fill() {
    if (!file_.IsOpen() || readSoFar_ >= kMaxFileSize) {
        return false;
    }
    const std::size_t wanted = std::min(sizeof buffer_, kMaxFileSize - readSoFar_);
    const ssize_t got = ReadSome(file_.Get(), buffer_, wanted);
    if (got <= 0) {
        return false;
    }
    next_ = 0;
    held_ = static_cast<std::size_t>(got);
    readSoFar_ += held_;
    return true;
}

bool TextLineReader::Next(std::string& line) {
    line.clear();
    bool any = false;  // a byte of this line was read, so it is a line even without its LF
    bool cut = false;
    for (;;) {
        if (next_ == held_ && !Fill()) {
            return any;  // a last line without LF keeps a trailing CR
        }
        any = true;
        const char* start = buffer_ + next_;
        const std::size_t left = held_ - next_;
        const void* found = std::memchr(start, '\n', left);
        const std::size_t length =
            found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - start) : left;
        const std::size_t room = kMaxLineLength - line.size();
        if (length > room) {
            cut = true;
        }
        line.append(start, std::min(length, room));
        next_ += found != nullptr ? length + 1 : length;
        if (found != nullptr) {
            if (!cut && !line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
    }
}

}  // namespace bramvell
