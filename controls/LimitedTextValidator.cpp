#include "controls/LimitedTextValidator.h"

namespace bramvell {

LimitedTextValidator::LimitedTextValidator(int limit, bool lowerCase, QObject* parent)
    : QValidator(parent), limit_(limit), lowerCase_(lowerCase) {}

QValidator::State LimitedTextValidator::validate(QString& input, int&) const {
    if (lowerCase_) {
        input = input.toLower();
    }
    return input.size() > limit_ ? Invalid : Acceptable;
}

}  // namespace bramvell
