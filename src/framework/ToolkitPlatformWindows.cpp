#include "framework/ToolkitPlatform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QWindow>
#include <iterator>
#include <windows.h>

namespace tarvelo {

void pinModuleContaining(const void* address)
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       static_cast<LPCWSTR>(address), &module);
}

// A site copies the library's folder next to its host, so Qt finds
// platforms\qwindows.dll and sqldrivers\ beside the host's program; a host
// that loads us from elsewhere by full path finds them beside us.
void prepareToolkit()
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&prepareToolkit), &self))
        return;
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(self, path, DWORD(std::size(path)));
    if (n == 0 || n >= std::size(path))
        return;
    QCoreApplication::addLibraryPath(QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath());
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
