#include "lists/ListPageOperations.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "lists/ExpiryDay.h"
#include "lists/ListLine.h"
#include "lists/ListText.h"
#include "lists/TextLineReader.h"

namespace bramvell {

namespace {

struct BalloonText {
    std::string_view title;
    std::string_view text;
};

constexpr std::array<BalloonText, kListCount> kTooShort = {{
    {"Add to Blocked Addresses", " Blocked Addresses must be a minimum of eight characters in length"},
    {"Add to Blocked Domains", " Blocked Domains must be a minimum of three characters in length"},
    {"Add to Blocked Names", " Blocked Names must be a minimum of three characters in length"},
    {"Add to Subject Passphrases", " Subject Passphrases must be a minimum of three characters in length"},
    {"Add to Trusted Addresses", " Trusted Addresses must be a minimum of eight characters in length"},
    {"Add to Trusted Domains", " Trusted Domains must be a minimum of three characters in length"},
    {"Add to Trusted Names", " Trusted Names must be a minimum of three characters in length"},
    {"Add to User Addresses", " User Addresses must be a minimum of eight characters in length"},
}};

constexpr int kBordersPerString = 3;

}  // namespace

Balloon TooShortBalloon(ListKind kind) {
    const BalloonText& text = kTooShort[IndexOf(kind)];
    return Balloon{text.title, text.text};
}

Balloon DuplicateBalloon(ListKind kind) {
    return Balloon{kTooShort[IndexOf(kind)].title, " This entry is already in the list"};
}

ListPageOperations::ListPageOperations(ListStore& store, ListKind kind, std::vector<std::string> displayList,
                                       MeasureText measure, int borderWidth, const Clock& clock)
    : store_(store),
      kind_(kind),
      displayList_(std::move(displayList)),
      measure_(std::move(measure)),
      borderWidth_(borderWidth),
      clock_(clock) {
    if (!measure_) {
        measure_ = [](std::string_view text) { return static_cast<int>(text.size()); };
    }
}

void ListPageOperations::Show() {
    for (const std::string& text : displayList_) {
        widest_ = std::max(widest_, measure_(text) + kBordersPerString * borderWidth_);
    }
}

void ListPageOperations::AppendDisplayString(std::string text) {
    widest_ = std::max(widest_, measure_(text) + kBordersPerString * borderWidth_);
    displayList_.push_back(std::move(text));
}

void ListPageOperations::DropDisplayString(std::string_view selection) {
    auto it = std::find(displayList_.begin(), displayList_.end(), selection);
    if (it != displayList_.end()) {
        displayList_.erase(it);
    }
    if (displayList_.empty()) {
        widest_ = 0;
    }
}

std::string_view ListPageOperations::EntryTextOf(std::string_view displayString) const {
    if (!TraitsOf(kind_).blocked) {
        return displayString;
    }
    return displayString.size() >= kExpirySuffixLength
               ? displayString.substr(0, displayString.size() - kExpirySuffixLength)
               : std::string_view();
}

ListPageOperations::AddOutcome ListPageOperations::Add(std::string_view newEntryText) {
    return AddText(newEntryText, false);
}

ListPageOperations::AddOutcome ListPageOperations::AddText(std::string_view text, bool importMode) {
    AddOutcome outcome;
    const std::string entry = LowerCase(SingleLine(text));
    if (entry.size() < static_cast<std::size_t>(TraitsOf(kind_).shortestText)) {
        if (!importMode) {
            outcome.balloon = TooShortBalloon(kind_);
        }
        return outcome;
    }
    // A second copy would show as one entry while a removal took both from the file.
    if (store_.FindEntry(kind_, entry)) {
        outcome.duplicate = true;
        if (!importMode) {
            outcome.balloon = DuplicateBalloon(kind_);
        }
        return outcome;
    }
    outcome.written = store_.AddEntry(kind_, entry);
    std::string display = entry;
    if (TraitsOf(kind_).blocked) {
        display += ExpirySuffix(0);
    }
    AppendDisplayString(display);
    outcome.added = std::move(display);
    outcome.clearEditBox = !importMode;
    return outcome;
}

ListPageOperations::ChangeOutcome ListPageOperations::Extend(std::optional<std::string_view> selection) {
    return SetDay(selection, ExtendExpiryDay(clock_.Now()));
}

ListPageOperations::ChangeOutcome ListPageOperations::Keep(std::optional<std::string_view> selection) {
    return SetDay(selection, kKeepExpiryDay);
}

ListPageOperations::ChangeOutcome ListPageOperations::SetDay(std::optional<std::string_view> selection,
                                                             int day) {
    ChangeOutcome outcome;
    if (!TraitsOf(kind_).blocked || !selection) {
        return outcome;
    }
    const std::string selected(*selection);
    DropDisplayString(selected);
    const std::string text(EntryTextOf(selected));
    std::string display = text + ExpirySuffix(day);
    AppendDisplayString(display);
    outcome.done = true;
    outcome.added = std::move(display);
    outcome.written = !text.empty() && store_.SetExpiryDay(kind_, text, day);
    return outcome;
}

ListPageOperations::ChangeOutcome ListPageOperations::Remove(std::optional<std::string_view> selection) {
    ChangeOutcome outcome;
    if (!selection) {
        return outcome;
    }
    const std::string selected(*selection);
    DropDisplayString(selected);
    const std::string_view text = EntryTextOf(selected);
    outcome.done = true;
    outcome.written = !text.empty() && store_.RemoveEntry(kind_, text);
    return outcome;
}

ListPageOperations::ImportOutcome ListPageOperations::Import(const std::string& path,
                                                             const PumpMessages& pump) {
    ImportOutcome outcome;
    const auto keepGoing = [&pump] { return !pump || pump(); };
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return outcome;
    }
    TextLineReader reader(path, TextLineReader::Links::Follow);
    if (!reader.IsOpen()) {
        return outcome;
    }
    outcome.opened = true;

    std::vector<std::string> lines;
    std::string line;
    while (reader.Next(line)) {
        if (line.empty()) {
            continue;
        }
        if (!keepGoing()) {
            outcome.quit = true;
            return outcome;
        }
        lines.push_back(std::move(line));
    }

    for (const std::string& text : lines) {
        if (!store_.FindEntry(kind_, text)) {
            AddOutcome added = AddText(text, true);
            if (added.added) {
                outcome.added.push_back(std::move(*added.added));
            }
        }
        if (!keepGoing()) {
            outcome.quit = true;
            return outcome;
        }
    }
    return outcome;
}

}  // namespace bramvell
