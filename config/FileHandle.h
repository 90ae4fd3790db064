#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstdint>
#include <span>

#include <string>
#include <string_view>

namespace bramvell {

// Everything the program creates is its user's alone: private messages, logs and word tables.
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;

// Owns one POSIX file descriptor and closes it at destruction.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { Reset(); }
    FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// Opens path's last component relative to its folder without following a link there (O_NOFOLLOW,
// O_CLOEXEC added): a link planted in one of our folders cannot redirect a write or a read. A new file
// gets the given mode (narrowed by the umask). Returns the descriptor, or -1 with errno set.
int OpenNoFollow(const std::string& path, int flags, mode_t mode = kPrivateFileMode);

// Opens an existing regular file for reading without following a link and without blocking on a
// FIFO or device: -1 for anything that is not a regular file.
int OpenRegularForReading(const std::string& path);

// A folder of this user's (the effective uid) that group and others may not write to: nobody else can
// plant a file or a link in it.
bool IsPrivateFolderOfThisUser(const std::string& path);

// Writes every byte, retrying short writes and EINTR; false on any error.
bool WriteAll(int fd, std::string_view bytes);

// pwrite of every byte at offset, retrying short writes and EINTR; false on any error, with errno
// set (EIO when the file system wrote nothing without saying why).
bool WriteAllAt(int fd, const void* bytes, std::size_t length, uint64_t offset);

// writev of every piece, retrying short writes and EINTR; the pieces are used up as they are
// written. False on any error.
bool WriteAllVectored(int fd, std::span<iovec> pieces);

// One read of at most length bytes, retried on EINTR: the byte count, 0 at the end, -1 on an error.
ssize_t ReadSome(int fd, void* buffer, std::size_t length);

// Reads until length bytes are in buffer or the file ends (at the current position, or at offset
// with pread); got holds what was read. False on an error.
bool ReadFully(int fd, void* buffer, std::size_t length, std::size_t& got);
bool ReadFullyAt(int fd, void* buffer, std::size_t length, uint64_t offset, std::size_t& got);

// Reads a regular file as large as it is when opened (a link in its last component is not followed,
// a FIFO or device is refused without blocking), at most maxBytes; false on an error or when the file
// holds more.
bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Reads from the current position to the end of the file, at most maxBytes; false on an error or
// when the file holds more than maxBytes.
bool ReadAll(int fd, std::size_t maxBytes, std::string& bytes);

// Replaces directory/name with bytes so that a reader sees either the old file or the whole new one:
// the bytes go to a temporary file in the same directory, which is flushed and renamed over the name.
// The new file has exactly the given mode. A failure leaves the old file as it was.
bool WriteFileAtomically(int directoryFd, const std::string& name, std::string_view bytes, mode_t mode);

// The same for a directory given by path.
bool WriteFileAtomically(const std::string& directory, const std::string& name, std::string_view bytes,
                         mode_t mode);

// Creates the directory and its missing parents; new levels get the given mode. True when the
// directory exists afterwards.
bool CreateDirectories(const std::string& path, mode_t mode);

}  // namespace bramvell
