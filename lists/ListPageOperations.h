#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"
#include "lists/ListKind.h"
#include "lists/ListStore.h"

namespace bramvell {

// A titled note the page shows at the mouse pointer: topmost, outlined, closed by a key press or
// either mouse button, gone after its lifetime.
struct Balloon {
    std::string_view title;
    std::string_view text;
    int lifetimeMs = 7000;
};

// The note Add shows when a text is too short for the list.
Balloon TooShortBalloon(ListKind kind);
// The note Add shows when the list holds the text already: the same title, " This entry is already in
// the list".
Balloon DuplicateBalloon(ListKind kind);

// Pixel width of a string in the list box's font.
using MeasureText = std::function<int(std::string_view)>;

// What a list page does behind its buttons, without any toolkit: the page hands over what the user
// entered or selected and draws what the outcome says. The page's display list (the strings its list
// box shows, filled at load) lives here, along with the widest string measured so far, which is the
// list box's horizontal scroll range.
class ListPageOperations {
  public:
    // measure defaults to one pixel per character; borderWidth is the system's border width, three of
    // which are added to every measured string.
    ListPageOperations(ListStore& store, ListKind kind, std::vector<std::string> displayList,
                       MeasureText measure = {}, int borderWidth = 0, const Clock& clock = DefaultClock());

    struct AddOutcome {
        std::optional<Balloon> balloon;    // too short: show this, nothing was stored
        std::optional<std::string> added;  // add this string to the list box
        bool clearEditBox = false;         // empty the edit box and give it the focus
        bool written = false;              // the bucket file holds the new line
        bool duplicate = false;            // the list holds the text already: nothing was stored
    };
    // A change of the list box: its selected string goes, `added` (Extend and Keep) comes in its
    // sorted place. done is false when nothing was selected (or Extend on a list without days).
    struct ChangeOutcome {
        bool done = false;
        std::optional<std::string> added;
        bool written = false;  // the bucket file was rewritten
    };
    struct ImportOutcome {
        bool opened = false;
        bool quit = false;               // the application began to quit: import stopped there
        std::vector<std::string> added;  // strings to add to the list box, in order
    };

    // Page initialisation: measures every display string; the list box shows DisplayList().
    void Show();

    AddOutcome Add(std::string_view newEntryText);
    ChangeOutcome Extend(std::optional<std::string_view> selection);
    ChangeOutcome Keep(std::optional<std::string_view> selection);
    ChangeOutcome Remove(std::optional<std::string_view> selection);
    // Adds every line of the file (taken whole, lower-cased) that the list does not hold yet.
    ImportOutcome Import(const std::string& path, const PumpMessages& pump = {});

    const std::vector<std::string>& DisplayList() const { return displayList_; }
    int Widest() const { return widest_; }
    ListKind Kind() const { return kind_; }

  private:
    AddOutcome AddText(std::string_view text, bool importMode);
    ChangeOutcome SetDay(std::optional<std::string_view> selection, int day);
    // Drops the first display string equal to the selection; an empty list resets the scroll range.
    void DropDisplayString(std::string_view selection);
    void AppendDisplayString(std::string text);
    // The entry text behind a display string: blocked lists show five more characters.
    std::string_view EntryTextOf(std::string_view displayString) const;

    ListStore& store_;
    ListKind kind_;
    std::vector<std::string> displayList_;
    MeasureText measure_;
    int borderWidth_;
    const Clock& clock_;
    int widest_ = 0;
};

}  // namespace bramvell
