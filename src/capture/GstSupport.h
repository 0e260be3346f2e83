#pragma once
// Ownership of GStreamer objects, and its one-time start.

#include <gst/gst.h>
#include <memory>

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

// Initialises GStreamer once per process; false when it cannot start.
bool EnsureGstreamer();

}  // namespace tarvelo
