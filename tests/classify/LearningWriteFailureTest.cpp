// Learning when the data files stop taking writes: the files a failure leaves must be exactly those of
// learning only the messages that were counted. A file-size limit (SIGXFSZ ignored) makes the writes
// fail as a full disk would, without root.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "ClassifyTestSupport.h"
#include "classify/CorpusTrainer.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

constexpr int kMessages = 6;

// Body words starting with "a" go to token file 0100 and count in the first buckets of X010, so
// their count writes lie below every limit tried; only message 3's "zebra" counts near the end of
// X010. No Subject line: its "sub" bucket lies far into X210.
std::string Message(int index) {
    std::string body = "From: someone\n\nalways again";
    for (int word = 0; word < 8; ++word) {
        body += " a";
        body += static_cast<char>('a' + index);
        body += static_cast<char>('a' + word);
        body += "word";
    }
    if (index == 3) {
        body += " zebra";
    }
    return body + "\n";
}

void WriteMessages(const ClassifyFixture& fixture, int first, int last) {
    for (int i = first; i < last; ++i) {
        WriteWholeFile(fixture.Quarantine("m" + std::to_string(i)), Message(i));
    }
}

// Token files with records, by name; a token file left holding only its header counts as absent.
std::map<std::string, std::string> DataFiles(const ClassifyFixture& fixture) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(fixture.folder / "Data")) {
        std::string bytes = ReadWholeFile(entry.path());
        if (bytes.size() > 4 || entry.path().filename().string()[0] == 'X') {
            files[entry.path().filename().string()] = std::move(bytes);
        }
    }
    return files;
}

void ExpectSameRecords(const TokenTables& a, const TokenTables& b) {
    for (int table : {kBodyTable, kHeaderTable}) {
        EXPECT_EQ(a.tables[table].RecordCount(), b.tables[table].RecordCount());
        for (int bucket = 0; bucket < kBucketCount; ++bucket) {
            const auto& left = a.tables[table].Bucket(bucket);
            const auto& right = b.tables[table].Bucket(bucket);
            ASSERT_EQ(left.size(), right.size()) << "bucket " << bucket;
            for (std::size_t i = 0; i < left.size(); ++i) {
                EXPECT_EQ(std::memcmp(&left[i], &right[i], sizeof(TokenRecord)), 0) << "bucket " << bucket;
            }
            EXPECT_EQ(a.bucketCounts[table][bucket], b.bucketCounts[table][bucket]);
        }
    }
}

// Sets a file-size limit for the life of the object; a write past it fails with EFBIG.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit previous_{};
    sighandler_t previousHandler_ = SIG_DFL;
};

struct Learned {
    ClassifyFixture fixture;
    Learned() { LoadTokenTables(*fixture.tables, fixture.folder.path()); }
    CorpusRunStatus Learn(std::string* failure = nullptr) {
        CorpusTrainer trainer(*fixture.settings);
        const CorpusRunStatus status = trainer.Learn(SampleClass::Spam);
        if (failure != nullptr) {
            *failure = trainer.FailureMessage();
        }
        return status;
    }
};

struct LimitCase {
    const char* what;
    rlim_t limit;
    int learnedBeforeFailure;
};

class LearningWriteFailureTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(LearningWriteFailureTest, LeavesTheFilesOfTheCountedMessagesAndGoesOnFromThere) {
    const LimitCase& limitCase = GetParam();
    Learned failing;
    WriteMessages(failing.fixture, 0, kMessages);
    std::string failure;
    {
        FileSizeLimit limit(limitCase.limit);
        ASSERT_EQ(failing.Learn(&failure), CorpusRunStatus::Failed);
    }
    EXPECT_NE(failure.find("/Data/"), std::string::npos) << failure;
    EXPECT_NE(failure.find(std::strerror(EFBIG)), std::string::npos) << failure;
    const int learned = failing.fixture.settings->spamMessageCount;
    EXPECT_EQ(learned, limitCase.learnedBeforeFailure);

    // The same messages learned where nothing fails.
    Learned reference;
    WriteMessages(reference.fixture, 0, learned);
    ASSERT_EQ(reference.Learn(), CorpusRunStatus::Finished);
    EXPECT_EQ(DataFiles(failing.fixture), DataFiles(reference.fixture));

    // Memory was taken back to what the files hold, and the files load as they were written.
    Learned reloaded;
    std::filesystem::remove_all(reloaded.fixture.folder / "Data");
    std::filesystem::copy(failing.fixture.folder / "Data", reloaded.fixture.folder / "Data");
    LoadTokenTables(*reloaded.fixture.tables, reloaded.fixture.folder.path());
    ExpectSameRecords(*failing.fixture.tables, *reloaded.fixture.tables);

    // Learning the rest afterwards ends where learning everything at once does.
    for (int i = 0; i < learned; ++i) {
        std::filesystem::remove(failing.fixture.Quarantine("m" + std::to_string(i)));
    }
    ASSERT_EQ(failing.Learn(), CorpusRunStatus::Finished);
    Learned whole;
    WriteMessages(whole.fixture, 0, kMessages);
    ASSERT_EQ(whole.Learn(), CorpusRunStatus::Finished);
    EXPECT_EQ(DataFiles(failing.fixture), DataFiles(whole.fixture));
    ExpectSameRecords(*failing.fixture.tables, *whole.fixture.tables);
}

