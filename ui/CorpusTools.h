#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <functional>

class QAction;
class QWidget;

namespace bramvell {

// What a corpus run is given: the pump to call after every line (false: the application is quitting,
// stop at once) and the progress after every folder entry.
struct CorpusRunCallbacks {
    std::function<bool()> pump;
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// One run of the corpus tool over the quarantine folder; true when it went through to the end, false
// when it stopped because the application is quitting.
using CorpusJob = std::function<bool(const CorpusRunCallbacks&)>;

struct CorpusJobs {
    CorpusJob learnSpam;  // "Spam"
    CorpusJob learnHam;   // "Ham"
    CorpusJob test;       // "Test"
};

struct CorpusToolHooks {
    // Lets pending events through; false when the application is quitting. Empty: processes events
    // and goes on.
    std::function<bool()> pump;
    // The closing note. Empty: an information box.
    std::function<void(QWidget* parent, const QString& text)> showMessage;
};

// The "Spam", "Ham" and "Test" buttons of the Spam Filter Options page. The page makes them hidden;
// here they are shown in a "Corpus" group at the foot of the page and offered in the page's context
// menu as well. A run keeps the user interface alive behind a progress dialog and ends with
// "finished!" (not when the application is quitting).
class CorpusTools : public QObject {
    Q_OBJECT
  public:
    enum class Tool { Spam, Ham, Test };
    static constexpr int kSpamButton = 1103;
    static constexpr int kHamButton = 1104;
    static constexpr int kTestButton = 1136;

    // Wires the buttons of a freshly made page window (creating any that it lacks); the tools live as
    // long as the page.
    static CorpusTools* Attach(QWidget* page, CorpusJobs jobs, CorpusToolHooks hooks = {});

    // Runs one tool; false when it stopped because the application is quitting.
    bool Run(Tool tool);
    bool running() const { return running_; }

  private:
    CorpusTools(QWidget* page, CorpusJobs jobs, CorpusToolHooks hooks);
    void Place();

    QPointer<QWidget> page_;
    CorpusJobs jobs_;
    CorpusToolHooks hooks_;
    bool running_ = false;
};

}  // namespace bramvell
