#include "output/mail_handoff.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "output/bmp_file.h"
#include "output/jpeg_codec.h"
#include "platform/regular_files.h"

namespace {

constexpr const char* kFolderPattern = "/digital-microscope-mail-XXXXXX";

// An absolute path from the environment variable `name`, or "".
std::string AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// Where the private folder may go, best first.
std::vector<std::string> FolderBases() {
    std::vector<std::string> bases;
    if (std::string runtime = AbsoluteFromEnvironment("XDG_RUNTIME_DIR"); !runtime.empty()) {
        bases.push_back(std::move(runtime));
    }
    std::string cache = AbsoluteFromEnvironment("XDG_CACHE_HOME");
    if (cache.empty()) {
        if (const std::string home = AbsoluteFromEnvironment("HOME"); !home.empty()) {
            cache = home + "/.cache";
        }
    }
    if (!cache.empty()) {
        bases.push_back(std::move(cache));
    }
    bases.emplace_back("/tmp");
    return bases;
}

std::string WithReason(const char* text, const std::string& why) {
    return std::string(text) + "\n" + why;
}

// Deletes `process` from the event loop, whichever loop runs then: a deleteLater() inside a
// modal loop that ends meanwhile could wait for the next one.
void DeleteSoon(QProcess* process) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [process] { delete process; }, Qt::QueuedConnection);
}

std::string SecondsText(std::chrono::milliseconds timeout) {
    return std::to_string((timeout.count() + 999) / 1000);
}

}  // namespace

MailAttachments::~MailAttachments() {
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

IoResult MailAttachments::MakeFolder() {
    std::error_code error;
    if (!folder_.empty() && std::filesystem::is_directory(folder_, error)) {
        return {};
    }
    folder_.clear();
    int lastError = ENOENT;
    for (const std::string& base : FolderBases()) {
        if (const int made = platform::MakeFolderPath(base); made != 0) {
            lastError = made;
            continue;
        }
        std::string pattern = base + kFolderPattern;
        if (::mkdtemp(pattern.data()) != nullptr) {
            folder_ = std::move(pattern);
            return {};
        }
        lastError = errno;
    }
    return IoResult(lastError, WithReason(kMailFolderFail, platform::FileErrorText(lastError)));
}

IoResultOf<std::string> MailAttachments::Prepare(const std::string& selected) {
    if (!folder_.empty()) {
        ::unlink((folder_ + "/" + kMailPictureName).c_str());
    }
    const std::size_t dot = selected.rfind('.');
    if (dot == std::string::npos || selected.compare(dot + 1, std::string::npos, "bmp") != 0) {
        return selected;
    }
    if (IoResult made = MakeFolder(); !made) {
        return made;
    }
    std::string picture = folder_ + "/" + kMailPictureName;
    const IoResult converted = BitmapFileToJpeg(selected, picture);
    if (converted) {
        return picture;
    }
    const int error = converted.error();
    if (converted.detail().empty()) {  // the bitmap file was not read
        return IoResult(error, WithReason(kMailImageFail, BitmapFileErrorText(error)));
    }
    const bool systemWords = converted.detail().starts_with(kCannotOpen) || error == EFBIG;
    return IoResult(error,
                    WithReason(kMailCompressFail,
                               systemWords ? platform::FileErrorText(error) : converted.detail()));
}

MailOutcome MailOutcomeOfExit(bool crashed, int exitStatus) {
    if (crashed) {
        return {MailStatus::Failed, "xdg-email stopped unexpectedly"};
    }
    switch (exitStatus) {
        case 0:
            return {MailStatus::Complete, {}};
        case 1:
            return {MailStatus::Failed, "xdg-email did not understand its command line"};
        case 2:
            return {MailStatus::Failed, platform::FileErrorText(ENOENT)};
        case 3:
            return {MailStatus::NoProgram, {}};
        case 4:
            return {MailStatus::Failed, "the mail program could not be started"};
        case 5:
            return {MailStatus::Failed, platform::FileErrorText(EACCES)};
        default:
            return {MailStatus::Failed,
                    "xdg-email ended with status " + std::to_string(exitStatus)};
    }
}

void StartMailHandOff(const std::string& attachment, QObject* context,
                      std::function<void(const MailOutcome&)> done,
                      std::chrono::milliseconds timeout) {
    // The outcome goes out once: whichever of the end, the failed start and the timeout
    // comes first.
    struct Report {
        QPointer<QObject> context;
        std::function<void(const MailOutcome&)> done;
        bool sent = false;
        void operator()(const MailOutcome& outcome) {
            if (std::exchange(sent, true) || !context) {
                return;
            }
            done(outcome);
        }
    };
    auto report = std::make_shared<Report>(Report{context, std::move(done)});

    // Not owned by the caller: it may outlive the wait, and then must not be killed.
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, report](int exitStatus, QProcess::ExitStatus how) {
                         (*report)(MailOutcomeOfExit(how == QProcess::CrashExit, exitStatus));
                         DeleteSoon(process);
                     });
    // Queued: a program that is not there fails inside start(), and the caller hears of it
    // only after this returned.
    QObject::connect(
        process, &QProcess::errorOccurred, process,
        [process, report](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                (*report)({MailStatus::NotInstalled, {}});
                DeleteSoon(process);
            }
        },
        Qt::QueuedConnection);
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, process, [report, timeout] {
        (*report)({MailStatus::Failed,
                   "no answer from xdg-email within " + SecondsText(timeout) + " seconds"});
    });
    timer->start(timeout);
    process->start(QStringLiteral("xdg-email"),
                   {QStringLiteral("--attach"), QFile::decodeName(attachment.c_str())});
}
