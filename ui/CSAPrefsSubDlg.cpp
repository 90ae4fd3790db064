#include "ui/CSAPrefsSubDlg.h"

#include <QKeyEvent>
#include <QStyle>

#include "controls/LimitedTextValidator.h"
#include "ui/Prompter.h"

namespace bramvell {

QString TooManyCharactersMessage(int limit) {
    return QStringLiteral("Please enter no more than %1 characters.").arg(limit);
}

QString NotAnIntegerMessage() {
    return QStringLiteral("Please enter an integer.");
}

CSAPrefsSubDlg::CSAPrefsSubDlg(int templateId, FilterSettings* settings, QWidget* parent)
    : QWidget(parent), templateId_(templateId), settings_(settings) {
    setObjectName(QString::number(templateId));
}

void CSAPrefsSubDlg::CreatePageWindow() {
    if (created_) {
        return;
    }
    BuildControls();
    created_ = true;
    WriteControls();
    OnInitPage();
}

QWidget* CSAPrefsSubDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindChildrenRecursively);
}

QCheckBox* CSAPrefsSubDlg::BindCheck(int id, const QString& label, SharedInt& field, bool greyed) {
    auto* box = new QCheckBox(label, this);
    box->setObjectName(QString::number(id));
    box->setEnabled(!greyed);
    bindings_.push_back(Binding{Binding::Kind::Check, box, &field, 0, {}, {}});
    return box;
}

QLineEdit* CSAPrefsSubDlg::BindText(int id, int limit, TextGetter get, TextSetter set, bool masked,
                                    bool lowerCase) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    // The validator stops typing beyond the limit without cutting a value the program puts there, so
    // an over-long stored value is reported on reading rather than silently shortened.
    edit->setValidator(new LimitedTextValidator(limit, lowerCase, edit));
    if (masked) {
        edit->setEchoMode(QLineEdit::Password);
    }
    edit->installEventFilter(this);
    bindings_.push_back(Binding{Binding::Kind::Text, edit, nullptr, limit, std::move(get), std::move(set)});
    return edit;
}

QLineEdit* CSAPrefsSubDlg::BindText(int id, int limit, std::string& field, bool masked, bool lowerCase) {
    return BindText(
        id, limit, [&field] { return field; }, [&field](const std::string& value) { field = value; }, masked,
        lowerCase);
}

QLineEdit* CSAPrefsSubDlg::BindNumber(int id, SharedInt& field) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignCenter);
    edit->installEventFilter(this);
    bindings_.push_back(Binding{Binding::Kind::Number, edit, &field, 0, {}, {}});
    return edit;
}

QListWidget* CSAPrefsSubDlg::BindListSelection(int id, SharedInt& field) {
    auto* list = new QListWidget(this);
    list->setObjectName(QString::number(id));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    bindings_.push_back(Binding{Binding::Kind::ListSelection, list, &field, 0, {}, {}});
    return list;
}

QToolButton* CSAPrefsSubDlg::MakeBrowseButton(int id, QLineEdit* folderBox, const QString& pickerTitle) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::number(id));
    button->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    button->setToolTip(QStringLiteral("Browse for Folder"));
    connect(button, &QToolButton::clicked, this, [this, folderBox, pickerTitle] {
        if (prompter_ == nullptr) {
            return;
        }
        const QString folder = prompter_->PickFolder(window(), pickerTitle, folderBox->text());
        if (!folder.isEmpty()) {
            folderBox->setText(folder);
        }
    });
    return button;
}

QToolButton* CSAPrefsSubDlg::MakeExploreButton(int id, TextGetter folderOption) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::number(id));
    button->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button->setToolTip(QStringLiteral("Open Folder"));
    connect(button, &QToolButton::clicked, this, [this, folderOption] {
        ReadControls();
        if (prompter_ != nullptr) {
            prompter_->ExploreFolder(QString::fromStdString(folderOption()));
        }
    });
    return button;
}

bool CSAPrefsSubDlg::Fail(Report report, QWidget* control, const QString& message) {
    if (report == Report::Show && prompter_ != nullptr) {
        prompter_->Warn(window(), message);
    }
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->selectAll();
    }
    return false;
}

bool CSAPrefsSubDlg::ReadControls(Report report) {
    if (!created_) {
        return true;
    }
    for (Binding& binding : bindings_) {
        switch (binding.kind) {
            case Binding::Kind::Check:
                *binding.flag = static_cast<QCheckBox*>(binding.control)->isChecked() ? 1 : 0;
                break;
            case Binding::Kind::Text: {
                const QString text = static_cast<QLineEdit*>(binding.control)->text();
                if (text.size() > binding.limit) {
                    return Fail(report, binding.control, TooManyCharactersMessage(binding.limit));
                }
                binding.set(text.toStdString());
                break;
            }
            case Binding::Kind::Number: {
                bool ok = false;
                const int value = static_cast<QLineEdit*>(binding.control)->text().trimmed().toInt(&ok);
                if (!ok) {
                    return Fail(report, binding.control, NotAnIntegerMessage());
                }
                *binding.flag = value;
                break;
            }
            case Binding::Kind::ListSelection: {
                const int row = static_cast<QListWidget*>(binding.control)->currentRow();
                if (row >= 0) {
                    *binding.flag = row;
                }
                break;
            }
        }
    }
    OnControlsRead();
    return true;
}

void CSAPrefsSubDlg::WriteControls() {
    if (!created_) {
        return;
    }
    for (Binding& binding : bindings_) {
        switch (binding.kind) {
            case Binding::Kind::Check:
                static_cast<QCheckBox*>(binding.control)->setChecked(binding.flag->load() != 0);
                break;
            case Binding::Kind::Text:
                static_cast<QLineEdit*>(binding.control)->setText(QString::fromStdString(binding.get()));
                break;
            case Binding::Kind::Number:
                static_cast<QLineEdit*>(binding.control)->setText(QString::number(binding.flag->load()));
                break;
            case Binding::Kind::ListSelection: {
                auto* list = static_cast<QListWidget*>(binding.control);
                const int row = binding.flag->load();
                list->setCurrentRow(row >= 0 && row < list->count() ? row : -1);
                break;
            }
        }
    }
}

void CSAPrefsSubDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CSAPrefsSubDlg::eventFilter(QObject* watched, QEvent* event) {
    // Enter in an edit box of the page stops at the box: it never presses a button.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && qobject_cast<QLineEdit*>(watched) != nullptr) {
            event->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace bramvell
