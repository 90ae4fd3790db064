#include "config/FileOptions.h"

#include "config/FilterSettings.h"
#include "config/OptionsFile.h"

namespace bramvell {

void ApplyOptionsFile(const OptionsFile& file, FileOptions& options) {
    options.spamAnswerNotice = file.Get("spam-answer") == "notice" ? 1 : 0;
}

void LoadFileOptions(FileOptions& options, const SettingsLocation& location) {
    OptionsFile file(location);
    if (file.Load()) {
        ApplyOptionsFile(file, options);
    }
}

}  // namespace bramvell
