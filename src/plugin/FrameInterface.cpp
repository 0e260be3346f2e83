// The plug-in management exports and what the library does when it is
// loaded and unloaded.

#include "framework/Application.h"
#include "framework/ErrorGuard.h"
#include "framework/GbkText.h"
#include "framework/ToolkitPlatform.h"
#include "plugin/CompositionRoot.h"
#include "plugin/FrameImport.h"
#include "plugin/LibraryState.h"
#include "tarvelo.h"

#include <QCoreApplication>

#include "plugin/ExportMacro.h"

namespace tarvelo {
namespace {

struct LibraryLifetime {
    uintptr_t savedOwner;

    LibraryLifetime() : savedOwner(Application::ownerWindow())
    {
        AssembleLibrary(library());  // the state is constructed first, so it is destroyed after us
        Application::pinToolkit();
        // A host that forgot Frame_FreeAll and quits: the console goes while
        // Qt can still destroy a window, not after it at the process's exit.
        qAddPostRoutine(&DestroyConsole);
    }

    // Where Qt is a shared library of its own (Linux), a host may unload us
    // without Frame_FreeAll: no window of ours may outlive the code that runs
    // it. Where Qt is inside the library (Windows), this runs in DllMain:
    // either after Frame_FreeAll, with nothing left to tear down, or at the
    // process's exit, when waiting for a thread or destroying a window could
    // hang it; the library holds itself loaded while its windows live.
    ~LibraryLifetime()
    {
        if (toolkitGoesWithLibrary())
            return;
        qRemovePostRoutine(&DestroyConsole);
        Application::setOwnerWindow(savedOwner);
        ResetLibraryState();  // destroys the console too
    }
} lifetime;

}  // namespace
}  // namespace tarvelo

using namespace tarvelo;

TARVELO_EXPORT bool TARVELO_API Frame_Init(TarveloWindow appWindow, int32_t, TarveloModule hostModule,
                                           int32_t)
{
    bool allFound = false;
    guarded([&] {
        Application::setOwnerWindow(appWindow);
        allFound = ImportHostServices(hostModule);
    });
    return allFound;
}

TARVELO_EXPORT void TARVELO_API Frame_SetAdoString(const char* connectionString)
{
    guarded([&] { library().AdoString = fromGbk(connectionString); });
}

TARVELO_EXPORT void TARVELO_API Frame_SetParam(const char* operatorName, const char* extraParam)
{
    guarded([&] {
        LibraryState& lib = library();
        lib.OperatorName = fromGbk(operatorName);
        lib.ExtraParam = fromGbk(extraParam);
        if (lib.fmVideo)
            lib.fmVideo->ApplyParam(lib.OperatorName, lib.ExtraParam);
    });
}

TARVELO_EXPORT void TARVELO_API Frame_ExecFunc(int32_t function)
{
    guarded([&] {
        LibraryState& lib = library();
        switch (function) {
        case 1:
            if (ConsoleWindow* console = EnsureConsole())
                console->showConsole();
            break;
        case 2:
            RunModalWindow(lib.factories.queryPictures, lib.fmQueryPic);
            break;
        case 3:
            RunModalWindow(lib.factories.playback, lib.fmPlayAVI);
            break;
        default:
            break;
        }
    });
}

TARVELO_EXPORT void TARVELO_API Frame_FreeChild(void)
{
    guarded([] {
        if (ConsoleWindow* console = library().fmVideo)
            console->hideConsole();
    });
}

TARVELO_EXPORT bool TARVELO_API Frame_FreeAll(void)
{
    guarded([] { FreeAllWindows(); });
    return true;
}
