// FindTrustedProgram: where a program we start with capabilities may come from.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

// As the kernel's own limit on links followed for one path.
constexpr int kMaxLinksFollowed = 40;

bool Refuse(std::string* problem, std::string text) {
    if (problem) {
        *problem = std::move(text);
    }
    return false;
}

// Components of path pushed so that the first component is taken next (a stack, last at the front).
void PushComponents(std::string_view path, std::vector<std::string>& pending) {
    std::vector<std::string> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool WritableByOthers(const struct stat& info) {
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Walks path one component at a time, following links by hand, so that every folder and link met on
// the way is checked, not only the final file. Returns the final file's path.
bool Resolve(const std::string& path, std::string& resolved, std::string* problem) {
    struct stat info {};
    if (lstat("/", &info) != 0 || info.st_uid != 0 || WritableByOthers(info)) {
        return Refuse(problem, "the root folder is not root's alone");
    }
    std::vector<std::string> pending;
    PushComponents(path, pending);
    resolved = "/";
    int links = 0;
    while (!pending.empty()) {
        const std::string part = pending.back();
        pending.pop_back();
        if (part == "..") {
            resolved = Parent(resolved);  // already checked on the way down
            continue;
        }
        const std::string candidate = (resolved == "/" ? "" : resolved) + "/" + part;
        if (lstat(candidate.c_str(), &info) != 0) {
            return Refuse(problem, candidate + ": " + std::strerror(errno));
        }
        if (info.st_uid != 0) {
            return Refuse(problem, candidate + " does not belong to root");
        }
        if (S_ISLNK(info.st_mode)) {
            // A link's own mode means nothing; its folder (checked already) guards it.
            if (++links > kMaxLinksFollowed) {
                return Refuse(problem, path + ": too many links");
            }
            std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
            const ssize_t length = readlink(candidate.c_str(), target.data(), target.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
                return Refuse(problem, candidate + ": unreadable link");
            }
            target.resize(static_cast<std::size_t>(length));
            if (target.front() == '/') {
                resolved = "/";
            }
            PushComponents(target, pending);
            continue;
        }
        if (WritableByOthers(info)) {
            return Refuse(problem, candidate + " is writable by group or others");
        }
        const bool last = pending.empty();
        if (!last && !S_ISDIR(info.st_mode)) {
            return Refuse(problem, candidate + " is not a folder");
        }
        resolved = candidate;
    }
    if (!S_ISREG(info.st_mode) || (info.st_mode & S_IXUSR) == 0) {
        return Refuse(problem, resolved + " is not an executable file");
    }
    return true;
}

}  // namespace

std::string FindTrustedProgram(const std::string& name, std::string* problem) {
    if (name.empty()) {
        Refuse(problem, "no program named");
        return {};
    }
    std::string resolved;
    if (name.find('/') != std::string::npos) {
        if (name.front() != '/') {
            Refuse(problem, name + ": a program path must be absolute");
            return {};
        }
        return Resolve(name, resolved, problem) ? resolved : std::string();
    }
    for (const char* folder : kTrustedProgramFolders) {
        const std::string candidate = std::string(folder) + "/" + name;
        struct stat info {};
        if (lstat(candidate.c_str(), &info) != 0) {
            continue;
        }
        // The first one there decides: a refused program is not replaced by one further down.
        return Resolve(candidate, resolved, problem) ? resolved : std::string();
    }
    Refuse(problem, name + ": not found in /usr/sbin, /usr/bin, /sbin or /bin");
    return {};
}

}  // namespace bramvell
