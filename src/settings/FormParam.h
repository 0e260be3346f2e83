#pragma once
// TfmParam: the settings dialog. It shows every setting of the settings
// file and writes them all back when the user confirms; cancelling or
// closing writes nothing. What it saves takes effect for the next console.

#include "framework/FormDialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace tarvelo {

class SpinEdit;

class TfmParam final : public FormDialog {
    Q_OBJECT
public:
    explicit TfmParam(QWidget* parent = nullptr);

private:
    QComboBox* cbPort = nullptr;
    QComboBox* cbBaud = nullptr;
    QComboBox* cbData = nullptr;
    QComboBox* cbParity = nullptr;
    QComboBox* cbStop = nullptr;
    SpinEdit* seTV = nullptr;
    SpinEdit* seLocal = nullptr;
    SpinEdit* seIndex = nullptr;
    QCheckBox* cbDataBase = nullptr;
    QLineEdit* edDir = nullptr;
    QPushButton* btConfirm = nullptr;
    QPushButton* btCancel = nullptr;

    void buildLineGroup();
    void buildOutputGroup();
    void buildStorageGroup();
    void FormCreate();
    void btConfirmClick();
    void saveSettings();
};

}  // namespace tarvelo
