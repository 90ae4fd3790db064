#include "lists/BucketOf.h"

#include <gtest/gtest.h>

namespace bramvell {
namespace {

TEST(BucketOfTest, FirstCharacterGivesDigitsTheirOwnClassesSecondDoesNot) {
    EXPECT_EQ(BucketOf("a1x"), 0 * 37 + 36);
    EXPECT_EQ(BucketOf("a.x"), BucketOf("a1x"));
    EXPECT_EQ(BucketOf("0ax"), 26 * 37 + 0);
    EXPECT_EQ(BucketOf("1ax"), 27 * 37 + 0);
    EXPECT_EQ(BucketOf("9z"), 35 * 37 + 25);
    EXPECT_EQ(BucketOf("Ma"), BucketOf("mA"));
    EXPECT_EQ(BucketOf("\xe9t\xe9"), 36 * 37 + 19);
    EXPECT_EQ(BucketOf("m"), 12 * 37 + 36);
    EXPECT_EQ(BucketOf(""), kListBucketCount - 1);
    EXPECT_EQ(BucketOf(std::string_view("\0a", 2)), kListBucketCount - 1);
}

TEST(BucketOfTest, FileNamesCarryTheTwoClasses) {
    EXPECT_EQ(BucketFileName(ListKind::A, BucketOf("mail@x")), "A1200");
    EXPECT_EQ(BucketFileName(ListKind::G, BucketOf("a1")), "G0036");
    EXPECT_EQ(BucketFileName(ListKind::H, kListBucketCount - 1), "H3636");
}

TEST(BucketOfTest, FileNamesAreReadFromTheirLeadingDigits) {
    EXPECT_EQ(BucketFromFileName("A0700"), 259);
    EXPECT_EQ(BucketFromFileName("A0700.bak"), 259);
    EXPECT_EQ(BucketFromFileName("A7x00"), 7 * 37);
    EXPECT_EQ(BucketFromFileName("Axx05"), 5);
    EXPECT_EQ(BucketFromFileName("A"), 0);
    EXPECT_EQ(BucketFromFileName("A3636"), kListBucketCount - 1);
    EXPECT_EQ(BucketFromFileName("A3700"), std::nullopt);
    EXPECT_EQ(BucketFromFileName("A0099"), std::nullopt);
}

}  // namespace
}  // namespace bramvell
