#include "playback/Player.h"

#include "media/GstSupport.h"
#include "playback/SoundOutput.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <gst/pbutils/pbutils.h>
#include <mutex>
#include <thread>

namespace tarvelo {
namespace {

constexpr GstClockTime StateWait = 5 * GST_SECOND;

std::string errorOn(GstElement* pipeline)
{
    GstBusPtr bus(gst_element_get_bus(pipeline));
    GstMessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message)
        return "the file cannot be played";
    GError* error = nullptr;
    gst_message_parse_error(message.get(), &error, nullptr);
    std::string text = error ? error->message : "the file cannot be played";
    if (error)
        g_error_free(error);
    return text;
}

// The FourCC of a codec GStreamer does not know, which its AVI reader keeps
// in the stream's caps; empty for any other.
std::string unknownFourcc(const GstStructure* missing)
{
    GstCaps* detail = nullptr;
    if (!gst_structure_get(missing, "detail", GST_TYPE_CAPS, &detail, nullptr) || !detail)
        return {};
    GstCapsPtr caps(detail);  // a reference of our own
    gint fourcc = 0;
    if (gst_caps_get_size(detail) == 0 || !gst_structure_get_int(gst_caps_get_structure(detail, 0), "fourcc", &fourcc))
        return {};
    std::string code;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = char((guint32(fourcc) >> shift) & 0xFF);
        code += g_ascii_isprint(c) ? c : '?';
    }
    return " (FourCC " + code + ")";
}

// Which stream found no decoder, in the media system's words ("MPEG-4 Part
// 2 (XviD) decoder" and the like); empty when none is missing.
std::string missingDecoder(GstElement* pipeline)
{
    GstBusPtr bus(gst_element_get_bus(pipeline));
    std::string missing;
    while (GstMessagePtr message{gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ELEMENT)}) {
        if (!missing.empty() || !gst_is_missing_plugin_message(message.get()))
            continue;
        if (gchar* description = gst_missing_plugin_message_get_description(message.get())) {
            missing = description + unknownFourcc(gst_message_get_structure(message.get()));
            g_free(description);
        }
    }
    return missing;
}

// A file whose video nothing here decodes would preroll on its sound
// alone and show a black panel: it is refused, naming the codec.
std::string videoProblem(GstElement* pipeline)
{
    gint videoStreams = 0;
    g_object_get(pipeline, "n-video", &videoStreams, nullptr);
    if (videoStreams > 0)
        return {};
    std::string missing = missingDecoder(pipeline);
    return missing.empty() ? "the file holds no video" : "cannot play the video: " + missing + " is missing";
}

// GStreamer's own JPEG decoder (1.22) turns a 4:4:4 Motion-JPEG, what
// ffmpeg writes from RGB sources, into a smeared picture of wrong colours;
// libav's decoder gets every sampling right, so the player's decoding bins
// try it first. The registry's ranks stay as they are: the host and other
// plug-ins in this process decode as they chose.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS
GValueArray* libavMotionJpegFirst(GstElement*, GstPad*, GstCaps*, GValueArray* factories, gpointer)
{
    guint libav = factories->n_values;
    for (guint i = 0; i < factories->n_values; ++i) {
        auto* factory = GST_PLUGIN_FEATURE(g_value_get_object(g_value_array_get_nth(factories, i)));
        if (g_strcmp0(gst_plugin_feature_get_name(factory), "avdec_mjpeg") == 0)
            libav = i;
    }
    if (libav == 0 || libav == factories->n_values)
        return nullptr;  // the order stands
    GValueArray* sorted = g_value_array_new(factories->n_values);
    g_value_array_append(sorted, g_value_array_get_nth(factories, libav));
    for (guint i = 0; i < factories->n_values; ++i)
        if (i != libav)
            g_value_array_append(sorted, g_value_array_get_nth(factories, i));
    return sorted;
}
G_GNUC_END_IGNORE_DEPRECATIONS

void sortDecodersOf(GstElement*, GstElement* element, gpointer)
{
    if (g_signal_lookup("autoplug-sort", G_OBJECT_TYPE(element)) != 0)
        g_signal_connect(element, "autoplug-sort", G_CALLBACK(libavMotionJpegFirst), nullptr);
}

}  // namespace

Player::Player() = default;

Player::~Player()
{
    close();
}

// Playbin's own conversions are left out (native video): the sink below
// converts, after mending what the AVI reader may hand over.
constexpr guint PlayVideoAndSoundOnly = 0x1 | 0x2 | 0x40;

// GStreamer's AVI reader gives a bottom-up RGB file that carries an aspect
// block a negative pixel aspect, which no converter accepts. The panel
// draws pixels as they are, so the aspect is made square first.
constexpr const char* PictureSink =
    "capssetter caps=video/x-raw,pixel-aspect-ratio=1/1 ! videoconvert ! video/x-raw,format=BGRx ! "
    "appsink name=pictures sync=true max-buffers=2 drop=true emit-signals=true";

struct Player::Pipeline {
    GstElementPtr element;
};

