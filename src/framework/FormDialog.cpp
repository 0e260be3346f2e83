#include "framework/FormDialog.h"

#include <QKeyEvent>
#include <QPushButton>

namespace tarvelo {

// QDialog makes the first auto-default button its default as it shows.
void FormDialog::setVisible(bool visible)
{
    if (visible)
        for (QPushButton* button : findChildren<QPushButton*>())
            button->setAutoDefault(false);
    QDialog::setVisible(visible);
}

void FormDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
        event->ignore();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

}  // namespace tarvelo
