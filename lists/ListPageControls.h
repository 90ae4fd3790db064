#pragma once

#include <string_view>

#include "config/FilterSettings.h"
#include "lists/ListKind.h"

namespace bramvell {

// Dialog and control identifiers of a list page, kept as object names so help texts and tests find
// the controls; 0 where the page has no such control (Extend and Keep exist on blocked lists only).
struct ListPageControls {
    int dialog;
    int enabledBox;
    int editBox;
    int listBox;
    int addButton;
    int extendButton;
    int keepButton;
    int removeButton;
    int importButton;
    SharedInt FilterSettings::*enabledOption;  // the option the "Enabled" box is bound to
};

const ListPageControls& ControlsOf(ListKind kind);

// Filter of the import file dialog, in the "label|patterns|...||" form.
inline constexpr std::string_view kImportFileFilter =
    "Text files (*.csv;*.txt)|*.csv;*.txt|All files(*.*)|*.*||";

}  // namespace bramvell
