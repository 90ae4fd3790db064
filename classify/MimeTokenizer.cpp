#include "classify/MimeTokenizer.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

namespace bramvell {
namespace {

// Everything a message can make before the distinct ones are picked: a bound on memory and time.
constexpr std::size_t kMaxEmittedTokens = 4 * MimeTokenizer::kMaxTokens;
constexpr std::size_t kMaxTagNameBytes = 16;
constexpr std::size_t kMaxEntityBytes = 10;

void InitialiseGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

template <typename T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

struct GFree {
    void operator()(char* text) const { g_free(text); }
};

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool IsAlnum(unsigned char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsWordByte(unsigned char c) {
    return IsAlnum(c) || c >= 0x80 || c == '-' || c == '_' || c == '\'' || c == '$' || c == '!';
}

// Runs are split at white space, controls and the brackets and quotes that surround URLs and addresses.
bool IsRunBreak(unsigned char c) {
    static constexpr std::string_view kBreaks = "<>()[]{}\"',;|`\\";
    return c <= ' ' || c == 0x7f || kBreaks.find(static_cast<char>(c)) != std::string_view::npos;
}

class TokenSink {
  public:
    explicit TokenSink(std::vector<std::string>& tokens) : tokens_(tokens) {}

    bool Full() const { return tokens_.size() >= kMaxEmittedTokens; }

    // Adds prefix + word when the word, without its leading and trailing dashes, fits the bounds.
    bool Add(std::string_view prefix, std::string_view word,
             std::size_t minBytes = MimeTokenizer::kMinTokenBytes) {
        while (!word.empty() && (word.front() == '-' || word.front() == '_' || word.front() == '\'')) {
            word.remove_prefix(1);
        }
        while (!word.empty() && (word.back() == '-' || word.back() == '_' || word.back() == '\'')) {
            word.remove_suffix(1);
        }
        if (word.size() < minBytes || word.size() > MimeTokenizer::kMaxTokenBytes ||
            Full()) {
            return false;
        }
        std::string token;
        token.reserve(prefix.size() + word.size());
        token += prefix;
        for (char c : word) {
            token += LowerAscii(c);
        }
        tokens_.push_back(std::move(token));
        return true;
    }

  private:
    std::vector<std::string>& tokens_;
};

// A host and its parent domains of two labels or more: "www.example.com", "example.com".
void AddHost(TokenSink& sink, std::string_view prefix, std::string_view host) {
    while (!host.empty() && host.back() == '.') {
        host.remove_suffix(1);
    }
    if (host.empty()) {
        return;
    }
    if (std::all_of(host.begin(), host.end(), [](unsigned char c) { return IsDigit(c) || c == '.'; })) {
        sink.Add(prefix, "ip");
        return;
    }
    sink.Add(prefix, host);
    std::size_t dot = host.find('.');
    while (dot != std::string_view::npos) {
        const std::string_view parent = host.substr(dot + 1);
        if (parent.find('.') == std::string_view::npos) {
            break;
        }
        sink.Add(prefix, parent);
        dot = host.find('.', dot + 1);
    }
}

class TextTokenizer {
  public:
    TextTokenizer(TokenSink& sink, std::string_view prefix, bool wordPairs)
        : sink_(sink), prefix_(prefix), wordPairs_(wordPairs) {
        urlPrefix_ = std::string(prefix) + "url:";
        addressPrefix_ = std::string(prefix) + "addr:";
    }

    void Run(std::string_view text) {
        std::size_t i = 0;
        while (i < text.size() && !sink_.Full()) {
            while (i < text.size() && IsRunBreak(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            std::size_t end = i;
            while (end < text.size() && !IsRunBreak(static_cast<unsigned char>(text[end]))) {
                ++end;
            }
            if (end > i) {
                OneRun(text.substr(i, end - i));
            }
            i = end;
        }
    }

    // The link target of an HTML tag: host tokens only, no words of the surrounding text.
    void Url(std::string_view run) {
        const std::size_t scheme = run.find("://");
        std::string_view rest = scheme == std::string_view::npos ? run : run.substr(scheme + 3);
        const std::size_t hostEnd = rest.find_first_of("/?#:");
        std::string_view host = rest.substr(0, hostEnd);
        if (const std::size_t at = host.rfind('@'); at != std::string_view::npos) {
            host.remove_prefix(at + 1);
        }
        AddHost(sink_, urlPrefix_, Lowered(host));
        if (hostEnd != std::string_view::npos) {
            Words(rest.substr(hostEnd), urlPrefix_, false);
        }
        previous_.clear();
    }

  private:
    void OneRun(std::string_view run) {
        while (!run.empty() && (run.back() == '.' || run.back() == ':' || run.back() == '?')) {
            run.remove_suffix(1);
        }
        const std::string lower = Lowered(run.substr(0, 8));
        if (StartsWith(lower, "http://") || StartsWith(lower, "https://") || StartsWith(lower, "ftp://") ||
            StartsWith(lower, "www.")) {
            Url(run);
            return;
        }
        const std::size_t at = run.find('@');
        if (at != std::string_view::npos && at > 0 && run.find('.', at) != std::string_view::npos) {
            const std::string_view local = run.substr(0, at);
            sink_.Add(addressPrefix_, std::string(local) + "@");
            std::string_view domain = run.substr(at + 1);
            domain = domain.substr(0, domain.find_first_of("@:/?"));
            AddHost(sink_, addressPrefix_, Lowered(domain));
            previous_.clear();
            return;
        }
        Words(run, prefix_, wordPairs_);
    }

    // Words are runs of word bytes; a dot between digits joins them ("3.50").
    void Words(std::string_view run, std::string_view prefix, bool pairs) {
        std::size_t i = 0;
        while (i < run.size()) {
            while (i < run.size() && !IsWordByte(static_cast<unsigned char>(run[i]))) {
                ++i;
            }
            std::size_t end = i;
            while (end < run.size()) {
                const auto c = static_cast<unsigned char>(run[end]);
                const bool joiningDot = (c == '.' || c == ',') && end > i && end + 1 < run.size() &&
                                        IsDigit(static_cast<unsigned char>(run[end - 1])) &&
                                        IsDigit(static_cast<unsigned char>(run[end + 1]));
                if (!IsWordByte(c) && !joiningDot) {
                    break;
                }
                ++end;
            }
            if (end > i) {
                Word(run.substr(i, end - i), prefix, pairs);
            }
            i = end;
        }
    }

    void Word(std::string_view word, std::string_view prefix, bool pairs) {
        if (!sink_.Add(prefix, word)) {
            return;
        }
        if (!pairs) {
            return;
        }
        std::string current = Lowered(word);
        if (!previous_.empty()) {
            sink_.Add(prefix, previous_ + ' ' + current);
        }
        previous_ = std::move(current);
    }

    TokenSink& sink_;
    std::string_view prefix_;
    bool wordPairs_;
    std::string urlPrefix_;
    std::string addressPrefix_;
    std::string previous_;
};

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
    while (end < tag.size() && end - start < kMaxTagNameBytes && IsAlnum(static_cast<unsigned char>(tag[end]))) {
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

std::string HeaderPrefix(const char* name) {
    std::string prefix = Lowered(name == nullptr ? "" : name);
    if (prefix.size() > MimeTokenizer::kMaxTokenBytes) {
        prefix.resize(MimeTokenizer::kMaxTokenBytes);
    }
    prefix += ':';
    return prefix;
}

class MessageWalker {
  public:
    MessageWalker(TokenSink& sink, bool wordPairs) : sink_(sink), wordPairs_(wordPairs) {}

    void Headers(GMimeObject* object) {
        GMimeHeaderList* headers = g_mime_object_get_header_list(object);
        const int count = headers == nullptr ? 0 : g_mime_header_list_get_count(headers);
        for (int i = 0; i < count && !sink_.Full(); ++i) {
            GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
            const std::string prefix = HeaderPrefix(g_mime_header_get_name(header));
            sink_.Add("header:", prefix.substr(0, prefix.size() - 1));
            const char* value = g_mime_header_get_value(header);
            if (value == nullptr) {
                continue;
            }
            std::string_view text(value);
            text = text.substr(0, MimeTokenizer::kMaxHeaderValueBytes);
            TextTokenizer(sink_, prefix, wordPairs_ && prefix == "subject:").Run(text);
        }
    }

    void Walk(GMimeObject* object, std::size_t depth) {
        if (object == nullptr || depth > MimeTokenizer::kMaxNestedParts || sink_.Full()) {
            return;
        }
        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i) {
                Walk(g_mime_multipart_get_part(multipart, i), depth + 1);
            }
            return;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner != nullptr) {
                Walk(g_mime_message_get_mime_part(inner), depth + 1);
            }
            return;
        }
        GMimeContentType* type = g_mime_object_get_content_type(object);
        if (GMIME_IS_TEXT_PART(object)) {
            Text(GMIME_TEXT_PART(object), type);
            return;
        }
        if (GMIME_IS_PART(object)) {
            Attachment(GMIME_PART(object), type);
        }
    }

  private:
    void Text(GMimeTextPart* part, GMimeContentType* type) {
        std::unique_ptr<char, GFree> decoded(g_mime_text_part_get_text(part));
        if (decoded == nullptr) {
            return;
        }
        std::string_view text(decoded.get());
        // Decoding may expand; the bound on the message's bytes bounds this too, but be sure.
        text = text.substr(0, 2 * MimeTokenizer::kMaxMessageBytes);
        const char* subtype = type == nullptr ? nullptr : g_mime_content_type_get_media_subtype(type);
        if (subtype != nullptr && g_ascii_strcasecmp(subtype, "html") == 0) {
            std::vector<std::string> tagTokens;
            const std::string plain = TextOfHtml(text, tagTokens);
            for (const std::string& token : tagTokens) {
                sink_.Add("", token);
            }
            TextTokenizer(sink_, "", wordPairs_).Run(plain);
            return;
        }
        TextTokenizer(sink_, "", wordPairs_).Run(text);
    }

    void Attachment(GMimePart* part, GMimeContentType* type) {
        if (type != nullptr) {
            const char* media = g_mime_content_type_get_media_type(type);
            const char* subtype = g_mime_content_type_get_media_subtype(type);
            sink_.Add("part:", std::string(media == nullptr ? "" : media) + "/" + (subtype == nullptr ? "" : subtype));
        }
        const char* filename = g_mime_part_get_filename(part);
        if (filename != nullptr) {
            std::string_view name(filename);
            const std::size_t dot = name.rfind('.');
            if (dot != std::string_view::npos) {
                sink_.Add("filename:", name.substr(dot + 1));
            }
        }
    }

    TokenSink& sink_;
    bool wordPairs_;
};

// The first bytes of the message that are parsed: at most kMaxMessageBytes, cut after a line end, and
// cut before the line that would open more multipart or message parts than the walk follows (the
// parser recurses into each).
std::size_t ParsedLength(std::span<const char> message) {
    std::size_t length = message.size();
    if (length > MimeTokenizer::kMaxMessageBytes) {
        const std::string_view head(message.data(), MimeTokenizer::kMaxMessageBytes);
        const std::size_t lastLineEnd = head.rfind('\n');
        length = lastLineEnd == std::string_view::npos ? head.size() : lastLineEnd + 1;
    }
    const std::string_view text(message.data(), length);
    std::size_t containers = 0;
    for (std::size_t i = text.find('/'); i != std::string_view::npos; i = text.find('/', i + 1)) {
        const bool multipart = i >= 9 && g_ascii_strncasecmp(text.data() + i - 9, "multipart", 9) == 0;
        const bool inner = i >= 7 && g_ascii_strncasecmp(text.data() + i - 7, "message", 7) == 0;
        if ((multipart || inner) && ++containers > MimeTokenizer::kMaxNestedParts) {
            const std::size_t lineStart = text.rfind('\n', i);
            return lineStart == std::string_view::npos ? 0 : lineStart + 1;
        }
    }
    return length;
}

}  // namespace

void TokenizeText(std::string_view text, std::string_view prefix, bool wordPairs,
                  std::vector<std::string>& tokens) {
    TokenSink sink(tokens);
    TextTokenizer(sink, prefix, wordPairs).Run(text);
}

std::string TextOfHtml(std::string_view html, std::vector<std::string>& tokens) {
    TokenSink sink(tokens);
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

MimeTokenizer::MimeTokenizer() : MimeTokenizer(Options{}) {}

MimeTokenizer::MimeTokenizer(Options options) : options_(options) {
    InitialiseGMime();
}

std::vector<std::string> MimeTokenizer::Tokenize(std::span<const char> message) const {
    std::vector<std::string> tokens;
    TokenSink sink(tokens);
    const std::size_t length = ParsedLength(message);
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), length));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (parsed == nullptr) {
        TextTokenizer(sink, "", options_.wordPairs).Run(std::string_view(message.data(), length));
    } else {
        MessageWalker walker(sink, options_.wordPairs);
        walker.Headers(GMIME_OBJECT(parsed.get()));
        walker.Walk(g_mime_message_get_mime_part(parsed.get()), 0);
    }
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    if (tokens.size() > kMaxTokens) {
        tokens.resize(kMaxTokens);
    }
    return tokens;
}

}  // namespace bramvell
