#include <memory>

#include "app/microscope_app.h"
#include "app/simulate_option.h"
#include "app/startup.h"
#include "app/termination_signals.h"
#include "mainwindow/microscope_dlg.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    platform::GuardStandardDescriptors();
    IgnoreFileSizeLimitSignal();
    if (const std::optional<int> exitCode =
            CMicroscopeApp::HandleInformationalOptions(argc, argv)) {
        return *exitCode;
    }
    CMicroscopeApp application(argc, argv);
    return application.InitInstance([&application]() -> std::unique_ptr<QWidget> {
        StartupEnvironment environment = SystemStartupEnvironment();
        environment.simulatedKind = application.simulatedKind();
        environment.simulatedStateFile = SimulatedStateFile(environment.simulatedKind);
        auto mainWindow = std::make_unique<CMicroscopeDlg>(std::move(environment));
        if (!mainWindow->OnInitDialog()) {
            return nullptr;
        }
        return mainWindow;
    });
}
