#include "fuzz/support/ScratchFolder.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
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

}  // namespace

ScratchFolder& ScratchFolder::Instance() {
    static ScratchFolder folder;
    return folder;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = TemporaryBase() + "/bramvell-fuzz-XXXXXX";
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
