#pragma once
// A function the host exports, found by name in the module it handed to
// Frame_Init: dlsym on Linux, GetProcAddress on Windows.

#include "tarvelo.h"

namespace tarvelo {

// Null when the module lacks it, and for a null module (which would
// otherwise mean the whole process, or the program itself).
void* HostSymbol(TarveloModule module, const char* name);

}  // namespace tarvelo
