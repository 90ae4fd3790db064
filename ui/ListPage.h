#pragma once

#include <QPushButton>
#include <string>
#include <vector>

#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

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

    const ListPageInfo& info() const { return info_; }
    std::vector<std::string>& displayList() { return displayList_; }
    const std::string& newEntryText() const { return newEntryText_; }

  protected:
    void BuildControls() override;
    void OnInitPage() override;

    // The buttons' operations; the list-page operations fill them in.
    virtual void OnAdd() {}
    virtual void OnExtend() {}
    virtual void OnKeep() {}
    virtual void OnRemove() {}
    virtual void OnImport() {}

  private:
    QPushButton* MakeButton(int id, const QString& text);

    const ListPageInfo& info_;
    std::vector<std::string> displayList_;
    std::string newEntryText_;
};

}  // namespace bramvell
