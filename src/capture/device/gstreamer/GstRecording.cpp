// The recording of a session: a bin added to the running pipeline, fed
// from the source's tee, so the live picture goes on while it starts and
// ends; counting what it writes, and ending it.
#include "capture/device/gstreamer/GstSession.h"

#include "capture/device/gstreamer/GstSessionShared.h"
#include "framework/Log.h"

#include <QFile>

namespace tarvelo {

using namespace std::chrono;
using namespace gstsession;

namespace {

constexpr const char* RecorderName = "recorder";

// The recorder's own sound source: the one element of the bin that takes
// nothing in, other than the feed's entry.
GstElementPtr soundSourceOf(GstElement* recorder)
{
    GstElementPtr found;
    GstIterator* it = gst_bin_iterate_sources(GST_BIN(recorder));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        if (std::string(GST_OBJECT_NAME(element)) != "entry")
            found.reset(GST_ELEMENT(gst_object_ref(element)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

void setPadOffset(GstElement* recorder, const char* element, const char* pad, GstClockTimeDiff offset)
{
    if (GstElementPtr e = byName(recorder, element)) {
        GstPadPtr p(gst_element_get_static_pad(e.get(), pad));
        gst_pad_set_offset(p.get(), offset);
    }
}

}  // namespace

// The feed's frames enter through "entry" with the live pipeline's times;
// the recorder's pads shift them (and the sound's) to start at zero.
std::string GstSession::recorderDescription(const RecordingRequest& request) const
{
    std::string d = "appsrc name=entry is-live=true format=time max-bytes=0"
                    " ! queue name=recq max-size-buffers=3 max-size-bytes=0 max-size-time=0"
                    " ! videorate name=rate skip-to-first=true ! video/x-raw,framerate=" +
                    frameRateFraction(request.parms.dwRequestMicroSecPerFrame) +
                    " ! videoconvert ! jpegenc quality=85 ! avimux name=mux ! " +
                    (request.file.isEmpty() ? "fakesink name=nofile" : "filesink name=file") +
                    " sync=false async=false";
    if (request.parms.fCaptureAudio)
        d += " " + source_.audio + " ! audioconvert ! audioresample ! " + audioCaps(request.audioFormat) +
             " ! queue name=audq ! mux.";
    return d;
}

GstElementPtr GstSession::buildRecorder(const RecordingRequest& request)
{
    GError* error = nullptr;
    GstElement* made = gst_parse_bin_from_description(recorderDescription(request).c_str(), FALSE, &error);
    if (error) {
        logLine("capture", std::string("cannot build the recording: ") + error->message);
        g_error_free(error);
        if (made)
            gst_object_unref(gst_object_ref_sink(made));
        return {};
    }
    gst_object_set_name(GST_OBJECT(made), RecorderName);
    // The file's sink says it has ended once it has written its last bytes,
    // in an end-of-stream message the bin would otherwise keep to itself.
    g_object_set(made, "message-forward", TRUE, nullptr);
    GstElementPtr recorder(GST_ELEMENT(gst_object_ref_sink(made)));
    if (GstElementPtr file = byName(recorder.get(), "file"))
        g_object_set(file.get(), "location", QFile::encodeName(request.file).constData(), nullptr);
    return recorder;
}

bool GstSession::startRecording(const RecordingRequest& request)
{
    if (recording_ || !pipeline_)
        return false;
    GstElementPtr recorder = buildRecorder(request);
    if (!recorder)
        return false;  // the live picture goes on as it was
    attachProbes(recorder.get(), request);
    resetRecordingCounters(request);
    GstClockTime now = gst_element_get_current_running_time(pipeline_.get());
    if (GST_CLOCK_TIME_IS_VALID(now)) {
        setPadOffset(recorder.get(), "entry", "src", -GstClockTimeDiff(now));
        setPadOffset(recorder.get(), "audq", "src", -GstClockTimeDiff(now));
    }
    std::string why;
    if (int32_t error = addRecorder(std::move(recorder), why)) {
        lastError_ = uint32_t(error);
        sink_.statusChanged(error, error == IDS_CAP_WAVE_OPEN_ERROR
                                       ? "Error: cannot open the sound input: " + why
                                       : "Error: cannot open the capture file " + request.file.toStdString());
        return false;
    }
    recording_ = true;
    {
        std::lock_guard lock(recorderMutex_);
        g_object_set(recorderValve_.get(), "drop", FALSE, nullptr);
    }
    sink_.statusChanged(IDS_CAP_BEGIN, "Capture Start");
    return true;
}

// The recorder opens its devices and file on its own first: one that
// cannot start never touches the running pipeline, whose state a failed
// child would upset. The sound input goes first, so a sound device that
// cannot be opened leaves no empty file behind, and says so. Then the
// recorder joins, and the live picture never notices.
int32_t GstSession::addRecorder(GstElementPtr recorder, std::string& why)
{
    GstElementPtr entry = byName(recorder.get(), "entry");
    GstElementPtr valve = byName(pipeline_.get(), "feedvalve");
    if (!entry || !valve)
        return IDS_CAP_FILE_OPEN_ERROR;
    GstBusPtr startBus(gst_bus_new());  // what goes wrong before it joins
    gst_element_set_bus(recorder.get(), startBus.get());
    GstElementPtr sound = soundSourceOf(recorder.get());
    auto failed = [&](int32_t error) {
        if (GstMessagePtr message{gst_bus_pop_filtered(startBus.get(), GST_MESSAGE_ERROR)}) {
            why = errorText(message.get());
            logLine("capture", "the recording cannot start: " + why);
        }
        gst_element_set_state(recorder.get(), GST_STATE_NULL);
        return error;
    };
    if (sound && gst_element_set_state(sound.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return failed(IDS_CAP_WAVE_OPEN_ERROR);
    if (gst_element_set_state(recorder.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return failed(IDS_CAP_FILE_OPEN_ERROR);
    {
        std::lock_guard lock(recorderMutex_);
        ++recorderId_;
        recorderEntry_ = std::move(entry);
        recorderValve_ = std::move(valve);
        recorderSound_ = std::move(sound);
        recorderInputEnded_ = false;
        recorder_ = std::move(recorder);
    }
    gst_bin_add(GST_BIN(pipeline_.get()), recorder_.get());
    if (gst_element_sync_state_with_parent(recorder_.get()))
        return 0;
    removeRecorder();
    return IDS_CAP_FILE_OPEN_ERROR;
}

// Ends what goes into the recorder: the feed closes and both sources send
// their end of stream, which the file's sink then sees. From the owning
// thread or the bus thread (a time limit).
void GstSession::endRecorderInput()
{
    std::lock_guard lock(recorderMutex_);
    if (!recorder_ || recorderInputEnded_)
        return;
    recorderInputEnded_ = true;
    g_object_set(recorderValve_.get(), "drop", TRUE, nullptr);
    GstFlowReturn ignored;
    g_signal_emit_by_name(recorderEntry_.get(), "end-of-stream", &ignored);
    if (recorderSound_)
        gst_element_send_event(recorderSound_.get(), gst_event_new_eos());
}

// The file's sink closes its file as the recorder stops, and a close can
// fail (NFS and CIFS report failed last writes there): what it says comes
// back, for the recording's outcome, instead of going to the pipeline's bus
// after the recording is over.
std::string GstSession::removeRecorder()
{
    GstElementPtr recorder;
    {
        std::lock_guard lock(recorderMutex_);
        recorder = std::move(recorder_);
        recorderEntry_.reset();
        recorderSound_.reset();
        if (recorderValve_)
            g_object_set(recorderValve_.get(), "drop", TRUE, nullptr);
        recorderValve_.reset();
    }
    if (!recorder)
        return {};
    GstBusPtr closeBus(gst_bus_new());
    gst_element_set_bus(recorder.get(), closeBus.get());
    gst_element_set_locked_state(recorder.get(), TRUE);
    gst_element_set_state(recorder.get(), GST_STATE_NULL);
    if (pipeline_)
        gst_bin_remove(GST_BIN(pipeline_.get()), recorder.get());
    std::string closeError;
    while (GstMessagePtr message{gst_bus_pop_filtered(closeBus.get(), GST_MESSAGE_ERROR)}) {
        logLine("capture", "the recording's file did not close cleanly: " + errorText(message.get()));
        if (closeError.empty())
            closeError = errorText(message.get());
    }
    gst_element_set_bus(recorder.get(), nullptr);
    return closeError;
}

GstFlowReturn GstSession::newFeedSample(GstElement* appsink, gpointer self)
{
    static_cast<GstSession*>(self)->onFeedSample(appsink);
    return GST_FLOW_OK;  // a recording that fails never stops the live picture
}

void GstSession::onFeedSample(GstElement* appsink)
{
    InCallback inSink(inSink_);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(appsink, "pull-sample", &sample);
    if (!sample)
        return;
    {
        std::lock_guard lock(recorderMutex_);
        if (recorderEntry_ && !recorderInputEnded_) {
            guint64 waiting = 0;
            g_object_get(recorderEntry_.get(), "current-level-buffers", &waiting, nullptr);
            if (waiting >= framesAllowedWaiting_) {
                ++framesDroppedWaiting_;  // the encoder or the disk cannot keep up
            } else {
                GstFlowReturn ignored;
                g_signal_emit_by_name(recorderEntry_.get(), "push-sample", sample, &ignored);
            }
        }
    }
    gst_sample_unref(sample);
}

void GstSession::resetRecordingCounters(const RecordingRequest& request)
{
    bytesPerSample_ = std::max<uint32_t>(request.audioFormat.nBlockAlign, 1);
    framesRecorded_ = 0;
    framesDroppedAtEnd_ = 0;
    framesDroppedWaiting_ = 0;
    // About a second of frames may wait; raw frames of a large picture
    // would otherwise pile up until the host runs out of memory.
    const uint32_t perFrame = std::max<uint32_t>(request.parms.dwRequestMicroSecPerFrame, 1000);
    framesAllowedWaiting_ = std::max<guint64>(2, (1000000 + perFrame / 2) / perFrame);
    samplesRecorded_ = 0;
    lastError_ = 0;
    recordingFile_ = request.file;
    recordingStart_ = steady_clock::now();
    bool limited = request.parms.fLimitEnabled && request.parms.wTimeLimit > 0;
    recordingDeadline_ = limited ? ticks(recordingStart_ + seconds(request.parms.wTimeLimit)) : 0;
    endRequested_ = false;
}

void GstSession::attachProbes(GstElement* recorder, const RecordingRequest& request)
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
    if (GstElementPtr rate = byName(recorder, "rate")) {
        GstPadPtr pad(gst_element_get_static_pad(rate.get(), "src"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, video, this, nullptr);
    }
    if (request.parms.fCaptureAudio) {
        if (GstElementPtr queue = byName(recorder, "audq")) {
            GstPadPtr pad(gst_element_get_static_pad(queue.get(), "src"));
            gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, audio, this, nullptr);
        }
    }
}

bool GstSession::stopRecording()
{
    if (!recording_)
        return true;
    endRequested_ = true;
    endRecorderInput();
    uint64_t id = recorderId_;
    {
        std::unique_lock lock(eventsMutex_);
        eventsChanged_.wait_for(lock, RecordingEndWait, [&] {
            for (const BusEvent& e : events_)
                if (e.recorder == id)
                    return true;
            return false;
        });
    }
    std::optional<BusEvent> end = takeEvent(0, id);
    if (!end)
        end = BusEvent{0, id, false, IDS_CAP_PIPELINE_ERROR, "Error: the recording did not finish in time"};
    finishRecording(*end);
    return lastError_ == 0;
}

// Frames the source did not deliver in time, which the recording repeats
// to keep its frame rate, and frames left out because the recording could
// not keep up.
uint32_t GstSession::framesDropped()
{
    guint64 duplicated = 0;
    std::lock_guard lock(recorderMutex_);
    if (GstElementPtr rate = byName(recorder_.get(), "rate"))
        g_object_get(rate.get(), "duplicate", &duplicated, nullptr);
    return uint32_t(duplicated) + framesDroppedWaiting_.load();
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

// The recorder leaves the pipeline; the live picture goes on, unless what
// ended the recording was the source itself.
void GstSession::finishRecording(const BusEvent& end)
{
    if (!recording_)
        return;
    uint32_t elapsed = progress().elapsedMs;
    framesDroppedAtEnd_ = framesDropped();
    BusEvent outcome = end;
    std::string closeError = removeRecorder();
    if (!closeError.empty() && outcome.error == 0) {
        outcome.error = IDS_CAP_WRITEERROR;
        outcome.text = "Error: " + closeError;
    }
    lastError_ = outcome.error;
    recording_ = false;
    sink_.statusChanged(IDS_CAP_STAT_VIDEOCURRENT, RecordingSummary(framesRecorded_, framesDroppedAtEnd_, elapsed));
    sink_.statusChanged(outcome.error ? int32_t(outcome.error) : IDS_CAP_END, outcome.text);
}

}  // namespace tarvelo
