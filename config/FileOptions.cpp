#include "config/FileOptions.h"

#include <charconv>

#include "config/FilterSettings.h"
#include "config/OptionsFile.h"

namespace bramvell {

void ApplyOptionsFile(const OptionsFile& file, FileOptions& options) {
    options.spamAnswerNotice = file.Get("spam-answer") == "notice" ? 1 : 0;
    const std::string early = file.Get("early-verdict-bytes");  // checked by the file: digits, in range
    uint32_t bytes = kDefaultEarlyVerdictBytes;
    std::from_chars(early.data(), early.data() + early.size(), bytes);
    options.earlyVerdictBytes = bytes;
}

void LoadFileOptions(FileOptions& options, const SettingsLocation& location) {
    OptionsFile file(location);
    if (file.Load()) {
        ApplyOptionsFile(file, options);
    }
}

}  // namespace bramvell
