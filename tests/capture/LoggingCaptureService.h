#pragma once
// A capture service between the component and this machine's: it writes
// down every request, in order, as "capName argument", and can refuse to
// create capture windows.

#include "capture/vfw.h"

#include <functional>
#include <string>

namespace tarvelo::test {

class LoggingCaptureService : public CaptureService {
public:
    explicit LoggingCaptureService(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

    bool windowCreationFails = false;

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

private:
    // Writes the request down and returns the machine's service for it.
    CaptureService& note(const std::string& request, const std::string& argument = {});

    std::function<void(const std::string&)> log_;
};

}  // namespace tarvelo::test
