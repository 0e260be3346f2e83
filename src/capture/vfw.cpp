// The capture requests. Each one is logged for tests, then carried out by
// the capture window and the driver session it is connected to.

#include "capture/vfw.h"

#include "capture/CaptureWindow.h"
#include "capture/DriverRegistry.h"


namespace tarvelo {
namespace {

void log(const char* request, const std::string& argument = {})
{
    DriverRegistry::logRequest(argument.empty() ? std::string(request) : std::string(request) + " " + argument);
}

DriverSession* sessionOf(HCAPWND window)
{
    return window ? window->session() : nullptr;
}

}  // namespace

bool capGetDriverDescription(int32_t index, std::string& name, std::string& version)
{
    log("capGetDriverDescription", std::to_string(index));
    std::shared_ptr<CaptureDriver> driver = DriverRegistry::driver(index);
    if (!driver)
        return false;
    name = driver->description();
    version = driver->version();
    return true;
}

HCAPWND capCreateCaptureWindow(const QString& name, uint32_t style, int x, int y, int width, int height,
                               QWidget* parent, int id)
{
    log("capCreateCaptureWindow", name.toStdString());
    if (!parent || DriverRegistry::windowCreationFails())
        return nullptr;
    auto* window = new CaptureWindow(parent, name, id);
    window->setGeometry(x, y, width, height);
    window->setVisible(style & WS_VISIBLE);
    return window;
}

void capDestroyCaptureWindow(HCAPWND window)
{
    log("capDestroyCaptureWindow");
    delete window;
}

bool capSetUserData(HCAPWND window, intptr_t data)
{
    log("capSetUserData");
    if (!window)
        return false;
    window->userData = data;
    return true;
}

intptr_t capGetUserData(HCAPWND window)
{
    return window ? window->userData.load() : 0;
}

bool capSetCallbackOnStatus(HCAPWND window, CAPSTATUSCALLBACK callback)
{
    log("capSetCallbackOnStatus", callback ? "set" : "null");
    return window && (window->statusCallback = callback, true);
}

bool capSetCallbackOnFrame(HCAPWND window, CAPVIDEOCALLBACK callback)
{
    log("capSetCallbackOnFrame", callback ? "set" : "null");
    return window && (window->frameCallback = callback, true);
}

bool capSetCallbackOnVideoStream(HCAPWND window, CAPVIDEOCALLBACK callback)
{
    log("capSetCallbackOnVideoStream", callback ? "set" : "null");
    return window && (window->videoStreamCallback = callback, true);
}

bool capSetCallbackOnWaveStream(HCAPWND window, CAPWAVECALLBACK callback)
{
    log("capSetCallbackOnWaveStream", callback ? "set" : "null");
    return window && (window->waveStreamCallback = callback, true);
}

bool capDriverConnect(HCAPWND window, int32_t index)
{
    log("capDriverConnect", std::to_string(index));
    return window && window->connectDriver(index);
}

bool capDriverDisconnect(HCAPWND window)
{
    log("capDriverDisconnect");
    if (!window)
        return false;
    window->disconnectDriver();
    return true;
}

bool capDriverGetCaps(HCAPWND window, CAPDRIVERCAPS* caps)
{
    log("capDriverGetCaps");
    DriverSession* session = sessionOf(window);
    return session && caps && session->getCaps(*caps);
}

bool capGetStatus(HCAPWND window, CAPSTATUS* status)
{
    log("capGetStatus");
    if (!sessionOf(window) || !status)
        return false;
    *status = window->status();
    return true;
}

bool capPreviewScale(HCAPWND window, bool scale)
{
    log("capPreviewScale", std::to_string(scale));
    if (!window)
        return false;
    window->setScale(scale);
    return true;
}

bool capPreviewRate(HCAPWND window, uint32_t milliseconds)
{
    log("capPreviewRate", std::to_string(milliseconds));
    if (!window)
        return false;
    window->setPreviewRate(milliseconds);
    return true;
}

bool capPreview(HCAPWND window, bool on)
{
    log("capPreview", std::to_string(on));
    return window && window->setPreview(on);
}

bool capOverlay(HCAPWND window, bool on)
{
    log("capOverlay", std::to_string(on));
    return window && window->setOverlay(on);
}

bool capGrabFrame(HCAPWND window)
{
    log("capGrabFrame");
    return window && window->grab(true);
}

bool capGrabFrameNoStop(HCAPWND window)
{
    log("capGrabFrameNoStop");
    return window && window->grab(false);
}

bool capFileSaveDIB(HCAPWND window, const QString& file)
{
    log("capFileSaveDIB", file.toStdString());
    return window && window->saveCurrentFrame(file);
}

bool capFileSetCaptureFile(HCAPWND window, const QString& file)
{
    log("capFileSetCaptureFile", file.toStdString());
    if (!window)
        return false;
    window->captureFile = file;
    return true;
}

bool capCaptureGetSetup(HCAPWND window, CAPTUREPARMS* parms)
{
    log("capCaptureGetSetup");
    if (!window || !parms)
        return false;
    *parms = window->captureParms;
    return true;
}

bool capCaptureSetSetup(HCAPWND window, const CAPTUREPARMS* parms)
{
    log("capCaptureSetSetup");
    if (!window || !parms)
        return false;
    window->captureParms = *parms;
    return true;
}

namespace {

bool startRecording(HCAPWND window, bool toFile)
{
    DriverSession* session = sessionOf(window);
    if (!session)
        return false;
    RecordingRequest request{toFile ? window->captureFile : QString(), window->captureParms,
                             window->audioFormat};
    if (!session->startRecording(request))
        return false;
    window->watchAbortKey(request.parms.vKeyAbort);
    return true;
}

}  // namespace

bool capCaptureSequence(HCAPWND window)
{
    log("capCaptureSequence");
    return startRecording(window, true);
}

bool capCaptureSequenceNoFile(HCAPWND window)
{
    log("capCaptureSequenceNoFile");
    return startRecording(window, false);
}

bool capCaptureStop(HCAPWND window)
{
    log("capCaptureStop");
    DriverSession* session = sessionOf(window);
    return session && session->stopRecording();
}

bool capDlgVideoFormat(HCAPWND window)
{
    log("capDlgVideoFormat");
    return window && window->showFormatDialog();
}

bool capGetAudioFormat(HCAPWND window, WAVEFORMATEX* format)
{
    log("capGetAudioFormat");
    if (!window || !format)
        return false;
    *format = window->audioFormat;
    return true;
}

bool capSetAudioFormat(HCAPWND window, const WAVEFORMATEX* format)
{
    log("capSetAudioFormat");
    if (!window || !format)
        return false;
    window->audioFormat = *format;
    return true;
}

}  // namespace tarvelo
