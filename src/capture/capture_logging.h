#pragma once

#include <QLoggingCategory>

// Diagnostics of the capture engine (discovery, graph, format) that are not part of the
// program's trace: DebugTrace lines keep their texts; this category carries what helps to
// find out why, such as the errno of a CapConfig.dat that cannot be written or the graph
// events drained. Warnings are on; the rest with, for example,
//   QT_LOGGING_RULES="microscope.capture.*.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcCaptureEngine)  // "microscope.capture.engine"
