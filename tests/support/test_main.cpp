#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// Every test program runs with a QApplication on the offscreen platform, so tests can make
// widgets and use Qt's event loop.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
