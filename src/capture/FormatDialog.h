#pragma once
// The video format dialog: the frame sizes and formats a connected device
// offers, one to choose. It belongs to the capture window; the device
// itself knows no windows.

#include "capture/device/CaptureDriver.h"

#include <QDialog>

class QComboBox;

namespace tarvelo {

class FormatDialog : public QDialog {
    Q_OBJECT
public:
    FormatDialog(const std::vector<VideoMode>& modes, const VideoMode& current, QWidget* parent);
    VideoMode chosen() const;

private:
    std::vector<VideoMode> modes_;
    QComboBox* list_;
};

QString describeMode(const VideoMode& mode);

}  // namespace tarvelo
