#pragma once
// The library's application object: the host window that owns every window
// of the library, the host's work path, and the Qt application the windows
// need.

#include <QString>
#include <cstdint>

namespace tarvelo {

class Application {
public:
    // Native id of the host's application window (0 for none).
    static uintptr_t ownerWindow();
    static void setOwnerWindow(uintptr_t window);

    // Creates a QApplication on the calling thread when the host has none.
    static void ensureQt();

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
