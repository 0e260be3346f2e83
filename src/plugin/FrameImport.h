#pragma once
// The host's own service functions, looked up in the module the host hands
// to Frame_Init. The work path the host answers is kept beside the owner
// window, in the application object.

#include "tarvelo.h"

#include <QString>

namespace tarvelo {

struct HostServices {
    Frame_HostService_t execSqlCmd = nullptr;
    Frame_HostService_t getMainHandle = nullptr;
    Frame_HaveRight_t haveRight = nullptr;
    Frame_HostService_t getImageByID = nullptr;
    Frame_HostService_t addSystemLog = nullptr;
};

// Looks up the six services, showing one message for each that is missing,
// and asks the host for its work path. True when all six were found.
bool ImportHostServices(TarveloModule hostModule);

const HostServices& importedHostServices();

// True only when the host answers exactly 1. A host without Frame_HaveRight
// grants nothing.
bool HostGrantsRight(int32_t right);

// Forgets everything imported, as when the library is unloaded.
void ClearHostImport();

}  // namespace tarvelo
