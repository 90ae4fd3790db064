#include "config/SettingsItems.h"

namespace bramvell {
namespace {

using Kind = SettingsItem::Kind;
using S = FilterSettings;

constexpr SettingsItem Int(const char* name, SharedInt S::*field, int32_t defaultValue) {
    return {Kind::Integer, name, field, nullptr, defaultValue, nullptr};
}
constexpr SettingsItem Text(const char* name, std::string S::*field) {
    return {Kind::Text, name, nullptr, field, 0, nullptr};
}
constexpr SettingsItem Folder(Kind kind, const char* name, const char* subfolder) {
    return {kind, name, nullptr, nullptr, 0, subfolder};
}

// The stored order is the historical one: it is what existing settings files hold.
const std::array<SettingsItem, kSettingsItemCount> kItems = {{
    Int("blockedAddressesEnabled", &S::blockedAddressesEnabled, 0),
    Int("blockedDomainsEnabled", &S::blockedDomainsEnabled, 0),
    Int("blockedNamesEnabled", &S::blockedNamesEnabled, 0),
    Int("autoSelectAdapter", &S::autoSelectAdapter, 1),  // the flag stands before the index
    Int("adapterIndex", &S::adapterIndex, 0),
    Int("startWithWindows", &S::startWithWindows, 1),
    Int("activityLogEnabled", &S::activityLogEnabled, 1),
    Folder(Kind::LogFolder, "logFolder", "log"),
    Int("passwordProtection", &S::passwordProtection, 0),
    Text("password", &S::password),
    Text("passwordConfirm", &S::passwordConfirm),
    Int("removeHtmlTags", &S::removeHtmlTags, 1),
    Int("removeTagA", &S::removeTagA, 0),
    Int("removeTagApplet", &S::removeTagApplet, 1),
    Int("removeTagEmbed", &S::removeTagEmbed, 1),
    Int("removeTagIframe", &S::removeTagIframe, 1),
    Int("removeTagImg", &S::removeTagImg, 0),
    Int("removeTagObject", &S::removeTagObject, 1),
    Int("removeTagScript", &S::removeTagScript, 1),
    Int("blockMessengerPopups", &S::blockMessengerPopups, 1),
    Int("filterEnabled", &S::filterEnabled, 1),
    Int("acceptTrustedOnly", &S::acceptTrustedOnly, 0),
    Int("challengeNonTrusted", &S::challengeNonTrusted, 0),
    Int("checkFromToDiffer", &S::checkFromToDiffer, 1),
    Int("thresholdEnabled", &S::thresholdEnabled, 1),
    Int("thresholdLevel", &S::thresholdLevel, 1),
    Int("quarantineEnabled", &S::quarantineEnabled, 1),
    Folder(Kind::QuarantineFolder, "quarantineFolder", "quarantine"),
    Int("emptyQuarantine", &S::emptyQuarantine, 0),
    Int("emptyQuarantineDays", &S::emptyQuarantineDays, 1),
    Int("renameAttachments", &S::renameAttachments, 0),
    Int("subjectPassphrasesEnabled", &S::subjectPassphrasesEnabled, 0),
    Int("trustedAddressesEnabled", &S::trustedAddressesEnabled, 0),
    Int("trustedDomainsEnabled", &S::trustedDomainsEnabled, 0),
    Int("trustedNamesEnabled", &S::trustedNamesEnabled, 0),
    Int("userAddressesEnabled", &S::userAddressesEnabled, 0),
    Int("hamMessageCount", &S::hamMessageCount, 0),
    Int("spamMessageCount", &S::spamMessageCount, 0),
    Int("newLowerTokenCount", &S::newLowerTokenCount, 0),
    Int("newCapitalTokenCount", &S::newCapitalTokenCount, 0),
    Int("newUpperTokenCount", &S::newUpperTokenCount, 0),
    Int("emailsFiltered", &S::emailsFiltered, 0),
    Int("spamCount", &S::spamCount, 0),
    Int("popupsBlocked", &S::popupsBlocked, 0),
    Int("smtpAuthentication", &S::smtpAuthentication, 0),
    Text("smtpServer", &S::smtpServer),
    Text("smtpUserName", &S::smtpUserName),
    Text("smtpPassword", &S::smtpPassword),
    Int("lastDayOfMonth", &S::lastDayOfMonth, 0),
    Int("daysSinceQuarantineEmptied", &S::daysSinceQuarantineEmptied, 0),
    Int("showTips", &S::showTips, 1),
}};

}  // namespace

const std::array<SettingsItem, kSettingsItemCount>& SettingsItems() {
    return kItems;
}

}  // namespace bramvell
