#pragma once
// The blocks a capture driver and the capture service exchange, laid out
// and named after their Video for Windows counterparts. Only the fields
// Tarvelo uses are declared.

#include <cstdint>

namespace tarvelo {

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
    IDS_CAP_WAVE_OPEN_ERROR = 422,  // "Error: cannot open the sound input: %s"
    IDS_CAP_WRITEERROR = 434,      // "Error: cannot write the capture file (disk full?)"
    IDS_CAP_VIDEO_SOURCE_LOST = 440,  // "Error: the video source was lost"
    IDS_CAP_PIPELINE_ERROR = 441,  // "Error: %s"
};

}  // namespace tarvelo
