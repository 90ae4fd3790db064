// List files are the user's private data in a folder others may plant things in: writes never go
// through a link, reads never block on a FIFO, and a line without an end stays bounded.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "ListStoreFixture.h"
#include "lists/BucketFile.h"
#include "lists/BucketOf.h"
#include "lists/ListLine.h"
#include "lists/TextLineReader.h"

namespace bramvell {
namespace {

using testing::ListStoreFixture;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

class ListFileSafetyTest : public ListStoreFixture {
  protected:
    std::string BucketFileOf(ListKind kind, const std::string& text) const {
        return DataFile(BucketFileName(kind, BucketOf(text)));
    }
    std::string Outside() const { return home_ / "outside"; }
};

TEST_F(ListFileSafetyTest, APlantedLinkIsNeitherWrittenThroughNorLoaded) {
    const std::string text = "spammer@example.com";
    WriteWholeFile(Outside(), "spammer@example.com\r\n");
    std::filesystem::create_symlink(Outside(), BucketFileOf(ListKind::A, text));

    ASSERT_TRUE(store_.LoadAll());
    EXPECT_FALSE(store_.FindEntry(ListKind::A, text));  // the link's target is not loaded
    EXPECT_FALSE(store_.AddEntry(ListKind::A, text));   // appending refuses the link
    EXPECT_EQ(ReadWholeFile(Outside()), "spammer@example.com\r\n");

    // A rewrite replaces the link with a file of its own; a link at the temporary name goes too.
    const std::string bucketFile = BucketFileOf(ListKind::A, text);
    const std::string temporary = DataFile("." + BucketFileName(ListKind::A, BucketOf(text)) + ".tmp");
    std::filesystem::create_symlink(Outside(), temporary);
    EXPECT_TRUE(store_.RemoveEntry(ListKind::A, text));
    EXPECT_EQ(ReadWholeFile(Outside()), "spammer@example.com\r\n");
    EXPECT_FALSE(std::filesystem::is_symlink(bucketFile));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temporary)));
}

TEST_F(ListFileSafetyTest, NewListFilesArePrivate) {
    ASSERT_TRUE(store_.AddEntry(ListKind::E, "friend@example.com"));
    ASSERT_TRUE(store_.AddEntry(ListKind::E, "other@example.com"));
    ASSERT_TRUE(store_.RemoveEntry(ListKind::E, "other@example.com"));
    for (const char* text : {"friend@example.com", "other@example.com"}) {
        struct stat info {};
        ASSERT_EQ(::stat(BucketFileOf(ListKind::E, text).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << text;
    }
}

TEST_F(ListFileSafetyTest, AFifoAmongTheListsDoesNotBlockLoading) {
    ASSERT_EQ(::mkfifo(DataFile("B0000").c_str(), 0600), 0);
    WriteData("B0001", FormatListLine(ListKind::B, "example.com", 0));
    ASSERT_TRUE(store_.LoadAll());
    EXPECT_EQ(Texts(ListKind::B, 1), (std::vector<std::string>{"example.com"}));
    EXPECT_FALSE(AppendToFile(DataFile("B0000"), "example.org\r\n"));  // nor appending
    TextLineReader reader(DataFile("B0000"));
    EXPECT_FALSE(reader.IsOpen());
}

struct LinesCase {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(TextLineReaderTest, SplitsLinesAsBeforeAndCutsOverlongOnes) {
    const std::size_t longest = TextLineReader::kMaxLineLength;
    const std::vector<LinesCase> cases = {
        {"CR LF and LF end lines", "a\r\nb\nc", {"a", "b", "c"}},
        {"a lone CR stays", "a\rb\r\n\r", {"a\rb", "\r"}},
        {"empty lines count, no line after the last LF", "\n\r\n", {"", ""}},
        {"nothing", "", {}},
        {"an overlong line keeps its start",
         std::string(longest + 10, 'x') + "\r\nnext\n",
         {std::string(longest, 'x'), "next"}},
        {"a line just at the bound is whole",
         std::string(longest, 'y') + "\r\n",
         {std::string(longest, 'y')}},
        {"a line of many reads", std::string(40000, 'z'), {std::string(longest, 'z')}},
    };
    testing::TempFolder folder;
    for (const LinesCase& c : cases) {
        const std::string path = folder / "lines";
        WriteWholeFile(path, c.bytes);
        TextLineReader reader(path);
        ASSERT_TRUE(reader.IsOpen()) << c.what;
        std::vector<std::string> lines;
        for (std::string line; reader.Next(line);) {
            lines.push_back(line);
        }
        EXPECT_EQ(lines, c.lines) << c.what;
    }
}

}  // namespace
}  // namespace bramvell
