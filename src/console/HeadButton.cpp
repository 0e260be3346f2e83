#include "console/HeadButton.h"

#include "framework/ErrorGuard.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace tarvelo {
namespace {

QPainterPath arrow(HeadButton function)
{
    QPainterPath path;
    switch (function) {
    case HeadButton::Up: path.addPolygon(QPolygonF({{8, 2}, {14, 12}, {2, 12}})); break;
    case HeadButton::Down: path.addPolygon(QPolygonF({{8, 14}, {14, 4}, {2, 4}})); break;
    case HeadButton::Left: path.addPolygon(QPolygonF({{2, 8}, {12, 2}, {12, 14}})); break;
    case HeadButton::Right: path.addPolygon(QPolygonF({{14, 8}, {4, 2}, {4, 14}})); break;
    default: break;
    }
    path.closeSubpath();
    return path;
}

// Zoom, focus and aperture: "+" in, "-" out, on a sign of their own (a
// magnifier, a lens, an iris ring).
void drawAdjustment(QPainter& p, HeadButton function, const QColor& colour)
{
    bool in = function == HeadButton::ZoomIn || function == HeadButton::FocusIn || function == HeadButton::ApertureIn;
    p.setPen(QPen(colour, 1.5));
    p.setBrush(Qt::NoBrush);
    if (function == HeadButton::ZoomIn || function == HeadButton::ZoomOut) {
        p.drawEllipse(QRectF(1.5, 1.5, 10, 10));
        p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    } else if (function == HeadButton::FocusIn || function == HeadButton::FocusOut) {
        p.drawEllipse(QRectF(4, 1.5, 8, 13));
    } else {
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    }
    QPointF centre = (function == HeadButton::ZoomIn || function == HeadButton::ZoomOut) ? QPointF(6.5, 6.5)
                                                                                        : QPointF(8, 8);
    p.drawLine(centre - QPointF(2.5, 0), centre + QPointF(2.5, 0));
    if (in)
        p.drawLine(centre - QPointF(0, 2.5), centre + QPointF(0, 2.5));
}

}  // namespace

QPixmap HeadGlyph(HeadButton function, const QColor& colour)
{
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter p(&glyph);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path = arrow(function);
    if (!path.isEmpty())
        p.fillPath(path, colour);
    else
        drawAdjustment(p, function, colour);
    return glyph;
}

HeadButtonWidget::HeadButtonWidget(HeadButton function, QWidget* parent) : QToolButton(parent), function_(function)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    QIcon icon;
    icon.addPixmap(HeadGlyph(function, QColor(0, 0, 96)), QIcon::Normal);
    icon.addPixmap(HeadGlyph(function, QColor(160, 160, 160)), QIcon::Disabled);
    setIcon(icon);
    setIconSize(QSize(16, 16));
}

HeadButtonWidget::~HeadButtonWidget()
{
    releaseIfHeld();
}

void HeadButtonWidget::mousePressEvent(QMouseEvent* event)
{
    setDown(true);
    event->accept();
    if (held_)
        return;  // a second mouse button on a button already held
    held_ = true;
    if (onPress)
        guarded([&] { onPress(function_); });
}

void HeadButtonWidget::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->buttons() != Qt::NoButton)
        return;  // another mouse button still holds it
    setDown(false);
    releaseIfHeld();
}

// Every way a press can end without a release reaching this button.
bool HeadButtonWidget::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Hide:
    case QEvent::UngrabMouse:
    case QEvent::WindowDeactivate:
    case QEvent::EnabledChange:
    case QEvent::WindowBlocked:
        releaseIfHeld();
        setDown(false);
        break;
    default:
        break;
    }
    return QToolButton::event(event);
}

void HeadButtonWidget::releaseIfHeld()
{
    if (!held_)
        return;
    held_ = false;
    if (onRelease)
        guarded([&] { onRelease(function_); });
}

}  // namespace tarvelo
