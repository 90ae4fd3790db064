#include "classify/TokenDataFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "classify/TokenTables.h"

namespace bramvell {
namespace {

// Staged records closer than this are written together with the bytes between (the file's own): one
// write instead of two costs less than copying a page.
constexpr uint64_t kJoinGapBytes = 4096;

// pwrite of every byte; the errno on failure, 0 on success.
int WriteAtOrError(int fd, const void* bytes, std::size_t length, uint64_t offset) {
    return WriteAllAt(fd, bytes, length, offset) ? 0 : errno;
}

// pread of `length` bytes from offset 0; the errno on failure (EIO when the file is shorter).
int ReadWhole(int fd, std::vector<char>& bytes, uint64_t length) {
    bytes.resize(length);
    uint64_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, bytes.data() + done, length - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got < 0 ? errno : EIO;
        }
        done += static_cast<uint64_t>(got);
    }
    return 0;
}

}  // namespace

std::string DataWriteFailure::Message() const {
    return path + ": " + std::strerror(error);
}

TokenDataFiles::TokenDataFiles(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

bool TokenDataFiles::Fail(const std::string& name, int error) {
    if (!failure_.Failed()) {
        failure_ = {dataFolder_ + "/" + name, error != 0 ? error : EIO};
    }
    return false;
}

int TokenDataFiles::OpenForWriting(const std::string& name) {
    // Non-blocking so that a FIFO planted under the name cannot hold learning at the open.
    FileHandle file(OpenNoFollow(dataFolder_ + "/" + name, O_RDWR | O_CREAT | O_NONBLOCK));
    if (!file.IsOpen()) {
        return -errno;
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        return -errno;
    }
    if (!S_ISREG(status.st_mode)) {
        return -EINVAL;
    }
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    return file.Release();
}

TokenDataFiles::TokenFile& TokenDataFiles::FileOf(TokenSection section, int firstLetter) {
    return tokenFiles_[static_cast<int>(section)][firstLetter];
}

bool TokenDataFiles::EnsureTokenFile(TokenSection section, int firstLetter) {
    return !failure_.Failed() && OpenTokenFile(section, firstLetter);
}

bool TokenDataFiles::OpenTokenFile(TokenSection section, int firstLetter) {
    TokenFile& file = FileOf(section, firstLetter);
    if (file.fd.IsOpen()) {
        return true;
    }
    const std::string name = TokenFileName(section, firstLetter);
    const int fd = OpenForWriting(name);
    if (fd < 0) {
        return Fail(name, -fd);
    }
    file.fd.Reset(fd);
    struct stat status {};
    const uint64_t size = ::fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
    // Append after the last whole record; a trailing partial record, which the loader skipped, is cut
    // off. The header is not trusted: it may disagree with the file's length.
    file.appendOffset = size < kTokenFileHeaderSize
                            ? kTokenFileHeaderSize
                            : kTokenFileHeaderSize + (size - kTokenFileHeaderSize) / kRecordSize *
                                                         static_cast<uint64_t>(kRecordSize);
    const uint64_t held = std::min(size, file.appendOffset);
    if (const int error = ReadWhole(fd, file.image, held); error != 0) {
        file.fd.Reset();
        file.image.clear();
        return Fail(name, error);
    }
    file.image.resize(file.appendOffset);  // a header too short to be read reads as zero
    if (size == file.appendOffset) {
        return true;
    }
    if (size > file.appendOffset && ::ftruncate(fd, static_cast<off_t>(file.appendOffset)) != 0) {
        const int error = errno;
        file.fd.Reset();
        return Fail(name, error);
    }
    if (!WriteHeader(section, firstLetter, file)) {
        file.fd.Reset();
        if (size == 0) {
            ::unlink((dataFolder_ + "/" + name).c_str());  // ours, just made: leave no empty file behind
        }
        return false;
    }
    return true;
}

uint64_t TokenDataFiles::AppendOffset(TokenSection section, int firstLetter) const {
    return tokenFiles_[static_cast<int>(section)][firstLetter].appendOffset;
}

bool TokenDataFiles::WriteHeader(TokenSection section, int firstLetter, TokenFile& file) {
    const int32_t header = static_cast<int32_t>(file.appendOffset);
    std::memcpy(file.image.data(), &header, sizeof header);
    const int error = WriteAtOrError(file.fd.Get(), &header, sizeof header, 0);
    return error == 0 || Fail(TokenFileName(section, firstLetter), error);
}

bool TokenDataFiles::AppendRecords(TokenSection section, int firstLetter,
                                   std::span<const TokenRecord> records) {
    if (!EnsureTokenFile(section, firstLetter)) {
        return false;
    }
    TokenFile& file = FileOf(section, firstLetter);
    const uint64_t before = file.appendOffset;
    const uint64_t bytes = records.size() * static_cast<uint64_t>(kRecordSize);
    if (before + bytes > INT32_MAX) {
        return Fail(TokenFileName(section, firstLetter), EFBIG);  // an offset field could not name them
    }
    const int error = WriteAtOrError(file.fd.Get(), records.data(), bytes, before);
    if (error != 0) {
        // Whatever part reached the file goes again: only whole records of whole messages stay.
        [[maybe_unused]] const int cut = ::ftruncate(file.fd.Get(), static_cast<off_t>(before));
        return Fail(TokenFileName(section, firstLetter), error);
    }
    file.appendOffset = before + bytes;
    const auto* appended = reinterpret_cast<const char*>(records.data());
    file.image.insert(file.image.end(), appended, appended + bytes);
    if (!WriteHeader(section, firstLetter, file)) {
        file.appendOffset = before;
        file.image.resize(before);
        const int32_t header = static_cast<int32_t>(before);
        std::memcpy(file.image.data(), &header, sizeof header);
        [[maybe_unused]] const int cut = ::ftruncate(file.fd.Get(), static_cast<off_t>(before));
        return false;
    }
    return true;
}

bool TokenDataFiles::TruncateTokenFile(TokenSection section, int firstLetter, uint64_t length) {
    TokenFile& file = FileOf(section, firstLetter);
    if (!file.fd.IsOpen() || length >= file.appendOffset) {
        return true;
    }
    // Undoing runs after a failure, so it writes whatever the first failure left to write.
    file.appendOffset = length;
    file.image.resize(length);
    const bool cut = ::ftruncate(file.fd.Get(), static_cast<off_t>(length)) == 0;
    const int32_t header = static_cast<int32_t>(length);
    std::memcpy(file.image.data(), &header, sizeof header);
    return WriteAtOrError(file.fd.Get(), &header, sizeof header, 0) == 0 && cut;
}

bool TokenDataFiles::StageCounters(TokenSection section, int firstLetter, const TokenRecord& record) {
    if (!OpenTokenFile(section, firstLetter)) {
        return false;
    }
    TokenFile& file = FileOf(section, firstLetter);
    if (record.offset < kTokenFileHeaderSize ||
        static_cast<uint64_t>(record.offset) + kRecordSize > file.appendOffset) {
        return true;  // never over the header, never beyond the records held: nothing of ours lies there
    }
    std::memcpy(file.image.data() + record.offset, &record, kRecordCounterBytes);
    file.staged.push_back(static_cast<uint32_t>(record.offset));
    return true;
}

bool TokenDataFiles::WriteStagedCounters() {
    bool written = true;
    for (int s = 0; s < 2; ++s) {
        for (int letter = 0; letter < kLetterCount; ++letter) {
            TokenFile& file = tokenFiles_[s][letter];
            if (file.staged.empty()) {
                continue;
            }
            std::sort(file.staged.begin(), file.staged.end());
            file.staged.erase(std::unique(file.staged.begin(), file.staged.end()), file.staged.end());
            // An undo may have cut the file since: what lies beyond it is gone, nothing to write.
            while (!file.staged.empty() && file.staged.back() + uint64_t{kRecordSize} > file.image.size()) {
                file.staged.pop_back();
            }
            int error = 0;
            for (std::size_t i = 0; i < file.staged.size() && error == 0;) {
                const uint64_t start = file.staged[i];
                uint64_t end = start + kRecordCounterBytes;
                for (++i; i < file.staged.size() && file.staged[i] <= end + kJoinGapBytes; ++i) {
                    end = file.staged[i] + uint64_t{kRecordCounterBytes};
                }
                error = WriteAtOrError(file.fd.Get(), file.image.data() + start, end - start, start);
            }
            if (error != 0) {
                written = Fail(TokenFileName(static_cast<TokenSection>(s), letter), error) && written;
                continue;  // kept staged: an undo writes them again
            }
            file.staged.clear();
        }
    }
    return written;
}

bool TokenDataFiles::WriteBucketCounts(TokenSection section, int firstBucket,
                                       std::span<const int16_t> counts) {
    const std::string name = BucketCountFileName(TableOfSection(section));
    FileHandle& countFile = countFiles_[static_cast<int>(section)];
    if (!countFile.IsOpen()) {
        const int fd = OpenForWriting(name);
        if (fd < 0) {
            return Fail(name, -fd);
        }
        countFile.Reset(fd);
    }
    const int error = WriteAtOrError(countFile.Get(), counts.data(), counts.size_bytes(),
                                 sizeof(int16_t) * static_cast<uint64_t>(firstBucket));
    return error == 0 || Fail(name, error);
}

}  // namespace bramvell
