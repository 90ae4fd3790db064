#pragma once

#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

class ListPageOperations;

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
// page is first shown; the page builds its list box from it.
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

  protected:
    void BuildControls() override;
    void OnInitPage() override;

    // The buttons. They act on the sender list only when the list store is loaded.
    void OnAdd();
    void OnExtend();
    void OnKeep();
    void OnRemove();
    void OnImport();

  private:
    QPushButton* MakeButton(int id, const QString& text);
    QListWidget* List() const;
    std::optional<std::string> Selection() const;
    // Drops the selected string from the list box, then adds what the operation produced.
    void ApplyChange(bool done, const std::optional<std::string>& added);
    void AddString(const std::string& text);

    std::unique_ptr<ListPageOperations> operations_;
    std::function<bool()> pump_;
    const ListPageInfo& info_;
    std::vector<std::string> displayList_;
    std::string newEntryText_;
};

}  // namespace bramvell
