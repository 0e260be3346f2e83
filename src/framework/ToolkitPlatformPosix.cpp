#include "framework/ToolkitPlatform.h"

#include <cstdlib>
#include <dlfcn.h>

namespace tarvelo {

void pinModuleContaining(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

// Qt is a shared library of its own here, kept loaded.
bool toolkitGoesWithLibrary()
{
    return false;
}

// Without a display Qt would abort the host; the offscreen platform keeps
// every window working, only invisibly.
void prepareToolkit()
{
    auto unset = [](const char* name) {
        const char* v = std::getenv(name);
        return !v || !*v;
    };
    if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

void holdOwnModule(bool) {}

// An X11 client cannot disable another's window; the window manager keeps a
// modal transient above its parent.
bool setHostWindowEnabled(uintptr_t, bool)
{
    return true;
}

// X11 owners are transient parents, set by the application object itself.
void ownByNativeWindow(QWindow*, uintptr_t) {}

}  // namespace tarvelo
