// Tokens of decoded messages: transfer encodings, encoded words, charsets, HTML, hostile MIME.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classify/HtmlText.h"
#include "classify/MimeTokenizer.h"
#include "classify/TextTokens.h"

namespace bramvell {
namespace {

std::vector<std::string> TokensOf(const std::string& message) {
    return MimeTokenizer().Tokenize(message);
}

bool Has(const std::vector<std::string>& tokens, const std::string& token) {
    return std::binary_search(tokens.begin(), tokens.end(), token);
}

struct MessageCase {
    const char* name;
    std::string message;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

TEST(MimeTokenizerTest, DecodedPartsGiveTheirWords) {
    const MessageCase cases[] = {
        {"base64 body",
         "Subject: hello\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
         "Q2hlYXAgdmlhZ3JhIG5vdywgb25seSB0b2RheQ==\n",
         {"cheap", "viagra", "now", "today", "cheap viagra", "subject:hello"},
         {"q2hlyxagdmlhz3jhig5vdywgb25sesb0b2rheq"}},
        {"quoted-printable latin-1 body",
         "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
         "Gr=FC=DFe aus M=FCnchen, soft=\nbreak\n",
         {"gr\xc3\xbc\xc3\x9f" "e", "m\xc3\xbcnchen", "softbreak"},
         {"soft", "fc"}},
        // Text that is not valid in its charset goes to GMime's converter; the valid words around survive.
        {"invalid UTF-8 body",
         "Content-Type: text/plain; charset=UTF-8\n\ncaf\xe9 au lait, valid caf\xc3\xa9\n",
         {"lait", "valid", "caf\xc3\xa9"},
         {"caf\xe9"}},
        {"8-bit bytes in a US-ASCII body",
         "Content-Type: text/plain; charset=us-ascii\n\nprice \xa3" "100 today\n",
         {"price", "today"},
         {"\xa3" "100"}},
        {"windows-1252 body",
         "Content-Type: text/plain; charset=windows-1252\n\n\x93quoted\x94 words\n",
         {"\xe2\x80\x9cquoted\xe2\x80\x9d", "words"},  // the curly quotes in UTF-8
         {"\x93quoted\x94"}},
        {"encoded-word subject",
         "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?= und =?UTF-8?B?T2ZmZXI=?= =?UTF-8?Q?s?=\n\nbody\n",
         // adjacent encoded words join (RFC 2047): "Offer" "s" make one word
         {"subject:gr\xc3\xbc\xc3\x9f" "e", "subject:offers", "subject:und", "header:subject"},
         {"subject:iso-8859-1"}},
        {"HTML without its tags",
         "Content-Type: text/html\n\n<html><body><p>Click <b>he</b>re <a "
         "href=\"http://www.shop.example.com/buy?now=1\">today</a><!-- hidden words --><style>p{color:red}"
         "</style>&amp;more</body></html>\n",
         {"click", "here", "today", "more", "html:p", "html:a", "url:www.shop.example.com",
          "url:shop.example.com", "url:example.com", "url:buy"},
         {"hidden", "color", "href", "he", "re", "html"}},
        {"addresses and URLs in header and text",
         "From: Alice <alice@mail.example.org>\nTo: bob@example.net\n\nSee http://10.1.2.3/x or www.deals.example.\n",
         {"from:alice", "from:addr:alice@", "from:addr:mail.example.org", "from:addr:example.org",
          "to:addr:example.net", "url:ip", "url:www.deals.example"},
         {"from:org", "see http"}},
        {"multipart with an attachment",
         "Content-Type: multipart/mixed; boundary=XX\n\n--XX\nContent-Type: text/plain\n\nplain words\n--XX\n"
         "Content-Type: application/octet-stream; name=run.exe\nContent-Disposition: attachment; "
         "filename=run.exe\nContent-Transfer-Encoding: base64\n\nTVqQAAMAAAAEAAAA\n--XX--\n",
         {"plain", "words", "part:application/octet-stream", "filename:exe"},
         {"tvqqaamaaaaeaaaa"}},
    };
    for (const MessageCase& c : cases) {
        const std::vector<std::string> tokens = TokensOf(c.message);
        for (const std::string& token : c.present) {
            EXPECT_TRUE(Has(tokens, token)) << c.name << ": missing " << token;
        }
        for (const std::string& token : c.absent) {
            EXPECT_FALSE(Has(tokens, token)) << c.name << ": unexpected " << token;
        }
    }
}

// A list repeats its name in many fields; only the fields that tell give words, whichever way the
// message is read (the quick one-part reading, GMime's tree for it, GMime's tree for a multipart).
TEST(MimeTokenizerTest, OnlyTellingHeaderFieldsGiveWords) {
    const std::string head =
        "From: Gerry <gerry@mail.example.org>\nTo: mice@lists.example.com\nSubject: short series\n"
        "Thread-Topic: quiz\nList-Id: <mice.lists.example.com>\n"
        "List-Post: <mailto:mice@lists.example.com>\nSender: mice-admin@lists.example.com\n"
        "Errors-To: mice-admin@lists.example.com\nX-Beenthere: mice@lists.example.com\n";
    const std::string messages[] = {
        head + "\nfirst of a series\n",
        head +
            "Content-Type: multipart/mixed; boundary=XX\n\n--XX\nContent-Type: text/plain\n\n"
            "first of a series\n--XX--\n",
    };
    for (const bool quick : {true, false}) {
        for (const std::string& message : messages) {
            MimeTokenizer::Options options;
            options.quickSinglePart = quick;
            const std::vector<std::string> tokens = MimeTokenizer(options).Tokenize(message);
            for (const char* token : {"from:gerry", "from:addr:example.org", "to:addr:lists.example.com",
                                      "subject:series", "thread-topic:quiz", "header:list-id",
                                      "header:list-post", "header:sender", "header:x-beenthere", "series"}) {
                EXPECT_TRUE(Has(tokens, token)) << "missing " << token << " (quick " << quick << ")";
            }
            for (const std::string& token : tokens) {
                for (const char* field :
                     {"list-id:", "list-post:", "sender:", "errors-to:", "x-beenthere:"}) {
                    EXPECT_FALSE(token.starts_with(field)) << "unexpected " << token;
                }
            }
        }
    }
}

TEST(MimeTokenizerTest, TokensAreDistinctSortedAndBounded) {
    std::string message = "Subject: a\n\n";
    for (int i = 0; i < 20000; ++i) {
        message += "word" + std::to_string(i) + " repeat repeat ";
    }
    message += std::string(100, 'x') + "\n";
    const std::vector<std::string> tokens = TokensOf(message);
    EXPECT_TRUE(std::is_sorted(tokens.begin(), tokens.end()));
    EXPECT_EQ(std::adjacent_find(tokens.begin(), tokens.end()), tokens.end());
    EXPECT_LE(tokens.size(), MimeTokenizer::kMaxTokens);
    for (const std::string& token : tokens) {
        EXPECT_LE(token.size(), 2 * MimeTokenizer::kMaxTokenBytes + 1);
    }
}

TEST(MimeTokenizerTest, HostileMessagesAreTokenizedWithoutHarm) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) {
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
    }
    deep += "\ninnermost\n";
    std::string huge = "Subject: big\n\nfirstpart\n";
    while (huge.size() < 2 * MimeTokenizer::kMaxMessageBytes) {
        huge += "filler text line\n";
    }
    huge += "lastpart\n";
    const std::string hostile[] = {
        "",
        "no header at all",
        std::string("\0\0\xff\xfe\n\n\x80\x81", 8),
        "Content-Type: multipart/mixed; boundary=\n\n--\n--\n",
        "Content-Type: multipart/alternative; boundary=Z\n\n--Z\nContent-Transfer-Encoding: base64\n\n!!!@@@\n",
        "Content-Type: text/plain; charset=no-such-charset\nContent-Transfer-Encoding: quoted-printable\n\n=ZZ=\n",
        "Subject: =?utf-8?B?####?= =?x?Q?=?=\n\nbody\n",
        "Content-Type: text/html\n\n<a href=\"http://\"><<<<>>>>&#99999999999;&;<!--",
        "Content-Type: message/rfc822\n\nContent-Type: message/rfc822\n\nSubject: inner\n\ninner body\n",
        deep,
    };
    for (const std::string& message : hostile) {
        const std::vector<std::string> tokens = TokensOf(message);
        EXPECT_LE(tokens.size(), MimeTokenizer::kMaxTokens);
    }
    const std::vector<std::string> bigTokens = TokensOf(huge);
    EXPECT_TRUE(Has(bigTokens, "firstpart"));
    EXPECT_FALSE(Has(bigTokens, "lastpart"));  // beyond the cap
}

}  // namespace
}  // namespace bramvell
