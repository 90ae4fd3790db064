// A Data folder made to hurt: every loader must finish quickly and load what is sound. Registered a
// second time in CMake with a short timeout, so a hang fails instead of waiting out the default.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "ClassifyTestSupport.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::Le32;
using testing::MakeRecord;
using testing::WriteWholeFile;

std::string RecordFileBytes(const std::vector<TokenRecord>& records) {
    std::string bytes = Le32(static_cast<uint32_t>(4 + 40 * records.size()));
    for (const TokenRecord& record : records) {
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return bytes;
}

TEST(HostileDataFolderTest, IdenticalRecordsLoadInLinearTimeAndTheFirstCounts) {
    ClassifyFixture fixture;
    std::vector<TokenRecord> records(200000, MakeRecord("money", {0, 0, 0}, {5, 0, 0}));
    records.front() = MakeRecord("money", {0, 0, 0}, {1, 0, 0});
    records.push_back(MakeRecord("mother", {2, 0, 0}, {0, 0, 0}));
    WriteWholeFile(fixture.Data("0112"), RecordFileBytes(records));

    ASSERT_EQ(LoadTokenTables(*fixture.tables, fixture.folder.path()), LoadStatus::Complete);
    const TokenTable& body = fixture.tables->bodyTokenTable();
    const TokenRecord* money = body.Find(testing::BucketOf("money"), testing::KeyOf("money"));
    ASSERT_NE(money, nullptr);
    EXPECT_EQ(money->spam[0], 1u);
    EXPECT_EQ(money->offset, 4);
    const TokenRecord* mother = body.Find(testing::BucketOf("mother"), testing::KeyOf("mother"));
    ASSERT_NE(mother, nullptr);
    EXPECT_EQ(mother->ham[0], 2u);
    EXPECT_EQ(body.RecordCount(), 200001u);
}

TEST(HostileDataFolderTest, FifosAndLinksInPlaceOfDataFilesAreSkipped) {
    ClassifyFixture fixture;
    ASSERT_EQ(::mkfifo(fixture.Data("X010").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(fixture.Data("0105").c_str(), 0600), 0);
    const std::string outside = fixture.folder / "outside";
    WriteWholeFile(outside, RecordFileBytes({MakeRecord("mail", {0, 0, 0}, {1, 0, 0})}));
    std::filesystem::create_symlink(outside, fixture.Data("0112"));
    WriteWholeFile(fixture.Data("0122"), RecordFileBytes({MakeRecord("word", {3, 0, 0}, {0, 0, 0})}));

    ASSERT_EQ(LoadTokenTables(*fixture.tables, fixture.folder.path()), LoadStatus::Complete);
    const TokenTable& body = fixture.tables->bodyTokenTable();
    EXPECT_EQ(body.Find(testing::BucketOf("mail"), testing::KeyOf("mail")), nullptr);
    EXPECT_NE(body.Find(testing::BucketOf("word"), testing::KeyOf("word")), nullptr);
    EXPECT_EQ(body.RecordCount(), 1u);
}

TEST(HostileDataFolderTest, AMissingDataFolderIsCreatedPrivate) {
    ClassifyFixture fixture;
    std::filesystem::remove_all(fixture.folder / "Data");
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    struct stat info {};
    ASSERT_EQ(::stat((fixture.folder / "Data").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(fixture.Data("X330").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace bramvell
