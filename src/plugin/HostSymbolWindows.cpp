#include "plugin/HostSymbol.h"

#include <windows.h>

namespace tarvelo {

void* HostSymbol(TarveloModule module, const char* name)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace tarvelo
