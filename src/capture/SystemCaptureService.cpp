// This machine's capture service: each request is carried out by the
// capture window and the driver session it is connected to.

#include "capture/vfw.h"

#include "capture/CaptureWindow.h"
#include "capture/device/DriverRegistry.h"

namespace tarvelo {
namespace {

// Every window this service is asked about is one it made.
CaptureWindow* own(HCAPWND window)
{
    return static_cast<CaptureWindow*>(window);
}

DriverSession* sessionOf(HCAPWND window)
{
    return window ? own(window)->session() : nullptr;
}

class SystemService final : public CaptureService {
public:
    bool capGetDriverDescription(int32_t index, std::string& name, std::string& version) override;
    HCAPWND capCreateCaptureWindow(const QString& name, uint32_t style, int x, int y, int width, int height,
                                   QWidget* parent, int id) override;
    void capDestroyCaptureWindow(HCAPWND window) override;
    bool capSetUserData(HCAPWND window, intptr_t data) override;
    intptr_t capGetUserData(HCAPWND window) override;
    bool capSetCallbackOnStatus(HCAPWND window, CAPSTATUSCALLBACK callback) override;
    bool capSetCallbackOnFrame(HCAPWND window, CAPVIDEOCALLBACK callback) override;
    bool capSetCallbackOnVideoStream(HCAPWND window, CAPVIDEOCALLBACK callback) override;
    bool capSetCallbackOnWaveStream(HCAPWND window, CAPWAVECALLBACK callback) override;
    bool capDriverConnect(HCAPWND window, int32_t index) override;
    bool capDriverDisconnect(HCAPWND window) override;
    bool capDriverGetCaps(HCAPWND window, CAPDRIVERCAPS* caps) override;
    bool capGetStatus(HCAPWND window, CAPSTATUS* status) override;
    bool capPreviewScale(HCAPWND window, bool scale) override;
    bool capPreviewRate(HCAPWND window, uint32_t milliseconds) override;
    bool capPreview(HCAPWND window, bool on) override;
    bool capOverlay(HCAPWND window, bool on) override;
    bool capGrabFrame(HCAPWND window) override;
    bool capGrabFrameNoStop(HCAPWND window) override;
    bool capFileSaveDIB(HCAPWND window, const QString& file) override;
    bool capFileSetCaptureFile(HCAPWND window, const QString& file) override;
    bool capCaptureGetSetup(HCAPWND window, CAPTUREPARMS* parms) override;
    bool capCaptureSetSetup(HCAPWND window, const CAPTUREPARMS* parms) override;
    bool capCaptureSequence(HCAPWND window) override;
    bool capCaptureSequenceNoFile(HCAPWND window) override;
    bool capCaptureStop(HCAPWND window) override;
    bool capDlgVideoFormat(HCAPWND window) override;
    bool capGetAudioFormat(HCAPWND window, WAVEFORMATEX* format) override;
    bool capSetAudioFormat(HCAPWND window, const WAVEFORMATEX* format) override;
};

}  // namespace

bool SystemService::capGetDriverDescription(int32_t index, std::string& name, std::string& version)
{
    std::shared_ptr<CaptureDriver> driver = DriverRegistry::driver(index);
    if (!driver)
        return false;
    name = driver->description();
    version = driver->version();
    return true;
}

HCAPWND SystemService::capCreateCaptureWindow(const QString& name, uint32_t style, int x, int y, int width,
                                              int height, QWidget* parent, int id)
{
    if (!parent)
        return nullptr;
    auto* window = new CaptureWindow(parent, name, id);
    window->setGeometry(x, y, width, height);
    window->setVisible(style & WS_VISIBLE);
    return window;
}

void SystemService::capDestroyCaptureWindow(HCAPWND window)
{
    delete window;
}

bool SystemService::capSetUserData(HCAPWND window, intptr_t data)
{
    if (!window)
        return false;
    own(window)->userData = data;
    return true;
}

intptr_t SystemService::capGetUserData(HCAPWND window)
{
    return window ? own(window)->userData.load() : 0;
}

bool SystemService::capSetCallbackOnStatus(HCAPWND window, CAPSTATUSCALLBACK callback)
{
    return window && (own(window)->statusCallback = callback, true);
}

bool SystemService::capSetCallbackOnFrame(HCAPWND window, CAPVIDEOCALLBACK callback)
{
    return window && (own(window)->frameCallback = callback, true);
}

bool SystemService::capSetCallbackOnVideoStream(HCAPWND window, CAPVIDEOCALLBACK callback)
{
    return window && (own(window)->videoStreamCallback = callback, true);
}

bool SystemService::capSetCallbackOnWaveStream(HCAPWND window, CAPWAVECALLBACK callback)
{
    return window && (own(window)->waveStreamCallback = callback, true);
}

bool SystemService::capDriverConnect(HCAPWND window, int32_t index)
{
    return window && own(window)->connectDriver(index);
}

bool SystemService::capDriverDisconnect(HCAPWND window)
{
    if (!window)
        return false;
    own(window)->disconnectDriver();
    return true;
}

bool SystemService::capDriverGetCaps(HCAPWND window, CAPDRIVERCAPS* caps)
{
    DriverSession* session = sessionOf(window);
    return session && caps && session->getCaps(*caps);
}

bool SystemService::capGetStatus(HCAPWND window, CAPSTATUS* status)
{
    if (!sessionOf(window) || !status)
        return false;
    *status = own(window)->status();
    return true;
}

bool SystemService::capPreviewScale(HCAPWND window, bool scale)
{
    if (!window)
        return false;
    own(window)->setScale(scale);
    return true;
}

bool SystemService::capPreviewRate(HCAPWND window, uint32_t milliseconds)
{
    if (!window)
        return false;
    own(window)->setPreviewRate(milliseconds);
    return true;
}

bool SystemService::capPreview(HCAPWND window, bool on)
{
    return window && own(window)->setPreview(on);
}

bool SystemService::capOverlay(HCAPWND window, bool on)
{
    return window && own(window)->setOverlay(on);
}

bool SystemService::capGrabFrame(HCAPWND window)
{
    return window && own(window)->grab(true);
}

bool SystemService::capGrabFrameNoStop(HCAPWND window)
{
    return window && own(window)->grab(false);
}

bool SystemService::capFileSaveDIB(HCAPWND window, const QString& file)
{
    return window && own(window)->saveCurrentFrame(file);
}

bool SystemService::capFileSetCaptureFile(HCAPWND window, const QString& file)
{
    if (!window)
        return false;
    own(window)->captureFile = file;
    return true;
}

bool SystemService::capCaptureGetSetup(HCAPWND window, CAPTUREPARMS* parms)
{
    if (!window || !parms)
        return false;
    *parms = own(window)->captureParms;
    return true;
}

bool SystemService::capCaptureSetSetup(HCAPWND window, const CAPTUREPARMS* parms)
{
    if (!window || !parms)
        return false;
    own(window)->captureParms = *parms;
    return true;
}

namespace {

bool startRecording(HCAPWND window, bool toFile)
{
    DriverSession* session = sessionOf(window);
    if (!session)
        return false;
    RecordingRequest request{toFile ? own(window)->captureFile : QString(), own(window)->captureParms,
                             own(window)->audioFormat};
    if (!session->startRecording(request))
        return false;
    own(window)->watchAbortKey(request.parms.vKeyAbort);
    return true;
}

}  // namespace

bool SystemService::capCaptureSequence(HCAPWND window)
{
    return startRecording(window, true);
}

bool SystemService::capCaptureSequenceNoFile(HCAPWND window)
{
    return startRecording(window, false);
}

bool SystemService::capCaptureStop(HCAPWND window)
{
    DriverSession* session = sessionOf(window);
    return session && session->stopRecording();
}

bool SystemService::capDlgVideoFormat(HCAPWND window)
{
    return window && own(window)->showFormatDialog();
}

bool SystemService::capGetAudioFormat(HCAPWND window, WAVEFORMATEX* format)
{
    if (!window || !format)
        return false;
    *format = own(window)->audioFormat;
    return true;
}

bool SystemService::capSetAudioFormat(HCAPWND window, const WAVEFORMATEX* format)
{
    if (!window || !format)
        return false;
    own(window)->audioFormat = *format;
    return true;
}

CaptureService& SystemCaptureService()
{
    static SystemService service;
    return service;
}

}  // namespace tarvelo
