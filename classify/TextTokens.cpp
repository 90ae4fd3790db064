#include "classify/TextTokens.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "classify/TokenHead.h"

namespace bramvell {

using namespace text_tokens;

namespace {

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

}  // namespace

void TokenSink::Push(std::size_t offset) {
    const std::size_t length = bytes_.size() - offset;
    Entry entry{{0, 0}, static_cast<uint32_t>(offset), static_cast<uint32_t>(length)};
    TokenHeadOf(std::string_view(bytes_).substr(offset), entry.head);
    ++emitted_;
    if (distinctOnly_ && HeldAlready(entry)) {
        bytes_.resize(offset);
        return;
    }
    entries_.push_back(entry);
}

uint64_t TokenSink::HashOf(const Entry& entry, std::string_view bytes) {
    uint64_t hash = (entry.head[0] * 0x9E3779B97F4A7C15ull) ^ (entry.head[1] + entry.length);
    hash *= 0xC2B2AE3D27D4EB4Full;
    for (std::size_t i = 16; i < entry.length; ++i) {
        hash = (hash ^ static_cast<unsigned char>(bytes[entry.offset + i])) * 0x100000001B3ull;
    }
    return hash ^ (hash >> 29);
}

bool TokenSink::HeldAlready(const Entry& entry) {
    if (slots_.empty() || 2 * (entries_.size() + 1) > slots_.size()) {
        GrowSlots();
    }
    const std::string_view bytes(bytes_);
    const std::string_view token = bytes.substr(entry.offset, entry.length);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = HashOf(entry, bytes) & mask;; i = (i + 1) & mask) {
        const uint32_t held = slots_[i];
        if (held == 0) {
            slots_[i] = static_cast<uint32_t>(entries_.size() + 1);
            touched_.push_back(static_cast<uint32_t>(i));
            return false;
        }
        const Entry& other = entries_[held - 1];
        if (other.length == entry.length && other.head[0] == entry.head[0] &&
            other.head[1] == entry.head[1] && bytes.substr(other.offset, other.length) == token) {
            return true;
        }
    }
}

void TokenSink::GrowSlots() {
    std::vector<uint32_t>(std::max<std::size_t>(1024, 2 * slots_.size())).swap(slots_);
    touched_.clear();
    const std::string_view bytes(bytes_);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        std::size_t i = HashOf(entries_[k], bytes) & mask;
        while (slots_[i] != 0) {
            i = (i + 1) & mask;
        }
        slots_[i] = static_cast<uint32_t>(k + 1);
        touched_.push_back(static_cast<uint32_t>(i));
    }
}

void TokenSink::Clear() {
    constexpr std::size_t kKeptBytes = std::size_t{1} << 20;
    if (bytes_.capacity() > kKeptBytes || entries_.capacity() * sizeof(Entry) > kKeptBytes) {
        std::string().swap(bytes_);
        std::vector<Entry>().swap(entries_);
    }
    bytes_.clear();
    entries_.clear();
    emitted_ = 0;
    if (slots_.size() * sizeof(uint32_t) > kKeptBytes) {
        std::vector<uint32_t>().swap(slots_);
        touched_.clear();
    }
    for (uint32_t i : touched_) {
        slots_[i] = 0;
    }
    touched_.clear();
}

std::vector<std::string_view> TokenSink::DistinctViews(std::size_t limit) {
    const std::string_view bytes(bytes_);
    auto text = [bytes](const Entry& entry) { return bytes.substr(entry.offset, entry.length); };
    // Heads that differ order two tokens as their bytes do (the zero padding puts a shorter token
    // first); equal heads compare the bytes after them.
    std::sort(entries_.begin(), entries_.end(), [&text](const Entry& a, const Entry& b) {
        if (a.head[0] != b.head[0]) {
            return a.head[0] < b.head[0];
        }
        if (a.head[1] != b.head[1]) {
            return a.head[1] < b.head[1];
        }
        const std::size_t skip = std::min<std::size_t>({16, a.length, b.length});
        return text(a).substr(skip) < text(b).substr(skip);
    });
    std::vector<std::string_view> tokens;
    tokens.reserve(std::min(limit, entries_.size()));
    for (std::size_t i = 0; i < entries_.size() && tokens.size() < limit; ++i) {
        const Entry& entry = entries_[i];
        if (i > 0 && entry.head[0] == entries_[i - 1].head[0] && entry.head[1] == entries_[i - 1].head[1] &&
            text(entry) == text(entries_[i - 1])) {
            continue;
        }
        tokens.push_back(text(entry));
    }
    return tokens;
}

