#include "ui/GeneralOptionsPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Prompter.h"

namespace bramvell {

GeneralOptionsPage::GeneralOptionsPage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(103, settings, parent) {}

void GeneralOptionsPage::SetAdapterName(int index, const QString& name) {
    if (index < 0 || index >= kMaxAdapterNames) {
        return;
    }
    while (adapterNames_.size() <= index) {
        adapterNames_.append(QString());
    }
    adapterNames_[index] = name;
}

bool GeneralOptionsPage::ReadyToHide() {
    if (!HasWindow()) {
        return true;
    }
    ReadControls(Report::Quiet);
    const FilterSettings& s = *settings();
    if (s.passwordProtection.load() == 0 || s.password == s.passwordConfirm) {
        return true;
    }
    QWidget* confirm = Control(1055);
    if (prompter() != nullptr) {
        prompter()->ShowNote(
            confirm, QStringLiteral(" Confirm Password"),
            QStringLiteral(" The two passwords differ.\r Enter the same password in both boxes"), 7000);
    }
    confirm->setFocus(Qt::OtherFocusReason);
    return false;
}

void GeneralOptionsPage::BuildControls() {
    FilterSettings& s = *settings();
    auto* layout = new QVBoxLayout(this);

    layout->addWidget(
        BindCheck(1026, QStringLiteral("Automatically select network interface :"), s.autoSelectAdapter));
    QListWidget* adapters = BindListSelection(1069, s.adapterIndex);
    adapters->addItems(adapterNames_);
    adapters->setMaximumHeight(72);
    layout->addWidget(adapters);
    layout->addWidget(
        BindCheck(1027, QStringLiteral("Automatically start when you log in"), s.startWithWindows));

    layout->addWidget(
        BindCheck(1105, QStringLiteral("Create Activity Log files in this folder :"), s.activityLogEnabled));
    auto* folderRow = new QHBoxLayout;
    QLineEdit* folder = BindText(
        1106, static_cast<int>(kMaxFolderLength), [&s] { return s.LogFolder(); },
        [&s](const std::string& value) { s.SetLogFolder(value); });
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(MakeBrowseButton(1107, folder, QStringLiteral("Folder for Bramvell log files")));
    folderRow->addWidget(MakeExploreButton(1108, [&s] { return s.LogFolder(); }));
    layout->addLayout(folderRow);

    layout->addWidget(BindCheck(1036, QStringLiteral("Enable password protection :"), s.passwordProtection));
    auto* passwords = new QGridLayout;
    passwords->addWidget(new QLabel(QStringLiteral("Enter password"), this), 0, 0);
    passwords->addWidget(BindText(1058, static_cast<int>(kMaxPasswordLength), s.password, true), 0, 1);
    passwords->addWidget(new QLabel(QStringLiteral("Confirm password"), this), 1, 0);
    passwords->addWidget(BindText(1055, static_cast<int>(kMaxPasswordLength), s.passwordConfirm, true), 1, 1);
    passwords->setContentsMargins(20, 0, 0, 0);
    layout->addLayout(passwords);

    layout->addWidget(BindCheck(1138, QStringLiteral("Show tips on startup"), s.showTips));
    layout->addStretch(1);
}

}  // namespace bramvell
