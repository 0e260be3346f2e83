#include "capture/device/GstSession.h"

#include "framework/Log.h"

#include <QFile>
#include <cstdio>

namespace tarvelo {
namespace {

using namespace std::chrono;

constexpr uint32_t VideoFlags = VHDR_DONE | VHDR_KEYFRAME;
constexpr auto GrabWait = seconds(2);
constexpr auto RecordingEndWait = seconds(5);
constexpr auto NewModeWait = seconds(3);

std::string modeCaps(const VideoMode& mode, const std::string& frameRate)
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

std::string frameRateFraction(uint32_t microSecPerFrame)
{
    gint num = 15, den = 1;
    if (microSecPerFrame > 0)
        gst_util_double_to_fraction(1e6 / microSecPerFrame, &num, &den);
    return std::to_string(num) + "/" + std::to_string(den);
}

std::string audioCaps(const WAVEFORMATEX& f)
{
    return std::string("audio/x-raw,format=") + (f.wBitsPerSample == 16 ? "S16LE" : "U8") +
           ",rate=" + std::to_string(f.nSamplesPerSec) + ",channels=" + std::to_string(f.nChannels) +
           ",layout=interleaved";
}

const char* const LiveBranch =
    "videoconvert ! video/x-raw,format=BGRx ! appsink name=live sync=false max-buffers=2 drop=true emit-signals=true";

GstElementPtr byName(GstElement* pipeline, const char* name)
{
    return GstElementPtr(pipeline ? gst_bin_get_by_name(GST_BIN(pipeline), name) : nullptr);
}

uint32_t milliseconds(GstClockTime t)
{
    return GST_CLOCK_TIME_IS_VALID(t) ? uint32_t(t / GST_MSECOND) : 0;
}

steady_clock::rep ticks(steady_clock::time_point t)
{
    return t.time_since_epoch().count();
}

// Marks a streaming thread's stay inside the sink.

// GStreamer's own words for an error message, for the log.
std::string errorText(GstMessage* message)
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

}  // namespace

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
    GstElementPtr pipeline = build(videoChain() + " ! " + LiveBranch);
    return pipeline && launch(std::move(pipeline));
}

std::string GstSession::videoChain() const
{
    std::string chain = source_.video + " ! " + modeCaps(mode_, source_.frameRate);
    if (!source_.decorate.empty())
        chain += " ! " + source_.decorate;
    return chain;
}

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
