// The session's bus thread, and what the owning thread does about what it
// saw.
#include "capture/device/GstSession.h"

#include "capture/device/GstSessionShared.h"
#include "framework/Log.h"

namespace tarvelo {

using namespace std::chrono;
using namespace gstsession;

void GstSession::watchBus()
{
    while (busRunning_) {
        GstBusPtr bus;
        GstElementPtr pipeline;
        uint64_t generation = 0;
        {
            std::lock_guard lock(pipelineMutex_);
            if (pipeline_) {
                bus.reset(gst_element_get_bus(pipeline_.get()));
                pipeline.reset(GST_ELEMENT(gst_object_ref(pipeline_.get())));
            }
            generation = generation_;
        }
        if (!bus) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        sendEndOfStreamAtDeadline(pipeline.get());
        GstMessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), 20 * GST_MSECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (message)
            report(message.get(), generation);
    }
}

// Sending an event changes no state: the recording ends through its own
// end of stream, which the bus then reports.
void GstSession::sendEndOfStreamAtDeadline(GstElement* pipeline)
{
    steady_clock::rep deadline = recordingDeadline_;
    if (!recording_ || deadline == 0 || ticks(steady_clock::now()) < deadline)
        return;
    if (!endRequested_.exchange(true))
        gst_element_send_event(pipeline, gst_event_new_eos());
}

void GstSession::report(GstMessage* message, uint64_t generation)
{
    BusEvent event;
    event.generation = generation;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        event.endOfStream = true;
        event.text = "Capture End";
    } else {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        bool inFile = GST_MESSAGE_SRC(message) && std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) == "file";
        bool inSource = error && error->domain == GST_RESOURCE_ERROR && !inFile;
        event.text = "Error: " + std::string(error ? error->message : "unknown error");
        if (error)
            g_error_free(error);
        event.error = inFile ? IDS_CAP_WRITEERROR : inSource ? IDS_CAP_VIDEO_SOURCE_LOST : IDS_CAP_PIPELINE_ERROR;
        logLine("capture", "GStreamer: " + errorText(message));
    }
    {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(event);
    }
    eventsChanged_.notify_all();
    if (event.error && !recording_)
        sink_.statusChanged(int32_t(event.error), event.text);  // the live picture failed
    owner_.post([this, generation] { act(generation); });
}

// On the owning thread, what the bus thread saw: a recording that ended by
// itself is finished; a live picture that failed is stopped.
void GstSession::act(uint64_t generation)
{
    std::optional<BusEvent> event = takeEvent(generation);
    if (!event || generation != generation_ || !pipeline_)
        return;  // seen to already, or about a pipeline that is gone
    if (recording_) {
        finishRecording(*event);
        return;
    }
    if (event->error) {
        lastError_ = event->error;
        stopPipeline();
    }
}

// The first event of that generation; events of older ones are dropped.
std::optional<GstSession::BusEvent> GstSession::takeEvent(uint64_t generation)
{
    std::lock_guard lock(eventsMutex_);
    std::optional<BusEvent> found;
    std::vector<BusEvent> kept;
    for (BusEvent& e : events_) {
        if (e.generation == generation && !found)
            found = std::move(e);
        else if (e.generation >= generation_)
            kept.push_back(std::move(e));
    }
    events_ = std::move(kept);
    return found;
}

}  // namespace tarvelo
