#include "capture/GstSession.h"

#include "capture/FormatDialog.h"

#include <QFile>
#include <cstdio>

namespace tarvelo {
namespace {

using namespace std::chrono;

constexpr uint32_t VideoFlags = VHDR_DONE | VHDR_KEYFRAME;

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

}  // namespace

GstSession::GstSession(SourceSpec source, FrameSink& sink)
    : source_(std::move(source)), sink_(sink), mode_(source_.initial), busThread_([this] { watchBus(); })
{
}

GstSession::~GstSession()
{
    busRunning_ = false;
    busThread_.join();
    stopPipeline();
}

bool GstSession::start()
{
    if (!EnsureGstreamer())
        return false;
    return play(videoChain() + " ! " + LiveBranch, false);
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

bool GstSession::play(const std::string& description, bool recording)
{
    std::lock_guard lock(pipelineMutex_);
    stopPipeline();
    GError* error = nullptr;
    GstElementPtr pipeline(gst_parse_launch(description.c_str(), &error));
    if (error) {
        std::fprintf(stderr, "tarvelo capture: %s\n", error->message);
        g_error_free(error);
        return false;
    }
    if (GstElementPtr live = byName(pipeline.get(), "live"))
        g_signal_connect(live.get(), "new-sample", G_CALLBACK(&GstSession::newSample), this);
    pipeline_ = std::move(pipeline);
    if (!recording && gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        stopPipeline();
        return false;
    }
    return true;
}

void GstSession::stopPipeline()
{
    std::lock_guard lock(pipelineMutex_);
    if (!pipeline_)
        return;
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    pipeline_.reset();
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
        std::lock_guard lock(frameMutex_);
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
    {
        std::lock_guard lock(pipelineMutex_);
        if (!pipeline_)
            return false;  // the source is gone: its last frame is no grab
    }
    std::unique_lock lock(frameMutex_);
    uint64_t seen = frameCount_;
    // A fresh frame, not one from before the request.
    frameArrived_.wait_for(lock, seconds(2), [&] { return frameCount_ > seen; });
    if (newest_.isNull())
        return false;
    frame = newest_;
    return true;
}

GstFlowReturn GstSession::newSample(GstElement* appsink, gpointer self)
{
    static_cast<GstSession*>(self)->onSample(appsink);
    return GST_FLOW_OK;
}

void GstSession::onSample(GstElement* appsink)
{
    GstSample* sample = nullptr;
    g_signal_emit_by_name(appsink, "pull-sample", &sample);
    if (!sample)
        return;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int width = 0, height = 0;
    gst_structure_get_int(s, "width", &width);
    gst_structure_get_int(s, "height", &height);
    GstMapInfo map;
    if (buffer && width > 0 && height > 0 && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        int stride = int(map.size / size_t(height));
        QImage frame = QImage(map.data, width, height, stride, QImage::Format_RGB32).copy();
        VIDEOHDR header{map.data, uint32_t(map.size), uint32_t(map.size), milliseconds(GST_BUFFER_PTS(buffer)), 0,
                        VideoFlags};
        sink_.frameArrived(frame, &header);
        gst_buffer_unmap(buffer, &map);
        {
            std::lock_guard lock(frameMutex_);
            newest_ = std::move(frame);
            ++frameCount_;
        }
        frameArrived_.notify_all();
    }
    gst_sample_unref(sample);
}

bool GstSession::startRecording(const RecordingRequest& request)
{
    if (recording_)
        return false;
    std::lock_guard lock(pipelineMutex_);
    if (!play(recordingDescription(request), true))
        return false;
    if (GstElementPtr file = byName(pipeline_.get(), "file"))
        g_object_set(file.get(), "location", request.file.toLocal8Bit().constData(), nullptr);
    attachProbes(request);
    bytesPerSample_ = std::max<uint32_t>(request.audioFormat.nBlockAlign, 1);
    framesRecorded_ = 0;
    framesDroppedAtEnd_ = 0;
    samplesRecorded_ = 0;
    lastError_ = 0;
    recordingFile_ = request.file;
    recordingStart_ = steady_clock::now();
    hasDeadline_ = request.parms.fLimitEnabled && request.parms.wTimeLimit > 0;
    recordingDeadline_ = recordingStart_ + seconds(request.parms.wTimeLimit);
    recordingEnds_ = false;
    recording_ = true;
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        recording_ = false;
        lastError_ = IDS_CAP_FILE_OPEN_ERROR;
        sink_.statusChanged(IDS_CAP_FILE_OPEN_ERROR,
                            "Error: cannot open the capture file " + request.file.toStdString());
        start();
        return false;
    }
    sink_.statusChanged(IDS_CAP_BEGIN, "Capture Start");
    return true;
}

void GstSession::attachProbes(const RecordingRequest& request)
{
    auto video = [](GstPad*, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
        auto* self = static_cast<GstSession*>(data);
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
    if (GstElementPtr rate = byName(pipeline_.get(), "rate")) {
        GstPadPtr pad(gst_element_get_static_pad(rate.get(), "src"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, video, this, nullptr);
    }
    if (request.parms.fCaptureAudio) {
        if (GstElementPtr queue = byName(pipeline_.get(), "audq")) {
            GstPadPtr pad(gst_element_get_static_pad(queue.get(), "src"));
            gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, audio, this, nullptr);
        }
    }
}

bool GstSession::stopRecording()
{
    if (!recording_)
        return true;
    {
        std::lock_guard lock(pipelineMutex_);
        if (pipeline_ && !recordingEnds_.exchange(true))
            gst_element_send_event(pipeline_.get(), gst_event_new_eos());
    }
    std::unique_lock lock(endMutex_);
    if (!recordingEnded_.wait_for(lock, seconds(5), [&] { return !recording_; })) {
        lock.unlock();
        finishRecording(IDS_CAP_PIPELINE_ERROR, "Error: the recording did not finish in time");
    }
    return lastError_ == 0;
}

// Frames the source did not deliver in time, which the recording repeats
// to keep its frame rate.
uint32_t GstSession::framesDropped()
{
    std::lock_guard lock(pipelineMutex_);
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
    p.dropped = recording_ ? framesDropped() : framesDroppedAtEnd_.load();
    p.audioSamples = uint32_t(samplesRecorded_);
    p.lastError = lastError_;
    if (recording_)
        p.elapsedMs = uint32_t(duration_cast<std::chrono::milliseconds>(steady_clock::now() - recordingStart_).count());
    p.fileExists = !recordingFile_.isEmpty() && QFile::exists(recordingFile_);
    return p;
}

void GstSession::watchBus()
{
    while (busRunning_) {
        GstBusPtr bus;
        {
            std::lock_guard lock(pipelineMutex_);
            if (pipeline_)
                bus.reset(gst_element_get_bus(pipeline_.get()));
            if (recording_ && hasDeadline_ && steady_clock::now() >= recordingDeadline_ &&
                !recordingEnds_.exchange(true))
                gst_element_send_event(pipeline_.get(), gst_event_new_eos());
        }
        if (!bus) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        GstMessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), 20 * GST_MSECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (message)
            handle(message.get());
    }
}

void GstSession::handle(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        if (recording_)
            finishRecording(0, "Capture End");
        return;
    }
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = error ? error->message : "unknown error";
    bool inFile = GST_MESSAGE_SRC(message) && std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) == "file";
    bool inSource = error && error->domain == GST_RESOURCE_ERROR && !inFile;
    if (error)
        g_error_free(error);
    uint32_t code = inFile ? IDS_CAP_WRITEERROR : inSource ? IDS_CAP_VIDEO_SOURCE_LOST : IDS_CAP_PIPELINE_ERROR;
    if (recording_) {
        finishRecording(code, "Error: " + text);
        return;
    }
    lastError_ = code;
    sink_.statusChanged(int32_t(code), "Error: " + text);
    stopPipeline();
}

