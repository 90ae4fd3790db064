#include "ui/SpamFilterOptionsPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/OptionsFile.h"
#include "controls/SpinButton.h"
#include "ui/Prompter.h"

namespace bramvell {

SpamFilterOptionsPage::SpamFilterOptionsPage(FilterSettings* settings, QWidget* parent)
    : CSAPrefsSubDlg(107, settings, parent) {}

void SpamFilterOptionsPage::BuildControls() {
    FilterSettings& s = *settings();
    auto* layout = new QVBoxLayout(this);
    auto numberRow = [this](QCheckBox* box, QLineEdit* number, int spinId, int minimum, int maximum) {
        auto* row = new QHBoxLayout;
        row->addWidget(box);
        row->addStretch(1);
        number->setFixedWidth(36);
        auto* spin = new SpinButton(number, minimum, maximum, this);
        spin->setObjectName(QString::number(spinId));
        row->addWidget(number);
        row->addWidget(spin);
        return row;
    };

    layout->addWidget(BindCheck(1043, QStringLiteral("Enabled - press and hold the Control key to pause"),
                                s.filterEnabled));
    layout->addWidget(
        BindCheck(1093, QStringLiteral("Accept email from trusted sources only"), s.acceptTrustedOnly, true));
    layout->addWidget(
        BindCheck(1031, QStringLiteral("Block Windows Messenger Service popups"), s.blockMessengerPopups));
    layout->addWidget(BindCheck(1033, QStringLiteral("Challenge email from non-trusted sources"),
                                s.challengeNonTrusted, true));
    layout->addWidget(
        BindCheck(1034, QStringLiteral("Check that From and To addresses differ"), s.checkFromToDiffer));
    layout->addLayout(numberRow(
        BindCheck(1035, QStringLiteral("Probability threshold for suspected Spam :"), s.thresholdEnabled),
        BindNumber(1057, s.thresholdLevel), 1083, kMinThresholdLevel, kMaxThresholdLevel));

    auto* scorerRow = new QHBoxLayout;
    scorerRow->addWidget(new QLabel(QStringLiteral("Score mail with :"), this));
    scorerRow->addStretch(1);
    scorer_ = new QComboBox(this);
    scorer_->setObjectName(QString::number(kScorerId));
    scorer_->addItem(QStringLiteral("Classic word tables"), QStringLiteral("classic"));
    scorer_->addItem(QStringLiteral("Chi-square (unsure mail delivered)"), QStringLiteral("chi-square"));
    OptionsFile options;
    storedScorer_ = options.Load() ? options.Get("scorer") : std::string("classic");
    scorer_->setCurrentIndex(std::max(0, scorer_->findData(QString::fromStdString(storedScorer_))));
    scorerRow->addWidget(scorer_);
    layout->addLayout(scorerRow);

    layout->addWidget(
        BindCheck(1039, QStringLiteral("Quarantine suspected Spam to this folder :"), s.quarantineEnabled));
    auto* folderRow = new QHBoxLayout;
    QLineEdit* folder = BindText(
        1059, static_cast<int>(kMaxFolderLength), [&s] { return s.QuarantineFolder(); },
        [&s](const std::string& value) { s.SetQuarantineFolder(value); });
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(
        MakeBrowseButton(1016, folder, QStringLiteral("Folder for quarantined suspected Spam")));
    folderRow->addWidget(MakeExploreButton(1102, [&s] { return s.QuarantineFolder(); }));
    layout->addLayout(folderRow);
    layout->addLayout(
        numberRow(BindCheck(1032, QStringLiteral("Empty folder after this many days :"), s.emptyQuarantine),
                  BindNumber(1056, s.emptyQuarantineDays), 1082, kMinQuarantineDays, kMaxQuarantineDays));
    layout->addWidget(BindCheck(1094, QStringLiteral("Rename executable attachments"), s.renameAttachments));

    // The corpus tool's buttons exist on the page, hidden until the corpus tools take them.
    const std::pair<int, const char*> corpusButtons[] = {{1103, "Spam"}, {1104, "Ham"}, {1136, "Test"}};
    for (const auto& [id, text] : corpusButtons) {
        auto* button = new QPushButton(QString::fromLatin1(text), this);
        button->setObjectName(QString::number(id));
        button->setAutoDefault(false);
        button->setVisible(false);
    }
    layout->addStretch(1);
}

void SpamFilterOptionsPage::SetCorpusJobs(CorpusJobs jobs, CorpusToolHooks hooks) {
    corpusJobs_ = std::move(jobs);
    corpusHooks_ = std::move(hooks);
}

void SpamFilterOptionsPage::OnControlsRead() {
    if (scorer_ == nullptr) {
        return;
    }
    const std::string chosen = scorer_->currentData().toString().toStdString();
    if (chosen == storedScorer_) {
        return;  // nothing to write: a hand-edited file stays as it is
    }
    OptionsFile options;
    std::string problem;
    if (options.Load() && options.Set("scorer", chosen, &problem) && options.Save()) {
        storedScorer_ = chosen;
    } else if (prompter() != nullptr) {
        prompter()->Warn(this, QStringLiteral("The scorer could not be written to %1")
                                   .arg(QString::fromStdString(options.Path())));
    }
}

void SpamFilterOptionsPage::OnInitPage() {
    if (corpusJobs_) {
        corpusTools_ = CorpusTools::Attach(this, *corpusJobs_, corpusHooks_);
    }
}

}  // namespace bramvell
