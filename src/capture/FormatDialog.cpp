#include "capture/FormatDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace tarvelo {

QString describeMode(const VideoMode& mode)
{
    QString size = mode.width > 0 ? QStringLiteral("%1 x %2").arg(mode.width).arg(mode.height)
                                  : QStringLiteral("any size");
    return mode.format.empty() ? size : size + QStringLiteral(", ") + QString::fromStdString(mode.format);
}

FormatDialog::FormatDialog(const std::vector<VideoMode>& modes, const VideoMode& current, QWidget* parent)
    : QDialog(parent), modes_(modes), list_(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Video Format"));
    setModal(true);
    for (const VideoMode& mode : modes_)
        list_->addItem(describeMode(mode));
    auto it = std::find(modes_.begin(), modes_.end(), current);
    list_->setCurrentIndex(it == modes_.end() ? 0 : int(it - modes_.begin()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Frame size and format:"), this));
    layout->addWidget(list_);
    layout->addWidget(buttons);
}

VideoMode FormatDialog::chosen() const
{
    int i = list_->currentIndex();
    return i >= 0 && size_t(i) < modes_.size() ? modes_[size_t(i)] : VideoMode{};
}

}  // namespace tarvelo
