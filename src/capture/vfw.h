#pragma once
// The capture service: capture windows bound to capture drivers, and the
// requests a capture component makes of them. Only the fields of the
// service's blocks that Tarvelo uses are declared.
//
// All requests are made on the thread that owns the capture window. The
// callbacks arrive on the drivers' own streaming threads.

#include <QString>
#include <cstdint>
#include <string>

class QWidget;

namespace tarvelo {

class CaptureWindow;
using HCAPWND = CaptureWindow*;  // null: no window

struct CAPDRIVERCAPS {
    uint32_t wDeviceIndex = 0;
    int32_t fHasOverlay = 0;
    int32_t fHasDlgVideoSource = 0;
    int32_t fHasDlgVideoFormat = 0;
    int32_t fHasDlgVideoDisplay = 0;
    int32_t fCaptureInitialized = 0;
};

struct CAPSTATUS {
    uint32_t uiImageWidth = 0;
    uint32_t uiImageHeight = 0;
    int32_t fLiveWindow = 0;     // preview on
    int32_t fOverlayWindow = 0;  // overlay on
    int32_t fScale = 0;
    int32_t fAudioHardware = 0;
    int32_t fCapFileExists = 0;
    uint32_t dwCurrentVideoFrame = 0;
    uint32_t dwCurrentVideoFramesDropped = 0;
    uint32_t dwCurrentWaveSamples = 0;
    uint32_t dwCurrentTimeElapsedMS = 0;
    int32_t fCapturingNow = 0;
    uint32_t dwReturn = 0;  // the last error code, 0 for none
};

struct CAPTUREPARMS {
    uint32_t dwRequestMicroSecPerFrame = 66667;
    int32_t fMakeUserHitOKToCapture = 0;
    uint32_t wPercentDropForError = 10;
    int32_t fYield = 0;
    uint32_t dwIndexSize = 0;
    uint32_t wChunkGranularity = 0;
    int32_t fCaptureAudio = 0;
    uint32_t vKeyAbort = 27;
    int32_t fAbortLeftMouse = 1;
    int32_t fAbortRightMouse = 1;
    int32_t fLimitEnabled = 0;
    uint32_t wTimeLimit = 0;
    int32_t fMCIControl = 0;
};

constexpr uint16_t WAVE_FORMAT_PCM = 1;

struct WAVEFORMATEX {
    uint16_t wFormatTag = WAVE_FORMAT_PCM;
    uint16_t nChannels = 1;
    uint32_t nSamplesPerSec = 11025;
    uint32_t nAvgBytesPerSec = 11025;
    uint16_t nBlockAlign = 1;
    uint16_t wBitsPerSample = 8;
    uint16_t cbSize = 0;
};

struct VIDEOHDR {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesUsed = 0;
    uint32_t dwTimeCaptured = 0;  // milliseconds since the capture began
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
};

struct WAVEHDR {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
};

// VIDEOHDR flags.
constexpr uint32_t VHDR_DONE = 0x1;
constexpr uint32_t VHDR_KEYFRAME = 0x8;

// Status codes the status callback reports, with texts as the service words them.
enum CaptureStatusCode : int32_t {
    IDS_CAP_CLEAR = 0,             // no text: clear what was shown
    IDS_CAP_BEGIN = 300,           // "Capture Start"
    IDS_CAP_END = 301,             // "Capture End"
    IDS_CAP_STAT_VIDEOCURRENT = 503,  // "Captured %u frames (%u dropped) %u.%03u sec."
    IDS_CAP_STAT_CAP_AUDIO = 509,  // "Capturing audio"
    IDS_CAP_FILE_OPEN_ERROR = 419,  // "Error: cannot open the capture file %s"
    IDS_CAP_WRITEERROR = 434,      // "Error: cannot write the capture file (disk full?)"
    IDS_CAP_VIDEO_SOURCE_LOST = 440,  // "Error: the video source was lost"
    IDS_CAP_PIPELINE_ERROR = 441,  // "Error: %s"
};

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
