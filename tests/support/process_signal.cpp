#include "support/process_signal.h"

#include <signal.h>

#include <QProcess>

namespace testsupport {

void SendSignal(const QProcess& process, int signalNumber) {
    const qint64 pid = process.processId();
    if (process.state() == QProcess::Running && pid > 0) {
        ::kill(static_cast<pid_t>(pid), signalNumber);
    }
}

}  // namespace testsupport
