// The quick reading of one-part messages: it must give exactly the tokens GMime's parse gives, and
// leave to GMime what it does not read the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classify/MimeTokenizer.h"
#include "classify/SinglePartScan.h"

namespace bramvell {
namespace {

std::vector<std::string> Tokens(const std::string& message, bool quick) {
    return MimeTokenizer(MimeTokenizer::Options{true, quick}).Tokenize(message);
}

TEST(SinglePartScanTest, QuickReadingGivesTheTokensOfGMimesParse) {
    const std::string longValue = [] {
        std::string value;
        for (int i = 0; i < 300; ++i) {
            value += " word" + std::to_string(i) + "\n";
        }
        return value;
    }();
    const struct {
        const char* name;
        std::string message;
    } cases[] = {
        {"mbox line, folded subject, CRLF",
         "From someone@example.com Sun Sep  8 00:29:58 2002\r\nReturn-Path: <a@example.com>\r\n"
         "Subject: cheap\r\n  offer\r\n\tinside\r\nX-Spacey : value\r\n\r\nBody text here\r\n"},
        {"base64 utf-8 body",
         "Subject: hi\nContent-Type: text/plain; charset=\"UTF-8\"\nContent-Transfer-Encoding: Base64\n\n"
         "Q2hlYXAgdmlhZ3JhIG5vdywgb25seSB0b2RheQ==\n"},
        {"quoted-printable latin-1 html, folded type",
         "Subject: x\nContent-Type: TEXT/HTML;\n charset=iso-8859-1\nContent-Transfer-Encoding: "
         "quoted-printable\n\n"
         "<p>Gr=FC=DFe <a href=3D\"http://spam.example.com/x\">click</a> soft=\nbreak</p>\n"},
        {"8-bit latin-1 body", "Content-Type: text/plain; charset=latin1\n\ncaf\xe9 cr\xe8me\n"},
        {"body cut at NUL", std::string("Subject: nul\n\nbefore\0after words\n", 30)},
        {"no body", "Subject: only headers\nFrom: a@example.com"},
        {"empty message", ""},
        {"empty content type", "Content-Type:\n\nbody words\n"},
        {"CR inside a field", "Content-Type: text/plain;\r charset=us-ascii\n\nbody words\n"},
        {"empty transfer encoding", "Content-Transfer-Encoding:\n\nbody words\n"},
        {"empty value and other content fields",
         "X-Empty:\nContent-Length: 12\nContent-Disposition: inline\nSubject: s\n\nbody\n"},
        {"value longer than the bound, folded", "Subject:" + longValue + "\nbody\n"},
        // Left to GMime: each must still give GMime's tokens.
        {"encoded word", "Subject: =?iso-8859-1?q?caf=E9?= time\n\nbody\n"},
        {"8-bit header", "Subject: caf\xe9\n\nbody\n"},
        {"line that is no field", "Subject: a\nNot a field line\nFrom: b@example.com\n\nbody\n"},
        {"mbox line among the fields", "Subject: a\nFrom b Sun Sep  8\n\nbody\n"},
        {"invalid utf-8", "Content-Type: text/plain; charset=utf-8\n\nbad \xc3\x28 text\n"},
        {"other charset", "Content-Type: text/plain; charset=windows-1252\n\nquote \x93here\x94\n"},
        {"uuencode", "Content-Transfer-Encoding: x-uuencode\n\nbegin 644 a\n#86)C\n`\nend\n"},
        {"not text", "Content-Type: application/octet-stream; name=a.exe\n\nMZ...\n"},
        {"two content types", "Content-Type: text/plain\nContent-Type: text/html\n\n<b>bold</b> words\n"},
        {"multipart",
         "Content-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\nplain "
         "part\n--b--\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Tokens(c.message, true), Tokens(c.message, false)) << c.name;
    }
}

TEST(SinglePartScanTest, ReadsFieldsAsGMimesParserDoes) {
    SinglePartMessage message;
    ASSERT_TRUE(
        ScanSinglePart("From x Sun Sep  8\nSubject: a\n b\nContent-Type: text/plain\n"
                       "Content-Transfer-Encoding: 7bit\nTo: c\n\nthe body\n",
                       message));
    ASSERT_EQ(message.fields.size(), 2u);
    EXPECT_EQ(message.fields[0].name, "Subject");
    EXPECT_EQ(message.fields[0].rawValue, " a\n b\n");
    EXPECT_EQ(message.fields[1].name, "To");
    EXPECT_EQ(message.contentType, " text/plain\n");
    EXPECT_EQ(message.transferEncoding, " 7bit\n");
    EXPECT_EQ(message.body, "the body\n");

    std::string unfolded;
    UnfoldedValue(message.fields[0].rawValue, unfolded);
    EXPECT_EQ(unfolded, "a b");

    EXPECT_FALSE(ScanSinglePart(" leading continuation\n\nbody\n", message));
    EXPECT_FALSE(ScanSinglePart("Bad Name: x\n\nbody\n", message));
    EXPECT_FALSE(ScanSinglePart("Subject: =?utf-8?b?eA==?=\n\nbody\n", message));
}

}  // namespace
}  // namespace bramvell
