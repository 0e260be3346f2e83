#pragma once
// Ownership of GStreamer objects, and its one-time start.

#include <QImage>
#include <gst/gst.h>
#include <atomic>
#include <memory>
#include <thread>

namespace tarvelo {

struct GstObjectUnref {
    void operator()(gpointer object) const
    {
        if (object)
            gst_object_unref(object);
    }
};
struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};

using GstElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using GstBusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using GstPadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;

// Counts a streaming thread inside one of our callbacks. Whoever frees
// what the callback uses waits for the count to reach 0 after the pipeline
// stopped: GStreamer joins its threads in a way ThreadSanitizer cannot see.
class InCallback {
public:
    explicit InCallback(std::atomic<int>& count) : count_(count) { count_.fetch_add(1, std::memory_order_acquire); }
    ~InCallback() { count_.fetch_sub(1, std::memory_order_release); }
    InCallback(const InCallback&) = delete;
    InCallback& operator=(const InCallback&) = delete;

    static void waitUntilNone(const std::atomic<int>& count)
    {
        while (count.load(std::memory_order_acquire) != 0)
            std::this_thread::yield();
    }

private:
    std::atomic<int>& count_;
};

// Initialises GStreamer once per process; false when it cannot start.
bool EnsureGstreamer();

// The BGRx picture of an appsink sample, mapped for reading while this
// lives. The sample stays the caller's.
class MappedSample {
public:
    explicit MappedSample(GstSample* sample);
    ~MappedSample();
    MappedSample(const MappedSample&) = delete;
    MappedSample& operator=(const MappedSample&) = delete;

    bool valid() const { return mapped_; }
    QImage copy() const;  // the picture, owning its pixels
    uint8_t* data() const { return map_.data; }
    uint32_t size() const { return uint32_t(map_.size); }
    GstClockTime presentationTime() const { return buffer_ ? GST_BUFFER_PTS(buffer_) : GST_CLOCK_TIME_NONE; }

private:
    GstBuffer* buffer_ = nullptr;
    GstMapInfo map_{};
    int width_ = 0;
    int height_ = 0;
    bool mapped_ = false;
};

}  // namespace tarvelo
