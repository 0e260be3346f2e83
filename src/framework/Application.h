#pragma once
// The library's application object: the host window that owns every window
// of the library, the host's work path, and the Qt application the windows
// need.

#include <QString>
#include <cstdint>

class QWidget;

namespace tarvelo {

class Application {
public:
    // Native id of the host's application window (0 for none).
    static uintptr_t ownerWindow();
    static void setOwnerWindow(uintptr_t window);

    // Makes sure windows can be shown on the calling thread, creating a
    // QApplication when the host has no Qt application object. False when
    // the host's application object cannot show widgets (a console or QML
    // host): the library then creates no window.
    static bool ensureWidgets();

    // Where Qt lives inside the library (Windows), deletes the QApplication
    // that ensureWidgets made, once none of our windows is left, so that the
    // library can be unloaded and a later one starts afresh. Elsewhere the
    // application object stays for the life of the process.
    static void releaseWidgets();

    // Makes a top-level window of the library belong to the host's window,
    // which becomes its transient parent (on X11; a window id of 0 means
    // none). Call it before the window is shown.
    static void adopt(QWidget* topLevel);

    // Keeps Qt loaded in the process after the library is unloaded, because a
    // QApplication that the library created outlives it.
    static void pinToolkit();
};

// What the host's Frame_GetWorkPath answered at Frame_Init; empty until
// then and after the library is unloaded. The base of the default picture
// directory.
const QString& HostWorkPath();
void SetHostWorkPath(const QString& path);

}  // namespace tarvelo
