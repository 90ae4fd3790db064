#pragma once

#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/Clock.h"
#include "lists/ListKind.h"
#include "lists/ListPageOperations.h"
#include "lists/ListStore.h"

namespace bramvell {

// What a list page needs from around it. Every member may be left empty.
struct ListPageHooks {
    // Reads the page's controls into the settings record (the result is not looked at).
    std::function<void()> readControls;
    // Asks for the file to import; no value when the user cancels. Empty: ChooseImportFile.
    std::function<std::optional<QString>(QWidget* parent)> chooseImportFile;
    // Shows the too-short note at the mouse pointer. Empty: a balloon popup.
    std::function<void(const QString& title, const QString& text, int lifetimeMs)> showNote;
    // Lets pending events through during an import; false when the application is quitting. Empty:
    // processes events and goes on.
    PumpMessages pump;
};

// The name filters of the import dialog: "Text files (*.csv;*.txt)" and "All files(*.*)", each with
// the patterns that the dialog matches (on Linux "*.*" would miss names without a dot, so it is "*").
QStringList ImportNameFilters();

// The Open file dialog of an import: existing files only, with the filters above; no value when the
// user cancels.
std::optional<QString> ChooseImportFile(QWidget* parent);

// The operations behind one list page's buttons, drawn into the page's controls. The page's display
// list lives here from start-up on; Attach finds the controls of a page window by their object names
// (the control identifiers), wires the buttons and fills the list box, whenever that window is made.
//
// The list box's horizontal scroll range follows the widest string measured so far (plus three
// border widths), as the page's display list says, not Qt's own measure of the items it holds: it
// shrinks only when the list becomes empty.
class ListPageLogic : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kExtentProperty = "horizontalExtent";

    ListPageLogic(ListStore& store, ListKind kind, std::vector<std::string> displayList,
                  ListPageHooks hooks = {}, const Clock& clock = DefaultClock(), QObject* parent = nullptr);

    // Takes the controls of a freshly made page window, configures them (lower-case entry box with
    // its limit, sorted single-selection list box) and runs Show.
    void Attach(QWidget* page);

    void Show();
    void Add();
    void Extend();
    void Keep();
    void Remove();
    void Import();
    // Adds a text from elsewhere (the quarantine's "Not spam"), as Add would but quietly; true when added.
    bool AddFromElsewhere(const std::string& text);
    // Import of a chosen file, without the dialog.
    void ImportFile(const QString& path);

    const ListPageOperations& operations() const { return operations_; }
    ListKind kind() const { return operations_.Kind(); }
    QListWidget* listBox() const { return list_; }
    QLineEdit* editBox() const { return edit_; }
    // The horizontal scroll extent in pixels (0 when the list is empty).
    int HorizontalExtent() const { return operations_.Widest(); }
    // What the list box shows for a display string: blocked entries with the date they fall due,
    // "abc@x.example  (expires 2027-01-07)" or "  (never expires)"; other strings as they are.
    static std::string ShownText(const std::string& display, ListKind kind, const LocalTime& today);

  private:
    enum class Change { Extend, Keep, Remove };
    void RunChange(Change change);
    void AddString(const std::string& display);
    void ApplyExtent();
    void ReadControls();
    std::optional<std::string> TakeSelection();
    int Measure(std::string_view text) const;

    ListPageHooks hooks_;
    ListPageOperations operations_;
    const Clock& clock_;
    QPointer<QWidget> page_;
    QPointer<QLineEdit> edit_;
    QPointer<QListWidget> list_;
    bool busy_ = false;  // an import pumps events: the page's buttons wait until it is done
};

}  // namespace bramvell
