#include "plugin/HostSymbol.h"

#include <dlfcn.h>

namespace tarvelo {

void* HostSymbol(TarveloModule module, const char* name)
{
    return module ? dlsym(module, name) : nullptr;
}

}  // namespace tarvelo
