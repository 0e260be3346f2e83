#pragma once
// The pieces the library's windows are laid out with, at the pixel
// positions their designs give.

#include <QFrame>
#include <QRect>

class QLabel;

namespace tarvelo {

// A panel; a plain one has no border, a raised or sunken one a bevel.
QFrame* MakePanel(QWidget* parent, const QRect& geometry, QFrame::Shadow bevel);

// A label whose text starts at x, y.
QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y);

}  // namespace tarvelo
