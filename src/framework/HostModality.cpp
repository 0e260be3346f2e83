#include "framework/HostModality.h"

#include "framework/ToolkitPlatform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace tarvelo {

void HostModality::watch(OwnerWindow owner)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || application->findChild<HostModality*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    application->installEventFilter(new HostModality(application, owner));
}

HostModality::HostModality(QObject* application, OwnerWindow owner) : QObject(application), owner_(owner) {}

bool HostModality::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show && event->type() != QEvent::Hide)
        return false;
    auto* window = qobject_cast<QWidget*>(watched);
    if (!window || !window->isWindow() || !window->isModal())
        return false;
    if (event->type() == QEvent::Show)
        shown(window);
    else
        gone(window);
    return false;
}

void HostModality::shown(QWidget* window)
{
    if (modalShown_.contains(window))
        return;
    modalShown_.insert(window);
    connect(window, &QObject::destroyed, this, [this](QObject* destroyed) { gone(destroyed); });
    update();
}

void HostModality::gone(QObject* window)
{
    if (modalShown_.remove(window)) {
        disconnect(window, nullptr, this, nullptr);
        update();
    }
}

// A host window that was already disabled (under a dialog of the host's
// own) is left as the host keeps it.
void HostModality::update()
{
    if (!modalShown_.isEmpty() && !disabledOwner_) {
        uintptr_t owner = owner_();
        if (owner && setHostWindowEnabled(owner, false))
            disabledOwner_ = owner;
    } else if (modalShown_.isEmpty() && disabledOwner_) {
        setHostWindowEnabled(disabledOwner_, true);
        disabledOwner_ = 0;
    }
}

}  // namespace tarvelo
