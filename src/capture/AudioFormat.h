#pragma once
// The sound format of a recording with audio.

#include "capture/vfw.h"

namespace tarvelo {

enum class TChannel : uint8_t { Stereo, Mono };
enum class TFrequency : uint8_t { f8000Hz, f11025Hz, f22050Hz, f44100Hz };
enum class TResolution : uint8_t { r8Bit, r16Bit };

class TAudioFormat {
public:
    TChannel Channels = TChannel::Mono;
    TFrequency Frequency = TFrequency::f8000Hz;
    TResolution Resolution = TResolution::r8Bit;

    // Writes this format into the window's audio format, keeping the format
    // tag and extra size it had. Nothing for no window.
    void ApplyTo(HCAPWND window, CaptureService& service = SystemCaptureService()) const;

    // The fields this format sets, applied to `block`.
    void fill(WAVEFORMATEX& block) const;
};

}  // namespace tarvelo
