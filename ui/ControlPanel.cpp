#include "ui/ControlPanel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "config/CalendarDays.h"
#include "config/FilterSettings.h"
#include "config/MailHistory.h"
#include "config/MailStatistics.h"
#include "controls/CaptionBar.h"
#include "runtime/PostedMessages.h"
#include "runtime/TrayTip.h"
#include "ui/CSAPrefsSubDlg.h"
#include "ui/ContextHelp.h"
#include "ui/Prompter.h"
#include "ui/StatusText.h"
#include "ui/TrayImages.h"

namespace bramvell {

namespace {

// The tree's request to show a page, delivered after the selection change has finished.
class ShowPageEvent : public QEvent {
  public:
    explicit ShowPageEvent(int index) : QEvent(TypeId()), index_(index) {}
    static QEvent::Type TypeId() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType(WM_SHOW_PAGE));
        return type;
    }
    int index() const { return index_; }

  private:
    int index_;
};

constexpr int kPageIndexRole = Qt::UserRole + 1;

}  // namespace

ControlPanel::ControlPanel(FilterSettings* settings, Prompter* prompter, TrayPresence tray, QWidget* parent)
    : QDialog(parent), settings_(settings), prompter_(prompter), trayPresence_(tray), target_(this) {
    setObjectName(QStringLiteral("ControlPanel"));
    // A normal window, not a dialog: task bars list it and window managers give it a minimise button.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(kControlPanelTitle));
    setWindowIcon(TrayImageIcon(ICON_NORMAL));
    setSizeGripEnabled(false);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("pageTree"));
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setFixedWidth(190);
    tree_->setRootIsDecorated(true);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item, QTreeWidgetItem*) { OnTreeSelection(item); });

    caption_ = new CaptionBar(this);
    caption_->setObjectName(QStringLiteral("captionBar"));
    caption_->setFixedHeight(24);
    frame_ = new QWidget(this);
    frame_->setObjectName(QStringLiteral("pageFrame"));
    stack_ = new QStackedLayout(frame_);
    stack_->setContentsMargins(0, 0, 0, 0);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QString::number(ID_OK));
    ok_->setDefault(true);
    shutdown_ = new QPushButton(QStringLiteral("Shutdown"), this);
    shutdown_->setObjectName(QString::number(ID_SHUTDOWN));
    shutdown_->setAutoDefault(false);
    connect(ok_, &QPushButton::clicked, this, [this] { OnCommand(ID_OK); });
    connect(shutdown_, &QPushButton::clicked, this, [this] { OnCommand(ID_SHUTDOWN); });

    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("StatusBar"));
    statusBar_->setSizeGripEnabled(false);
    pane0_ = new QLabel(QStringLiteral("Spam"), statusBar_);
    pane0_->setObjectName(QStringLiteral("statusPane0"));
    pane1_ = new QLabel(QStringLiteral("Messenger Service popups"), statusBar_);
    pane1_->setObjectName(QStringLiteral("statusPane1"));
    pane1_->setFixedWidth(kStatusPane1Width);
    statusBar_->addWidget(pane0_, 1);
    statusBar_->addWidget(pane1_);

    auto* pageColumn = new QVBoxLayout;
    pageColumn->setSpacing(4);
    pageColumn->addWidget(caption_);
    pageColumn->addWidget(frame_, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(tree_);
    top->addLayout(pageColumn, 1);
    // Context help: the title bar's "?" where the window manager offers one, this button everywhere.
    auto* help = new QToolButton(this);
    help->setObjectName(QStringLiteral("contextHelpButton"));
    help->setText(QStringLiteral("?"));
    help->setToolTip(QStringLiteral("Click here, then on any input control, for help (or press F1)"));
    help->setProperty(ContextHelp::kContextIdProperty, 0);
    ContextHelp::Install(this, help);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(shutdown_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
    layout->addWidget(statusBar_);
    resize(660, 440);

    tray_ = std::make_unique<CStatusAreaIconObj>(trayPresence_ == TrayPresence::System);
    connect(tray_.get(), &CStatusAreaIconObj::Command, this, &ControlPanel::OnCommand, Qt::QueuedConnection);
}

ControlPanel::~ControlPanel() {
    if (settings_->mainWindow == &target_) {
        settings_->mainWindow = nullptr;
    }
    // The pages belong to the application, not to the panel's frame; pages already destroyed have
    // left the frame by themselves.
    while (stack_->count() > 0) {
        auto* scroll = static_cast<QScrollArea*>(stack_->widget(0));
        stack_->removeWidget(scroll);
        if (QWidget* page = scroll->takeWidget()) {
            page->setParent(nullptr);
        }
        delete scroll;
    }
}

bool ControlPanel::AddPage(CSAPrefsSubDlg* page, const QString& caption, CSAPrefsSubDlg* parent) {
    if (page == nullptr) {
        return false;
    }
    if (!pages_.AddPage(page, page->TemplateId(), caption.toStdString(), parent)) {
        return false;
    }
    page->SetPrompter(prompter_);
    return true;
}

bool ControlPanel::Initialise() {
    if (initialised_) {
        return currentPage_ >= 0;
    }
    initialised_ = true;
    pages_.Freeze();
    settings_->mainWindow = &target_;
    UpdateStatusPanes();
    BuildPageTree();
    if (!ShowPage(0)) {
        return false;
    }
    tray_->Create(QString::fromLatin1(kControlPanelTitle));
    countedDay_ = DayNumber(DefaultClock().Now());
    const DayCounts today =
        CountsOfDay(ReadMailHistory(MailHistoryPath(settings_->programFolder)), countedDay_);
    goodToday_ = today.good;
    spamToday_ = today.spam;
    UpdateTrayTip();
    tray_->Show();
    tray_->SetMode(kStartingPeriodMs, WM_ICON_STARTING);
    settings_->filterRunning = 0;
    settings_->stopRequested = 0;
    if (hooks_.startFilter) {
        hooks_.startFilter();
    }
    if (trayPresence_ == TrayPresence::None) {
        // Without a notification area the panel is the only way in.
        QMetaObject::invokeMethod(
            this, [this] { OnCommand(ID_RESTORE_PANEL); }, Qt::QueuedConnection);
    }
    return true;
}

void ControlPanel::BuildPageTree() {
    tree_->clear();
    treeItems_.clear();
    const auto& entries = pages_.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PageEntry& entry = entries[i];
        QTreeWidgetItem* item = nullptr;
        if (entry.parent >= 0 && static_cast<std::size_t>(entry.parent) < i) {
            item = new QTreeWidgetItem(treeItems_[static_cast<std::size_t>(entry.parent)]);
        } else {
            item = new QTreeWidgetItem(tree_);
        }
        item->setText(0, QString::fromStdString(entry.caption));
        item->setData(0, kPageIndexRole, static_cast<int>(i));
        treeItems_.push_back(item);
    }
    tree_->expandAll();
}

