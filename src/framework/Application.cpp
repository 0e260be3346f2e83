#include "framework/Application.h"

#include "framework/HostModality.h"
#include "framework/Log.h"
#include "framework/ToolkitPlatform.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <atomic>

namespace tarvelo {
namespace {

std::atomic<uintptr_t> owner{0};
QString workPath;  // used on the user-interface thread only

// The host's window as Qt sees a window of another program, made on first
// need for the owner id of the moment. Plain values, so that the unload may
// still use them whatever order our statics are destroyed in.
QWindow* ownerHandle = nullptr;
uintptr_t ownerHandleId = 0;

// The QApplication the library made for a host without one, with the
// arguments it keeps references to for its whole life.
struct OwnApplication {
    int argc = 1;
    char name[8] = "tarvelo";
    char* argv[2] = {name, nullptr};
    QApplication application{argc, argv};
};
OwnApplication* ownApplication = nullptr;

void forgetOwnerHandle()
{
    // Without an application object Qt can no longer destroy a window; the
    // few bytes stay, as the process is ending.
    if (ownerHandle && QCoreApplication::instance())
        delete ownerHandle;
    ownerHandle = nullptr;
    ownerHandleId = 0;
}

QWindow* ownerHandleFor(uintptr_t id)
{
    if (id != ownerHandleId || !ownerHandle) {
        forgetOwnerHandle();
        ownerHandle = QWindow::fromWinId(WId(id));
        ownerHandleId = id;
    }
    return ownerHandle;
}

}  // namespace

uintptr_t Application::ownerWindow()
{
    return owner.load();
}

void Application::setOwnerWindow(uintptr_t window)
{
    if (owner.exchange(window) != window)
        forgetOwnerHandle();
}

const QString& HostWorkPath()
{
    return workPath;
}

void SetHostWorkPath(const QString& path)
{
    workPath = path;
}

bool Application::ensureWidgets()
{
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (qobject_cast<QApplication*>(app)) {
            HostModality::watch(&Application::ownerWindow);
            return true;
        }
        logLine("application", "the host's Qt application object cannot show widgets; no window is shown");
        return false;
    }
    prepareToolkit();
    pinToolkit();
    // Where Qt is a shared library of its own, the application object may
    // outlive us: it lives on the heap, freed only by releaseWidgets.
    ownApplication = new OwnApplication;
    holdOwnModule(true);
    HostModality::watch(&Application::ownerWindow);
    return true;
}

void Application::releaseWidgets()
{
    if (!ownApplication || !toolkitGoesWithLibrary())
        return;
    // A window still open (a modal run that called us) keeps the
    // application until a later Frame_FreeAll.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (QWidgetList open = QApplication::topLevelWidgets(); !open.isEmpty()) {
        logLine("application", std::string("a window of ours is still open (") + open.first()->metaObject()->className() +
                                   " \"" + open.first()->windowTitle().toStdString() +
                                   "\"): Qt stays until a later Frame_FreeAll");
        return;
    }
    forgetOwnerHandle();
    delete ownApplication;
    ownApplication = nullptr;
    holdOwnModule(false);
}

// X11 and Windows can name a window of another program; elsewhere (the
// offscreen platform of tests and headless runs) the window has no owner.
void Application::adopt(QWidget* topLevel)
{
    uintptr_t id = ownerWindow();
    if (!topLevel || id == 0)
        return;
    QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("windows")) {
        topLevel->winId();
        ownByNativeWindow(topLevel->windowHandle(), id);
        return;
    }
    if (platform != QLatin1String("xcb"))
        return;
    topLevel->winId();  // creates the native window, so that it has a handle
    if (QWindow* host = ownerHandleFor(id); host && topLevel->windowHandle())
        topLevel->windowHandle()->setTransientParent(host);
}

void Application::pinToolkit()
{
    pinModuleContaining(reinterpret_cast<const void*>(&QCoreApplication::instance));
    pinModuleContaining(reinterpret_cast<const void*>(&QGuiApplication::platformName));
    pinModuleContaining(reinterpret_cast<const void*>(&QApplication::activeModalWidget));
}

}  // namespace tarvelo
