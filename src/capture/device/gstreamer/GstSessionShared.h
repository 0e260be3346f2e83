#pragma once
// What the parts of a GStreamer session share: the caps and branch texts
// its pipelines are built from, its waits, and small helpers over
// GStreamer's types. For the session's own files only.

#include "capture/device/CaptureBlocks.h"
#include "capture/device/CaptureDriver.h"
#include "media/GstSupport.h"

#include <chrono>
#include <string>

namespace tarvelo::gstsession {

constexpr uint32_t VideoFlags = VHDR_DONE | VHDR_KEYFRAME;
constexpr auto GrabWait = std::chrono::seconds(2);
constexpr auto RecordingEndWait = std::chrono::seconds(5);
constexpr auto NewModeWait = std::chrono::seconds(3);

inline std::string modeCaps(const VideoMode& mode, const std::string& frameRate)
{
    std::string caps = "video/x-raw";
    if (!frameRate.empty())
        caps += ",framerate=" + frameRate;
    if (mode.width > 0 && mode.height > 0)
        caps += ",width=" + std::to_string(mode.width) + ",height=" + std::to_string(mode.height);
    if (!mode.format.empty())
        caps += ",format=" + mode.format;
    return caps;
}

inline std::string frameRateFraction(uint32_t microSecPerFrame)
{
    gint num = 15, den = 1;
    if (microSecPerFrame > 0)
        gst_util_double_to_fraction(1e6 / microSecPerFrame, &num, &den);
    return std::to_string(num) + "/" + std::to_string(den);
}

inline std::string audioCaps(const WAVEFORMATEX& f)
{
    return std::string("audio/x-raw,format=") + (f.wBitsPerSample == 16 ? "S16LE" : "U8") +
           ",rate=" + std::to_string(f.nSamplesPerSec) + ",channels=" + std::to_string(f.nChannels) +
           ",layout=interleaved";
}

// The source feeds two branches: the live picture, which may drop a frame
// when it falls behind, and the feed of recordings, closed while nothing
// records, which keeps every frame.
inline constexpr const char* LiveBranches =
    " ! tee name=t allow-not-linked=true"
    " t. ! queue leaky=downstream max-size-buffers=2 ! videoconvert ! video/x-raw,format=BGRx"
    " ! appsink name=live sync=false max-buffers=2 drop=true emit-signals=true"
    " t. ! valve name=feedvalve drop=true"
    " ! queue max-size-buffers=0 max-size-bytes=0 max-size-time=3000000000"
    " ! appsink name=feed sync=false async=false emit-signals=true";

inline GstElementPtr byName(GstElement* pipeline, const char* name)
{
    return GstElementPtr(pipeline ? gst_bin_get_by_name(GST_BIN(pipeline), name) : nullptr);
}

inline uint32_t milliseconds(GstClockTime t)
{
    return GST_CLOCK_TIME_IS_VALID(t) ? uint32_t(t / GST_MSECOND) : 0;
}

inline std::chrono::steady_clock::rep ticks(std::chrono::steady_clock::time_point t)
{
    return t.time_since_epoch().count();
}

// GStreamer's own words for an error message, for the log.
inline std::string errorText(GstMessage* message)
{
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error ? error->message : "unknown error";
    if (debug)
        text += std::string(" (") + debug + ")";
    if (error)
        g_error_free(error);
    g_free(debug);
    return text;
}

}  // namespace tarvelo::gstsession
