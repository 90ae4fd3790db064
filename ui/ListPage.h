#pragma once

#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/Clock.h"
#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

class ListPageLogic;

// What tells the eight list pages apart: list letter, caption, dialog and control identifiers,
// limits, and the option of the "Enabled" box. Identifiers of absent buttons are 0.
struct ListPageInfo {
    char kind;
    const char* caption;
    int templateId;
    int enabledId;
    bool enabledGreyed;
    int editId;
    int listId;
    int addId;
    int extendId;
    int keepId;
    int removeId;
    int importId;
    int editLimit;
    int shortestText;
    SharedInt FilterSettings::*enabledField;
};

// Kinds 'A'..'H'; nullptr for any other letter.
const ListPageInfo* FindListPageInfo(char kind);

// One of the eight sender-list pages: "Enabled", the new-entry box (lower case, limited), the sorted
// list box and its buttons. The display list is filled at start-up while the lists load, before the
// page is first shown; when the page window is made, the page's operations take it over, build the
// list box from it and answer the buttons.
class ListPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    ListPage(const ListPageInfo& info, FilterSettings* settings, QWidget* parent = nullptr);
    ~ListPage() override;

    const ListPageInfo& info() const { return info_; }
    // Filled at start-up before the page is first shown; the page's operations own it from then on.
    std::vector<std::string>& displayList() { return displayList_; }
    const std::string& newEntryText() const { return newEntryText_; }
    // Lets events through during an import; false stops the import (the application is quitting).
    void SetPump(std::function<bool()> pump) { pump_ = std::move(pump); }
    // The clock of Extend's expiry day (before the page window is made).
    void SetClock(const Clock& clock) { clock_ = &clock; }
    // Adds an entry from elsewhere so that the list box shows it too, before or after the page window
    // is made; false when the text is too short or the list holds it already.
    bool AddEntryText(const std::string& text);
    // The buttons' operations, once the page window exists and the list store is loaded.
    ListPageLogic* logic() const { return logic_.get(); }

  protected:
    void BuildControls() override;
    void OnInitPage() override;
    // Return in the entry box adds what it holds; Delete in the list box removes the selection.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPushButton* MakeButton(int id, const QString& text);

    std::unique_ptr<ListPageLogic> logic_;
    std::function<bool()> pump_;
    const Clock* clock_ = &DefaultClock();
    const ListPageInfo& info_;
    std::vector<std::string> displayList_;
    std::string newEntryText_;
};

}  // namespace bramvell
