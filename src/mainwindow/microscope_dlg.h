#pragma once

#include <QMainWindow>
#include <QString>

#include "app/program_paths.h"
#include "app/startup.h"

// The program's main window. Its client area is a fixed 842 x 579 pixels.
class CMicroscopeDlg : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 842;
    static constexpr int kClientHeight = 579;

    explicit CMicroscopeDlg(StartupEnvironment environment, QWidget* parent = nullptr);
    ~CMicroscopeDlg() override;

    // Initialises the window before it is first shown: fixes the program folder, the
    // language file and the storage tree, loads the message title, removes a leftover
    // compressor probe. UI thread. Returns true when the window can be shown.
    bool OnInitDialog();

    // The caption of the main window's message boxes.
    const QString& MessageTitle() const { return messageTitle_; }
    const ProgramPaths& Paths() const { return paths_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    StartupEnvironment environment_;
    ProgramPaths paths_;
    QString messageTitle_;
    QWidget* clientArea_ = nullptr;
};
