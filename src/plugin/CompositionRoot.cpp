#include "plugin/CompositionRoot.h"

#include "capture/DriverRegistry.h"
#include "capture/GstDrivers.h"

namespace tarvelo {
namespace {

// The console, the picture query window and the playback window: each
// maker is added here with its window, which knows nothing of the exports.
WindowFactories windowFactories()
{
    return WindowFactories{};
}

}  // namespace

void AssembleLibrary(LibraryState& library)
{
    DriverRegistry::setDriverSource(SystemCaptureDrivers);
    library.factories = windowFactories();
}

}  // namespace tarvelo
