#pragma once
// The video format dialog: the driver's frame sizes and formats, one to
// choose.

#include "capture/GstSession.h"

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
