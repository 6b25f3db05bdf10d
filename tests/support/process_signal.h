#pragma once

class QProcess;

namespace testsupport {

// Sends `signalNumber` to the program `process` runs. Does nothing when it does not run: a
// process id of 0 would signal the test's own process group.
void SendSignal(const QProcess& process, int signalNumber);

}  // namespace testsupport
