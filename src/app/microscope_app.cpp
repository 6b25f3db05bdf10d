#include "app/microscope_app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstring>

#include "app/language_file.h"
#include "app/simulate_option.h"
#include "app/termination_signals.h"
#include "app/version.h"
#include "platform/standard_streams.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: %s [OPTION]...\n"
                 "Live picture, stills, recordings and measuring overlays for USB digital\n"
                 "microscopes.\n"
                 "\n"
                 "      --simulate[=KIND]  use a simulated device instead of the system's\n"
                 "                         devices; KIND is microscope (the default) or camera\n"
                 "  -h, --help             show this help and exit\n"
                 "      --version          show the version and exit\n"
                 "\n"
                 "Pictures and videos are stored under \"<Documents>/Microscope files\".\n"
                 "Qt's own options (for example -platform offscreen) are understood too.\n"
                 "DIGITAL_MICROSCOPE_SIMULATE=microscope|camera has the effect of --simulate.\n",
                 kProgramName);
}

// Ends an informational option: 0 when what was printed reached standard output, else a
// message and 1.
int FinishPrinting() {
    if (const int error = platform::FinishStandardOutput(); error != 0) {
        std::fprintf(stderr, "%s: cannot write to standard output: %s\n", kProgramName,
                     std::strerror(error));
        return 1;
    }
    return 0;
}

}  // namespace

std::optional<int> CMicroscopeApp::HandleInformationalOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return FinishPrinting();
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", kProgramName, kProgramVersion);
            return FinishPrinting();
        }
    }
    return std::nullopt;
}

CMicroscopeApp::CMicroscopeApp(int& argc, char** argv) {
    QApplication::setApplicationName(QString::fromUtf8(kProgramName));
    QApplication::setApplicationVersion(QString::fromUtf8(kProgramVersion));
    QApplication::setDesktopFileName(QString::fromUtf8(kProgramName));
    application_ = std::make_unique<QApplication>(argc, argv);
    InstallQtTranslation();
}

void CMicroscopeApp::InstallQtTranslation() {
    // Qt's own texts (the buttons of message boxes, the file dialogs) in the language the
    // program shows, when the program has a language file for it and Qt a translation. The
    // window keeps its left-to-right layout even for Arabic and Hebrew.
    if (LanguageFileName(platform::SystemDefaultLangId()) == "English1252.ini") {
        return;
    }
    auto* translator = new QTranslator(application_.get());
    if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
}

CMicroscopeApp::~CMicroscopeApp() = default;

std::optional<int> CMicroscopeApp::SimulatedKindFromText(const QString& text) {
    return ::SimulatedKindFromText(text.toStdString());
}

int CMicroscopeApp::InitInstance(const MainWindowFactory& makeMainWindow) {
    const std::optional<int> variableKind = SimulatedKindFromEnvironment();
    if (!variableKind) {
        std::fprintf(stderr, "%s: %s must be microscope or camera\n", kProgramName,
                     kSimulateVariable);
        return 2;
    }
    simulatedKind_ = *variableKind;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const SimulateArgument simulate = ParseSimulateArgument(argument.toStdString());
        if (simulate.isSimulateOption && !simulate.kind) {
            std::fprintf(stderr,
                         "%s: unknown simulated device '%s' (it is microscope or camera)\n"
                         "Try '%s --help'.\n",
                         kProgramName, argument.mid(11).toLocal8Bit().constData(), kProgramName);
            return 2;
        }
        const std::optional<int> kind = simulate.kind;
        if (!kind) {
            std::fprintf(stderr, "%s: unknown argument '%s'\nTry '%s --help'.\n", kProgramName,
                         argument.toLocal8Bit().constData(), kProgramName);
            return 2;
        }
        simulatedKind_ = *kind;
    }
    // Signals are watched before the window exists, so that one arriving while it is being
    // made is not fatal; it is handled once the event loop runs.
    QWidget* window = nullptr;
    TerminationSignals terminationSignals([&window] {
        if (window != nullptr) {
            window->close();
        }
    });
    std::unique_ptr<QWidget> mainWindow = makeMainWindow();
    if (!mainWindow) {
        return 1;
    }
    window = mainWindow.get();
    mainWindow->show();
    const int exitCode = QApplication::exec();
    mainWindow.reset();
    return exitCode;
}