void ControlPanel::OnTreeSelection(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    const int index = item->data(0, kPageIndexRole).toInt();
    if (index != currentPage_) {
        QCoreApplication::postEvent(this, new ShowPageEvent(index));
    }
}

bool ControlPanel::ShowPage(int index) {
    caption_->SetCaption(QString());
    const auto& entries = pages_.entries();
    if (index < 0 || index >= pages_.size() || entries[static_cast<std::size_t>(index)].page == nullptr) {
        return false;
    }
    const PageEntry& entry = entries[static_cast<std::size_t>(index)];
    caption_->SetCaption(QString::fromStdString(entry.caption));
    CSAPrefsSubDlg* page = entry.page;
    if (!page->HasWindow()) {
        page->CreatePageWindow();
        // A page taller than a small screen scrolls instead of pushing OK and Shutdown off it.
        auto* scroll = new QScrollArea(frame_);
        scroll->setObjectName(QStringLiteral("pageScroll"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setWidget(page);
        stack_->addWidget(scroll);
    }
    stack_->setCurrentWidget(page->parentWidget()->parentWidget());
    page->show();
    // Walking the tree with the arrow keys leaves the focus in the tree.
    const bool treeKeepsFocus = tree_->hasFocus();
    QWidget* first = page->nextInFocusChain();
    while (
        first != nullptr && first != page &&
        (!page->isAncestorOf(first) || !first->isEnabled() || (first->focusPolicy() & Qt::TabFocus) == 0)) {
        first = first->nextInFocusChain();
    }
    if (first != nullptr && first != page && !treeKeepsFocus) {
        first->setFocus(Qt::OtherFocusReason);
    }
    {
        const QSignalBlocker blocker(tree_);
        if (static_cast<std::size_t>(index) < treeItems_.size()) {
            tree_->setCurrentItem(treeItems_[static_cast<std::size_t>(index)]);
        }
    }
    currentPage_ = index;
    return true;
}

void ControlPanel::UpdateStatusPanes() {
    pane0_->setText(
        QString::fromStdString(EmailsFilteredText(settings_->emailsFiltered, settings_->spamCount)));
    pane1_->setText(QString::fromStdString(PopupsBlockedText(settings_->popupsBlocked)));
}

void ControlPanel::CountToday(bool spam) {
    const int today = DayNumber(DefaultClock().Now());
    if (today != countedDay_) {
        countedDay_ = today;
        goodToday_ = 0;
        spamToday_ = 0;
    }
    (spam ? spamToday_ : goodToday_) += 1;
}

void ControlPanel::UpdateTrayTip() {
    TrayState state;
    state.filterRunning = settings_->filterRunning.load() != 0;
    state.spamFilterEnabled = settings_->filterEnabled.load() != 0;
    state.outboundLock = settings_->outboundEmailLock.load() != 0;
    state.goodToday = goodToday_;
    state.spamToday = spamToday_;
    tray_->SetTipText(QString::fromStdString(TrayTipText(state)));
}

QString ControlPanel::trayTip() const {
    return tray_->tipText();
}

QString ControlPanel::statusText(int pane) const {
    return pane == 0 ? pane0_->text() : pane1_->text();
}

void ControlPanel::OnFilterMessage(uint32_t message, uintptr_t wParam) {
    const PostedMessageOutcome outcome =
        HandlePostedMessage(*settings_, message, wParam, hooks_.onDayChanged);
    if (message == WM_MAIL_CLASSIFIED) {
        CountToday(wParam != 0);
        if (wParam != 0 && settings_->quarantineEnabled.load() != 0 && notifyQuarantine_ &&
            notifyQuarantine_()) {
            tray_->ShowNotification(QString::fromLatin1(kControlPanelTitle),
                                    QStringLiteral("A message was quarantined as spam. The Quarantine page "
                                                   "gives it back if it is not."));
        }
    }
    if (outcome.countersChanged) {
        UpdateStatusPanes();
    }
    UpdateTrayTip();
    if ((outcome.trayActivity || message == WM_ICON_STARTING) && tray_->isActive()) {
        tray_->SetMode(kActivityPeriodMs, static_cast<int>(message));
    }
}

bool ControlPanel::event(QEvent* event) {
    if (event->type() == FilterMessageEvent::TypeId()) {
        const auto* message = static_cast<FilterMessageEvent*>(event);
        OnFilterMessage(message->message(), message->wParam());
        return true;
    }
    if (event->type() == ShowPageEvent::TypeId()) {
        const int index = static_cast<ShowPageEvent*>(event)->index();
        if (index != currentPage_) {
            if (currentPage_ >= 0) {
                CSAPrefsSubDlg* current = pages_.entries()[static_cast<std::size_t>(currentPage_)].page;
                if (current != nullptr && current->HasWindow()) {
                    current->ReadControls();
                }
            }
            ShowPage(index);
        }
        return true;
    }
    return QDialog::event(event);
}

void ControlPanel::OnCommand(int code) {
    if (ended_) {
        return;
    }
    switch (code) {
        case ID_OK:
            HideToTray();
            break;
        case ID_SHUTDOWN:
            Shutdown();
            break;
        case ID_RESTORE_PANEL:
            Restore();
            break;
        case ID_OUTBOUND_LOCK:
            ToggleOutboundLock();
            break;
        default:
            break;  // ID_CANCEL_MENU and anything else: nothing
    }
}

}  // namespace bramvell
