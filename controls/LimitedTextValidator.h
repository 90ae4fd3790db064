#pragma once

#include <QValidator>

namespace bramvell {

// Refuses typed or pasted text longer than the limit, and can turn typed letters to lower case. Text
// set by the program is not checked here (the page's validation reports it instead).
class LimitedTextValidator : public QValidator {
    Q_OBJECT
  public:
    LimitedTextValidator(int limit, bool lowerCase, QObject* parent = nullptr);

    State validate(QString& input, int& position) const override;
    int limit() const { return limit_; }

  private:
    int limit_;
    bool lowerCase_;
};

}  // namespace bramvell
