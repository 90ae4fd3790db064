#include "config/FileOptions.h"

#include <charconv>

#include "config/FilterSettings.h"
#include "config/OptionsFile.h"

namespace bramvell {

void ApplyOptionsFile(const OptionsFile& file, FileOptions& options) {
    options.spamAnswerNotice = file.Get("spam-answer") == "notice" ? 1 : 0;
    const std::string bytes = file.Get("early-verdict-bytes");
    uint32_t value = FileOptions::kDefaultEarlyVerdictBytes;
    std::from_chars(bytes.data(), bytes.data() + bytes.size(), value);  // Get() gives only valid numbers
    options.earlyVerdictBytes = value;
}

void LoadFileOptions(FileOptions& options, const SettingsLocation& location) {
    OptionsFile file(location);
    if (file.Load()) {
        ApplyOptionsFile(file, options);
    }
}

}  // namespace bramvell
