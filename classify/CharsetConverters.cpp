#include "classify/CharsetConverters.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace bramvell {
namespace {

constexpr std::size_t kMaxCharsetBytes = 40;

bool IsCharsetByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

struct KeptCharsets {
    std::mutex mutex;
    std::vector<std::string> names;   // every name tried, whether it opened or not
    std::vector<iconv_t> converters;  // those that opened
};

KeptCharsets& Kept() {
    // Never destroyed: its converters stay open until the process ends, which is the point.
    static auto* kept = new KeptCharsets;
    return *kept;
}

}  // namespace

void KeepConverterLoaded(std::string_view charset) {
    if (charset.empty() || charset.size() > kMaxCharsetBytes ||
        !std::all_of(charset.begin(), charset.end(), [](char c) { return IsCharsetByte(c); })) {
        return;
    }
    std::string name(charset);
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return g_ascii_tolower(c); });
    KeptCharsets& kept = Kept();
    const std::lock_guard lock(kept.mutex);
    if (kept.names.size() >= kMostKeptCharsets ||
        std::find(kept.names.begin(), kept.names.end(), name) != kept.names.end()) {
        return;
    }
    kept.names.push_back(name);
    // Opened as GMime opens it (its names for charsets), and never closed.
    if (const iconv_t converter = g_mime_iconv_open("UTF-8", name.c_str());
        converter != reinterpret_cast<iconv_t>(-1)) {
        kept.converters.push_back(converter);
    }
}

void KeepConvertersOfEncodedWords(std::string_view rawValue) {
    for (std::size_t at = rawValue.find("=?"); at != std::string_view::npos; at = rawValue.find("=?", at)) {
        at += 2;
        std::size_t end = at;
        while (end < rawValue.size() && end - at <= kMaxCharsetBytes &&
               IsCharsetByte(static_cast<unsigned char>(rawValue[end]))) {
            ++end;
        }
        // "=?charset?" or, with a language (RFC 2231), "=?charset*language?".
        if (end < rawValue.size() && (rawValue[end] == '?' || rawValue[end] == '*')) {
            KeepConverterLoaded(rawValue.substr(at, end - at));
        }
        at = end;
    }
}

}  // namespace bramvell
