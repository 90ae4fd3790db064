#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

class CSAPrefsSubDlg;

// One option page as the control panel keeps it, in the order of adding.
struct PageEntry {
    CSAPrefsSubDlg* page = nullptr;
    int templateId = 0;
    int parent = -1;  // index of the entry whose tree item holds this one; -1 = top level
    std::string caption;
};

// True when a page with this caption keeps the parent its caller gave: captions beginning with "A",
// "G" or "Sp". Every other page goes under the first page added.
bool KeepsRequestedParent(std::string_view caption);

// The control panel's page entries. Pages can be added only until the panel's window exists.
class PageList {
  public:
    // False once Freeze() has run. parent = nullptr for the top level.
    bool AddPage(CSAPrefsSubDlg* page, int templateId, std::string caption, CSAPrefsSubDlg* parent);
    void Freeze() { frozen_ = true; }
    bool frozen() const { return frozen_; }

    const std::vector<PageEntry>& entries() const { return entries_; }
    int size() const { return static_cast<int>(entries_.size()); }
    // Index of the entry of a page, -1 when absent.
    int IndexOf(const CSAPrefsSubDlg* page) const;

  private:
    std::vector<PageEntry> entries_;
    bool frozen_ = false;
};

}  // namespace bramvell
