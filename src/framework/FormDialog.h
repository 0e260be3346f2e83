#pragma once
// A modal window of the library: a QDialog without the keys Qt gives every
// dialog. Enter does not press a default button and Esc does not close it;
// such a window closes only through what its own design offers.

#include <QDialog>

namespace tarvelo {

class FormDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tarvelo
