#include "framework/ToolkitPlatform.h"

#include <QCoreApplication>
#include <QVariant>
#include <QWindow>
#include <windows.h>

namespace tarvelo {

namespace {

// The module holding `address`, its reference count changed as `flags`
// say (GetModuleHandleEx's: unchanged, one more, pinned).
HMODULE moduleContaining(const void* address, DWORD flags = GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags, static_cast<LPCWSTR>(address), &module);
    return module;
}

const void* ownCode()
{
    return reinterpret_cast<const void*>(&moduleContaining);
}

}  // namespace

// Qt is linked into Tarvelo.dll: pinning it would pin the library itself,
// which then could never be unloaded.
void pinModuleContaining(const void* address)
{
    HMODULE module = moduleContaining(address);
    if (module && module != moduleContaining(ownCode()))
        moduleContaining(address, GET_MODULE_HANDLE_EX_FLAG_PIN);
}

bool toolkitGoesWithLibrary()
{
    return true;
}

// Qt's plug-ins are linked into the library; nothing is looked for beside
// the host or beside us. As a plug-in application Qt sets no process DPI
// awareness: any value it sets, even the host's own, could no longer be
// changed by the host, and per-monitor awareness would stop Windows from
// scaling an unaware host's windows.
void prepareToolkit()
{
    QCoreApplication::setAttribute(Qt::AA_PluginApplication);
}

void holdOwnModule(bool held)
{
    static HMODULE self = nullptr;
    if (held && !self) {
        self = moduleContaining(ownCode(), 0);
    } else if (!held && self) {
        // The host's own reference keeps the code we return to mapped.
        FreeLibrary(self);
        self = nullptr;
    }
}

bool setHostWindowEnabled(uintptr_t owner, bool enabled)
{
    HWND window = reinterpret_cast<HWND>(owner);
    if (!window || !IsWindow(window))
        return true;
    return !EnableWindow(window, enabled);  // nonzero: it was disabled
}

namespace {

const char* const OwnerProperty = "tarvelo-owner";

void applyOwner(QWindow* window)
{
    auto owner = reinterpret_cast<HWND>(window->property(OwnerProperty).value<qulonglong>());
    auto self = reinterpret_cast<HWND>(window->winId());
    if (GetWindow(self, GW_OWNER) != owner)
        SetWindowLongPtrW(self, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
}

}  // namespace

// Qt gives a top-level window the owner of its transient parent at every
// showing, and none for a parent of another program's: the owner is set
// again once the showing is over (visibleChanged comes before it).
void ownByNativeWindow(QWindow* window, uintptr_t owner)
{
    if (!window)
        return;
    bool watched = window->property(OwnerProperty).isValid();
    window->setProperty(OwnerProperty, qulonglong(owner));
    applyOwner(window);
    if (!watched)
        QObject::connect(window, &QWindow::visibleChanged, window, [window](bool visible) {
            if (visible)
                QMetaObject::invokeMethod(window, [window] { applyOwner(window); }, Qt::QueuedConnection);
        });
}

}  // namespace tarvelo
