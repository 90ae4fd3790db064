#pragma once

#include <QStringList>

#include "ui/CSAPrefsSubDlg.h"

namespace bramvell {

inline constexpr int kMaxAdapterNames = 10;

// "General Options": adapter, autostart, activity log folder, password protection, tips.
class GeneralOptionsPage : public CSAPrefsSubDlg {
    Q_OBJECT
  public:
    explicit GeneralOptionsPage(FilterSettings* settings, QWidget* parent = nullptr);

    // Adapter name i (0..9) as start-up hands it over; later names are not shown.
    void SetAdapterName(int index, const QString& name);
    const QStringList& adapterNames() const { return adapterNames_; }

    // Password protection switched on with two passwords that differ protects nothing: refused with a
    // balloon at "Confirm password".
    bool ReadyToHide() override;

  protected:
    void BuildControls() override;

  private:
    QStringList adapterNames_;
};

}  // namespace bramvell
