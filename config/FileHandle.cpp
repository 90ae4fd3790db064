#include "config/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace bramvell {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int FileHandle::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileHandle::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool IsPrivateFolderOfThisUser(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int OpenNoFollow(const std::string& path, int flags, mode_t mode) {
    const std::size_t cut = path.find_last_of('/');
    const std::string_view name =
        cut == std::string::npos ? std::string_view(path) : std::string_view(path).substr(cut + 1);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return -1;
    }
    // The folders on the way are followed as opening the folder would; only the last component may not
    // be a link.
    return ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

namespace {

// An existing regular file opened for reading without following a link and without blocking on a FIFO
// or device (O_NONBLOCK stays set), with what fstat says of it; -1 for anything else.
int OpenRegular(const std::string& path, struct stat& info) {
    FileHandle file(OpenNoFollow(path, O_RDONLY | O_NONBLOCK));
    if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (file.IsOpen()) {
            errno = EINVAL;
        }
        return -1;
    }
    return file.Release();
}

}  // namespace

int OpenRegularForReading(const std::string& path) {
    struct stat info {};
    FileHandle file(OpenRegular(path, info));
    if (!file.IsOpen()) {
        return -1;
    }
    // Regular files never block; clear the flag so that later reads behave as usual.
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    return file.Release();
}

bool WriteAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteAllAt(int fd, const void* bytes, std::size_t length, uint64_t offset) {
    const char* data = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t written = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
        offset += static_cast<uint64_t>(written);
    }
    return true;
}

bool WriteAllVectored(int fd, std::span<iovec> pieces) {
    constexpr std::size_t kBatch = 256;  // well under IOV_MAX
    std::size_t first = 0;
    while (first < pieces.size() && pieces[first].iov_len == 0) {
        ++first;
    }
    while (first < pieces.size()) {
        const int count = static_cast<int>(std::min(pieces.size() - first, kBatch));
        const ssize_t written = ::writev(fd, pieces.data() + first, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (left > 0 && first < pieces.size()) {
            iovec& piece = pieces[first];
            const std::size_t taken = std::min(left, piece.iov_len);
            piece.iov_base = static_cast<char*>(piece.iov_base) + taken;
            piece.iov_len -= taken;
            left -= taken;
            if (piece.iov_len == 0) {
                ++first;
            }
        }
        while (first < pieces.size() && pieces[first].iov_len == 0) {
            ++first;
        }
    }
    return true;
}

ssize_t ReadSome(int fd, void* buffer, std::size_t length) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, length);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

namespace {

// The loop of ReadFully and ReadFullyAt; offset < 0 reads at the current position.
bool ReadUntilFullOrEnd(int fd, void* buffer, std::size_t length, int64_t offset, std::size_t& got) {
    char* data = static_cast<char*>(buffer);
    got = 0;
    while (got < length) {
        const ssize_t n = offset < 0 ? ::read(fd, data + got, length - got)
                                     : ::pread(fd, data + got, length - got, static_cast<off_t>(offset) +
                                                                                 static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool ReadFully(int fd, void* buffer, std::size_t length, std::size_t& got) {
    return ReadUntilFullOrEnd(fd, buffer, length, -1, got);
}

bool ReadFullyAt(int fd, void* buffer, std::size_t length, uint64_t offset, std::size_t& got) {
    return ReadUntilFullOrEnd(fd, buffer, length, static_cast<int64_t>(offset), got);
}

bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    struct stat info {};
    FileHandle file(OpenRegular(path, info));  // O_NONBLOCK changes nothing for reading it
    if (!file.IsOpen()) {
        return false;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > maxBytes) {
        return false;
    }
    // As large as fstat saw it: one read for the whole file, and a file that shrank meanwhile reads short.
    bytes.resize(size);
    std::size_t done = 0;
    if (!ReadFully(file.Get(), bytes.data(), size, done)) {
        bytes.clear();
        return false;
    }
    bytes.resize(done);
    return true;
}

bool ReadAll(int fd, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    char chunk[4096];
    for (;;) {
        const ssize_t got = ReadSome(fd, chunk, sizeof chunk);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
            return false;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

bool WriteFileAtomically(int directoryFd, const std::string& name, std::string_view bytes, mode_t mode) {
    static std::atomic<unsigned> sequence{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%u", static_cast<long>(::getpid()), sequence.fetch_add(1));
    const std::string temporary = name + suffix;

    FileHandle file(::openat(directoryFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file.IsOpen()) {
        return false;
    }
    // The mode given to open is narrowed by the umask; set it exactly.
    bool written = ::fchmod(file.Get(), mode) == 0 && WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0;
    written = ::close(file.Release()) == 0 && written;
    if (!written || ::renameat(directoryFd, temporary.c_str(), directoryFd, name.c_str()) != 0) {
        ::unlinkat(directoryFd, temporary.c_str(), 0);
        return false;
    }
    ::fsync(directoryFd);
    return true;
}

bool WriteFileAtomically(const std::string& directory, const std::string& name, std::string_view bytes,
                         mode_t mode) {
    FileHandle folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.IsOpen() && WriteFileAtomically(folder.Get(), name, bytes, mode);
}

bool CreateDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) {
        return false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    std::size_t cut = path.find_last_of('/');
    if (cut != std::string::npos && cut > 0) {
        std::string parent = path.substr(0, cut);
        if (!CreateDirectories(parent, mode)) {
            return false;
        }
    }
    if (::mkdir(path.c_str(), mode) == 0) {
        return true;
    }
    return errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace bramvell
