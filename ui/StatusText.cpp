#include "ui/StatusText.h"

#include <cstdio>

namespace bramvell {

std::string EmailsFilteredText(int32_t emailsFiltered, int32_t spamCount) {
    char text[80];
    if (emailsFiltered != 0 && spamCount != 0) {
        // 64-bit so that a large count cannot overflow the multiplication.
        const long long percent = static_cast<long long>(spamCount) * 100 / emailsFiltered;
        std::snprintf(text, sizeof text, "Emails filtered: %d (%lld", emailsFiltered, percent);
    } else {
        std::snprintf(text, sizeof text, "Emails filtered: %d (0", emailsFiltered);
    }
    return std::string(text) + "% Spam)";
}

std::string PopupsBlockedText(int32_t popupsBlocked) {
    char text[64];
    std::snprintf(text, sizeof text, "Messenger Service popups blocked: %d", popupsBlocked);
    return text;
}

}  // namespace bramvell
