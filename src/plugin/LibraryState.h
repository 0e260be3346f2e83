#pragma once
// The values the exports keep for the life of the loaded library, and the
// window references they manage.

#include "plugin/HostWindows.h"
#include "tarvelo.h"

#include <QString>

namespace tarvelo {

struct LibraryState {
    QString AdoString;
    QString OperatorName;
    QString ExtraParam;  // stored for the console, never interpreted

    ConsoleWindow* fmVideo = nullptr;  // owned: deleted by DestroyConsole
    ModalWindow* fmQueryPic = nullptr;
    ModalWindow* fmPlayAVI = nullptr;

    WindowFactories factories;
};

LibraryState& library();

// Creates the console (and applies the host's parameters to it) when there
// is none. Null while no console can be built.
ConsoleWindow* EnsureConsole();

void DestroyConsole();

// Frame_FreeAll's teardown. Under a modal window of ours (a host timer
// calling us from its loop) the console's own code may be on the stack
// below (its settings dialog, its message box): the console is hidden now
// and destroyed once that loop has returned.
void FreeAllWindows();

// Builds a window with `factory`, keeps it in `reference` while it runs
// modally, and destroys it however the run ends.
void RunModalWindow(const std::function<std::unique_ptr<ModalWindow>()>& factory,
                    ModalWindow*& reference);

// Back to the state of a fresh load: no windows, empty values.
void ResetLibraryState();

}  // namespace tarvelo
