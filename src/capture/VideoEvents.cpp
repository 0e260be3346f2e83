// The component's own events and those of its capture window.
#include "capture/Video.h"

#include "framework/ErrorGuard.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

namespace tarvelo {
namespace {

bool forwardedToControl(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        Qt::MouseButton b = static_cast<const QMouseEvent*>(event)->button();
        return b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton;
    }
    case QEvent::MouseButtonDblClick:
        return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
    default:
        return false;
    }
}

}  // namespace

void TVideoCap::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (DriverOpen() && scaleToWindow_)
        FitCaptureWindow();
}

// The capture window's mouse input is the control's: eight kinds of mouse
// message are sent on to it unchanged (the window sits at 0, 0, so the
// coordinates hold); the right and middle double-clicks are not among them.
bool TVideoCap::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == CaptureWindow)
        return CaptureWindowProc(event);
    return QWidget::eventFilter(watched, event);
}

bool TVideoCap::CaptureWindowProc(QEvent* event)
{
    if (!forwardedToControl(event))
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    QMouseEvent copy(mouse->type(), mouse->position(), mouse->scenePosition(), mouse->globalPosition(),
                     mouse->button(), mouse->buttons(), mouse->modifiers());
    QCoreApplication::sendEvent(this, &copy);
    return true;
}

// The mouse handlers run inside Qt's event dispatch, which an exception
// must not cross.
void TVideoCap::mousePressEvent(QMouseEvent* event)
{
    if (OnMouseDown)
        guarded([&] { OnMouseDown(this, event->button(), event->position().toPoint()); });
}

void TVideoCap::mouseReleaseEvent(QMouseEvent* event)
{
    if (OnMouseUp)
        guarded([&] { OnMouseUp(this, event->button(), event->position().toPoint()); });
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        guarded([&] { OnClick(this); });
}

void TVideoCap::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && OnDblClick)
        guarded([&] { OnDblClick(this); });
}

void TVideoCap::mouseMoveEvent(QMouseEvent* event)
{
    if (OnMouseMove)
        guarded([&] { OnMouseMove(this, event->button(), event->position().toPoint()); });
}

void TVideoCap::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), color);
}

}  // namespace tarvelo
