#pragma once
// The host's own service functions, looked up in the module the host hands
// to Frame_Init. The work path the host answers is kept beside the owner
// window, in the application object.

#include "tarvelo.h"

#include <QString>

namespace tarvelo {

// Looks up the six services, showing one message for each that is missing,
// and asks the host for its work path. True when all six were found.
bool ImportHostServices(TarveloModule hostModule);

// True only when the host answers exactly 1. A host without Frame_HaveRight
// grants nothing.
bool HostGrantsRight(int32_t right);

// Forgets everything imported, as when the library is unloaded.
void ClearHostImport();

}  // namespace tarvelo
