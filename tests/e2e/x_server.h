#pragma once

// A private X server (Xvfb) for the tests that run the program as it runs on a desktop.

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QString>
#include <optional>

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

}  // namespace testsupport
