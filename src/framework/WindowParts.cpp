#include "framework/WindowParts.h"

#include <QLabel>

namespace tarvelo {

QFrame* MakePanel(QWidget* parent, const QRect& geometry, QFrame::Shadow bevel)
{
    auto* frame = new QFrame(parent);
    frame->setGeometry(geometry);
    frame->setFrameShape(bevel == QFrame::Plain ? QFrame::NoFrame : QFrame::Panel);
    frame->setFrameShadow(bevel);
    return frame;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

}  // namespace tarvelo
