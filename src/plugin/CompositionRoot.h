#pragma once
// Where the library is put together: the parts below know nothing of each
// other's makers, and nothing below this folder includes it.

#include "plugin/LibraryState.h"

namespace tarvelo {

// Once, when the library is loaded: the capture service gets this
// machine's drivers, and the exports get the makers of their windows.
void AssembleLibrary(LibraryState& library);

}  // namespace tarvelo
