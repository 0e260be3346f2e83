#pragma once
// The capture service: capture windows bound to capture drivers, and the
// requests a capture component makes of them, one typed function each,
// named after the Video for Windows requests they stand for. Only the
// fields of the service's blocks that Tarvelo uses are declared.
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

// Installed drivers, 0 to 9. False when no driver has that index.
bool capGetDriverDescription(int32_t index, std::string& name, std::string& version);

HCAPWND capCreateCaptureWindow(const QString& name, uint32_t style, int x, int y, int width, int height,
                               QWidget* parent, int id);
void capDestroyCaptureWindow(HCAPWND window);

bool capSetUserData(HCAPWND window, intptr_t data);
intptr_t capGetUserData(HCAPWND window);

bool capSetCallbackOnStatus(HCAPWND window, CAPSTATUSCALLBACK callback);
bool capSetCallbackOnFrame(HCAPWND window, CAPVIDEOCALLBACK callback);
bool capSetCallbackOnVideoStream(HCAPWND window, CAPVIDEOCALLBACK callback);
bool capSetCallbackOnWaveStream(HCAPWND window, CAPWAVECALLBACK callback);

bool capDriverConnect(HCAPWND window, int32_t index);
bool capDriverDisconnect(HCAPWND window);
bool capDriverGetCaps(HCAPWND window, CAPDRIVERCAPS* caps);
bool capGetStatus(HCAPWND window, CAPSTATUS* status);

bool capPreviewScale(HCAPWND window, bool scale);
bool capPreviewRate(HCAPWND window, uint32_t milliseconds);
bool capPreview(HCAPWND window, bool on);
bool capOverlay(HCAPWND window, bool on);

bool capGrabFrame(HCAPWND window);        // the live picture stops
bool capGrabFrameNoStop(HCAPWND window);  // the live picture goes on
bool capFileSaveDIB(HCAPWND window, const QString& file);  // a 24-bit BMP

bool capFileSetCaptureFile(HCAPWND window, const QString& file);
bool capCaptureGetSetup(HCAPWND window, CAPTUREPARMS* parms);
bool capCaptureSetSetup(HCAPWND window, const CAPTUREPARMS* parms);
bool capCaptureSequence(HCAPWND window);        // returns while recording goes on
bool capCaptureSequenceNoFile(HCAPWND window);
bool capCaptureStop(HCAPWND window);

bool capDlgVideoFormat(HCAPWND window);  // modal

bool capGetAudioFormat(HCAPWND window, WAVEFORMATEX* format);
bool capSetAudioFormat(HCAPWND window, const WAVEFORMATEX* format);

}  // namespace tarvelo
