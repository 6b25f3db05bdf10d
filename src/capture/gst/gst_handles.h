#pragma once

// Owning handles for GStreamer and GLib references, so that every reference taken is
// dropped on every path.

#include <gst/gst.h>

#include <memory>

namespace gstcapture {

struct GstObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) {
            gst_object_unref(object);
        }
    }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct GstSampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};

using ElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using CapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using SamplePtr = std::unique_ptr<GstSample, GstSampleUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

// Makes an element of `factory` and takes ownership of its floating reference; adding it to a
// bin later adds the bin's own reference. Null when the factory is not installed.
inline ElementPtr MakeElement(const char* factory, const char* name = nullptr) {
    GstElement* element = gst_element_factory_make(factory, name);
    if (element == nullptr) {
        return nullptr;
    }
    return ElementPtr(GST_ELEMENT(gst_object_ref_sink(element)));
}

// Initialises GStreamer for this process; safe to call from any thread, any number of times.
// False when GStreamer cannot start (the error is traced).
bool EnsureGstInitialized();

}  // namespace gstcapture
