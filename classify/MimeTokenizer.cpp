#include "classify/MimeTokenizer.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "classify/CharsetConverters.h"
#include "classify/HtmlText.h"
#include "classify/SinglePartScan.h"
#include "classify/TextTokens.h"
#include "classify/TokenizedHeaderFields.h"

namespace bramvell {

using namespace text_tokens;

namespace {

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

std::string HeaderPrefix(std::string_view name) {
    std::string prefix = Lowered(name);
    if (prefix.size() > MimeTokenizer::kMaxTokenBytes) {
        prefix.resize(MimeTokenizer::kMaxTokenBytes);
    }
    prefix += ':';
    return prefix;
}

// Charsets whose valid text this code turns into UTF-8 itself: opening an iconv converter costs more
// than tokenizing a short part, and these are most of the mail there is.
enum class KnownCharset { Other, Ascii, Utf8, Latin1 };

KnownCharset KnownCharsetOf(const char* name) {
    if (name == nullptr) {
        return KnownCharset::Other;
    }
    for (const char* ascii : {"us-ascii", "ascii"}) {
        if (g_ascii_strcasecmp(name, ascii) == 0) {
            return KnownCharset::Ascii;
        }
    }
    for (const char* utf8 : {"utf-8", "utf8"}) {
        if (g_ascii_strcasecmp(name, utf8) == 0) {
            return KnownCharset::Utf8;
        }
    }
    for (const char* latin1 : {"iso-8859-1", "iso8859-1", "latin1"}) {
        if (g_ascii_strcasecmp(name, latin1) == 0) {
            return KnownCharset::Latin1;
        }
    }
    return KnownCharset::Other;
}

// The part's content with its transfer encoding undone, up to its first NUL (as a C string ends).
bool DecodedContent(GMimeTextPart* part, std::string& out) {
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (content == nullptr) {
        return false;
    }
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    const std::string_view decoded(reinterpret_cast<const char*>(bytes->data), bytes->len);
    out.assign(decoded.substr(0, decoded.find('\0')));
    return true;
}

// Turns text of the given charset (none, or one of KnownCharset) into UTF-8 as GMime's converter would;
// false, with the text unchanged, when only the converter can (it is not valid in its charset).
bool KnownCharsetToUtf8(const char* charset, KnownCharset known, std::string& text) {
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (charset == nullptr || ascii) {
        return true;  // without a charset GMime converts nothing either
    }
    if (known == KnownCharset::Utf8 &&
        g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        return true;
    }
    if (known != KnownCharset::Latin1) {
        return false;
    }
    std::string converted;
    converted.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (byte >> 6));
            converted += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    text.swap(converted);
    return true;
}

// The part's text in UTF-8, the same as g_mime_text_part_get_text gives, converted here when the text
// is valid in a charset of KnownCharset (the converter's output would be the same) and by GMime
// otherwise. False when the part has no content.
bool TextOfPart(GMimeTextPart* part, std::string& out) {
    GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(part));
    const char* charset = type == nullptr ? nullptr : g_mime_content_type_get_parameter(type, "charset");
    const KnownCharset known = KnownCharsetOf(charset);
    if (charset == nullptr || known != KnownCharset::Other) {
        if (!DecodedContent(part, out)) {
            return false;
        }
        if (KnownCharsetToUtf8(charset, known, out)) {
            return true;
        }
    }
    if (charset != nullptr) {
        KeepConverterLoaded(charset);
    }
    std::unique_ptr<char, GFree> text(g_mime_text_part_get_text(part));
    if (text == nullptr) {
        return false;
    }
    out.assign(text.get());
    return true;
}

// The transfer encodings a one-part message may have for this code to decode it as GMime would.
bool TransferEncodingOf(std::string_view rawValue, std::string& scratch, GMimeContentEncoding& encoding) {
    UnfoldedValue(rawValue, scratch);
    if (g_ascii_strcasecmp(scratch.c_str(), "7bit") == 0 ||
        g_ascii_strcasecmp(scratch.c_str(), "8bit") == 0 ||
        g_ascii_strcasecmp(scratch.c_str(), "binary") == 0) {
        encoding = GMIME_CONTENT_ENCODING_DEFAULT;
        return true;
    }
    if (g_ascii_strcasecmp(scratch.c_str(), "base64") == 0) {
        encoding = GMIME_CONTENT_ENCODING_BASE64;
        return true;
    }
    if (g_ascii_strcasecmp(scratch.c_str(), "quoted-printable") == 0) {
        encoding = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
        return true;
    }
    return false;
}

