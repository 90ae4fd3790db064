#include "engine/QuarantineFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bramvell {

namespace {

constexpr int kMaxSuffix = 9999;

}  // namespace

std::string QuarantineFile::BasePath(std::string_view folder, const LocalTime& when) {
    char name[40];
    std::snprintf(name, sizeof name, "%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d", when.year, when.month, when.day,
                  when.hour, when.minute, when.second);
    std::string path(folder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    path += ".txt";
    return path;
}

bool QuarantineFile::Create(std::string_view folder, const LocalTime& when) {
    path_ = BasePath(folder, when);
    const std::size_t cut = path_.find_last_of('/');
    const std::string base = path_.substr(cut + 1);
    const std::string stem = base.substr(0, base.size() - 4);
    folder_.Reset(::open(path_.substr(0, cut == 0 ? 1 : cut).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_.IsOpen()) {
        return false;
    }
    for (int suffix = 0; suffix <= kMaxSuffix; ++suffix) {
        std::string candidate = suffix == 0 ? base : stem + "-" + std::to_string(suffix) + ".txt";
        file_.Reset(::openat(folder_.Get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             kPrivateFileMode));
        if (file_.IsOpen()) {
            path_ = path_.substr(0, cut + 1) + candidate;
            name_ = std::move(candidate);
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return false;
}

bool QuarantineFile::Write(std::span<const HeldSegment> segments) {
    if (!file_.IsOpen()) {
        return false;
    }
    std::vector<iovec> pieces;
    pieces.reserve(segments.size());
    bool statusLineDone = false;
    for (const HeldSegment& segment : segments) {
        std::span<const uint8_t> payload = segment.Payload();
        if (!statusLineDone) {
            const void* lf = std::memchr(payload.data(), '\n', payload.size());
            if (lf == nullptr) {
                continue;
            }
            statusLineDone = true;
            payload = payload.subspan(
                static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - payload.data()) + 1);
        }
        if (!payload.empty()) {
            pieces.push_back({const_cast<uint8_t*>(payload.data()), payload.size()});
        }
    }
    bool ok = WriteAllVectored(file_.Get(), pieces) && ::fsync(file_.Get()) == 0;
    ok = (::close(file_.Release()) == 0) && ok;
    // The new name must be on disk too before the server's copy goes.
    ok = ok && ::fsync(folder_.Get()) == 0;
    if (!ok) {
        ::unlinkat(folder_.Get(), name_.c_str(), 0);
    }
    return ok;
}

}  // namespace bramvell
