#include "config/FilterSettings.h"

namespace bramvell {

int ThresholdLimit(bool thresholdEnabled, int thresholdLevel) {
    if (!thresholdEnabled || thresholdLevel < kMinThresholdLevel || thresholdLevel > kMaxThresholdLevel) {
        return kThresholdBase;
    }
    return kThresholdBase + kThresholdStep * (thresholdLevel - 1);
}

FilterSettings::FilterSettings() { SetDefaults(); }

void FilterSettings::SetDefaults() {
    filterRunning = 0;
    stopRequested = 0;
    lastDayOfMonth = 0;
    daysSinceQuarantineEmptied = 0;
    outboundEmailLock = 0;

    hamMessageCount = 0;
    spamMessageCount = 0;
    newLowerTokenCount = 0;
    newCapitalTokenCount = 0;
    newUpperTokenCount = 0;
    emailsFiltered = 0;
    spamCount = 0;
    popupsBlocked = 0;

    blockedAddressesEnabled = 0;
    blockedDomainsEnabled = 0;
    blockedNamesEnabled = 0;
    adapterIndex = 0;
    autoSelectAdapter = 1;
    startWithWindows = 1;
    activityLogEnabled = 1;
    SetLogFolder(programFolder + "/log");
    passwordProtection = 0;
    password.clear();
    passwordConfirm.clear();
    showTips = 1;
    tipsShownThisSession = 0;
    removeHtmlTags = 1;
    removeTagA = 0;
    removeTagApplet = 1;
    removeTagEmbed = 1;
    removeTagIframe = 1;
    removeTagImg = 0;
    removeTagObject = 1;
    removeTagScript = 1;
    smtpAuthentication = 0;
    smtpServer.clear();
    smtpUserName.clear();
    smtpPassword.clear();
    blockMessengerPopups = 1;
    filterEnabled = 1;
    acceptTrustedOnly = 0;
    challengeNonTrusted = 0;
    checkFromToDiffer = 1;
    thresholdEnabled = 1;
    thresholdLevel = 1;
    quarantineEnabled = 1;
    SetQuarantineFolder(programFolder + "/quarantine");
    emptyQuarantine = 0;
    emptyQuarantineDays = 1;
    renameAttachments = 0;
    subjectPassphrasesEnabled = 0;
    trustedAddressesEnabled = 0;
    trustedDomainsEnabled = 0;
    trustedNamesEnabled = 0;
    userAddressesEnabled = 0;
}

std::string FilterSettings::LogFolder() const {
    std::lock_guard lock(folderMutex_);
    return logFolder_;
}

void FilterSettings::SetLogFolder(std::string folder) {
    std::lock_guard lock(folderMutex_);
    logFolder_ = std::move(folder);
}

std::string FilterSettings::QuarantineFolder() const {
    std::lock_guard lock(folderMutex_);
    return quarantineFolder_;
}

void FilterSettings::SetQuarantineFolder(std::string folder) {
    std::lock_guard lock(folderMutex_);
    quarantineFolder_ = std::move(folder);
}

}  // namespace bramvell
