// The recording branch of a session: building it, counting what it
// writes, and ending it.
#include "capture/device/GstSession.h"

#include "capture/device/GstSessionShared.h"
#include "framework/Log.h"

#include <QFile>
#include <cstdio>

namespace tarvelo {

using namespace std::chrono;
using namespace gstsession;

std::string GstSession::recordingDescription(const RecordingRequest& request) const
{
    std::string d = videoChain() + " ! tee name=t t. ! queue leaky=downstream max-size-buffers=2 ! " + LiveBranch +
                    " t. ! queue name=recq max-size-buffers=0 max-size-bytes=0 max-size-time=3000000000"
                    " ! videorate name=rate ! video/x-raw,framerate=" +
                    frameRateFraction(request.parms.dwRequestMicroSecPerFrame) +
                    " ! videoconvert ! jpegenc quality=85 ! avimux name=mux ! " +
                    (request.file.isEmpty() ? "fakesink sync=false" : "filesink name=file");
    if (request.parms.fCaptureAudio)
        d += " " + source_.audio + " ! audioconvert ! audioresample ! " + audioCaps(request.audioFormat) +
             " ! queue name=audq ! mux.";
    return d;
}

bool GstSession::startRecording(const RecordingRequest& request)
{
    if (recording_)
        return false;
    GstElementPtr pipeline = build(recordingDescription(request));
    if (!pipeline)
        return false;  // the live picture goes on as it was
    if (GstElementPtr file = byName(pipeline.get(), "file"))
        g_object_set(file.get(), "location", QFile::encodeName(request.file).constData(), nullptr);
    attachProbes(pipeline.get(), request);
    resetRecordingCounters(request);
    recording_ = true;
    if (!launch(std::move(pipeline))) {
        recording_ = false;
        lastError_ = IDS_CAP_FILE_OPEN_ERROR;
        sink_.statusChanged(IDS_CAP_FILE_OPEN_ERROR,
                            "Error: cannot open the capture file " + request.file.toStdString());
        restoreLive();
        return false;
    }
    sink_.statusChanged(IDS_CAP_BEGIN, "Capture Start");
    return true;
}

void GstSession::resetRecordingCounters(const RecordingRequest& request)
{
    bytesPerSample_ = std::max<uint32_t>(request.audioFormat.nBlockAlign, 1);
    framesRecorded_ = 0;
    framesDroppedAtEnd_ = 0;
    samplesRecorded_ = 0;
    lastError_ = 0;
    recordingFile_ = request.file;
    recordingStart_ = steady_clock::now();
    bool limited = request.parms.fLimitEnabled && request.parms.wTimeLimit > 0;
    recordingDeadline_ = limited ? ticks(recordingStart_ + seconds(request.parms.wTimeLimit)) : 0;
    endRequested_ = false;
}

void GstSession::attachProbes(GstElement* pipeline, const RecordingRequest& request)
{
    auto video = [](GstPad*, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
        auto* self = static_cast<GstSession*>(data);
        InCallback inSink(self->inSink_);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstMapInfo map;
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            VIDEOHDR header{map.data, uint32_t(map.size), uint32_t(map.size),
                            milliseconds(GST_BUFFER_PTS(buffer)), 0, VideoFlags};
            ++self->framesRecorded_;
            self->sink_.videoRecorded(&header);
            gst_buffer_unmap(buffer, &map);
        }
        return GST_PAD_PROBE_OK;
    };
    auto audio = [](GstPad*, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
        auto* self = static_cast<GstSession*>(data);
        InCallback inSink(self->inSink_);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstMapInfo map;
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            WAVEHDR header{reinterpret_cast<char*>(map.data), uint32_t(map.size), uint32_t(map.size), 0, 1};
            self->samplesRecorded_ += map.size / self->bytesPerSample_;
            self->sink_.audioRecorded(&header);
            gst_buffer_unmap(buffer, &map);
        }
        return GST_PAD_PROBE_OK;
    };
    if (GstElementPtr rate = byName(pipeline, "rate")) {
        GstPadPtr pad(gst_element_get_static_pad(rate.get(), "src"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, video, this, nullptr);
    }
    if (request.parms.fCaptureAudio) {
        if (GstElementPtr queue = byName(pipeline, "audq")) {
            GstPadPtr pad(gst_element_get_static_pad(queue.get(), "src"));
            gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, audio, this, nullptr);
        }
    }
}

bool GstSession::stopRecording()
{
    if (!recording_)
        return true;
    if (pipeline_ && !endRequested_.exchange(true))
        gst_element_send_event(pipeline_.get(), gst_event_new_eos());
    {
        std::unique_lock lock(eventsMutex_);
        eventsChanged_.wait_for(lock, RecordingEndWait, [&] {
            for (const BusEvent& e : events_)
                if (e.generation == generation_)
                    return true;
            return false;
        });
    }
    std::optional<BusEvent> end = takeEvent(generation_);
    if (!end)
        end = BusEvent{generation_, false, IDS_CAP_PIPELINE_ERROR, "Error: the recording did not finish in time"};
    finishRecording(*end);
    return lastError_ == 0;
}

// Frames the source did not deliver in time, which the recording repeats
// to keep its frame rate.
uint32_t GstSession::framesDropped()
{
    guint64 duplicated = 0;
    if (GstElementPtr rate = byName(pipeline_.get(), "rate"))
        g_object_get(rate.get(), "duplicate", &duplicated, nullptr);
    return uint32_t(duplicated);
}

RecordingProgress GstSession::progress()
{
    RecordingProgress p;
    p.capturing = recording_;
    p.frames = framesRecorded_;
    p.dropped = recording_ ? framesDropped() : framesDroppedAtEnd_;
    p.audioSamples = uint32_t(samplesRecorded_);
    p.lastError = lastError_;
    if (recording_)
        p.elapsedMs = uint32_t(duration_cast<std::chrono::milliseconds>(steady_clock::now() - recordingStart_).count());
    p.fileExists = !recordingFile_.isEmpty() && QFile::exists(recordingFile_);
    return p;
}

void GstSession::finishRecording(const BusEvent& end)
{
    if (!recording_)
        return;
    uint32_t elapsed = progress().elapsedMs;
    framesDroppedAtEnd_ = framesDropped();
    lastError_ = end.error;
    stopPipeline();
    recording_ = false;
    char summary[96];
    std::snprintf(summary, sizeof summary, "Captured %u frames (%u dropped) %u.%03u sec.", framesRecorded_.load(),
                  framesDroppedAtEnd_, elapsed / 1000, elapsed % 1000);
    sink_.statusChanged(IDS_CAP_STAT_VIDEOCURRENT, summary);
    sink_.statusChanged(end.error ? int32_t(end.error) : IDS_CAP_END, end.text);
    if (!closing_ && end.error != IDS_CAP_VIDEO_SOURCE_LOST)
        restoreLive();
}

}  // namespace tarvelo
