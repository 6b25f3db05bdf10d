#include "app/termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Shared with the handler: where it reports, and what it last saw. Lock-free atomics may be
// used in a signal handler.
std::atomic<int> writeFd{-1};
std::atomic<int> recordedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct Installed {
    bool active = false;
    struct sigaction previous = {};
};
Installed installed[std::size(kSignals)];

extern "C" void OnTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    recordedSignal = signalNumber;
    const char byte = static_cast<char>(signalNumber);
    if (const int fd = writeFd.load(); fd >= 0) {
        // Nothing can be done here about a failed write: the signal is recorded either way.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

// Handles every signal of kSignals that is not ignored.
void InstallHandlers() {
    recordedSignal = 0;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current = {};
        if (sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action = {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        installed[i].active = sigaction(kSignals[i], &action, &installed[i].previous) == 0;
    }
}

void RestoreHandlers() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (installed[i].active) {
            sigaction(kSignals[i], &installed[i].previous, nullptr);
            installed[i].active = false;
        }
    }
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    writeFd = fds_[1];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::Drain);
    InstallHandlers();
}

TerminationSignals::~TerminationSignals() {
    if (fds_[0] < 0) {
        return;
    }
    RestoreHandlers();
    writeFd = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TerminationSignals::Drain() {
    char bytes[16];
    bool received = false;
    ssize_t got = 0;
    while ((got = ::read(fds_[0], bytes, sizeof bytes)) > 0) {
        received = true;
        lastSignal_ = static_cast<unsigned char>(bytes[got - 1]);
    }
    if (received && onSignal_) {
        onSignal_();
    }
}

TerminationFlag::TerminationFlag() {
    InstallHandlers();
}

TerminationFlag::~TerminationFlag() {
    RestoreHandlers();
}

int TerminationFlag::lastSignal() const {
    return recordedSignal;
}

void IgnoreFileSizeLimitSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}
