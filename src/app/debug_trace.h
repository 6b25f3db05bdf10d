#pragma once

#include <QLoggingCategory>
#include <mutex>
#include <string>
#include <vector>

// The program's diagnostic trace. Every line goes to the logging category
// "microscope.trace" at debug level, which is off unless switched on, for example with
//   QT_LOGGING_RULES="microscope.trace.debug=true" digital-microscope
Q_DECLARE_LOGGING_CATEGORY(lcTrace)

// Lines whose level is above this are dropped.
inline constexpr int kTraceThreshold = 0;

// Formats `format` printf-style into 512 bytes (longer text is cut to 511) and writes it
// when `level` is not above kTraceThreshold. Any thread; never blocks for long.
void DebugTrace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Collects every trace line written while it lives, from any thread, whether or not the
// category is switched on. Meant for tests; install one at a time.
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;

private:
    friend void RecordTraceLine(const char* text);
    void Add(const char* text);

    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};
