#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace bramvell {

class ListStore;
class TokenTables;
class MessageTarget;

// A 32-bit option or counter shared between the UI thread and the filter thread.
using SharedInt = std::atomic<int32_t>;
// A one-byte control flag with a single writer on each side.
using ControlByte = std::atomic<uint8_t>;

inline constexpr int kThresholdBase = 4400;
inline constexpr int kThresholdStep = 500;
inline constexpr int kMinThresholdLevel = 1;
inline constexpr int kMaxThresholdLevel = 9;
inline constexpr int kMinQuarantineDays = 1;
inline constexpr int kMaxQuarantineDays = 30;
inline constexpr std::size_t kMaxFolderLength = 261;
inline constexpr std::size_t kMaxPasswordLength = 64;
inline constexpr std::size_t kMaxSmtpTextLength = 64;

// Score limit (units of 1/10000) at or above which a message is spam.
int ThresholdLimit(bool thresholdEnabled, int thresholdLevel);

// What the user chooses: every option of the settings value. The two folder texts that the filter
// thread reads are guarded by a mutex and reached through accessors.
struct FilterOptions {
    std::string LogFolder() const;
    void SetLogFolder(std::string folder);
    std::string QuarantineFolder() const;
    void SetQuarantineFolder(std::string folder);

    SharedInt blockedAddressesEnabled{0};
    SharedInt blockedDomainsEnabled{0};
    SharedInt blockedNamesEnabled{0};
    SharedInt adapterIndex{0};
    SharedInt autoSelectAdapter{1};
    SharedInt startWithWindows{1};
    SharedInt activityLogEnabled{1};
    SharedInt passwordProtection{0};
    std::string password;
    std::string passwordConfirm;
    SharedInt showTips{1};
    SharedInt tipsShownThisSession{0};
    SharedInt removeHtmlTags{1};
    SharedInt removeTagA{0};
    SharedInt removeTagApplet{1};
    SharedInt removeTagEmbed{1};
    SharedInt removeTagIframe{1};
    SharedInt removeTagImg{0};
    SharedInt removeTagObject{1};
    SharedInt removeTagScript{1};
    SharedInt smtpAuthentication{0};
    std::string smtpServer;
    std::string smtpUserName;
    std::string smtpPassword;
    SharedInt blockMessengerPopups{1};
    SharedInt filterEnabled{1};
    SharedInt acceptTrustedOnly{0};
    SharedInt challengeNonTrusted{0};
    SharedInt checkFromToDiffer{1};
    SharedInt thresholdEnabled{1};
    SharedInt thresholdLevel{1};
    SharedInt quarantineEnabled{1};
    SharedInt emptyQuarantine{0};
    SharedInt emptyQuarantineDays{1};
    SharedInt renameAttachments{0};
    SharedInt subjectPassphrasesEnabled{0};
    SharedInt trustedAddressesEnabled{0};
    SharedInt trustedDomainsEnabled{0};
    SharedInt trustedNamesEnabled{0};
    SharedInt userAddressesEnabled{0};

  private:
    mutable std::mutex folderMutex_;
    std::string logFolder_;
    std::string quarantineFolder_;
};

// What the program counts, kept in the settings value and in reg.bak, and the day records of the
// housekeeping.
struct FilterStatistics {
    SharedInt hamMessageCount{0};
    SharedInt spamMessageCount{0};
    SharedInt newLowerTokenCount{0};
    SharedInt newCapitalTokenCount{0};
    SharedInt newUpperTokenCount{0};
    SharedInt emailsFiltered{0};
    SharedInt spamCount{0};
    SharedInt popupsBlocked{0};

    SharedInt lastDayOfMonth{0};
    SharedInt daysSinceQuarantineEmptied{0};
};

// The bytes through which the user interface and the filter thread talk; never stored.
struct FilterControl {
    ControlByte filterRunning{0};
    ControlByte stopRequested{0};
    ControlByte outboundEmailLock{0};
};

// What the options file says (not items of the stored value): read when the filter starts.
inline constexpr uint32_t kDefaultEarlyVerdictBytes = 1u << 20;

struct FileOptions {
    ControlByte spamAnswerNotice{0};  // 0: the "-ERR" line, 1: the stand-in message
    // A retrieved message growing past this is judged on what is held (0: always judged whole).
    std::atomic<uint32_t> earlyVerdictBytes{kDefaultEarlyVerdictBytes};
};

// The one record every part of the program shares: options, statistics and control bytes, plus the
// table handles and the message target of the running filter. Integers are atomics so that the
// filter thread may read options while the user interface changes them.
class FilterSettings : public FilterOptions,
                       public FilterStatistics,
                       public FilterControl,
                       public FileOptions {
  public:
    FilterSettings();
    virtual ~FilterSettings() = default;
    FilterSettings(const FilterSettings&) = delete;
    FilterSettings& operator=(const FilterSettings&) = delete;

    // Writes every default: each stored item's (the two folders are built from the current
    // programFolder), and clears the control bytes and the session's tip count.
    void SetDefaults();

    int Threshold() const { return ThresholdLimit(thresholdEnabled != 0, thresholdLevel); }

    // Table handles (owned by the start-up sequence, not by this record).
    ListStore* listStore = nullptr;
    TokenTables* tokenTables = nullptr;

    std::string programFolder;  // no trailing separator
    MessageTarget* mainWindow = nullptr;
};

}  // namespace bramvell
