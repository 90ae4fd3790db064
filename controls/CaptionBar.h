#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace bramvell {

// The bar above the option page: the page's caption in bold Verdana, in the button-face colour, over a
// gradient that runs from black at the left edge to the button-face colour at the right. The gradient
// is drawn once per size into an off-screen image and copied on every paint.
class CaptionBar : public QWidget {
    Q_OBJECT
  public:
    explicit CaptionBar(QWidget* parent = nullptr);

    void SetCaption(const QString& caption);
    QString caption() const { return caption_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void RebuildBackground();

    QString caption_;
    QPixmap background_;
};

}  // namespace bramvell
