#pragma once
// Where a recording's sound goes: the desktop's output when the machine
// has one, otherwise a sink that drops it in step with the picture.

#include <gst/gst.h>

namespace tarvelo {

// A new floating element for playbin's "audio-sink".
GstElement* MakeSoundOutput();

}  // namespace tarvelo
