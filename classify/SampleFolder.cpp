#include "classify/SampleFolder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace bramvell {
namespace {

constexpr std::string_view kBase64Marker = "Content-Transfer-Encoding: base64";

bool IsSubjectLine(std::string_view line) {
    constexpr std::string_view kSubject = "subject:";
    if (line.size() < kSubject.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kSubject.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
        if (c != kSubject[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<SampleEntry> ListSampleFolder(const std::string& folder) {
    std::vector<std::pair<std::string, SampleEntry>> named;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::error_code typeError;
        const bool directory = it->is_directory(typeError);
        named.push_back({it->path().filename().string(), SampleEntry{it->path().string(), directory}});
    }
    std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SampleEntry> entries;
    entries.reserve(named.size());
    for (auto& [name, entry] : named) {
        entries.push_back(std::move(entry));
    }
    return entries;
}

SampleReadStatus SampleReader::Read(const std::string& path, const PumpCallback& pump, const OnLine& onLine) {
    if (!Open(path)) {
        return SampleReadStatus::CannotOpen;
    }
    return ReadOpened(pump, onLine);
}

SampleReadStatus SampleReader::ReadOpened(const PumpCallback& pump, const OnLine& onLine) {
    bool inHeader = true;
    MessageLine line;
    while (lines_.NextLine(line)) {
        const std::string_view text = line.text;
        const bool stop = text.substr(0, kBase64Marker.size()) == kBase64Marker;
        if (!KeepGoing(pump)) {
            return SampleReadStatus::Stopped;
        }
        if (stop) {
            break;
        }
        if (inHeader) {
            if (text.empty()) {
                inHeader = false;
            } else if (IsSubjectLine(text)) {
                onLine(text, true);
            }
            continue;
        }
        onLine(text, false);
    }
    return SampleReadStatus::Read;
}

}  // namespace bramvell
