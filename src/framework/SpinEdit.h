#pragma once
// The framework's spin edit: a whole number typed or stepped by 1. Typing
// takes digits, signs, the decimal separator and control keys other than
// Enter; anything else is refused with a beep. A text that is not a whole
// number (empty, a lone sign) reads as `fallback`; a number outside the
// range is brought into it when the field is left.

#include <QSpinBox>

namespace tarvelo {

class SpinEdit final : public QSpinBox {
    Q_OBJECT
public:
    SpinEdit(int minimum, int maximum, int fallback, QWidget* parent);

    // What the field holds now, typed or stepped.
    int number() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    int fallback_;
};

}  // namespace tarvelo
