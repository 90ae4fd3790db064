#include "fuzz/support/ScratchFolder.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace bramvell::fuzz {

namespace {

std::string TemporaryBase() {
    if (::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

constexpr std::string_view kPrefix = "bramvell-fuzz-";

// A run that ends in a crash leaves its folder behind (no destructors run). Folders are named after
// their process, so those of processes that are gone can go.
void RemoveStaleFolders(const std::string& base) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kPrefix, 0) != 0) {
            continue;
        }
        const std::string pid = name.substr(kPrefix.size(), name.find('-', kPrefix.size()) - kPrefix.size());
        if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos &&
            ::access(("/proc/" + pid).c_str(), F_OK) != 0) {
            std::error_code ignored;
            std::filesystem::remove_all(it->path(), ignored);
        }
    }
}

}  // namespace

ScratchFolder& ScratchFolder::Instance() {
    static ScratchFolder folder;
    return folder;
}

ScratchFolder::ScratchFolder() {
    const std::string base = TemporaryBase();
    RemoveStaleFolders(base);
    std::string pattern = base + "/" + std::string(kPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder under " + TemporaryBase());
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchFolder::Clear() const {
    std::error_code error;
    for (std::filesystem::directory_iterator it(path_, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code ignored;
        std::filesystem::remove_all(it->path(), ignored);
    }
}

std::string ScratchFolder::MakeFolder(std::string_view relative) const {
    std::string path = *this / relative;
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    return path;
}

bool ScratchFolder::WriteFile(std::string_view relative, std::string_view bytes) const {
    std::ofstream out(*this / relative, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace bramvell::fuzz
