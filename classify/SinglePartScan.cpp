#include "classify/SinglePartScan.h"

#include <strings.h>

namespace bramvell {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Bytes a plain header block may hold: printable ASCII, tab and the line ends.
bool IsPlainHeaderByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x20 && byte < 0x7f) || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7f && c != ':';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The line at pos without its line end, and where the next one starts.
std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t& next) {
    const std::size_t end = text.find('\n', pos);
    next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(pos, (end == std::string_view::npos ? text.size() : end) - pos);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

bool ScanSinglePart(std::string_view message, SinglePartMessage& out) {
    out.fields.clear();
    out.hasContentType = false;
    out.contentType = {};
    out.hasTransferEncoding = false;
    out.transferEncoding = {};
    out.body = {};
    if (message.empty()) {
        return false;  // GMime reads no message from nothing
    }
    std::size_t pos = 0;
    std::size_t next = 0;
    while (pos < message.size()) {
        const std::string_view line = LineAt(message, pos, next);
        if (line.empty()) {
            out.body = message.substr(next);
            return true;
        }
        if (IsBlank(line.front())) {
            return false;  // a continuation with no field before it
        }
        std::size_t nameEnd = 0;
        while (nameEnd < line.size() && IsNameByte(line[nameEnd])) {
            ++nameEnd;
        }
        std::size_t colon = nameEnd;
        while (colon < line.size() && IsBlank(line[colon])) {
            ++colon;
        }
        if (nameEnd == 0 || colon >= line.size() || line[colon] != ':') {
            // Not a field. GMime passes over an mbox "From " line at the start; any other such line,
            // or one that is the whole message, is left to GMime.
            if (pos != 0 || !line.starts_with("From ") || next == message.size()) {
                return false;
            }
            pos = next;
            continue;
        }
        // The value runs on over the continuation lines that follow.
        std::size_t valueEnd = next;
        while (valueEnd < message.size() && IsBlank(message[valueEnd])) {
            LineAt(message, valueEnd, valueEnd);
        }
        const std::size_t valueStart = pos + colon + 1;
        const std::string_view value = message.substr(valueStart, valueEnd - valueStart);
        for (std::size_t i = pos; i < valueEnd; ++i) {
            const char c = message[i];
            const bool next = i + 1 < valueEnd;
            // An 8-bit byte, an encoded word or a CR that ends no line: GMime's reading differs.
            if (!IsPlainHeaderByte(c) || (c == '=' && next && message[i + 1] == '?') ||
                (c == '\r' && !(next && message[i + 1] == '\n'))) {
                return false;
            }
        }
        const std::string_view name = line.substr(0, nameEnd);
        if (StartsWithNoCase(name, "content-")) {
            if (EqualsNoCase(name, "content-type")) {
                if (out.hasContentType) {
                    return false;
                }
                out.hasContentType = true;
                out.contentType = value;
            } else if (EqualsNoCase(name, "content-transfer-encoding")) {
                if (out.hasTransferEncoding) {
                    return false;
                }
                out.hasTransferEncoding = true;
                out.transferEncoding = value;
            }
        } else {
            out.fields.push_back({name, value});
        }
        pos = valueEnd;
    }
    return true;  // fields up to the end, no body
}

void UnfoldedValue(std::string_view rawValue, std::string& out) {
    out.clear();
    for (char c : rawValue) {
        if (c != '\r' && c != '\n') {
            out += c;
        }
    }
    const std::size_t first = out.find_first_not_of(" \t");
    if (first == std::string::npos) {
        out.clear();
        return;
    }
    const std::size_t last = out.find_last_not_of(" \t");
    out.erase(last + 1);
    out.erase(0, first);
}

}  // namespace bramvell