// Message 0 adds 10 records to 0100, each later one 8 more and raises two.
INSTANTIATE_TEST_SUITE_P(Limits, LearningWriteFailureTest,
                         ::testing::Values(LimitCase{"first records", 40, 0},
                                           LimitCase{"third message's records", 4 + 40 * 20, 2},
                                           LimitCase{"zebra's bucket count", 4 + 40 * 200, 3}),
                         [](const ::testing::TestParamInfo<LimitCase>& info) {
                             std::string name = info.param.what;
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// More messages than one step of writes holds: each adds new records to 0100 and raises "always" and
// "again", so counters are written for records spread over the file.
constexpr int kManyMessages = static_cast<int>(CorpusTrainer::kStepMessages) + 60;

std::string ManyMessage(int index) {
    std::string body = "From: someone\n\nalways again";
    for (int word = 0; word < 4; ++word) {
        body += " a";
        body += static_cast<char>('a' + index / 26 % 26);
        body += static_cast<char>('a' + index % 26);
        body += static_cast<char>('a' + word);
        body += "word";
    }
    return body + "\n";
}

std::string ManyMessageFile(const ClassifyFixture& fixture, int index) {
    char name[16];
    std::snprintf(name, sizeof name, "m%04d", index);
    return fixture.Quarantine(name);
}

void WriteManyMessages(const ClassifyFixture& fixture, int count) {
    for (int i = 0; i < count; ++i) {
        WriteWholeFile(ManyMessageFile(fixture, i), ManyMessage(i));
    }
}

TEST(LearningInStepsTest, FilesAreThoseOfWritingEachMessageOnItsOwn) {
    Learned inSteps;
    WriteManyMessages(inSteps.fixture, kManyMessages);
    ASSERT_EQ(inSteps.Learn(), CorpusRunStatus::Finished);
    EXPECT_EQ(inSteps.fixture.settings->spamMessageCount, kManyMessages);

    // One run per message: each writes its message at once.
    Learned oneByOne;
    WriteManyMessages(oneByOne.fixture, kManyMessages);
    for (int i = 0; i < kManyMessages; ++i) {
        CorpusTrainer trainer(*oneByOne.fixture.settings);
        ASSERT_EQ(trainer.LearnFiles(SampleClass::Spam, {ManyMessageFile(oneByOne.fixture, i)}),
                  CorpusRunStatus::Finished);
    }
    EXPECT_EQ(DataFiles(inSteps.fixture), DataFiles(oneByOne.fixture));
    ExpectSameRecords(*inSteps.fixture.tables, *oneByOne.fixture.tables);
}

TEST(LearningInStepsTest, AFailureInALaterStepKeepsEveryMessageBeforeTheOneThatCannotBeWritten) {
    // Where 0100 ends after the messages before the one that is to fail.
    const int failing = static_cast<int>(CorpusTrainer::kStepMessages) + 20;
    Learned reference;
    WriteManyMessages(reference.fixture, failing);
    ASSERT_EQ(reference.Learn(), CorpusRunStatus::Finished);
    const auto length = static_cast<rlim_t>(ReadWholeFile(reference.fixture.Data("0100")).size());

    Learned limited;
    WriteManyMessages(limited.fixture, kManyMessages);
    std::string failure;
    {
        FileSizeLimit limit(length + 40);  // room for one record of the failing message, not all four
        ASSERT_EQ(limited.Learn(&failure), CorpusRunStatus::Failed);
    }
    EXPECT_NE(failure.find("/Data/0100"), std::string::npos) << failure;
    EXPECT_EQ(limited.fixture.settings->spamMessageCount, failing);
    EXPECT_EQ(DataFiles(limited.fixture), DataFiles(reference.fixture));
    ExpectSameRecords(*limited.fixture.tables, *reference.fixture.tables);
    EXPECT_EQ(limited.fixture.settings->newLowerTokenCount, reference.fixture.settings->newLowerTokenCount);
}

TEST(LearnedFileSafetyTest, FilesAreCreatedPrivateAndAPlantedLinkIsNotWrittenThrough) {
    Learned learned;
    const std::string target = learned.fixture.folder / "elsewhere";
    WriteWholeFile(target, "untouched");
    std::filesystem::create_symlink(target, learned.fixture.Data("0100"));
    WriteMessages(learned.fixture, 0, 1);

    std::string failure;
    EXPECT_EQ(learned.Learn(&failure), CorpusRunStatus::Failed);
    EXPECT_NE(failure.find("0100"), std::string::npos) << failure;
    EXPECT_EQ(ReadWholeFile(target), "untouched");

    std::filesystem::remove(learned.fixture.Data("0100"));
    EXPECT_EQ(learned.Learn(), CorpusRunStatus::Finished);
    for (const char* name : {"0100", "X010", "X210"}) {
        struct stat info {};
        ASSERT_EQ(::stat(learned.fixture.Data(name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }
}

}  // namespace
}  // namespace bramvell
