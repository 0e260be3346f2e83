#pragma once
// A camera-head button of the console: a flat 23 x 22 button with a glyph
// of its own. Any mouse button pressing it starts the movement, releasing
// it stops the movement.
//
// A press that ends without a release (the console hidden or destroyed, a
// modal window or another program taking the mouse) still stops the
// movement, once: a camera head must not keep turning because its release
// never arrived.

#include "matrix/MatrixProtocol.h"

#include <QToolButton>
#include <functional>

namespace tarvelo {

class HeadButtonWidget final : public QToolButton {
    Q_OBJECT
public:
    HeadButtonWidget(HeadButton function, QWidget* parent);
    ~HeadButtonWidget() override;

    HeadButton function() const { return function_; }
    bool held() const { return held_; }

    std::function<void(HeadButton)> onPress;
    std::function<void(HeadButton)> onRelease;

    // Ends a press that will get no release: the release command goes out.
    void releaseIfHeld();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    HeadButton function_;
    bool held_ = false;
};

// The glyph of a function, drawn in `colour` on 16 x 16 pixels.
QPixmap HeadGlyph(HeadButton function, const QColor& colour);

}  // namespace tarvelo
