// The video exports: the host switches cameras and takes snapshots through
// the console, which is created (hidden) when there is none yet.

#include "framework/ErrorGuard.h"
#include "plugin/LibraryState.h"
#include "tarvelo.h"

#include "plugin/ExportMacro.h"

using namespace tarvelo;

TARVELO_EXPORT void TARVELO_API Video_SwitchToTV(int32_t camera)
{
    guarded([&] {
        if (ConsoleWindow* console = EnsureConsole())
            console->SwitchToTV(camera);
    });
}

TARVELO_EXPORT void TARVELO_API Video_SwitchToMonitor(int32_t camera)
{
    guarded([&] {
        if (ConsoleWindow* console = EnsureConsole()) {
            console->showConsole();
            console->SwitchToMonitor(camera);
        }
    });
}

TARVELO_EXPORT void TARVELO_API Video_CapturePicture(void)
{
    guarded([] {
        if (ConsoleWindow* console = EnsureConsole())
            console->SnapshotFromHost();
    });
}
