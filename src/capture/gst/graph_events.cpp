#include "capture/gst/graph_events.h"

#include "app/debug_trace.h"
#include "capture/gst/gst_handles.h"
#include "capture/gst/gst_logging.h"

namespace gstcapture {

void GraphEventQueue::Post(long code, std::intptr_t param1, std::intptr_t param2) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (events_.size() >= kMaxPending) {
            events_.pop_front();
        }
        events_.push_back(GraphEvent{code, param1, param2});
    }
    if (EngineMessageTarget* notify = target_.load()) {
        notify->Post(EngineMessage::GraphEvent, 0);
    }
}

bool GraphEventQueue::Pop(GraphEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_.empty()) {
        return false;
    }
    event = events_.front();
    events_.pop_front();
    return true;
}

void GraphEventQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

std::size_t GraphEventQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
}

GstBusSyncReply GraphEventQueue::OnBusMessage(GstBus*, GstMessage* message, gpointer queue) {
    auto* self = static_cast<GraphEventQueue*>(queue);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
            self->OnError(message);
            break;
        case GST_MESSAGE_EOS:
            self->Post(kEventComplete, 0, 0);
            break;
        default:
            break;
    }
    return GST_BUS_DROP;
}

namespace {

// Errors that mean the device itself is gone or cannot be reached any more.
bool IsDeviceLoss(const GError* error) {
    if (error->domain != GST_RESOURCE_ERROR) {
        return false;
    }
    switch (error->code) {
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_READ:
        case GST_RESOURCE_ERROR_BUSY:
            return true;
        default:
            return false;
    }
}

}  // namespace

void GraphEventQueue::OnError(GstMessage* message) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &rawError, &rawDebug);
    ErrorPtr error(rawError);
    GCharPtr debug(rawDebug);
    const char* source = GST_MESSAGE_SRC_NAME(message);
    DebugTrace(0, "Graph error from %s: %s\n", source != nullptr ? source : "?",
               error ? error->message : "unknown");
    qCWarning(lcCaptureGst, "Graph error from %s: %s (%s)", source != nullptr ? source : "?",
              error ? error->message : "unknown", debug ? debug.get() : "no details");
    if (error && IsDeviceLoss(error.get())) {
        Post(kEventDeviceLost, 0, 0);
    } else {
        Post(kEventErrorAbort, static_cast<std::intptr_t>(hr::kFail), 0);
    }
}

}  // namespace gstcapture