// The body of a one-part message read by ScanSinglePart, as the text GMime's walk would give it: its
// transfer encoding undone, cut at its first NUL, in UTF-8; html tells whether it is text/html. False
// when it is not text, or its encoding or charset needs GMime.
bool TextOfSinglePart(const SinglePartMessage& message, std::string& scratch, std::string& out, bool& html,
                      GObjectPtr<GMimeContentType>& type, GMimeContentEncoding& encoding) {
    html = false;
    const char* charset = nullptr;
    type.reset();
    if (message.hasContentType) {
        scratch.assign(message.contentType);
        type.reset(g_mime_content_type_parse(nullptr, scratch.c_str()));
        if (type == nullptr || !g_mime_content_type_is_type(type.get(), "text", "*")) {
            return false;
        }
        html = g_mime_content_type_is_type(type.get(), "text", "html");
        charset = g_mime_content_type_get_parameter(type.get(), "charset");
    }
    const KnownCharset known = KnownCharsetOf(charset);
    encoding = GMIME_CONTENT_ENCODING_DEFAULT;
    if ((charset != nullptr && known == KnownCharset::Other) ||
        (message.hasTransferEncoding && !TransferEncodingOf(message.transferEncoding, scratch, encoding))) {
        return false;
    }
    const std::string_view body = message.body;
    if (encoding == GMIME_CONTENT_ENCODING_DEFAULT) {
        out.assign(body.substr(0, body.find('\0')));
    } else {
        GMimeEncoding state;
        g_mime_encoding_init_decode(&state, encoding);
        out.resize(g_mime_encoding_outlen(&state, body.size()) + 16);
        std::size_t length = g_mime_encoding_step(&state, body.data(), body.size(), out.data());
        length += g_mime_encoding_flush(&state, nullptr, 0, out.data() + length);
        out.resize(length);
        out.resize(std::min(out.size(), out.find('\0')));
    }
    return KnownCharsetToUtf8(charset, known, out);
}

class MessageWalker {
  public:
    MessageWalker(TokenSink& sink, bool wordPairs, bool partTypes)
        : sink_(sink), wordPairs_(wordPairs), partTypes_(partTypes) {}

