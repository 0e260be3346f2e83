// waveIn with four buffers of a quarter second each: a thread of the
// input's own waits for filled buffers, hands their samples over and gives
// them back to the device.

#include "capture/device/SoundInput.h"

#include "framework/Log.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tarvelo {
namespace {

constexpr int BufferCount = 4;

std::string waveInText(MMRESULT result)
{
    wchar_t text[MAXERRORLENGTH] = {};
    waveInGetErrorTextW(result, text, MAXERRORLENGTH);
    std::string said;
    for (const wchar_t* c = text; *c; ++c)
        said += *c < 128 ? char(*c) : '?';
    return said + " (" + std::to_string(result) + ")";
}

class WaveIn final : public SoundInput {
public:
    WaveIn(SoundHandler handler) : handler_(std::move(handler)), filled_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~WaveIn() override;

    bool open(const tarvelo::WAVEFORMATEX& format, std::string& why);
    void start() override;

private:
    void handOver();

    SoundHandler handler_;
    HANDLE filled_;
    HWAVEIN device_ = nullptr;
    std::vector<std::vector<char>> memory_;
    ::WAVEHDR headers_[BufferCount] = {};
    std::atomic<bool> draining_{false};
    int next_ = 0;  // the buffer the device fills first
    std::thread thread_;
};

bool WaveIn::open(const tarvelo::WAVEFORMATEX& format, std::string& why)
{
    ::WAVEFORMATEX wanted{format.wFormatTag,      format.nChannels,      format.nSamplesPerSec, format.nAvgBytesPerSec,
                          format.nBlockAlign,     format.wBitsPerSample, 0};
    MMRESULT result = waveInOpen(&device_, WAVE_MAPPER, &wanted, DWORD_PTR(filled_), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) {
        device_ = nullptr;
        why = waveInText(result);
        return false;
    }
    const size_t quarter = std::max<size_t>(format.nBlockAlign, (format.nAvgBytesPerSec / 4) / std::max<uint16_t>(format.nBlockAlign, 1) * format.nBlockAlign);
    for (::WAVEHDR& header : headers_) {
        memory_.emplace_back(quarter);
        header.lpData = memory_.back().data();
        header.dwBufferLength = DWORD(quarter);
        waveInPrepareHeader(device_, &header, sizeof header);
        waveInAddBuffer(device_, &header, sizeof header);
    }
    thread_ = std::thread(&WaveIn::handOver, this);
    return true;
}

void WaveIn::start()
{
    if (MMRESULT result = waveInStart(device_); result != MMSYSERR_NOERROR)
        logLine("capture", "the sound input does not start: " + waveInText(result));
}

// The device fills its buffers in the order they were given, so they are
// handed over in that order too. Once draining, what the last buffers hold
// is handed over and nothing is given back.
void WaveIn::handOver()
{
    for (;;) {
        const bool last = draining_;
        WaitForSingleObject(filled_, last ? 0 : 200);
        while (headers_[next_].dwFlags & WHDR_DONE) {
            ::WAVEHDR& header = headers_[next_];
            if (header.dwBytesRecorded > 0)
                catchAndLog("capture", [&] { handler_(header.lpData, header.dwBytesRecorded); });
            header.dwFlags &= ~WHDR_DONE;
            next_ = (next_ + 1) % BufferCount;
            if (last)
                continue;
            waveInAddBuffer(device_, &header, sizeof header);
        }
        if (last)
            return;
    }
}

// Stopping marks the buffer being filled done with what it holds; the
// thread hands that over and ends, and the reset returns the empty ones.
WaveIn::~WaveIn()
{
    if (device_)
        waveInStop(device_);
    draining_ = true;
    SetEvent(filled_);
    if (thread_.joinable())
        thread_.join();
    if (device_) {
        waveInReset(device_);
        for (::WAVEHDR& header : headers_)
            waveInUnprepareHeader(device_, &header, sizeof header);
        waveInClose(device_);
    }
    CloseHandle(filled_);
}

}  // namespace

std::unique_ptr<SoundInput> OpenWaveIn(const WAVEFORMATEX& format, SoundHandler handler, std::string& why)
{
    why.clear();
    if (waveInGetNumDevs() == 0)
        return nullptr;  // no sound input: the recording has pictures only
    auto input = std::make_unique<WaveIn>(std::move(handler));
    if (!input->open(format, why))
        return nullptr;
    return input;
}

}  // namespace tarvelo