struct Player::Callbacks {
    static GstElementPtr makePipeline(Player* self, const QString& file);
    static GstFlowReturn newSample(GstElement* sink, gpointer self);
    static GstFlowReturn newPreroll(GstElement* sink, gpointer self);
    static GstFlowReturn deliver(GstElement* sink, Player* self, const char* pull);
};

namespace {

void waitForState(GstElement* pipeline, GstState state)
{
    gst_element_set_state(pipeline, state);
    gst_element_get_state(pipeline, nullptr, nullptr, StateWait);
}

}  // namespace

GstElementPtr Player::Callbacks::makePipeline(Player* self, const QString& file)
{
    GstElement* made = gst_element_factory_make("playbin", nullptr);
    GError* error = nullptr;
    GstElement* sink = made ? gst_parse_bin_from_description(PictureSink, TRUE, &error) : nullptr;
    if (!sink) {
        std::string why = error ? error->message : "GStreamer has no playbin";
        g_clear_error(&error);
        if (made)
            gst_object_unref(gst_object_ref_sink(made));
        throw PlayerError(why);
    }
    GstElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(made)));
    g_signal_connect(pipeline.get(), "element-setup", G_CALLBACK(sortDecodersOf), nullptr);
    GstElementPtr pictures(gst_bin_get_by_name(GST_BIN(sink), "pictures"));
    g_signal_connect(pictures.get(), "new-sample", G_CALLBACK(&Callbacks::newSample), self);
    g_signal_connect(pictures.get(), "new-preroll", G_CALLBACK(&Callbacks::newPreroll), self);
    GstElement* sound = MakeSoundOutput();
    QString uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString(QUrl::FullyEncoded);
    g_object_set(pipeline.get(), "uri", uri.toUtf8().constData(), "video-sink", sink, "audio-sink", sound, "flags",
                 PlayVideoAndSoundOnly, nullptr);
    return pipeline;
}

void Player::open(const QString& file)
{
    close();
    if (!EnsureGstreamer())
        throw PlayerError("GStreamer cannot start");
    gst_pb_utils_init();  // names a missing decoder
    GstElementPtr pipeline = Callbacks::makePipeline(this, file);
    std::string why;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
        gst_element_get_state(pipeline.get(), nullptr, nullptr, StateWait) != GST_STATE_CHANGE_SUCCESS)
        why = errorOn(pipeline.get());
    else
        why = videoProblem(pipeline.get());
    if (!why.empty()) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        throw PlayerError(why);  // the window's error report shows and logs it
    }
    gint64 length = 0;
    gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &length);
    lengthMs_ = length > 0 ? length / GST_MSECOND : 0;
    pipeline_ = std::make_unique<Pipeline>(Pipeline{std::move(pipeline)});
}

// Waits for the streaming threads to leave the picture handler, so none
// runs once the file is closed.
void Player::close()
{
    if (!pipeline_)
        return;
    gst_element_set_state(pipeline_->element.get(), GST_STATE_NULL);
    while (inCallback_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
    pipeline_.reset();
    lengthMs_ = 0;
}

GstFlowReturn Player::Callbacks::newSample(GstElement* sink, gpointer data)
{
    return deliver(sink, static_cast<Player*>(data), "pull-sample");
}

// The picture a pause or a move while paused stops at: the first one of a
// file just opened, and the one at each new position.
GstFlowReturn Player::Callbacks::newPreroll(GstElement* sink, gpointer data)
{
    return deliver(sink, static_cast<Player*>(data), "pull-preroll");
}

GstFlowReturn Player::Callbacks::deliver(GstElement* sink, Player* self, const char* pull)
{
    self->inCallback_.fetch_add(1, std::memory_order_acquire);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(sink, pull, &sample);
    if (MappedSample mapped(sample); mapped.valid() && self->onPicture)
        self->onPicture(mapped.copy());
    if (sample)
        gst_sample_unref(sample);
    self->inCallback_.fetch_sub(1, std::memory_order_release);
    return GST_FLOW_OK;
}

void Player::play()
{
    if (pipeline_)
        waitForState(pipeline_->element.get(), GST_STATE_PLAYING);
}

void Player::pause()
{
    if (pipeline_)
        waitForState(pipeline_->element.get(), GST_STATE_PAUSED);
}

void Player::seekTo(int64_t ms)
{
    if (!pipeline_)
        return;
    ms = std::clamp<int64_t>(ms, 0, lengthMs_);
    gst_element_seek_simple(pipeline_->element.get(), GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                            ms * GST_MSECOND);
    gst_element_get_state(pipeline_->element.get(), nullptr, nullptr, StateWait);
}

int64_t Player::positionMs() const
{
    gint64 position = 0;
    if (!pipeline_ || !gst_element_query_position(pipeline_->element.get(), GST_FORMAT_TIME, &position))
        return 0;
    return position / GST_MSECOND;
}

bool Player::playing() const
{
    GstState state = GST_STATE_NULL;
    if (pipeline_)
        gst_element_get_state(pipeline_->element.get(), &state, nullptr, 0);
    return state == GST_STATE_PLAYING;
}

}  // namespace tarvelo
