#pragma once
// The library's application object: the host window that owns every window
// of the library, and the Qt application the windows need.

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

}  // namespace tarvelo
