#include "capture/device/gstreamer/GstSession.h"

#include "capture/device/gstreamer/GstSessionShared.h"
#include "framework/Log.h"

namespace tarvelo {

using namespace std::chrono;
using namespace gstsession;

GstSession::GstSession(SourceSpec source, FrameSink& sink)
    : source_(std::move(source)), sink_(sink), mode_(source_.initial), busThread_([this] { watchBus(); })
{
}

GstSession::~GstSession()
{
    closing_ = true;
    stopRecording();  // the file is finished, not cut off
    busRunning_ = false;
    busThread_.join();
    stopPipeline();
    std::lock_guard lastFrameDone(eventsMutex_);
}

bool GstSession::start()
{
    if (!EnsureGstreamer())
        return false;
    GstElementPtr pipeline = build(videoChain() + LiveBranches);
    return pipeline && launch(std::move(pipeline));
}

std::string GstSession::videoChain() const
{
    std::string chain = source_.video + " ! " + modeCaps(mode_, source_.frameRate);
    if (!source_.decorate.empty())
        chain += " ! " + source_.decorate;
    return chain;
}

// A pipeline that is built but not yet running: what runs now goes on.
GstElementPtr GstSession::build(const std::string& description)
{
    GError* error = nullptr;
    GstElement* made = gst_parse_launch(description.c_str(), &error);
    GstElementPtr pipeline(made ? GST_ELEMENT(gst_object_ref_sink(made)) : nullptr);
    if (error) {
        logLine("capture", std::string("cannot build the pipeline: ") + error->message);
        g_error_free(error);
        return {};
    }
    if (source_.prepare)
        source_.prepare(pipeline.get());
    if (GstElementPtr live = byName(pipeline.get(), "live"))
        g_signal_connect(live.get(), "new-sample", G_CALLBACK(&GstSession::newSample), this);
    if (GstElementPtr feed = byName(pipeline.get(), "feed"))
        g_signal_connect(feed.get(), "new-sample", G_CALLBACK(&GstSession::newFeedSample), this);
    return pipeline;
}

// The old pipeline stops first: a device serves one pipeline at a time.
bool GstSession::launch(GstElementPtr pipeline)
{
    stopPipeline();
    {
        std::lock_guard lock(pipelineMutex_);
        pipeline_ = std::move(pipeline);
        ++generation_;
    }
    // GStreamer hands this session to a streaming thread through GLib's
    // pool, whose locking ThreadSanitizer is told to ignore; a pooled thread
    // may even have served an earlier session at this address. The first
    // thing each callback does is enter the counter, so a release on it here
    // orders everything set up so far before any callback.
    inSink_.fetch_add(0, std::memory_order_release);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
        return true;
    GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
    GstMessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    logLine("capture", "the source cannot be played: " + (message ? errorText(message.get()) : "no reason given"));
    stopPipeline();
    return false;
}

// The one way a pipeline stops.
void GstSession::stopPipeline()
{
    GstElementPtr old;
    {
        std::lock_guard lock(pipelineMutex_);
        old = std::move(pipeline_);
    }
    if (!old)
        return;
    gst_element_set_state(old.get(), GST_STATE_NULL);
    InCallback::waitUntilNone(inSink_);
}

void GstSession::restoreLive()
{
    if (!start())
        logLine("capture", "the live picture could not be started again");
}

// A mode the device cannot deliver shows only once frames should flow: a
// live source negotiates its format after it has started.
bool GstSession::confirmLive()
{
    std::unique_lock lock(eventsMutex_);
    uint64_t seen = frameCount_;
    auto failed = [&] {
        for (const BusEvent& e : events_)
            if (e.generation == generation_ && e.error)
                return true;
        return false;
    };
    eventsChanged_.wait_for(lock, NewModeWait, [&] { return frameCount_ > seen || failed(); });
    return !failed();
}

bool GstSession::getCaps(CAPDRIVERCAPS& caps)
{
    caps.fHasOverlay = 1;
    caps.fHasDlgVideoFormat = source_.modes.empty() ? 0 : 1;
    caps.fCaptureInitialized = 1;
    return true;
}

QSize GstSession::frameSize()
{
    {
        std::lock_guard lock(eventsMutex_);
        if (!newest_.isNull())
            return newest_.size();
    }
    return QSize(mode_.width, mode_.height);
}

bool GstSession::setLive(bool)
{
    // Frames flow from connect to disconnect: a grab or a recording never
    // waits for a device to start.
    return true;
}

bool GstSession::grab(QImage& frame)
{
    if (!pipeline_)
        return false;  // the source is gone: its last frame is no grab
    std::unique_lock lock(eventsMutex_);
    uint64_t seen = frameCount_;
    if (!eventsChanged_.wait_for(lock, GrabWait, [&] { return frameCount_ > seen; }))
        return false;  // a frame from before the request is no grab either
    frame = newest_;
    return !frame.isNull();
}

GstFlowReturn GstSession::newSample(GstElement* appsink, gpointer self)
{
    static_cast<GstSession*>(self)->onSample(appsink);
    return GST_FLOW_OK;
}

void GstSession::onSample(GstElement* appsink)
{
    InCallback inSink(inSink_);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(appsink, "pull-sample", &sample);
    if (!sample)
        return;
    if (MappedSample mapped(sample); mapped.valid()) {
        QImage frame = mapped.copy();
        VIDEOHDR header{mapped.data(), mapped.size(), mapped.size(), milliseconds(mapped.presentationTime()), 0,
                        VideoFlags};
        sink_.frameArrived(frame, &header);
        // Notified under the lock: the session's destructor takes it once the
        // pipeline has stopped, and so knows this thread is done with it.
        std::lock_guard lock(eventsMutex_);
        newest_ = std::move(frame);
        ++frameCount_;
        eventsChanged_.notify_all();
    }
    gst_sample_unref(sample);
}

bool GstSession::setMode(const VideoMode& mode)
{
    if (recording_ || source_.modes.empty())
        return false;
    VideoMode previous = mode_;
    mode_ = mode;
    {
        std::lock_guard lock(eventsMutex_);
        newest_ = QImage();
    }
    if (start() && confirmLive())
        return true;
    logLine("capture", "the device cannot deliver " + std::to_string(mode.width) + " x " +
                           std::to_string(mode.height) + " " + mode.format + "; the picture goes on as it was");
    mode_ = previous;
    restoreLive();
    return false;
}

}  // namespace tarvelo
