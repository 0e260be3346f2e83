#include "capture/AudioFormat.h"

namespace tarvelo {

void TAudioFormat::fill(WAVEFORMATEX& block) const
{
    static constexpr uint32_t rates[] = {8000, 11025, 22050, 44100};
    block.nChannels = Channels == TChannel::Stereo ? 2 : 1;
    block.nSamplesPerSec = rates[static_cast<int>(Frequency)];
    block.wBitsPerSample = Resolution == TResolution::r16Bit ? 16 : 8;
    block.nBlockAlign = uint16_t(block.nChannels * block.wBitsPerSample / 8);
    block.nAvgBytesPerSec = block.nSamplesPerSec * block.nBlockAlign;
}

void TAudioFormat::ApplyTo(HCAPWND window, CaptureService& service) const
{
    if (!window)
        return;
    WAVEFORMATEX block;
    service.capGetAudioFormat(window, &block);
    fill(block);
    service.capSetAudioFormat(window, &block);
}

}  // namespace tarvelo
