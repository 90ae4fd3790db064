#include "ui/ContextHelpTable.h"

#include <array>

namespace bramvell {

namespace {

// clang-format off
constexpr std::array<HelpEntry, 95> kHelp = {{
    // General Options
    {1026, {" Automatically Select Interface", " Automatically select the network\r interface to filter"}},
    {1069, {" Network Interface List", " Select the network interface\r that Bramvell filters"}},
    {1027, {" Automatically Start", " Check this box to start Bramvell\r automatically each time you log in"}},
    {1105, {" Create Log Files", " Check this box to create a\r log file of all Bramvell activity"}},
    {1106, {" Log Folder", " The folder in which Bramvell\r writes its activity log files"}},
    {1107, {" Browse for Folder", " Click to choose the folder\r for the activity log files"}},
    {1108, {" Open Folder", " Click to open the folder\r of the activity log files"}},
    {1036, {" Enabled Password", " Check this box to protect\r Bramvell settings with a password"}},
    {1058, {" Enter Password", " Enter a password which must be entered\r before Bramvell settings can be altered"}},
    {1055, {" Confirm Password", " Enter the same password again\r to confirm it"}},
    {1138, {" Show Tips", " Check this box to show a tip\r each time Bramvell starts"}},

    // Spam Filter Options
    {1043, {" Enable Spam Filter", " Check this box to enable Spam filtering"}},
    {1093, {" Accept from Trusted", " Check this box to accept email from trusted sources only"}},
    {1031, {" Block Windows Messenger Service",
            " Check this box to block Windows Messenger\r Service popup windows"}},
    {1033, {" Challenge Non-Trusted",
            " Check this box to challenge email from non-trusted\r sources. Email will be returned with\r a "
            "question only a person will be able to answer"}},
    {1034, {" Check Addresses Differ",
            " Check this box to force comparison checking of From\r and To addresses - these\r should always "
            "differ for non-Spam email"}},
    {1035, {" Probability Threshold",
            " Check this box to accept suspected Spam\r below the specified threshold level"}},
    {1057, {" Threshold Level",
            " The level of suspicion that email may be Spam\r 1 may be Spam\r 9 is very likely to be Spam"}},
    {1083, {" Alter Threshold Level", " Click the arrows to raise\r or lower the threshold level"}},
    {1150, {" Scorer",
            " Classic: the word tables. Chi-square: its\r own store (bramvell learn); unsure mail\r is delivered. "
            "Levels 1-9 set its spam\r cutoff: 60, 70, 80, 90, 95, 98, 99,\r 99.5, 99.9% (off: level 1); 20% or "
            "less\r is good. Read when filtering starts"}},
    {1151, {" Answer for Deleted Spam",
            " An error line, or a short stand-in\r message that every mail client stores\r and goes past "
            "(for clients that stop\r at an error, such as mpop)"}},
    {1039, {" Enable Quarantine",
            " Check this box to store suspected\r Spam email and attachments in the\r folder specified below"}},
    {1059, {" Quarantined Spam Folder", " The folder in which Bramvell\r stores suspected Spam"}},
    {1016, {" Browse for Folder", " Click to choose the folder\r for quarantined suspected Spam"}},
    {1102, {" Open Folder", " Click to open the folder\r of quarantined suspected Spam"}},
    {1032, {" Empty Folder",
            " Check this box to allow Bramvell to\r empty the quarantine folder after the\r specified number "
            "of days have passed"}},
    {1056, {" Number of Days",
            " The number of days Bramvell should wait before\r emptying the quarantine folder"}},
    {1082, {" Alter Days", " Click the arrows to raise\r or lower the number of days"}},
    {1094, {" Rename Attachments",
            " Check this box to allow Bramvell to\r harmlessly rename executable attachments\r received by "
            "email to prevent accidental\r execution of malicious programs or scripts.\r The original "
            "filename will appear in\r the Bramvell log file (if logging is enabled)"}},

    // Blocked Addresses
    {1028, {" Enable Blocked Addresses",
            " Check this box to enable blocking\r of all emails sent from the addresses\r listed below"}},
    {1052, {" New Blocked Address", " Enter a new blocked email address"}},
    {1004, {" Add Blocked Address", " Click to add the new\r address to the list below"}},
    {1013, {" Extend Blocked Address",
            " Click to reset the expiration\r period of the selected email\r address to one month from today"}},
    {1119, {" Keep Blocked Address",
            " Click to reset the expiration\r period of the selected email\r address to zero - never expires"}},
    {1017, {" Remove Blocked Address", " Click to remove the selected\r address from the list"}},
    {1109, {" Import Blocked Addresses",
            " Click to import a text file containing\r addresses that you wish to block"}},
    {1070, {" Blocked Address List", " The email addresses\r that you wish to block"}},

    // Blocked Domains
    {1029, {" Enable Blocked Domains",
            " Check this box to enable blocking\r of all emails sent from the domains\r listed below"}},
    {1053, {" New Blocked Domain", " Enter a new blocked domain"}},
    {1005, {" Add Blocked Domain", " Click to add the new\r domain to the list below"}},
    {1014, {" Extend Blocked Domain",
            " Click to reset the expiration\r period of the selected\r domain to one month from today"}},
    {1120, {" Keep Blocked Domain",
            " Click to reset the expiration\r period of the selected\r domain to zero - never expires"}},
    {1018, {" Remove Blocked Domain", " Click to remove the selected\r domain from the list"}},
    {1110, {" Import Blocked Domains",
            " Click to import a text file containing\r domains that you wish to block"}},
    {1071, {" Blocked Domain List", " The domains\r that you wish to block"}},

    // Blocked Names
    {1030, {" Enable Blocked Names",
            " Check this box to enable blocking\r of all emails sent from the names\r listed below"}},
    {1054, {" New Blocked Name", " Enter a new blocked name"}},
    {1006, {" Add Blocked Name", " Click to add the new\r name to the list below"}},
    {1015, {" Extend Blocked Name",
            " Click to reset the expiration\r period of the selected\r name to one month from today"}},
    {1121, {" Keep Blocked Name",
            " Click to reset the expiration\r period of the selected\r name to zero - never expires"}},
    {1019, {" Remove Blocked Name", " Click to remove the selected\r name from the list"}},
    {1111, {" Import Blocked Names",
            " Click to import a text file containing\r names that you wish to block"}},
    {1072, {" Blocked Name List", " The sender names\r that you wish to block"}},

    // HTML Email
    {1101, {" Remove HTML Tags",
            " Check this box to remove only the\r following selected HTML tags from\r HTML formatted email"}},
    {1099, {" Remove <A>", " Remove <A> tags from HTML formatted email"}},
    {1095, {" Remove <APPLET>", " Remove <APPLET> tags from HTML formatted email"}},
    {1096, {" Remove <EMBED>", " Remove <EMBED> tags from HTML formatted email"}},
    {1097, {" Remove <IFRAME>", " Remove <IFRAME> tags from HTML formatted email"}},
    {1041, {" Remove <IMG>", " Remove <IMG> tags from HTML formatted email"}},
    {1098, {" Remove <OBJECT>", " Remove <OBJECT> tags from HTML formatted email"}},
    {1042, {" Remove <SCRIPT>", " Remove <SCRIPT> tags from HTML formatted email"}},

    // Subject Passphrases
    {1044, {" Enable Subject Passphrases",
            " Check this box to enable subject passphrases.\r Emails received with a phrase listed below\r "
            "anywhere in the Subject field will be\r accepted without further filtering"}},
    {1060, {" New Subject Passphrase", " Enter a new subject passphrase"}},
    {1007, {" Add Subject Passphrase", " Click to add the new\r passphrase to the list below"}},
    {1074, {" Subject Passphrase List", " The passphrases that let email\r through without further filtering"}},
    {1020, {" Remove Subject Passphrase", " Click to remove the selected\r passphrase from the list"}},
    {1112, {" Import Subject Passphrases",
            " Click to import a text file containing\r passphrases that you wish to use"}},

    // Trusted Addresses
    {1046, {" Enable Trusted Addresses",
            " Check this box to enable receipt of\r emails from the addresses listed below\r without further "
            "filtering"}},
    {1061, {" New Trusted Address", " Enter a new trusted email address"}},
    {1008, {" Add Trusted Address", " Click to add the new\r address to the list below"}},
    {1075, {" Trusted Address List", " The email addresses\r that you trust"}},
    {1021, {" Remove Trusted Address", " Click to remove the selected\r address from the list"}},
    {1113, {" Import Trusted Addresses",
            " Click to import a text file containing\r addresses that you trust"}},

    // Trusted Domains
    {1047, {" Enable Trusted Domains",
            " Check this box to enable receipt of\r emails from the domains listed below\r without further "
            "filtering"}},
    {1062, {" New Trusted Domain", " Enter a new trusted domain"}},
    {1009, {" Add Trusted Domain", " Click to add the new\r domain to the list below"}},
    {1076, {" Trusted Domain List", " The domains\r that you trust"}},
    {1022, {" Remove Trusted Domain", " Click to remove the selected\r domain from the list"}},
    {1114, {" Import Trusted Domains", " Click to import a text file containing\r domains that you trust"}},

    // Trusted Names
    {1048, {" Enable Trusted Names",
            " Check this box to enable receipt of\r emails from the names listed below\r without further "
            "filtering"}},
    {1063, {" New Trusted Name", " Enter a new trusted name"}},
    {1010, {" Add Trusted Name", " Click to add the new\r name to the list below"}},
    {1077, {" Trusted Name List", " The sender names\r that you trust"}},
    {1023, {" Remove Trusted Name", " Click to remove the selected\r name from the list"}},
    {1115, {" Import Trusted Names", " Click to import a text file containing\r names that you trust"}},

    // User Addresses
    {1049, {" Enable User Addresses",
            " Check this box to enable Bramvell\r to check that incoming email is\r addressed to you and is "
            "not\r part of an unsolicited bulk mailing"}},
    {1064, {" New User Address", " Enter a new user address"}},
    {1011, {" Add User Address", " Click to add the new\r user address to the list below"}},
    {1078, {" User Address List", " Your own email addresses"}},
    {1024, {" Remove User Address", " Click to remove the selected\r user address fron the list"}},
    {1116, {" Import User Addresses",
            " Click to import a text file containing\r your own email addresses"}},

    // SMTP Server
    {1133, {" SMTP Server Host Name",
            " Enter the name of your Internet Service Provider's\r SMTP Server (Outbound mail server). This\r "
            "server will be used to send email challenges to\r non-trusted senders"}},
    {1132, {" SMTP Server Requires Authentication",
            " Check this box if your Internet Service Provider's\r SMTP Server requires authentication - if "
            "a\r username and password must be entered"}},
    {1134, {" SMTP Username", " Enter the username for\r your SMTP Server"}},
    {1135, {" SMTP Password", " Enter the password for\r your SMTP Server"}},
}};
// clang-format on

}  // namespace

std::span<const HelpEntry> ContextHelpTable() {
    return kHelp;
}

const HelpPair* FindContextHelp(int controlId) {
    for (const HelpEntry& entry : kHelp) {
        if (entry.controlId == controlId) {
            return &entry.pair;
        }
    }
    return nullptr;
}

std::optional<HelpPair> ContextHelpFor(const HelpRequest& request) {
    if (request.f1Down) {
        return kGeneralHelp;
    }
    if (request.contextId == 0) {
        return std::nullopt;
    }
    const HelpPair* entry = FindContextHelp(request.controlId);
    return entry != nullptr ? *entry : kGeneralHelp;
}

}  // namespace bramvell
