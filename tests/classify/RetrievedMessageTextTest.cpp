// The message a held retrieval reply carries, as the chi-square scorer reads it.
#include "classify/RetrievedMessageText.h"

#include <gtest/gtest.h>

#include "classify/TextLineSource.h"

namespace bramvell {
namespace {

std::string Collect(std::string_view reply, std::size_t maxBytes, std::size_t* linesPassed = nullptr) {
    TextLineSource lines;
    lines.SetText(reply);
    std::string buffer = "left from the last message";
    RetrievedMessageText text(lines, buffer, maxBytes);
    MessageLine line;
    std::size_t passed = 0;
    while (text.NextLine(line)) {
        ++passed;
    }
    if (linesPassed != nullptr) {
        *linesPassed = passed;
    }
    return {text.Message().begin(), text.Message().end()};
}

TEST(RetrievedMessageTextTest, StatusAndClosingLinesOutDotStuffingUndone) {
    const std::string reply = "+OK 60 octets\r\nSubject: dots\r\n\r\n..hidden\r\n.\r\n";
    std::size_t passed = 0;
    EXPECT_EQ(Collect(reply, 1024, &passed), "Subject: dots\n\n.hidden\n");
    EXPECT_EQ(passed, 5u);  // every line still reaches the reader behind it
}

TEST(RetrievedMessageTextTest, KeepsWholeLinesUpToTheLimit) {
    const std::string reply = "+OK\r\nabc\r\ndefgh\r\nij\r\n.\r\n";
    EXPECT_EQ(Collect(reply, 9), "abc\n");  // "defgh\n" would pass 9 bytes: nothing from it on
    EXPECT_EQ(Collect(reply, 10), "abc\ndefgh\n");
    EXPECT_EQ(Collect("+OK only a status line\r\n", 10), "");
}

}  // namespace
}  // namespace bramvell
