#pragma once

#include <string>
#include <string_view>

namespace bramvell::fuzz {

// A private folder for targets that read files, made once per process on a memory file system when
// there is one (/dev/shm), so that file traffic costs little per input. Emptied between inputs;
// removed at process exit.
class ScratchFolder {
  public:
    // The process-wide folder.
    static ScratchFolder& Instance();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    const std::string& Path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

    // Removes everything inside the folder, keeping the folder itself.
    void Clear() const;
    // Creates a sub-folder (and missing parents); returns its path.
    std::string MakeFolder(std::string_view relative) const;
    // Writes a file, replacing an older one; false when it cannot be written.
    bool WriteFile(std::string_view relative, std::string_view bytes) const;

  private:
    ScratchFolder();
    std::string path_;
};

}  // namespace bramvell::fuzz
