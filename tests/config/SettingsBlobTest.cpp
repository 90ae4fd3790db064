#include "config/SettingsBlob.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace bramvell {
namespace {

// Hand-built blob pieces, independent of the archive code.
std::string Int(uint32_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
            static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
}

std::string Ints(std::initializer_list<uint32_t> values) {
    std::string bytes;
    for (uint32_t value : values) {
        bytes += Int(value);
    }
    return bytes;
}

std::string Text(const std::string& text) {
    return std::string(1, static_cast<char>(text.size())) + text;
}

std::string Store(FilterSettings& settings) {
    StoringArchive archive;
    EXPECT_TRUE(Serialize(settings, archive));
    return archive.Bytes();
}

TEST(SettingsBlobTest, FreshRecordWithEmptyTextsIsTheExpected183Bytes) {
    FilterSettings settings;
    settings.SetLogFolder("");
    settings.SetQuarantineFolder("");

    const std::string expected = Ints({0, 0, 0, 1, 0, 1, 1}) + Text("") +     // 1-8
                                 Int(0) + Text("") + Text("") +               // 9-11
                                 Ints({1, 0, 1, 1, 1, 0, 1, 1}) +             // 12-19 HTML tags
                                 Ints({1, 1, 0, 0, 1, 1, 1, 1}) + Text("") +  // 20-28
                                 Ints({0, 1, 0, 0, 0, 0, 0, 0}) +             // 29-36
                                 Ints({0, 0, 0, 0, 0, 0, 0, 0}) +             // 37-44 statistics
                                 Int(0) + Text("") + Text("") + Text("") +    // 45-48 SMTP
                                 Ints({0, 0, 1});                             // 49-51
    ASSERT_EQ(expected.size(), kEmptyTextsBlobSize);
    EXPECT_EQ(Store(settings), expected);
}

TEST(SettingsBlobTest, EveryItemHasItsOwnPlaceInOrder) {
    // Distinct values expose any two items swapped or left out.
    FilterSettings settings;
    SharedInt* ints[] = {&settings.blockedAddressesEnabled,
                         &settings.blockedDomainsEnabled,
                         &settings.blockedNamesEnabled,
                         &settings.autoSelectAdapter,
                         &settings.adapterIndex,
                         &settings.startWithWindows,
                         &settings.activityLogEnabled,
                         &settings.passwordProtection,
                         &settings.removeHtmlTags,
                         &settings.removeTagA,
                         &settings.removeTagApplet,
                         &settings.removeTagEmbed,
                         &settings.removeTagIframe,
                         &settings.removeTagImg,
                         &settings.removeTagObject,
                         &settings.removeTagScript,
                         &settings.blockMessengerPopups,
                         &settings.filterEnabled,
                         &settings.acceptTrustedOnly,
                         &settings.challengeNonTrusted,
                         &settings.checkFromToDiffer,
                         &settings.thresholdEnabled,
                         &settings.thresholdLevel,
                         &settings.quarantineEnabled,
                         &settings.emptyQuarantine,
                         &settings.emptyQuarantineDays,
                         &settings.renameAttachments,
                         &settings.subjectPassphrasesEnabled,
                         &settings.trustedAddressesEnabled,
                         &settings.trustedDomainsEnabled,
                         &settings.trustedNamesEnabled,
                         &settings.userAddressesEnabled,
                         &settings.hamMessageCount,
                         &settings.spamMessageCount,
                         &settings.newLowerTokenCount,
                         &settings.newCapitalTokenCount,
                         &settings.newUpperTokenCount,
                         &settings.emailsFiltered,
                         &settings.spamCount,
                         &settings.popupsBlocked,
                         &settings.smtpAuthentication,
                         &settings.lastDayOfMonth,
                         &settings.daysSinceQuarantineEmptied,
                         &settings.showTips};
    int next = 100;
    for (SharedInt* field : ints) {
        *field = next++;
    }
    settings.spamCount = -2;  // two's complement
    settings.SetLogFolder("L");
    settings.password = "pw";
    settings.passwordConfirm = "pc";
    settings.SetQuarantineFolder("Q");
    settings.smtpServer = "srv";
    settings.smtpUserName = "usr";
    settings.smtpPassword = "spw";

    const std::string expected =
        Ints({100, 101, 102, 103, 104, 105, 106}) + Text("L") + Int(107) + Text("pw") + Text("pc") +
        Ints({108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123}) + Text("Q") +
        Ints({124, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 0xFFFFFFFE, 139, 140}) +
        Text("srv") + Text("usr") + Text("spw") + Ints({141, 142, 143});
    const std::string blob = Store(settings);
    EXPECT_EQ(blob, expected);

    FilterSettings loaded;
    LoadingArchive archive(blob);
    ASSERT_TRUE(Serialize(loaded, archive));
    EXPECT_EQ(Store(loaded), blob);
    EXPECT_EQ(loaded.spamCount, -2);
    EXPECT_EQ(loaded.QuarantineFolder(), "Q");
}

TEST(SettingsBlobTest, LongTextsUseTheWiderLengthFormsAndRoundTrip) {
    struct Case {
        std::size_t length;
        std::string prefix;
    };
    const Case cases[] = {
        {254, std::string("\xFE")},
        {255, std::string("\xFF\xFF\x00", 3)},
        {300, std::string("\xFF\x2C\x01", 3)},
        {65533, std::string("\xFF\xFD\xFF", 3)},
        {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        FilterSettings settings;
        std::string text(c.length, 'x');
        text[c.length / 2] = '\0';  // texts are bytes, not C strings
        settings.SetLogFolder(text);
        const std::string blob = Store(settings);
        const std::size_t logFolderAt = 7 * 4;
        EXPECT_EQ(blob.substr(logFolderAt, c.prefix.size()), c.prefix);

        FilterSettings loaded;
        LoadingArchive archive(blob);
        EXPECT_TRUE(Serialize(loaded, archive));
        EXPECT_EQ(archive.Position(), blob.size());
        EXPECT_EQ(loaded.LogFolder(), text);
    }
}

TEST(SettingsBlobTest, EveryCutShortBlobFailsAndNothingIsReadPastTheEnd) {
    FilterSettings settings;
    settings.SetLogFolder(std::string(300, 'l'));
    settings.smtpPassword = "secret";
    const std::string blob = Store(settings);
    for (std::size_t length = 0; length < blob.size(); ++length) {
        // A copy of exactly this length, so that a sanitizer sees any read beyond it.
        const std::string cut = blob.substr(0, length);
        FilterSettings loaded;
        LoadingArchive archive(cut);
        EXPECT_FALSE(Serialize(loaded, archive)) << length;
        EXPECT_LE(archive.Position(), length);
    }
    // Bytes after the 51 items are not part of the record.
    const std::string longer = blob + "tail";
    FilterSettings loaded;
    LoadingArchive archive(longer);
    EXPECT_TRUE(Serialize(loaded, archive));
}

TEST(SettingsBlobTest, LengthsThatLieAboutTheDataFail) {
    const std::string head = Ints({0, 0, 0, 1, 0, 1, 1});
    const std::string blobs[] = {
        // A 16-bit length of 0xFFFE is never written; plenty of data follows, so only the form fails.
        head + std::string("\xFF\xFE\xFF", 3) + std::string(70000, '\0'),
        // 4 GiB declared, a few bytes present.
        head + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7) + std::string(200, '\0'),
    };
    for (const std::string& blob : blobs) {
        FilterSettings loaded;
        LoadingArchive archive(blob);
        EXPECT_FALSE(Serialize(loaded, archive));
    }
}

}  // namespace
}  // namespace bramvell
