#include "classify/TokenDataFiles.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "classify/TokenTables.h"

namespace bramvell {
namespace {

// Token files are mapped with room to grow, so that most appends need no new mapping; pages past the
// end of the file are never touched.
constexpr std::size_t kMapReserve = std::size_t{16} << 20;

void WriteAll(int fd, const void* bytes, std::size_t length, uint64_t offset) {
    const char* data = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t written = ::pwrite(fd, data, length, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
        offset += static_cast<uint64_t>(written);
    }
}

}  // namespace

TokenDataFiles::TokenDataFiles(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

TokenDataFiles::~TokenDataFiles() {
    for (auto& section : tokenFiles_) {
        for (TokenFile& file : section) {
            if (file.map != nullptr) {
                ::munmap(file.map, file.mapLength);
            }
            if (file.fd >= 0) {
                ::close(file.fd);
            }
        }
    }
    for (int fd : countFiles_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

TokenDataFiles::TokenFile& TokenDataFiles::Open(TokenSection section, int firstLetter) {
    TokenFile& file = tokenFiles_[static_cast<int>(section)][firstLetter];
    if (file.opened) {
        return file;
    }
    file.opened = true;
    const std::string path = dataFolder_ + "/" + TokenFileName(section, firstLetter);
    file.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (file.fd < 0) {
        return file;
    }
    struct stat status {};
    uint64_t size = ::fstat(file.fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
    if (size < kTokenFileHeaderSize) {
        // New (or too short to hold a header): start it afresh.
        const int32_t header = kTokenFileHeaderSize;
        WriteAll(file.fd, &header, sizeof header, 0);
        file.appendOffset = kTokenFileHeaderSize;
    } else {
        // Append after the last whole record; a trailing partial record, which the loader skipped,
        // is overwritten. The header is not trusted: it may disagree with the file's length.
        file.appendOffset = kTokenFileHeaderSize +
                            (size - kTokenFileHeaderSize) / kRecordSize * static_cast<uint64_t>(kRecordSize);
    }
    Map(file, file.appendOffset);
    return file;
}

void TokenDataFiles::Map(TokenFile& file, uint64_t needed) {
    if (file.map != nullptr) {
        ::munmap(file.map, file.mapLength);
        file.map = nullptr;
        file.mapLength = 0;
    }
    const std::size_t length = static_cast<std::size_t>(needed) * 2 + kMapReserve;
    void* map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, file.fd, 0);
    if (map != MAP_FAILED) {
        file.map = static_cast<char*>(map);
        file.mapLength = length;
    }
}

void TokenDataFiles::WriteAt(TokenFile& file, const void* bytes, std::size_t length, uint64_t offset) {
    // Through the mapping only inside the file's known length; everything else by pwrite.
    if (file.map != nullptr && offset + length <= file.appendOffset && offset + length <= file.mapLength) {
        std::memcpy(file.map + offset, bytes, length);
        return;
    }
    WriteAll(file.fd, bytes, length, offset);
}

void TokenDataFiles::EnsureTokenFile(TokenSection section, int firstLetter) {
    Open(section, firstLetter);
}

void TokenDataFiles::WriteCounters(TokenSection section, int firstLetter, const TokenRecord& record) {
    TokenFile& file = Open(section, firstLetter);
    if (file.fd < 0 || record.offset < kTokenFileHeaderSize) {
        return;  // never over the header
    }
    WriteAt(file, &record, kRecordCounterBytes, static_cast<uint64_t>(record.offset));
}

void TokenDataFiles::AppendRecord(TokenSection section, int firstLetter, TokenRecord& record) {
    TokenFile& file = Open(section, firstLetter);
    if (file.appendOffset + kRecordSize > INT32_MAX) {
        return;  // an offset field could not name the record
    }
    record.offset = static_cast<int32_t>(file.appendOffset);
    if (file.fd >= 0) {
        WriteAll(file.fd, &record, kRecordSize, file.appendOffset);
    }
    file.appendOffset += kRecordSize;
    if (file.fd < 0) {
        return;
    }
    const int32_t header = static_cast<int32_t>(file.appendOffset);
    if (file.map != nullptr && file.appendOffset > file.mapLength) {
        Map(file, file.appendOffset);
    }
    WriteAt(file, &header, sizeof header, 0);
}

void TokenDataFiles::WriteBucketCount(TokenSection section, int bucket, int16_t count) {
    const int index = static_cast<int>(section);
    if (!countFilesOpened_[index]) {
        countFilesOpened_[index] = true;
        const std::string path = dataFolder_ + "/" + BucketCountFileName(TableOfSection(section));
        countFiles_[index] = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    }
    if (countFiles_[index] >= 0) {
        WriteAll(countFiles_[index], &count, sizeof count, 2 * static_cast<uint64_t>(bucket));
    }
}

}  // namespace bramvell
