#pragma once
// What the application object needs of the platform before Qt starts in a
// host that has no Qt of its own.

#include <cstdint>

class QWindow;

namespace tarvelo {

// Keeps the module (shared library, DLL) holding `address` loaded until
// the process ends; not this library's own module.
void pinModuleContaining(const void* address);

// True where Qt is linked into this library (the Windows DLL): its
// application object must then be gone before the library is unloaded.
bool toolkitGoesWithLibrary();

// Runs once, before the library makes its own QApplication: Linux without
// a display takes the offscreen platform; Windows looks for Qt's plug-ins
// beside this library too.
void prepareToolkit();

// Windows only: `owner` (the host's HWND) becomes the owner window of
// `window`, so that it stays above the host's and minimises with it.
void ownByNativeWindow(QWindow* window, uintptr_t owner);

}  // namespace tarvelo
