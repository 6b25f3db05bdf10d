#include "app/debug_trace.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>

Q_LOGGING_CATEGORY(lcTrace, "microscope.trace", QtInfoMsg)

namespace {
constexpr std::size_t kTraceBufferBytes = 512;
std::atomic<TraceRecorder*> activeRecorder{nullptr};
std::mutex recorderSwap;  // held while a line is handed to the recorder or it is removed
}  // namespace

void RecordTraceLine(const char* text) {
    std::lock_guard<std::mutex> lock(recorderSwap);
    if (TraceRecorder* recorder = activeRecorder.load()) {
        recorder->Add(text);
    }
}

void DebugTrace(int level, const char* format, ...) {
    if (level > kTraceThreshold) {
        return;
    }
    char buffer[kTraceBufferBytes] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);

    if (activeRecorder.load() != nullptr) {
        RecordTraceLine(buffer);
    }
    if (lcTrace().isDebugEnabled()) {
        // The texts carry their own line ends, the logging backend adds one.
        std::string_view text(buffer);
        if (!text.empty() && text.back() == '\n') {
            text.remove_suffix(1);
        }
        qCDebug(lcTrace, "%.*s", static_cast<int>(text.size()), text.data());
    }
}

TraceRecorder::TraceRecorder() {
    std::lock_guard<std::mutex> lock(recorderSwap);
    activeRecorder.store(this);
}

TraceRecorder::~TraceRecorder() {
    std::lock_guard<std::mutex> lock(recorderSwap);
    activeRecorder.store(nullptr);
}

void TraceRecorder::Add(const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(text);
}

std::vector<std::string> TraceRecorder::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool TraceRecorder::Contains(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}
