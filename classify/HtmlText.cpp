#include "classify/HtmlText.h"

#include <array>
#include <utility>

#include "classify/TextTokens.h"

namespace bramvell {

using namespace text_tokens;

namespace {

constexpr std::size_t kMaxTagNameBytes = 16;
constexpr std::size_t kMaxEntityBytes = 10;

// Skips an HTML element's content up to its closing tag ("</style"), case-insensitively.
std::size_t SkipElement(std::string_view html, std::size_t from, std::string_view name) {
    const std::string closing = "</" + std::string(name);
    for (std::size_t i = html.find('<', from); i != std::string_view::npos; i = html.find('<', i + 1)) {
        if (Lowered(html.substr(i, closing.size())) == closing) {
            return i;
        }
    }
    return html.size();
}

void AddTag(std::string_view tag, TokenSink& sink, std::string& name) {
    std::size_t start = tag.empty() || tag[0] != '/' ? 0 : 1;
    std::size_t end = start;
    while (end < tag.size() && end - start < kMaxTagNameBytes &&
           IsAlnum(static_cast<unsigned char>(tag[end]))) {
        ++end;
    }
    name = Lowered(tag.substr(start, end - start));
    if (!name.empty()) {
        sink.Add("html:", name, 1);  // "p", "a", "b" tell as much as longer names
    }
    // Link targets (href, src, action) as URL tokens.
    const std::string lower = Lowered(tag);
    TextTokenizer urls(sink, "", false);
    for (std::size_t at = lower.find("http"); at != std::string::npos; at = lower.find("http", at + 4)) {
        std::size_t stop = at;
        while (stop < tag.size() && !IsRunBreak(static_cast<unsigned char>(tag[stop]))) {
            ++stop;
        }
        if (lower.compare(at, 7, "http://") == 0 || lower.compare(at, 8, "https://") == 0) {
            urls.Url(tag.substr(at, stop - at));
        }
    }
}

char EntityCharacter(std::string_view entity) {
    static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed = {
        {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
    for (const auto& [name, character] : kNamed) {
        if (entity == name) {
            return character;
        }
    }
    if (entity.size() > 1 && entity[0] == '#' && IsDigit(static_cast<unsigned char>(entity[1]))) {
        int value = 0;
        for (char c : entity.substr(1)) {
            if (!IsDigit(static_cast<unsigned char>(c))) {
                return ' ';
            }
            value = value * 10 + (c - '0');
        }
        return value > ' ' && value < 0x7f ? static_cast<char>(value) : ' ';
    }
    return ' ';
}

}  // namespace

std::string TextOfHtml(std::string_view html, TokenSink& sink) {
    std::string text;
    text.reserve(html.size());
    std::string name;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.substr(i, 4) == "<!--") {
                const std::size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                text += ' ';
                continue;
            }
            const std::size_t end = html.find('>', i + 1);
            const std::size_t tagEnd = end == std::string_view::npos ? html.size() : end;
            const bool closingTag = i + 1 < html.size() && html[i + 1] == '/';
            AddTag(html.substr(i + 1, tagEnd - i - 1), sink, name);
            i = tagEnd == html.size() ? tagEnd : tagEnd + 1;
            if (!closingTag && (name == "style" || name == "script")) {
                i = SkipElement(html, i, name);
            }
            // Tags that break lines separate words; inline ones ("w<b>or</b>d") do not.
            const bool inlineTag = name == "b" || name == "i" || name == "u" || name == "font" ||
                                   name == "span" || name == "em" || name == "strong" || name == "a";
            if (!inlineTag) {
                text += ' ';
            }
            continue;
        }
        if (c == '&') {
            const std::size_t semicolon = html.find(';', i + 1);
            if (semicolon != std::string_view::npos && semicolon - i <= kMaxEntityBytes) {
                text += EntityCharacter(Lowered(html.substr(i + 1, semicolon - i - 1)));
                i = semicolon + 1;
                continue;
            }
        }
        text += c;
        ++i;
    }
    return text;
}

}  // namespace bramvell
