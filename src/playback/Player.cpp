#include "playback/Player.h"


#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
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

}  // namespace

Player::Player() = default;

Player::~Player()
{
    close();
}

void Player::open(const QString& file)
{
    close();
    if (!EnsureGstreamer())
        throw PlayerError("GStreamer cannot start");
    GstElement* made = gst_element_factory_make("playbin", nullptr);
    if (!made)
        throw PlayerError("GStreamer has no playbin");
    GstElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(made)));
    GstElement* sink = gst_parse_bin_from_description(
        "videoconvert ! video/x-raw,format=BGRx ! appsink name=pictures sync=true max-buffers=2 drop=true "
        "emit-signals=true",
        TRUE, nullptr);
    GstElementPtr pictures(gst_bin_get_by_name(GST_BIN(sink), "pictures"));
    g_signal_connect(pictures.get(), "new-sample", G_CALLBACK(&Player::newSample), this);
    GstElement* silent = gst_element_factory_make("fakesink", nullptr);
    QString uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString(QUrl::FullyEncoded);
    g_object_set(pipeline.get(), "uri", uri.toUtf8().constData(), "video-sink", sink, "audio-sink", silent, nullptr);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
        gst_element_get_state(pipeline.get(), nullptr, nullptr, StateWait) != GST_STATE_CHANGE_SUCCESS) {
        std::string why = errorOn(pipeline.get());
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        throw PlayerError(why);  // the window's error report shows and logs it
    }
    gint64 length = 0;
    gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &length);
    lengthMs_ = length > 0 ? length / GST_MSECOND : 0;
    pipeline_ = std::move(pipeline);
}

// Waits for the streaming threads to leave the picture handler, so none
// runs once the file is closed.
void Player::close()
{
    if (!pipeline_)
        return;
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    while (inCallback_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
    pipeline_.reset();
    lengthMs_ = 0;
}

GstFlowReturn Player::newSample(GstElement* sink, gpointer data)
{
    auto* self = static_cast<Player*>(data);
    self->inCallback_.fetch_add(1, std::memory_order_acquire);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(sink, "pull-sample", &sample);
    if (MappedSample mapped(sample); mapped.valid() && self->onPicture)
        self->onPicture(mapped.copy());
    if (sample)
        gst_sample_unref(sample);
    self->inCallback_.fetch_sub(1, std::memory_order_release);
    return GST_FLOW_OK;
}

void Player::waitForState(GstState state)
{
    gst_element_set_state(pipeline_.get(), state);
    gst_element_get_state(pipeline_.get(), nullptr, nullptr, StateWait);
}

void Player::play()
{
    if (pipeline_)
        waitForState(GST_STATE_PLAYING);
}

void Player::pause()
{
    if (pipeline_)
        waitForState(GST_STATE_PAUSED);
}

// The recording stops where it is, as a media player's stop does.
void Player::stop()
{
    pause();
}

void Player::seekTo(int64_t ms)
{
    if (!pipeline_)
        return;
    ms = std::clamp<int64_t>(ms, 0, lengthMs_);
    gst_element_seek_simple(pipeline_.get(), GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                            ms * GST_MSECOND);
    gst_element_get_state(pipeline_.get(), nullptr, nullptr, StateWait);
}

void Player::next()
{
    seekTo(lengthMs_);
}

void Player::previous()
{
    seekTo(0);
}

void Player::step()
{
    seekTo(positionMs() + lengthMs_ / 10);
}

void Player::back()
{
    seekTo(positionMs() - lengthMs_ / 10);
}

int64_t Player::positionMs() const
{
    gint64 position = 0;
    if (!pipeline_ || !gst_element_query_position(pipeline_.get(), GST_FORMAT_TIME, &position))
        return 0;
    return position / GST_MSECOND;
}

bool Player::playing() const
{
    GstState state = GST_STATE_NULL;
    if (pipeline_)
        gst_element_get_state(pipeline_.get(), &state, nullptr, 0);
    return state == GST_STATE_PLAYING;
}

}  // namespace tarvelo
