#include "engine/AttachmentRenamer.h"

#include <array>
#include <string>

#include "config/ActivityLog.h"

namespace bramvell {

namespace {

// Compared in this order against the last three characters of the file name.
constexpr std::array<std::string_view, 38> kExecutableExtensions = {
    "ade", "adp", "bas", "bat", "chm", "cmd", "com", "cpl", "crt", "exe", "hlp", "hta", "inf",
    "ins", "isp", ".js", ".vb", "jse", "lnk", "mdb", "mde", "msc", "msi", "msp", "mst", "pcd",
    "pif", "reg", "scr", "sct", "shs", "shb", "url", "vbe", "vbs", "wsc", "wsf", "wsh"};

constexpr std::string_view kFilenameMarker = "filename=";

}  // namespace

bool AttachmentRenamer::Rename(const MessageLine& messageLine) {
    const std::string_view line = messageLine.text;
    const std::size_t marker = line.find(kFilenameMarker);
    if (marker == std::string_view::npos) {
        return false;
    }
    // The name follows the marker and its opening quote and runs to the line's last character, the
    // closing quote.
    const std::size_t nameStart = marker + kFilenameMarker.size() + 1;
    if (line.size() < nameStart + 1 + 3) {
        return false;
    }
    const std::string_view name = line.substr(nameStart, line.size() - 1 - nameStart);
    const std::string_view extension = name.substr(name.size() - 3);

    for (std::string_view entry : kExecutableExtensions) {
        if (extension != entry) {
            continue;
        }
        const bool twoLetters = entry.front() == '.';
        const std::size_t cut = twoLetters ? 3 : 4;
        const std::size_t keep = name.size() > cut ? name.size() - cut : 0;
        std::string text = "Bramvell has renamed attachment '";
        text.append(name);
        text += "' to '";
        text.append(name.substr(0, keep));
        text += ".tb'\n";
        LogActivity(settings_, text, clock_);
        // The bytes just before the closing quote.
        if (twoLetters) {
            reader_.Patch(messageLine.position, line.size() - 3, "tb");
        } else {
            reader_.Patch(messageLine.position, line.size() - 4, "tb ");
        }
        return true;
    }
    return false;
}

}  // namespace bramvell