std::vector<std::string> TokenSink::Distinct(std::size_t limit) {
    const std::vector<std::string_view> views = DistinctViews(limit);
    return std::vector<std::string>(views.begin(), views.end());
}

std::vector<std::string> TokenSink::All() const {
    std::vector<std::string> tokens;
    tokens.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        tokens.emplace_back(At(i));
    }
    return tokens;
}

namespace text_tokens {

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

namespace {

// The classes of every byte worked out once: the scans ask for one per byte of the text.
constexpr uint8_t kWordByte = 1;
constexpr uint8_t kRunBreak = 2;

constexpr std::array<uint8_t, 256> ByteClasses() {
    std::array<uint8_t, 256> classes{};
    constexpr std::string_view kBreaks = "<>()[]{}\"',;|`\\";
    for (int i = 0; i < 256; ++i) {
        const auto c = static_cast<unsigned char>(i);
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (alnum || c >= 0x80 || c == '-' || c == '_' || c == '\'' || c == '$' || c == '!') {
            classes[i] |= kWordByte;
        }
        if (c <= ' ' || c == 0x7f || kBreaks.find(static_cast<char>(c)) != std::string_view::npos) {
            classes[i] |= kRunBreak;
        }
    }
    return classes;
}

constexpr std::array<uint8_t, 256> kByteClasses = ByteClasses();

}  // namespace

bool IsWordByte(unsigned char c) {
    return (kByteClasses[c] & kWordByte) != 0;
}

bool IsRunBreak(unsigned char c) {
    return (kByteClasses[c] & kRunBreak) != 0;
}

}  // namespace text_tokens

TextTokenizer::TextTokenizer(TokenSink& sink, std::string_view prefix, bool wordPairs)
    : sink_(sink), prefix_(prefix), wordPairs_(wordPairs) {
    urlPrefix_ = std::string(prefix) + "url:";
    addressPrefix_ = std::string(prefix) + "addr:";
}

void TextTokenizer::Run(std::string_view text) {
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

void TextTokenizer::Url(std::string_view run) {
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

void TextTokenizer::OneRun(std::string_view run) {
    while (!run.empty() && (run.back() == '.' || run.back() == ':' || run.back() == '?')) {
        run.remove_suffix(1);
    }
    char head[8];
    const std::size_t headLength = std::min(run.size(), sizeof head);
    std::transform(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(headLength), head, LowerAscii);
    const std::string_view lower(head, headLength);
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

void TextTokenizer::Words(std::string_view run, std::string_view prefix, bool pairs) {
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

void TextTokenizer::Word(std::string_view word, std::string_view prefix, bool pairs) {
    if (!sink_.Add(prefix, word)) {
        return;
    }
    if (!pairs) {
        return;
    }
    current_.assign(word);
    std::transform(current_.begin(), current_.end(), current_.begin(), LowerAscii);
    if (!previous_.empty()) {
        pair_.assign(previous_);
        pair_ += ' ';
        pair_ += current_;
        sink_.Add(prefix, pair_);
    }
    previous_.swap(current_);
}

void TokenizeText(std::string_view text, std::string_view prefix, bool wordPairs,
                  std::vector<std::string>& tokens) {
    TokenSink sink;
    TextTokenizer(sink, prefix, wordPairs).Run(text);
    tokens = sink.All();
}

}  // namespace bramvell
