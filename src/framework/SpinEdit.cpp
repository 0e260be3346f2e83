#include "framework/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

namespace tarvelo {

SpinEdit::SpinEdit(int minimum, int maximum, int fallback, QWidget* parent) : QSpinBox(parent), fallback_(fallback)
{
    setRange(minimum, maximum);
    setValue(std::clamp(fallback, minimum, maximum));
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int SpinEdit::number() const
{
    bool ok = false;
    int n = cleanText().toInt(&ok);
    return ok ? std::clamp(n, minimum(), maximum()) : fallback_;
}

void SpinEdit::keyPressEvent(QKeyEvent* event)
{
    QString text = event->text();
    bool typed = !text.isEmpty() && text.at(0).isPrint();
    QChar c = typed ? text.at(0) : QChar();
    bool allowed = !typed || c.isDigit() || c == '+' || c == '-' || c == locale().decimalPoint().at(0);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || !allowed) {
        QApplication::beep();
        event->accept();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

// Whatever may be on its way to a number is let through; reading decides.
QValidator::State SpinEdit::validate(QString& input, int& pos) const
{
    QValidator::State state = QSpinBox::validate(input, pos);
    return state == QValidator::Invalid ? QValidator::Intermediate : state;
}

void SpinEdit::fixup(QString& input) const
{
    bool ok = false;
    int n = input.trimmed().toInt(&ok);
    input = QString::number(ok ? std::clamp(n, minimum(), maximum()) : fallback_);
}

}  // namespace tarvelo
