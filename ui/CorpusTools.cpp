#include "ui/CorpusTools.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLayout>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <climits>

namespace bramvell {

namespace {

struct ToolText {
    CorpusTools::Tool tool;
    int buttonId;
    const char* button;
    const char* action;  // the context-menu entry and the button's tooltip
    const char* running;
};

constexpr ToolText kTools[] = {
    {CorpusTools::Tool::Spam, CorpusTools::kSpamButton, "Spam", "Learn the quarantine folder as Spam",
     "Learning the messages of the quarantine folder as Spam..."},
    {CorpusTools::Tool::Ham, CorpusTools::kHamButton, "Ham", "Learn the quarantine folder as good mail (Ham)",
     "Learning the messages of the quarantine folder as good mail..."},
    {CorpusTools::Tool::Test, CorpusTools::kTestButton, "Test",
     "Test the token tables on the quarantine folder (results in the activity log)",
     "Testing the messages of the quarantine folder..."},
};

const ToolText& TextOf(CorpusTools::Tool tool) {
    for (const ToolText& text : kTools) {
        if (text.tool == tool) {
            return text;
        }
    }
    return kTools[0];
}

// Puts the group at the foot of the page's own layout, above a closing stretch if there is one.
bool AddToPageLayout(QWidget* page, QWidget* group) {
    QLayout* layout = page->layout();
    if (auto* box = qobject_cast<QBoxLayout*>(layout)) {
        int at = box->count();
        if (at > 0 && box->itemAt(at - 1)->spacerItem() != nullptr) {
            --at;
        }
        box->insertWidget(at, group);
        return true;
    }
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        grid->addWidget(group, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
        return true;
    }
    return false;
}

}  // namespace

CorpusTools::CorpusTools(QWidget* page, CorpusJobs jobs, CorpusToolHooks hooks)
    : QObject(page), page_(page), jobs_(std::move(jobs)), hooks_(std::move(hooks)) {}

CorpusTools* CorpusTools::Attach(QWidget* page, CorpusJobs jobs, CorpusToolHooks hooks) {
    auto* tools = new CorpusTools(page, std::move(jobs), std::move(hooks));
    tools->Place();
    return tools;
}

void CorpusTools::Place() {
    auto* group = new QGroupBox(QStringLiteral("Corpus (quarantine folder)"), page_);
    group->setObjectName(QStringLiteral("corpusGroup"));
    auto* row = new QHBoxLayout(group);
    page_->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (const ToolText& text : kTools) {
        auto* button = page_->findChild<QPushButton*>(QString::number(text.buttonId));
        if (button == nullptr) {
            button = new QPushButton(QString::fromLatin1(text.button), page_);
            button->setObjectName(QString::number(text.buttonId));
            button->setAutoDefault(false);
        }
        button->setToolTip(QString::fromLatin1(text.action));
        row->addWidget(button);
        button->setVisible(true);
        const Tool tool = text.tool;
        connect(button, &QPushButton::clicked, this, [this, tool] { Run(tool); });

        auto* action = new QAction(QString::fromLatin1(text.action), page_);
        connect(action, &QAction::triggered, this, [this, tool] { Run(tool); });
        page_->addAction(action);
    }
    row->addStretch(1);
    if (!AddToPageLayout(page_, group)) {
        group->adjustSize();
        group->move(0, std::max(0, page_->height() - group->height()));
    }
    group->show();
}

bool CorpusTools::Run(Tool tool) {
    if (running_ || page_ == nullptr) {
        return false;
    }
    const CorpusJob& job = tool == Tool::Spam  ? jobs_.learnSpam
                           : tool == Tool::Ham ? jobs_.learnHam
                                               : jobs_.test;
    running_ = true;

    QProgressDialog progress(QString::fromLatin1(TextOf(tool).running), QString(), 0, 0, page_);
    progress.setWindowTitle(QStringLiteral("Bramvell"));
    progress.setWindowModality(Qt::ApplicationModal);  // the pump must not start another run
    progress.setCancelButton(nullptr);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.show();

    const std::function<bool()> pump = hooks_.pump ? hooks_.pump : [] {
        QCoreApplication::processEvents();
        return true;
    };
    CorpusRunCallbacks callbacks;
    callbacks.pump = pump;
    callbacks.progress = [&progress](std::size_t done, std::size_t total) {
        const auto clamp = [](std::size_t value) {
            return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
        };
        progress.setMaximum(clamp(total));
        progress.setValue(clamp(std::min(done, total)));
    };
    const bool finished = !job || job(callbacks);
    progress.close();
    running_ = false;

    if (finished && page_ != nullptr) {
        const QString text = QStringLiteral("finished!");
        if (hooks_.showMessage) {
            hooks_.showMessage(page_, text);
        } else {
            QMessageBox::information(page_, QStringLiteral("Bramvell"), text);
        }
    }
    return finished;
}

}  // namespace bramvell
