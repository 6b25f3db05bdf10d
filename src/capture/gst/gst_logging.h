#pragma once

#include <QLoggingCategory>

// Diagnostics of the GStreamer backend that are not part of the program's trace: the
// debug text of a GStreamer error, a pipeline that refuses a state. Warnings are on; the
// rest with, for example, QT_LOGGING_RULES="microscope.capture.gst.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcCaptureGst)  // "microscope.capture.gst"
