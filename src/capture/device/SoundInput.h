#pragma once
// The machine's sound input while a recording runs: blocks of samples in
// the format asked for, handed over on the input's own thread, which the
// input stops and joins when it goes.

#include "capture/device/CaptureBlocks.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace tarvelo {

class SoundInput {
public:
    virtual ~SoundInput() = default;
    virtual void start() = 0;
};

using SoundHandler = std::function<void(const char* samples, size_t bytes)>;

// Null when there is no sound input (`why` empty: the machine has none) or
// when it cannot be opened (`why` says why).
using SoundInputOpener =
    std::function<std::unique_ptr<SoundInput>(const WAVEFORMATEX& format, SoundHandler handler, std::string& why)>;

// The machine's default sound input through waveIn (the Windows build's).
std::unique_ptr<SoundInput> OpenWaveIn(const WAVEFORMATEX& format, SoundHandler handler, std::string& why);

}  // namespace tarvelo
