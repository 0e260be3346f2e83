#include "plugin/LibraryState.h"

#include "framework/Application.h"
#include "framework/Log.h"
#include "framework/MessageBox.h"

#include <QApplication>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace tarvelo {

ConsoleWindow::~ConsoleWindow()
{
    if (library().fmVideo == this)
        library().fmVideo = nullptr;
}

LibraryState& library()
{
    static LibraryState state;
    return state;
}

ConsoleWindow* EnsureConsole()
{
    LibraryState& lib = library();
    if (lib.fmVideo || !lib.factories.console || !Application::ensureWidgets())
        return lib.fmVideo;
    lib.fmVideo = lib.factories.console().release();
    if (lib.fmVideo)
        lib.fmVideo->ApplyParam(lib.OperatorName, lib.ExtraParam);
    return lib.fmVideo;
}

void DestroyConsole()
{
    // The console's destructor empties fmVideo.
    delete library().fmVideo;
}

namespace {

void destroyOnceLoopsUnwind(ConsoleWindow* console, int loopLevel)
{
    auto* wait = new QTimer(QCoreApplication::instance());
    QObject::connect(wait, &QTimer::timeout, wait, [wait, console, loopLevel] {
        if (QThread::currentThread()->loopLevel() >= loopLevel)
            return;
        wait->deleteLater();
        if (library().fmVideo == console)  // not gone with a later Frame_FreeAll
            DestroyConsole();
    });
    wait->start(100);
}

}  // namespace

void FreeAllWindows()
{
    ConsoleWindow* console = library().fmVideo;
    if (console && QApplication::activeModalWidget()) {
        logLine("plugin", "Frame_FreeAll under a modal window: the console goes once that window has closed");
        console->hideConsole();
        destroyOnceLoopsUnwind(console, QThread::currentThread()->loopLevel());
        return;
    }
    DestroyConsole();
    Application::releaseWidgets();
}

void RunModalWindow(const std::function<std::unique_ptr<ModalWindow>()>& factory,
                    ModalWindow*& reference)
{
    if (!factory || !Application::ensureWidgets())
        return;
    // A host timer may ask again while the window runs: one is enough.
    if (reference) {
        logLine("plugin", "that window is already open");
        return;
    }
    std::unique_ptr<ModalWindow> window = factory();
    if (!window)
        return;
    reference = window.get();
    struct Forget {
        ModalWindow*& ref;
        ~Forget() { ref = nullptr; }
    } forget{reference};
    // With nobody at the screen the window is closed as soon as it shows,
    // as its message boxes are answered at once.
    if (unattended())
        QTimer::singleShot(0, [] {
            if (QWidget* shown = QApplication::activeModalWidget())
                shown->close();
        });
    window->runModal();
}

void ResetLibraryState()
{
    DestroyConsole();
    LibraryState& lib = library();
    lib.ExtraParam.clear();
    lib.OperatorName.clear();
    lib.AdoString.clear();
}

}  // namespace tarvelo
