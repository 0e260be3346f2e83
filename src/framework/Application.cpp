#include "framework/Application.h"

#include <QApplication>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace tarvelo {
namespace {

std::atomic<uintptr_t> owner{0};
QString workPath;  // used on the user-interface thread only

void pinLibraryContaining(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

// Without a display Qt would abort the host; the offscreen platform keeps
// every window working, only invisibly.
void chooseHeadlessPlatformWhenNoDisplay()
{
    auto unset = [](const char* name) {
        const char* v = std::getenv(name);
        return !v || !*v;
    };
    if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

}  // namespace

uintptr_t Application::ownerWindow()
{
    return owner.load();
}

void Application::setOwnerWindow(uintptr_t window)
{
    owner.store(window);
}

const QString& HostWorkPath()
{
    return workPath;
}

void SetHostWorkPath(const QString& path)
{
    workPath = path;
}

void Application::ensureQt()
{
    if (QCoreApplication::instance())
        return;
    chooseHeadlessPlatformWhenNoDisplay();
    pinToolkit();
    // QApplication keeps references to argc and argv for its whole life,
    // which may be longer than ours: they live on the heap, never freed.
    int* argc = new int(1);
    char** argv = new char*[2]{strdup("tarvelo"), nullptr};
    new QApplication(*argc, argv);
}

void Application::pinToolkit()
{
    pinLibraryContaining(reinterpret_cast<const void*>(&QCoreApplication::instance));
    pinLibraryContaining(reinterpret_cast<const void*>(&QGuiApplication::platformName));
    pinLibraryContaining(reinterpret_cast<const void*>(&QApplication::activeModalWidget));
}

}  // namespace tarvelo
