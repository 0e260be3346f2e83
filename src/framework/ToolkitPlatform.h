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
// a display takes the offscreen platform; Windows tells Qt it is a guest,
// so that it leaves the host's DPI awareness as the host set it.
void prepareToolkit();

// Windows: while the library's own Qt lives, the library holds a reference
// to its own module, so that a host's FreeLibrary without Frame_FreeAll
// cannot unmap the code behind live windows and threads. Elsewhere nothing.
void holdOwnModule(bool held);

// Windows: the host's window takes no input while a modal window of ours
// runs, as under a modal window of the host's own. Returns whether it took
// input before. Elsewhere nothing, and true.
bool setHostWindowEnabled(uintptr_t owner, bool enabled);

// Windows only: `owner` (the host's HWND) becomes the owner window of
// `window`, so that it stays above the host's and minimises with it.
void ownByNativeWindow(QWindow* window, uintptr_t owner);

}  // namespace tarvelo
