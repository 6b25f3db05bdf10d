#include "app/debug_trace.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(DebugTrace, FormatsLikePrintf) {
    TraceRecorder recorder;
    DebugTrace(0, "Error %x: Cannot add vidcap to filtergraph\n", 0x80040217u);
    DebugTrace(0, "Sample Format(%d,%d)\n", 640, 480);
    DebugTrace(0, "Simple Connect(%08X:%08X)\n", 0xABCu, 0x12345678u);
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{"Error 80040217: Cannot add vidcap to filtergraph\n",
                                        "Sample Format(640,480)\n",
                                        "Simple Connect(00000ABC:12345678)\n"}));
}

TEST(DebugTrace, LevelsAboveTheThresholdAreDropped) {
    TraceRecorder recorder;
    DebugTrace(1, "too detailed\n");
    DebugTrace(-1, "urgent\n");
    EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"urgent\n"});
}

TEST(DebugTrace, LongTextIsCutTo511Bytes) {
    TraceRecorder recorder;
    const std::string longText(2000, 'x');
    DebugTrace(0, "%s\n", longText.c_str());
    ASSERT_EQ(recorder.Lines().size(), 1u);
    EXPECT_EQ(recorder.Lines()[0], std::string(511, 'x'));
}

TEST(DebugTrace, LinesFromManyThreadsAreAllKept) {
    TraceRecorder recorder;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i) {
                DebugTrace(0, "thread %d line %d\n", t, i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(recorder.Lines().size(), 1000u);
    EXPECT_TRUE(recorder.Contains("thread 3 line 249\n"));
}

// The trace reaches Qt's logging as debug messages of the category "microscope.trace".
std::vector<std::string> loggedMessages;
QtMessageHandler previousHandler = nullptr;

void CaptureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtDebugMsg && context.category == std::string_view("microscope.trace")) {
        loggedMessages.push_back(message.toStdString());
    }
}

TEST(DebugTrace, WritesThroughTheLoggingCategoryWhenSwitchedOn) {
    loggedMessages.clear();
    previousHandler = qInstallMessageHandler(CaptureMessage);
    DebugTrace(0, "quiet by default\n");
    QLoggingCategory::setFilterRules(QStringLiteral("microscope.trace.debug=true"));
    DebugTrace(0, "Start capture1 (%08X)\n", 0u);
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previousHandler);
    EXPECT_EQ(loggedMessages, std::vector<std::string>{"Start capture1 (00000000)"});
}

}  // namespace
