#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QStatusBar>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "ui/CStatusAreaIconObj.h"
#include "ui/PageList.h"
#include "ui/PostedMessageTarget.h"

namespace bramvell {

class CaptionBar;
class CSAPrefsSubDlg;
class FilterSettings;
class Prompter;

inline constexpr const char* kControlPanelTitle = "Bramvell Anti-Spam Filter";
inline constexpr const char* kShutdownQuestion = "Are you sure you wish to completely shutdown Bramvell?";
inline constexpr int WM_SHOW_PAGE = 32868;
inline constexpr int kStatusPane1Width = 240;
inline constexpr const char* kQuitWithoutTrayQuestion =
    "There is no notification area on this desktop, so closing the panel leaves no way back to it.\n"
    "Quit Bramvell?";

// How the desktop offers a notification area.
enum class TrayPresence {
    System,   // a real tray: the icon shows there and the panel hides into it
    Assumed,  // behave as with a tray but show no icon (tests)
    None,     // no tray: the panel shows at start and minimises instead of hiding
};

// What the control panel asks of the rest of the application.
struct ControlPanelHooks {
    std::function<void()> startFilter;   // start PacketFilterThread
    std::function<void()> onDayChanged;  // quarantine housekeeping
    std::function<bool()> passwordGate;  // true: the panel may come back
    std::function<void()> onShutdown;    // shutdown confirmed: end the run
};

// The main window: page tree and option pages, "OK" and "Shutdown", and a status bar of counters. It
// spends most of the run hidden behind the tray icon; only Restore brings it on screen.
class ControlPanel : public QDialog {
    Q_OBJECT
  public:
    ControlPanel(FilterSettings* settings, Prompter* prompter, TrayPresence tray, QWidget* parent = nullptr);
    ~ControlPanel() override;

    void SetHooks(ControlPanelHooks hooks) { hooks_ = std::move(hooks); }
    // Asked for each quarantined message: true shows a desktop notification (option notify-quarantine).
    void SetQuarantineNotification(std::function<bool()> wanted) { notifyQuarantine_ = std::move(wanted); }
    // False once the panel is initialised. parent = nullptr for the top level.
    bool AddPage(CSAPrefsSubDlg* page, const QString& caption, CSAPrefsSubDlg* parent = nullptr);
    // Status bar, page tree, first page, tray icon, filter thread. False when no page can be shown (then
    // there is no tray icon and no filter thread).
    bool Initialise();

    void OnCommand(int code);
    void HideToTray();
    void Restore();
    // Asks the question, validates every created page and ends the run.
    void Shutdown();
    // The same without the question; values that do not validate are left as they were (the session is
    // ending and nobody can answer).
    void ShutdownWithoutQuestion();
    // Sets stopRequested and removes the tray icon.
    void EndRun();
    void OnFilterMessage(uint32_t message, uintptr_t wParam);
    bool ShowPage(int index);

    MessageTarget* messageTarget() { return &target_; }
    CStatusAreaIconObj* tray() const { return tray_.get(); }
    bool panelVisible() const { return panelVisible_; }
    int currentPage() const { return currentPage_; }
    const PageList& pages() const { return pages_; }
    QString statusText(int pane) const;
    QTreeWidget* pageTree() const { return tree_; }
    CaptionBar* captionBar() const { return caption_; }
    QWidget* pageFrame() const { return frame_; }

    void setVisible(bool visible) override;

  public slots:
    void accept() override;
    void reject() override;

    // The tray icon's tooltip as it stands.
    QString trayTip() const;

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void UpdateStatusPanes();
    void UpdateTrayTip();
    void CountToday(bool spam);
    // Shutdown once the question is answered: every page validated, then the end of the run.
    void ConfirmedShutdown();
    bool PagesReadyToHide();
    void BuildPageTree();
    void OnTreeSelection(QTreeWidgetItem* item);
    void ToggleOutboundLock();
    bool ReadAllPages(bool quiet);

    FilterSettings* settings_;
    Prompter* prompter_;
    TrayPresence trayPresence_;
    ControlPanelHooks hooks_;
    std::function<bool()> notifyQuarantine_;
    PostedMessageTarget target_;
    PageList pages_;
    std::unique_ptr<CStatusAreaIconObj> tray_;
    QTreeWidget* tree_;
    CaptionBar* caption_;
    QWidget* frame_;
    QStackedLayout* stack_;
    QStatusBar* statusBar_;
    QLabel* pane0_;
    QLabel* pane1_;
    QPushButton* ok_;
    QPushButton* shutdown_;
    std::vector<QTreeWidgetItem*> treeItems_;
    int currentPage_ = -1;
    int countedDay_ = 0;
    int goodToday_ = 0;
    int spamToday_ = 0;
    bool panelVisible_ = false;
    bool initialised_ = false;
    bool ended_ = false;
};

}  // namespace bramvell
