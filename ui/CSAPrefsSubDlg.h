#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "config/FilterSettings.h"

namespace bramvell {

class Prompter;

// Validation messages of the option pages.
QString TooManyCharactersMessage(int limit);
QString NotAnIntegerMessage();

// Base of every option page. The page object lives from start-up to shutdown; its controls are built
// the first time the control panel shows it, so a page never shown never changes its options. Every
// control is bound to its field of FilterSettings and named after its control identifier.
//
// Keys: Escape is swallowed; Enter in an edit box stops there, so it never presses a button; other
// keys go on to the control panel as usual.
class CSAPrefsSubDlg : public QWidget {
    Q_OBJECT
  public:
    enum class Report { Show, Quiet };

    CSAPrefsSubDlg(int templateId, FilterSettings* settings, QWidget* parent = nullptr);

    int TemplateId() const { return templateId_; }
    FilterSettings* settings() const { return settings_; }
    bool HasWindow() const { return created_; }
    void SetPrompter(Prompter* prompter) { prompter_ = prompter; }

    // Builds the controls once, fills them from the record and runs the page's initialisation.
    void CreatePageWindow();
    // Copies every control into its field, in control order. At the first value over its limit, or a
    // number box that does not hold an integer, shows the message (unless quiet), puts the focus into
    // that control and returns false; fields read before it keep their new values.
    bool ReadControls(Report report = Report::Show);
    // Copies the fields into the controls.
    void WriteControls();
    // The confirm action at shutdown.
    virtual void OnConfirm() {}
    // Checks that must pass before the panel goes to the tray (values that would protect nothing); on
    // failure the page says why at the control and the panel stays open.
    virtual bool ReadyToHide() { return true; }

    // The control with the given identifier, or nullptr.
    QWidget* Control(int id) const;
    template <typename T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }

  protected:
    using TextGetter = std::function<std::string()>;
    using TextSetter = std::function<void(const std::string&)>;

    virtual void BuildControls() = 0;
    virtual void OnInitPage() {}
    // Runs after every successful read (pages with values outside the bindings).
    virtual void OnControlsRead() {}

    QCheckBox* BindCheck(int id, const QString& label, SharedInt& field, bool greyed = false);
    QLineEdit* BindText(int id, int limit, TextGetter get, TextSetter set, bool masked = false,
                        bool lowerCase = false);
    QLineEdit* BindText(int id, int limit, std::string& field, bool masked = false, bool lowerCase = false);
    // A read-only centred number box; pair it with a SpinButton.
    QLineEdit* BindNumber(int id, SharedInt& field);
    // A list box whose selected row is the field (a row outside the list selects nothing; no selection
    // leaves the field alone).
    QListWidget* BindListSelection(int id, SharedInt& field);
    Prompter* prompter() const { return prompter_; }
    // The browse and explore image buttons of a folder box. Browse puts a picked folder into the box;
    // explore reads the page's controls, then opens the folder that the option then holds.
    QToolButton* MakeBrowseButton(int id, QLineEdit* folderBox, const QString& pickerTitle);
    QToolButton* MakeExploreButton(int id, TextGetter folderOption);

    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Binding {
        enum class Kind { Check, Text, Number, ListSelection } kind;
        QWidget* control;
        SharedInt* flag;
        int limit;
        TextGetter get;
        TextSetter set;
    };
    bool Fail(Report report, QWidget* control, const QString& message);

    int templateId_;
    FilterSettings* settings_;
    Prompter* prompter_ = nullptr;
    bool created_ = false;
    std::vector<Binding> bindings_;
};

}  // namespace bramvell
