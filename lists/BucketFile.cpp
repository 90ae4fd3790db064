#include "lists/BucketFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/FileHandle.h"

namespace bramvell {

namespace {

std::string TemporaryPathFor(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameStart) + "." + path.substr(nameStart) + ".tmp";
}

}  // namespace

bool AppendToFile(const std::string& path, std::string_view bytes) {
    // Non-blocking, so that a FIFO planted under the name cannot hold the open; refused below.
    FileHandle file(OpenNoFollow(path, O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    // A file whose last line has no line end (cut short, or edited by hand) gets one first, so that
    // the new line does not run into it.
    bool written = true;
    char last = '\n';
    std::size_t got = 0;
    if (info.st_size > 0 && ReadFullyAt(file.Get(), &last, 1, static_cast<uint64_t>(info.st_size - 1), got) &&
        got == 1 && last != '\n') {
        written = WriteAll(file.Get(), "\r\n");
    }
    written = written && WriteAll(file.Get(), bytes);
    if (!written) {
        // A half-written line would load as a different entry: take it back.
        [[maybe_unused]] const int cut = ::ftruncate(file.Get(), info.st_size);
    }
    return ::close(file.Release()) == 0 && written;
}

bool ReplaceFile(const std::string& path, std::string_view bytes) {
    const std::string temporary = TemporaryPathFor(path);
    // Whatever lies under the temporary name (a leftover, or a planted link) goes; the new file must
    // be ours, so it is created afresh.
    ::unlink(temporary.c_str());
    FileHandle file(OpenNoFollow(temporary, O_WRONLY | O_CREAT | O_EXCL));
    if (!file.IsOpen()) {
        return false;
    }
    bool written = WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0;
    written = ::close(file.Release()) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace bramvell
