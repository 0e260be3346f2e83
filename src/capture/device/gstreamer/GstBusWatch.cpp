// The session's bus thread, and what the owning thread does about what it
// saw.
#include "capture/device/gstreamer/GstSession.h"

#include "capture/device/gstreamer/GstSessionShared.h"
#include "framework/Log.h"

namespace tarvelo {

using namespace std::chrono;
using namespace gstsession;

void GstSession::watchBus()
{
    while (busRunning_) {
        GstBusPtr bus;
        uint64_t generation = 0;
        {
            std::lock_guard lock(pipelineMutex_);
            if (pipeline_)
                bus.reset(gst_element_get_bus(pipeline_.get()));
            generation = generation_;
        }
        if (!bus) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        endAtDeadline();
        GstMessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), 20 * GST_MSECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT)));
        if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ELEMENT)
            reportRecorderEnd(message.get());
        else if (message)
            report(message.get(), generation);
    }
}

// Ending the recorder's input changes no state: the recording ends through
// its own end of stream, which its file's sink then reports.
void GstSession::endAtDeadline()
{
    steady_clock::rep deadline = recordingDeadline_;
    if (!recording_ || deadline == 0 || ticks(steady_clock::now()) < deadline)
        return;
    if (!endRequested_.exchange(true))
        endRecorderInput();
}

// Whether a recorder sent the message, and which: the current one, or
// (recorder 0) one already gone, whose word no longer counts.
bool GstSession::fromRecorder(GstMessage* message, uint64_t& recorder)
{
    recorder = 0;
    GstObject* o = GST_MESSAGE_SRC(message) ? GST_OBJECT(gst_object_ref(GST_MESSAGE_SRC(message))) : nullptr;
    while (o && std::string(GST_OBJECT_NAME(o)) != "recorder") {
        GstObject* parent = gst_object_get_parent(o);
        gst_object_unref(o);
        o = parent;
    }
    if (!o)
        return false;
    {
        std::lock_guard lock(recorderMutex_);
        if (o == GST_OBJECT(recorder_.get()))
            recorder = recorderId_;
    }
    gst_object_unref(o);
    return true;
}

void GstSession::report(GstMessage* message, uint64_t generation)
{
    BusEvent event;
    event.generation = generation;
    if (fromRecorder(message, event.recorder)) {
        if (event.recorder == 0)
            return;
        event.generation = 0;
    }
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        event.endOfStream = true;
        event.text = "Capture End";
    } else {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        bool inFile = GST_MESSAGE_SRC(message) && std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) == "file";
        bool inSource = error && error->domain == GST_RESOURCE_ERROR && !inFile && !event.recorder;
        event.text = "Error: " + std::string(error ? error->message : "unknown error");
        if (error)
            g_error_free(error);
        event.error = inFile ? IDS_CAP_WRITEERROR : inSource ? IDS_CAP_VIDEO_SOURCE_LOST : IDS_CAP_PIPELINE_ERROR;
        logLine("capture", "GStreamer: " + errorText(message));
    }
    if (event.error && !event.recorder && !recording_)
        sink_.statusChanged(int32_t(event.error), event.text);  // the live picture failed
    keepEvent(std::move(event));
}

// A recording is complete when its file's sink has written its last bytes
// and posted its end of stream, which the recorder forwards; an error in
// those last writes comes before it.
void GstSession::reportRecorderEnd(GstMessage* message)
{
    const GstStructure* forwarded = gst_message_get_structure(message);
    if (!forwarded || !gst_structure_has_name(forwarded, "GstBinForwarded"))
        return;
    GstMessage* inner = nullptr;
    gst_structure_get(forwarded, "message", GST_TYPE_MESSAGE, &inner, nullptr);
    GstMessagePtr held(inner);
    uint64_t recorder = 0;
    if (!inner || GST_MESSAGE_TYPE(inner) != GST_MESSAGE_EOS || !fromRecorder(message, recorder) || recorder == 0)
        return;
    keepEvent(BusEvent{0, recorder, true, 0, "Capture End"});
}

// Keeps what a recorder or the pipeline reported, for the owning thread.
void GstSession::keepEvent(BusEvent event)
{
    uint64_t generation = event.generation, recorder = event.recorder;
    {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(std::move(event));
    }
    eventsChanged_.notify_all();
    owner_.post([this, generation, recorder] { act(generation, recorder); });
}

// On the owning thread, what was seen: a recording that ended by itself is
// finished, and the live picture goes on; a live picture that failed is
// stopped, and a recording with it.
void GstSession::act(uint64_t generation, uint64_t recorder)
{
    std::optional<BusEvent> event = takeEvent(generation, recorder);
    if (!event || !pipeline_)
        return;  // seen to already, or about a pipeline that is gone
    if (recorder) {
        if (recording_ && recorder == recorderId_)
            finishRecording(*event);
        return;
    }
    if (generation != generation_)
        return;
    if (recording_)
        finishRecording(*event);
    if (event->error) {
        lastError_ = event->error;
        stopPipeline();
    }
}

// The first event of that pipeline generation or recorder; events of older
// pipelines are dropped.
std::optional<GstSession::BusEvent> GstSession::takeEvent(uint64_t generation, uint64_t recorder)
{
    std::lock_guard lock(eventsMutex_);
    std::optional<BusEvent> found;
    std::vector<BusEvent> kept;
    for (BusEvent& e : events_) {
        if (e.generation == generation && e.recorder == recorder && !found)
            found = std::move(e);
        else if (e.recorder ? e.recorder == recorderId_ : e.generation >= generation_)
            kept.push_back(std::move(e));
    }
    events_ = std::move(kept);
    return found;
}

}  // namespace tarvelo
