#include "LoggingCaptureService.h"

namespace tarvelo::test {
namespace {

std::string setOrNull(const void* callback)
{
    return callback ? "set" : "null";
}

}  // namespace

CaptureService& LoggingCaptureService::note(const std::string& request, const std::string& argument)
{
    log_(argument.empty() ? request : request + " " + argument);
    return SystemCaptureService();
}

bool LoggingCaptureService::capGetDriverDescription(int32_t index, std::string& name, std::string& version)
{
    return note("capGetDriverDescription", std::to_string(index)).capGetDriverDescription(index, name, version);
}

HCAPWND LoggingCaptureService::capCreateCaptureWindow(const QString& name, uint32_t style, int x, int y, int width,
                                                      int height, QWidget* parent, int id)
{
    CaptureService& system = note("capCreateCaptureWindow", name.toStdString());
    if (windowCreationFails)
        return nullptr;
    return system.capCreateCaptureWindow(name, style, x, y, width, height, parent, id);
}

void LoggingCaptureService::capDestroyCaptureWindow(HCAPWND window)
{
    note("capDestroyCaptureWindow").capDestroyCaptureWindow(window);
}

bool LoggingCaptureService::capSetUserData(HCAPWND window, intptr_t data)
{
    return note("capSetUserData").capSetUserData(window, data);
}

intptr_t LoggingCaptureService::capGetUserData(HCAPWND window)
{
    return SystemCaptureService().capGetUserData(window);  // asked on every callback: not written down
}

bool LoggingCaptureService::capSetCallbackOnStatus(HCAPWND window, CAPSTATUSCALLBACK callback)
{
    return note("capSetCallbackOnStatus", setOrNull(reinterpret_cast<const void*>(callback)))
        .capSetCallbackOnStatus(window, callback);
}

bool LoggingCaptureService::capSetCallbackOnFrame(HCAPWND window, CAPVIDEOCALLBACK callback)
{
    return note("capSetCallbackOnFrame", setOrNull(reinterpret_cast<const void*>(callback)))
        .capSetCallbackOnFrame(window, callback);
}

bool LoggingCaptureService::capSetCallbackOnVideoStream(HCAPWND window, CAPVIDEOCALLBACK callback)
{
    return note("capSetCallbackOnVideoStream", setOrNull(reinterpret_cast<const void*>(callback)))
        .capSetCallbackOnVideoStream(window, callback);
}

bool LoggingCaptureService::capSetCallbackOnWaveStream(HCAPWND window, CAPWAVECALLBACK callback)
{
    return note("capSetCallbackOnWaveStream", setOrNull(reinterpret_cast<const void*>(callback)))
        .capSetCallbackOnWaveStream(window, callback);
}

bool LoggingCaptureService::capDriverConnect(HCAPWND window, int32_t index)
{
    return note("capDriverConnect", std::to_string(index)).capDriverConnect(window, index);
}

bool LoggingCaptureService::capDriverDisconnect(HCAPWND window)
{
    return note("capDriverDisconnect").capDriverDisconnect(window);
}

bool LoggingCaptureService::capDriverGetCaps(HCAPWND window, CAPDRIVERCAPS* caps)
{
    return note("capDriverGetCaps").capDriverGetCaps(window, caps);
}

bool LoggingCaptureService::capGetStatus(HCAPWND window, CAPSTATUS* status)
{
    return note("capGetStatus").capGetStatus(window, status);
}

bool LoggingCaptureService::capPreviewScale(HCAPWND window, bool scale)
{
    return note("capPreviewScale", std::to_string(scale)).capPreviewScale(window, scale);
}

bool LoggingCaptureService::capPreviewRate(HCAPWND window, uint32_t milliseconds)
{
    return note("capPreviewRate", std::to_string(milliseconds)).capPreviewRate(window, milliseconds);
}

bool LoggingCaptureService::capPreview(HCAPWND window, bool on)
{
    return note("capPreview", std::to_string(on)).capPreview(window, on);
}

bool LoggingCaptureService::capOverlay(HCAPWND window, bool on)
{
    return note("capOverlay", std::to_string(on)).capOverlay(window, on);
}

bool LoggingCaptureService::capGrabFrame(HCAPWND window)
{
    return note("capGrabFrame").capGrabFrame(window);
}

bool LoggingCaptureService::capGrabFrameNoStop(HCAPWND window)
{
    return note("capGrabFrameNoStop").capGrabFrameNoStop(window);
}

bool LoggingCaptureService::capFileSaveDIB(HCAPWND window, const QString& file)
{
    return note("capFileSaveDIB", file.toStdString()).capFileSaveDIB(window, file);
}

bool LoggingCaptureService::capFileSetCaptureFile(HCAPWND window, const QString& file)
{
    return note("capFileSetCaptureFile", file.toStdString()).capFileSetCaptureFile(window, file);
}

bool LoggingCaptureService::capCaptureGetSetup(HCAPWND window, CAPTUREPARMS* parms)
{
    return note("capCaptureGetSetup").capCaptureGetSetup(window, parms);
}

bool LoggingCaptureService::capCaptureSetSetup(HCAPWND window, const CAPTUREPARMS* parms)
{
    return note("capCaptureSetSetup").capCaptureSetSetup(window, parms);
}

bool LoggingCaptureService::capCaptureSequence(HCAPWND window)
{
    return note("capCaptureSequence").capCaptureSequence(window);
}

bool LoggingCaptureService::capCaptureSequenceNoFile(HCAPWND window)
{
    return note("capCaptureSequenceNoFile").capCaptureSequenceNoFile(window);
}

bool LoggingCaptureService::capCaptureStop(HCAPWND window)
{
    return note("capCaptureStop").capCaptureStop(window);
}

bool LoggingCaptureService::capDlgVideoFormat(HCAPWND window)
{
    return note("capDlgVideoFormat").capDlgVideoFormat(window);
}

bool LoggingCaptureService::capGetAudioFormat(HCAPWND window, WAVEFORMATEX* format)
{
    return note("capGetAudioFormat").capGetAudioFormat(window, format);
}

bool LoggingCaptureService::capSetAudioFormat(HCAPWND window, const WAVEFORMATEX* format)
{
    return note("capSetAudioFormat").capSetAudioFormat(window, format);
}

}  // namespace tarvelo::test
