#include "classify/TextLineSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/FileHandle.h"

namespace bramvell {

bool TextLineSource::LoadFile(const std::string& path) {
    buffer_.clear();
    next_ = 0;
    // Reading a message is no use of it worth an access-time update; only the owner may ask so.
    // Non-blocking, so that a FIFO among the messages cannot hold the open (it is refused below). A
    // link is followed: message files are named by the user.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME | O_NONBLOCK);
    if (fd < 0 && errno == EPERM) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file.
    std::size_t size = static_cast<std::size_t>(status.st_size);
    if (size > kMaxFileSize) {
        size = kMaxFileSize;
    }
    buffer_.resize(size);
    std::size_t done = 0;
    if (!ReadFully(fd, buffer_.data(), size, done)) {  // a file that shrank meanwhile reads short
        ::close(fd);
        buffer_.clear();
        return false;
    }
    buffer_.resize(done);
    ::close(fd);
    return true;
}

void TextLineSource::SetText(std::string_view text) {
    buffer_.assign(text);
    next_ = 0;
}

bool TextLineSource::NextLine(MessageLine& line) {
    if (next_ >= buffer_.size()) {
        return false;
    }
    const char* start = buffer_.data() + next_;
    const std::size_t left = buffer_.size() - next_;
    const void* found = std::memchr(start, '\n', left);
    std::size_t length =
        found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - start) : left;
    line.position = next_;
    next_ += found != nullptr ? length + 1 : length;
    if (found != nullptr && length > 0 && start[length - 1] == '\r') {
        --length;
    }
    line.text = std::string_view(start, length);
    return true;
}

}  // namespace bramvell
