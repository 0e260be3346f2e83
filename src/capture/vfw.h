#pragma once
// The capture service: capture windows bound to capture drivers, and the
// requests a capture component makes of them.
//
// All requests are made on the thread that owns the capture window. The
// callbacks arrive on the drivers' own streaming threads.

#include "capture/device/CaptureBlocks.h"

#include <QString>
#include <cstdint>
#include <string>

class QWidget;

namespace tarvelo {

// A capture window, made by the service as a child of the widget it was
// given. Null: no window.
using HCAPWND = QWidget*;

using CAPSTATUSCALLBACK = int32_t (*)(HCAPWND window, int32_t id, const char* text);
using CAPVIDEOCALLBACK = int32_t (*)(HCAPWND window, VIDEOHDR* header);
using CAPWAVECALLBACK = int32_t (*)(HCAPWND window, WAVEHDR* header);

constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;

// The capture service: one typed request each, named after the Video for
// Windows request it stands for. The capture component is given a service
// and makes every request through it, so that a test can put its own in
// between.
class CaptureService {
public:
    virtual ~CaptureService() = default;

    // Installed drivers, 0 to 9. False when no driver has that index.
    virtual bool capGetDriverDescription(int32_t index, std::string& name, std::string& version) = 0;

    virtual HCAPWND capCreateCaptureWindow(const QString& name, uint32_t style, int x, int y, int width, int height,
                                           QWidget* parent, int id) = 0;
    virtual void capDestroyCaptureWindow(HCAPWND window) = 0;

    virtual bool capSetUserData(HCAPWND window, intptr_t data) = 0;
    virtual intptr_t capGetUserData(HCAPWND window) = 0;

    virtual bool capSetCallbackOnStatus(HCAPWND window, CAPSTATUSCALLBACK callback) = 0;
    virtual bool capSetCallbackOnFrame(HCAPWND window, CAPVIDEOCALLBACK callback) = 0;
    virtual bool capSetCallbackOnVideoStream(HCAPWND window, CAPVIDEOCALLBACK callback) = 0;
    virtual bool capSetCallbackOnWaveStream(HCAPWND window, CAPWAVECALLBACK callback) = 0;

    virtual bool capDriverConnect(HCAPWND window, int32_t index) = 0;
    virtual bool capDriverDisconnect(HCAPWND window) = 0;
    virtual bool capDriverGetCaps(HCAPWND window, CAPDRIVERCAPS* caps) = 0;
    virtual bool capGetStatus(HCAPWND window, CAPSTATUS* status) = 0;

    virtual bool capPreviewScale(HCAPWND window, bool scale) = 0;
    virtual bool capPreviewRate(HCAPWND window, uint32_t milliseconds) = 0;
    virtual bool capPreview(HCAPWND window, bool on) = 0;
    virtual bool capOverlay(HCAPWND window, bool on) = 0;

    virtual bool capGrabFrame(HCAPWND window) = 0;        // the live picture stops
    virtual bool capGrabFrameNoStop(HCAPWND window) = 0;  // the live picture goes on
    virtual bool capFileSaveDIB(HCAPWND window, const QString& file) = 0;  // a 24-bit BMP

    virtual bool capFileSetCaptureFile(HCAPWND window, const QString& file) = 0;
    virtual bool capCaptureGetSetup(HCAPWND window, CAPTUREPARMS* parms) = 0;
    virtual bool capCaptureSetSetup(HCAPWND window, const CAPTUREPARMS* parms) = 0;
    virtual bool capCaptureSequence(HCAPWND window) = 0;        // returns while recording goes on
    virtual bool capCaptureSequenceNoFile(HCAPWND window) = 0;
    virtual bool capCaptureStop(HCAPWND window) = 0;

    virtual bool capDlgVideoFormat(HCAPWND window) = 0;  // modal

    virtual bool capGetAudioFormat(HCAPWND window, WAVEFORMATEX* format) = 0;
    virtual bool capSetAudioFormat(HCAPWND window, const WAVEFORMATEX* format) = 0;
};

// This machine's capture service: capture windows that paint the picture,
// bound to the drivers of the driver registry.
CaptureService& SystemCaptureService();

}  // namespace tarvelo
