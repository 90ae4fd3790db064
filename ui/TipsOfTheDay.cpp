#include "ui/TipsOfTheDay.h"

#include <array>

namespace bramvell {

namespace {

// Each tip is five display lines of exactly 52 characters, padded inside the text.
constexpr std::array<std::string_view, kTipSlotCount> kSlots = {
    "Bramvell Anti-Spam Filter attempts to automatically "
    "select the active network interface. You may need   "
    "to select the correct interface on the General      "
    "Options page if you have more than one and see no   "
    "filtering activity. Then quit and start it again.   ",

    "To test Bramvell by sending messages to your own    "
    "email account, be sure to uncheck 'Check that From  "
    "and To addresses differ' on the Spam Filter Options "
    "page. Otherwise your messages will be considered    "
    "Spam without any further filtering!                 ",

    "The default action when Bramvell has determined     "
    "an email to be Spam is to send your email client an "
    "error message and delete the message from the email "
    "server. The error message includes the sender email "
    "address and the Spam probability as a percentage.   ",

    "To save suspected Spam email to your hard disk      "
    "check the 'Quarantine suspected Spam to this folder'"
    "box on the Spam Filter Options page. You can change "
    "the default folder in which Spam is saved by        "
    "clicking on the binoculars/folder icon.             ",

    "Bramvell blocks Messenger Service popup messages    "
    "by default. They arrive as network datagrams and    "
    "trouble only computers that show such popups, so    "
    "blocking them here costs nothing. Blocking          "
    "can be disabled on the Spam Filter Options page.    ",

    "Check the 'Rename executable attachments' box on    "
    "the Spam Filter Options page and Bramvell will      "
    "safely rename attachments that can be executed with "
    "a harmless '.tb' extension. The original filename   "
    "is recorded in the activity log.                    ",

    "Blocked sender addresses, domains & names expire    "
    "after 30 days and are removed from the blocked      "
    "sender lists to prevent accumulation of obsolete    "
    "data. You can manually extend selected entries by   "
    "30 days or even opt to keep them indefinitely.      ",

    "Bramvell creates an activity log by default. This   "
    "records any actions taken and includes the date and "
    "time. If Spam is deleted or quarantined the From    "
    "address of the sender is recorded in the log.       "
    "The activity log folder can be changed if required. ",

    "To temporarily pause filtering simply press and     "
    "hold the Control/Ctrl key whilst retrieving email.  "
    "This will prevent Bramvell from filtering incoming  "
    "messages until the key is released. Useful when     "
    "expecting mail which may be mistaken for Spam.      ",

    "Junk email is often addressed incorrectly but still "
    "delivered to your email account. Enter your email   "
    "addresses into the User Addresses options page and  "
    "then Bramvell will check if email is correctly      "
    "addressed and therefore not likely to be Spam.      ",

    "To accept email from trusted sources only - senders "
    "in your trusted lists or messages with a correct    "
    "Subject Passphrase check the 'Accept email from     "
    "trusted sources only' box on the Spam Filter Options"
    "page.                                               ",

    "12",
    "13",
    "14",
    "15",
    "16",
    "17",
    "18",
    "19",
    "20",
};

}  // namespace

std::string_view TipSlot(int slot) {
    if (slot < 1 || slot > kTipSlotCount) {
        return {};
    }
    return kSlots[static_cast<std::size_t>(slot - 1)];
}

std::string_view TipLine(int slot, int line) {
    const std::string_view text = TipSlot(slot);
    const std::size_t start = static_cast<std::size_t>(line) * kTipLineLength;
    if (line < 0 || line >= kTipLineCount || start >= text.size()) {
        return {};
    }
    return text.substr(start, kTipLineLength);
}

int TipCounter::Next() {
    const int old = counter_;
    ++counter_;
    if (old == kTipCount) {
        counter_ = 1;
    }
    return counter_;
}

}  // namespace bramvell
