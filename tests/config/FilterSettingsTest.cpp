#include "config/FilterSettings.h"

#include <gtest/gtest.h>

namespace bramvell {
namespace {

TEST(FilterSettingsTest, FreshRecordHoldsTheDefaults) {
    FilterSettings settings;
    settings.programFolder = "/opt/bramvell";
    settings.emailsFiltered = 12;
    settings.outboundEmailLock = 1;
    settings.tipsShownThisSession = 1;
    settings.filterEnabled = 0;
    settings.SetDefaults();

    EXPECT_EQ(settings.LogFolder(), "/opt/bramvell/log");
    EXPECT_EQ(settings.QuarantineFolder(), "/opt/bramvell/quarantine");
    EXPECT_EQ(settings.emailsFiltered, 0);
    EXPECT_EQ(settings.outboundEmailLock, 0);
    EXPECT_EQ(settings.tipsShownThisSession, 0);
    EXPECT_EQ(settings.filterEnabled, 1);
    EXPECT_EQ(settings.autoSelectAdapter, 1);
    EXPECT_EQ(settings.startWithWindows, 1);
    EXPECT_EQ(settings.activityLogEnabled, 1);
    EXPECT_EQ(settings.showTips, 1);
    EXPECT_EQ(settings.removeTagA, 0);
    EXPECT_EQ(settings.removeTagImg, 0);
    EXPECT_EQ(settings.removeTagScript, 1);
    EXPECT_EQ(settings.blockMessengerPopups, 1);
    EXPECT_EQ(settings.checkFromToDiffer, 1);
    EXPECT_EQ(settings.thresholdLevel, 1);
    EXPECT_EQ(settings.quarantineEnabled, 1);
    EXPECT_EQ(settings.emptyQuarantineDays, 1);
    EXPECT_EQ(settings.renameAttachments, 0);
    EXPECT_EQ(settings.subjectPassphrasesEnabled, 0);
    EXPECT_TRUE(settings.password.empty());
    // Table handles and the program folder survive a reset.
    EXPECT_EQ(settings.programFolder, "/opt/bramvell");
}

TEST(FilterSettingsTest, ThresholdLevelsMapToScoreLimits) {
    EXPECT_EQ(ThresholdLimit(true, 1), 4400);
    EXPECT_EQ(ThresholdLimit(true, 2), 4900);
    EXPECT_EQ(ThresholdLimit(true, 9), 8400);
    EXPECT_EQ(ThresholdLimit(true, 0), 4400);
    EXPECT_EQ(ThresholdLimit(true, 10), 4400);
    EXPECT_EQ(ThresholdLimit(true, -3), 4400);
    EXPECT_EQ(ThresholdLimit(false, 9), 4400);

    FilterSettings settings;
    settings.thresholdLevel = 5;
    EXPECT_EQ(settings.Threshold(), 6400);
    settings.thresholdEnabled = 0;
    EXPECT_EQ(settings.Threshold(), 4400);
}

}  // namespace
}  // namespace bramvell