    // What a part is: "type:text/html", "charset:windows-1252", "encoding:base64".
    void PartType(GMimeContentType* type, GMimeContentEncoding encoding) {
        if (!partTypes_) {
            return;
        }
        if (type != nullptr) {
            const char* media = g_mime_content_type_get_media_type(type);
            const char* subtype = g_mime_content_type_get_media_subtype(type);
            sink_.Add("type:",
                      std::string(media == nullptr ? "" : media) + "/" + (subtype == nullptr ? "" : subtype));
            if (const char* charset = g_mime_content_type_get_parameter(type, "charset");
                charset != nullptr) {
                sink_.Add("charset:", charset);
            }
        } else {
            sink_.Add("type:", "text/plain");
        }
        if (encoding == GMIME_CONTENT_ENCODING_BASE64) {
            sink_.Add("encoding:", "base64");
        } else if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE) {
            sink_.Add("encoding:", "quoted-printable");
        }
    }

    void Headers(GMimeObject* object) {
        GMimeHeaderList* headers = g_mime_object_get_header_list(object);
        const int count = headers == nullptr ? 0 : g_mime_header_list_get_count(headers);
        for (int i = 0; i < count && !sink_.Full(); ++i) {
            GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
            const char* name = g_mime_header_get_name(header);
            if (const char* raw = g_mime_header_get_raw_value(header); raw != nullptr) {
                KeepConvertersOfEncodedWords(raw);
            }
            const char* value = g_mime_header_get_value(header);
            Field(name == nullptr ? "" : name, value == nullptr ? std::string_view() : value, value != nullptr);
        }
    }

    // One header field: its name as a token, and, for the fields whose words tell, its (decoded)
    // value's words prefixed with the name.
    void Field(std::string_view name, std::string_view value, bool hasValue) {
        const std::string prefix = HeaderPrefix(name);
        const std::string_view lowered(prefix.data(), prefix.size() - 1);
        sink_.Add("header:", lowered);
        if (!hasValue || !HeaderFieldWordsAreTokenized(lowered)) {
            return;
        }
        const std::string_view text = value.substr(0, MimeTokenizer::kMaxHeaderValueBytes);
        TextTokenizer(sink_, prefix, wordPairs_ && prefix == "subject:").Run(text);
    }

    // A text part's words; an HTML part's tags become tokens of their own and its text is tokenized.
    void Body(std::string_view text, bool html) {
        // Decoding may expand; the bound on the message's bytes bounds this too, but be sure.
        text = text.substr(0, 2 * MimeTokenizer::kMaxMessageBytes);
        if (html) {
            TokenSink tagTokens;
            const std::string plain = TextOfHtml(text, tagTokens);
            for (std::size_t i = 0; i < tagTokens.Size(); ++i) {
                sink_.Add("", tagTokens.At(i));
            }
            TextTokenizer(sink_, "", wordPairs_).Run(plain);
            return;
        }
        TextTokenizer(sink_, "", wordPairs_).Run(text);
    }

    void Walk(GMimeObject* object, std::size_t depth) {
        if (object == nullptr || depth > MimeTokenizer::kMaxNestedParts || sink_.Full()) {
            return;
        }
        PartType(g_mime_object_get_content_type(object),
                 GMIME_IS_PART(object) ? g_mime_part_get_content_encoding(GMIME_PART(object))
                                       : GMIME_CONTENT_ENCODING_DEFAULT);
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
        if (!TextOfPart(part, decoded_)) {
            return;
        }
        const char* subtype = type == nullptr ? nullptr : g_mime_content_type_get_media_subtype(type);
        Body(decoded_, subtype != nullptr && g_ascii_strcasecmp(subtype, "html") == 0);
    }

    void Attachment(GMimePart* part, GMimeContentType* type) {
        if (type != nullptr) {
            const char* media = g_mime_content_type_get_media_type(type);
            const char* subtype = g_mime_content_type_get_media_subtype(type);
            sink_.Add("part:",
                      std::string(media == nullptr ? "" : media) + "/" + (subtype == nullptr ? "" : subtype));
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
    bool partTypes_;
    std::string decoded_;
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

bool MimeTokenizer::TokenizeSinglePart(std::string_view message, TokenSink& sink) const {
    thread_local SinglePartMessage scanned;
    thread_local std::string scratch;
    thread_local std::string text;
    bool html = false;
    GObjectPtr<GMimeContentType> type;
    GMimeContentEncoding encoding = GMIME_CONTENT_ENCODING_DEFAULT;
    if (!ScanSinglePart(message, scanned) ||
        !TextOfSinglePart(scanned, scratch, text, html, type, encoding)) {
        return false;
    }
    MessageWalker walker(sink, options_.wordPairs, options_.partTypes);
    walker.PartType(type.get(), encoding);
    for (const SinglePartMessage::Field& field : scanned.fields) {
        if (sink.Full()) {
            break;
        }
        UnfoldedValue(field.rawValue, scratch);
        walker.Field(field.name, scratch, true);
    }
    walker.Body(text, html);
    return true;
}

MimeTokenizer::MimeTokenizer() : MimeTokenizer(Options{}) {}

MimeTokenizer::MimeTokenizer(Options options) : options_(options) {
    InitialiseGMime();
}

TokenSink& MimeTokenizer::Fill(std::span<const char> message) const {
    // One sink per thread, its buffers reused from message to message.
    thread_local TokenSink sink;
    sink.KeepDistinctOnly();
    sink.Clear();
    const std::size_t length = ParsedLength(message);
    if (options_.quickSinglePart && TokenizeSinglePart(std::string_view(message.data(), length), sink)) {
        return sink;
    }
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), length));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GObjectPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
    if (parsed == nullptr) {
        TextTokenizer(sink, "", options_.wordPairs).Run(std::string_view(message.data(), length));
    } else {
        MessageWalker walker(sink, options_.wordPairs, options_.partTypes);
        walker.Headers(GMIME_OBJECT(parsed.get()));
        walker.Walk(g_mime_message_get_mime_part(parsed.get()), 0);
    }
    return sink;
}

std::vector<std::string> MimeTokenizer::Tokenize(std::span<const char> message) const {
    return Fill(message).Distinct(kMaxTokens);
}

std::vector<std::string_view> MimeTokenizer::TokenizeInPlace(std::span<const char> message) const {
    return Fill(message).DistinctViews(kMaxTokens);
}

}  // namespace bramvell
