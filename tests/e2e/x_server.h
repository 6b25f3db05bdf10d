#pragma once

// A private X server (Xvfb) for the tests that run the program as it runs on a desktop.

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRgb>
#include <QString>
#include <optional>
#include <string>

#include "support/wait.h"

namespace testsupport {

// A private X server on a free display, ended when this goes.
class XServer {
public:
    explicit XServer(const QString& screenSize = QStringLiteral("1280x800x24")) {
        // Xvfb writes the display number it chose to the descriptor given by -displayfd
        // (standard output here) once it accepts clients.
        process_.start(
            QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
             QStringLiteral("0"), screenSize, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!process_.waitForStarted(10000)) {
            return;
        }
        QByteArray out;
        testsupport::WaitUntil(
            [&] {
                process_.waitForReadyRead(100);
                out += process_.readAllStandardOutput();
                return out.contains('\n') || process_.state() == QProcess::NotRunning;
            },
            20000);
        bool ok = false;
        const int number = out.trimmed().toInt(&ok);
        if (ok) {
            display_ = QStringLiteral(":%1").arg(number);
        }
    }
    ~XServer() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    const std::optional<QString>& display() const { return display_; }

    // The whole screen; a null image when it cannot be had.
    QImage Screenshot() const {
        QProcess import;
        import.start(QStringLiteral("import"),
                     {QStringLiteral("-display"), *display_, QStringLiteral("-window"),
                      QStringLiteral("root"), QStringLiteral("png:-")});
        if (!import.waitForFinished(20000) || import.exitCode() != 0) {
            return {};
        }
        return QImage::fromData(import.readAllStandardOutput(), "PNG");
    }

private:
    QProcess process_;
    std::optional<QString> display_;
};

// The environment the program runs in on display `display`, with `home` as its home: no
// Wayland, no language or folder settings of the user's, the xcb platform and the trace on.
inline QProcessEnvironment DesktopEnvironment(const std::string& home, const QString& display) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR", "LC_ALL",
                             "LC_MESSAGES", "LANG", "LANGUAGE"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(home));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(home));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("microscope.trace.debug=true"));
    // Under AddressSanitizer: libxkbcommon-x11 gives strndup names that have no NUL within
    // their buffer, which strict string checks read past; strndup itself stops at the length
    // it is given.
    const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    if (!sanitizer.isEmpty()) {
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           sanitizer + QStringLiteral(":strict_string_checks=0"));
    }
    return environment;
}

// Pixels of the simulated specimen on `screen`: the pale pink of the stained slide, counted
// on every other pixel of every other row.
inline int SpecimenPixels(const QImage& screen) {
    int count = 0;
    for (int y = 0; y < screen.height(); y += 2) {
        for (int x = 0; x < screen.width(); x += 2) {
            const QRgb pixel = screen.pixel(x, y);
            if (qRed(pixel) > 190 && qBlue(pixel) > 170 && qGreen(pixel) > 150 &&
                qRed(pixel) > qGreen(pixel) + 8) {
                ++count;
            }
        }
    }
    return count;
}

}  // namespace testsupport
