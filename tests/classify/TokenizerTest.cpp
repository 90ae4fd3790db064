#include "classify/Tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classify/TokenRecord.h"

namespace bramvell {
namespace {

std::vector<std::string> Tokens(Tokenizer& tokenizer, const std::string& line) {
    std::vector<std::string> tokens;
    tokenizer.Feed(line, [&](const Token& token) { tokens.emplace_back(token.letters, token.length); });
    return tokens;
}

std::vector<std::string> Tokens(const std::string& line) {
    Tokenizer tokenizer;
    return Tokens(tokenizer, line);
}

using Words = std::vector<std::string>;

TEST(TokenizerTest, LetterRunsOfThreeOrMoreAreTokens) {
    EXPECT_EQ(Tokens("Buy cheap meds at an OK price"), (Words{"Buy", "cheap", "meds", "price"}));
    EXPECT_EQ(Tokens("free2win"), (Words{"free", "win"}));
    EXPECT_EQ(Tokens("one_two-three"), (Words{"one", "two", "three"}));
    EXPECT_EQ(Tokens("caf\xe9ine"), (Words{"caf", "ine"}));  // bytes from 0x80 end a token
    EXPECT_EQ(Tokens("ab cd e f gh"), Words{});
    EXPECT_EQ(Tokens("abc"), Words{"abc"});  // the position past the end closes the last token
    EXPECT_EQ(Tokens(""), Words{});
}

TEST(TokenizerTest, KeepsOnlyTheFirstThirteenLetters) {
    const Words tokens = Tokens("Internationalization");
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0],
              "Internationa"
              "l");
}

TEST(TokenizerTest, HtmlCommentsHideLettersAndNest) {
    EXPECT_EQ(Tokens("abc<!--def-->ghi"), (Words{"abc", "ghi"}));
    EXPECT_EQ(Tokens("one<!--two<!--three-->four-->five"), (Words{"one", "five"}));
    EXPECT_EQ(Tokens("x-->closer without opener"), (Words{"closer", "without", "opener"}));
    EXPECT_EQ(Tokens("abc<!-"), Words{"abc"});  // an opener must lie wholly within the line
}

TEST(TokenizerTest, CommentDepthCarriesAcrossLinesUntilReset) {
    Tokenizer tokenizer;
    EXPECT_EQ(Tokens(tokenizer, "visible <!-- hidden"), Words{"visible"});
    EXPECT_EQ(Tokens(tokenizer, "still hidden"), Words{});
    EXPECT_EQ(tokenizer.CommentDepth(), 1);
    EXPECT_EQ(Tokens(tokenizer, "end--> shown"), Words{"shown"});
    Tokens(tokenizer, "<!-- open again");
    tokenizer.Reset();
    EXPECT_EQ(Tokens(tokenizer, "fresh message"), (Words{"fresh", "message"}));
}

Token MakeToken(const std::string& text) {
    Token token;
    for (std::size_t i = 0; i < text.size() && i < kSignificantLetters; ++i) {
        token.letters[i] = text[i];
    }
    token.length = static_cast<int>(std::min<std::size_t>(text.size(), kSignificantLetters));
    return token;
}

TEST(TokenTest, CaseForms) {
    EXPECT_EQ(MakeToken("free").Form(), CaseForm::Lower);
    EXPECT_EQ(MakeToken("Free").Form(), CaseForm::Capitalised);
    EXPECT_EQ(MakeToken("FREE").Form(), CaseForm::Upper);
    EXPECT_EQ(MakeToken("eBay").Form(), CaseForm::Upper);
    // Only the first thirteen letters decide: a capital as letter 14 leaves the token Lower.
    Tokenizer tokenizer;
    std::vector<CaseForm> forms;
    tokenizer.Feed("abcdefghijklmNop", [&](const Token& token) { forms.push_back(token.Form()); });
    EXPECT_EQ(forms, std::vector<CaseForm>{CaseForm::Lower});
}

TEST(TokenTest, KeyAndBucket) {
    EXPECT_EQ(MakeToken("Internationalization").Key(), MakeToken("internationally").Key());
    const TokenKey key = MakeToken("Internationalization").Key();
    EXPECT_EQ(std::string(key.bytes.data(), kKeyLength), "nternational");
    EXPECT_EQ(MakeToken("FREE").Key(), MakeToken("free").Key());
    EXPECT_EQ(std::string(MakeToken("win").Key().bytes.data(), 3), std::string("in\0", 3));
    EXPECT_EQ(MakeToken("abc").Bucket(), 0 * 676 + 1 * 26 + 2);
    EXPECT_EQ(MakeToken("Zzz").Bucket(), 17575);
    EXPECT_EQ(MakeToken("FREE").Bucket(), MakeToken("free").Bucket());
    EXPECT_EQ(MakeToken("free").FirstLetter(), 5);
}

}  // namespace
}  // namespace bramvell

namespace bramvell {
namespace {

// The tokenizer's rule stated byte by byte, as plainly as possible: the fast scan must agree with it.
struct ReferenceTokenizer {
    int depth = 0;
    std::vector<std::string> Feed(const std::string& line) {
        std::vector<std::string> tokens;
        std::string run;
        for (std::size_t i = 0; i <= line.size(); ++i) {
            const unsigned char c = i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
            if (depth == 0 && IsLetter(c)) {
                run += static_cast<char>(c);
                continue;
            }
            if (line.compare(i, 4, "<!--") == 0) {
                ++depth;
            } else if (depth > 0 && line.compare(i, 3, "-->") == 0) {
                --depth;
            }
            if (run.size() >= 3) {
                tokens.push_back(run.substr(0, kSignificantLetters));
            }
            run.clear();
        }
        return tokens;
    }
};

TEST(TokenizerTest, AgreesWithTheByteByByteRuleOnRandomLines) {
    // Few symbols, so that openers, closers, overlaps ("<!-->") and runs of every length are common.
    const std::string alphabet = "aBcZqQmM<!->- x\xe9";
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int message = 0; message < 2000; ++message) {
        Tokenizer tokenizer;
        Tokenizer wordTokenizer;
        ReferenceTokenizer reference;
        for (int lineNumber = 0; lineNumber < 4; ++lineNumber) {
            std::string line;
            const std::size_t length = next() % 40;
            for (std::size_t i = 0; i < length; ++i) {
                const uint32_t pick = next() % 8;
                line += pick == 0   ? std::string("<!--")
                        : pick == 1 ? std::string("-->")
                                    : std::string(1, alphabet[next() % alphabet.size()]);
            }
            const std::vector<std::string> expected = reference.Feed(line);
            ASSERT_EQ(Tokens(tokenizer, line), expected) << "line: " << line;
            ASSERT_EQ(tokenizer.CommentDepth(), reference.depth);
            // The two-word form of each token: same letters, key and case form.
            std::size_t index = 0;
            wordTokenizer.FeedWords(line, [&](const TokenWords& words) {
                ASSERT_LT(index, expected.size());
                const Token token = MakeToken(expected[index++]);
                EXPECT_EQ(words.length, token.length);
                EXPECT_EQ(words.Key(), token.Key()) << expected[index - 1];
                EXPECT_EQ(words.Form(), token.Form()) << expected[index - 1];
                std::string letters;
                for (int i = 0; i < words.length; ++i) {
                    letters += static_cast<char>((i < 8 ? words.head : words.tail) >> (8 * (i % 8)));
                }
                EXPECT_EQ(letters, expected[index - 1]);
            });
            ASSERT_EQ(index, expected.size());
        }
    }
}

}  // namespace
}  // namespace bramvell