void GstSession::finishRecording(uint32_t error, const std::string& text)
{
    uint32_t elapsed = progress().elapsedMs;
    {
        std::lock_guard lock(pipelineMutex_);
        if (!recording_)
            return;
        lastError_ = error;
        framesDroppedAtEnd_ = framesDropped();
        stopPipeline();
        {
            // Whoever hears the status below finds the recording over.
            std::lock_guard endLock(endMutex_);
            recording_ = false;
        }
        char summary[96];
        std::snprintf(summary, sizeof summary, "Captured %u frames (%u dropped) %u.%03u sec.",
                      framesRecorded_.load(), framesDroppedAtEnd_.load(), elapsed / 1000, elapsed % 1000);
        sink_.statusChanged(IDS_CAP_STAT_VIDEOCURRENT, summary);
        sink_.statusChanged(error ? int32_t(error) : IDS_CAP_END, text);
        if (error != IDS_CAP_VIDEO_SOURCE_LOST)
            start();
    }
    recordingEnded_.notify_all();
}

bool GstSession::formatDialog(QWidget* parent)
{
    if (recording_ || source_.modes.empty())
        return false;
    FormatDialog dialog(source_.modes, mode_, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    mode_ = dialog.chosen();
    {
        std::lock_guard lock(frameMutex_);
        newest_ = QImage();
    }
    return start();
}

}  // namespace tarvelo
