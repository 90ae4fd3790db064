#include "ui/PageList.h"

namespace bramvell {

bool KeepsRequestedParent(std::string_view caption) {
    return caption.starts_with("A") || caption.starts_with("G") || caption.starts_with("Sp");
}

bool PageList::AddPage(CSAPrefsSubDlg* page, int templateId, std::string caption, CSAPrefsSubDlg* parent) {
    if (frozen_) {
        return false;
    }
    int parentIndex = IndexOf(parent);
    if (!KeepsRequestedParent(caption)) {
        // The first page ever added; the very first page has nothing above it.
        parentIndex = entries_.empty() ? -1 : 0;
    }
    entries_.push_back(PageEntry{page, templateId, parentIndex, std::move(caption)});
    return true;
}

int PageList::IndexOf(const CSAPrefsSubDlg* page) const {
    if (page == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].page == page) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace bramvell
