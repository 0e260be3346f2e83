#include "plugin/FrameImport.h"

#include "framework/Application.h"
#include "framework/GbkText.h"
#include "framework/MessageBox.h"
#include "plugin/HostSymbol.h"

namespace tarvelo {
namespace {

struct HostServices {
    Frame_HostService_t execSqlCmd = nullptr;
    Frame_HostService_t getMainHandle = nullptr;
    Frame_HaveRight_t haveRight = nullptr;
    Frame_HostService_t getImageByID = nullptr;
    Frame_HostService_t addSystemLog = nullptr;
};

HostServices services;

// The work path goes with the application object's own statics.
struct ForgetAtUnload {
    ~ForgetAtUnload() { services = HostServices{}; }
} forgetAtUnload;

template <typename Function>
Function lookUp(TarveloModule module, const char* name)
{
    return reinterpret_cast<Function>(HostSymbol(module, name));
}

QString missingMessage(const char* shownName)
{
    return QStringLiteral("没有发现主程序中的") + QString::fromLatin1(shownName) +
           QStringLiteral("函数");
}

template <typename Function>
bool importOne(TarveloModule module, const char* name, const char* shownName, Function& slot)
{
    slot = lookUp<Function>(module, name);
    if (slot)
        return true;
    showMessage(missingMessage(shownName));
    return false;
}

bool importWorkPath(TarveloModule module)
{
    auto getWorkPath = lookUp<Frame_GetWorkPath_t>(module, "Frame_GetWorkPath");
    if (!getWorkPath) {
        showMessage(missingMessage("Frame_GetWorkPath"));
        return false;
    }
    SetHostWorkPath(fromGbk(getWorkPath()));
    return true;
}

}  // namespace

bool ImportHostServices(TarveloModule hostModule)
{
    bool allFound = true;
    // The message of the second look-up names Frame_GetMainFormHandle, the
    // name users of the host know it by.
    allFound &= importOne(hostModule, "Frame_ExecSqlCmd", "Frame_ExecSqlCmd", services.execSqlCmd);
    allFound &= importOne(hostModule, "Frame_GetMainHandle", "Frame_GetMainFormHandle",
                          services.getMainHandle);
    allFound &= importOne(hostModule, "Frame_HaveRight", "Frame_HaveRight", services.haveRight);
    allFound &= importOne(hostModule, "Frame_GetImageByID", "Frame_GetImageByID",
                          services.getImageByID);
    allFound &= importOne(hostModule, "Frame_AddSystemLog", "Frame_AddSystemLog",
                          services.addSystemLog);
    allFound &= importWorkPath(hostModule);
    return allFound;
}

bool HostGrantsRight(int32_t right)
{
    return services.haveRight && services.haveRight(right) == 1;
}

void ClearHostImport()
{
    services = HostServices{};
    SetHostWorkPath(QString());
}

}  // namespace tarvelo
