#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QApplication;

// The application object. main() first lets it answer the options that need no display,
// then constructs it and runs the main window until that window closes.
class CMicroscopeApp {
public:
    // Builds and initialises the main window; nullptr when that failed.
    using MainWindowFactory = std::function<std::unique_ptr<QWidget>()>;

    // Answers --help and --version on standard output, without a display. Returns the
    // exit code when the program should end here, nothing when it should go on.
    static std::optional<int> HandleInformationalOptions(int argc, char** argv);

    // Starts Qt on the display (Qt takes its own options off the command line).
    CMicroscopeApp(int& argc, char** argv);
    ~CMicroscopeApp();
    CMicroscopeApp(const CMicroscopeApp&) = delete;
    CMicroscopeApp& operator=(const CMicroscopeApp&) = delete;

    // Refuses arguments nobody understood (exit code 2); else makes the main window, shows
    // it and runs until it has closed, then destroys it. Returns the exit code.
    int InitInstance(const MainWindowFactory& makeMainWindow);

    // The simulated device asked for with --simulate[=microscope|camera] or the environment
    // variable DIGITAL_MICROSCOPE_SIMULATE: -1 for none, else the device kind's row. Known
    // once InitInstance has read the command line (the factory may ask).
    int simulatedKind() const { return simulatedKind_; }

    // The kind named by an option value or variable: "" and "microscope" 0, "camera" 1;
    // nothing for any other text.
    static std::optional<int> SimulatedKindFromText(const QString& text);

private:
    void InstallQtTranslation();

    std::unique_ptr<QApplication> application_;
    int simulatedKind_ = -1;
};
